#include "printer/programmingbinding.h"

#include "app/appservices.h"
#include "app/appstate.h"
#include "app/prompts.h"
#include "configuration/configurationeditor.h"
#include "printer/boardprogramming.h"
#include "printer/commandrecord.h"
#include "protocol/replytext.h"
#include "serial/commandgate.h"

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>

namespace tessary {

namespace {

// What a run that went to its end did: every parameter confirmed by its
// echo, or how many were not, or the board naming itself otherwise after
// its reset.
QString finishedStatus(const PrinterLink &printer, const BoardProgram &done)
{
    const ProgrammingResult &result = done.result;
    const qsizetype sent = result.writes.size();
    if (const int failures = result.echoFailures(); failures > 0)
        return QStringLiteral("Configuration sent to COM%1 at %2 bauds: %3 parameters, %4 of them not echoed as written")
            .arg(printer.comPort)
            .arg(printer.baudRate)
            .arg(sent)
            .arg(failures);
    if (done.verified == false)
        return QStringLiteral("Configuration sent to COM%1 at %2 bauds, but after its reset the board differs: %3")
            .arg(printer.comPort)
            .arg(printer.baudRate)
            .arg(printableText(done.differences.join(QStringLiteral("; "))));
    return QStringLiteral("Configuration programmed on COM%1 at %2 bauds: %3 parameters, each echoed by the board")
        .arg(printer.comPort)
        .arg(printer.baudRate)
        .arg(sent);
}

} // namespace

ProgrammingBinding::ProgrammingBinding(QWidget *root, ConfigurationEditor &editor, AppServices &services,
                                       StatusLine &status, QObject *parent)
    : QObject(parent), m_root(root), m_editor(editor), m_services(services), m_status(status)
{
    if (!root)
        return;
    m_button = root->findChild<QAbstractButton *>(QStringLiteral("ConfigPrinter"));
    m_identity = root->findChild<QLabel *>(QStringLiteral("Identity"));
    if (m_identity)
        m_identity->setTextFormat(Qt::PlainText);
    if (m_button)
        connect(m_button, &QAbstractButton::clicked, this, &ProgrammingBinding::configurePrinter);
}

void ProgrammingBinding::configurePrinter()
{
    // The window disables its printer commands while one runs; a click that
    // still arrives (a queued event) must not start a second exchange.
    if (m_services.gate.isBusy())
        return;

    Programmer programmer(m_services.link, m_services.state.link, m_services.prompts, m_status);
    if (!programmer.checkChoices(m_editor))
        return;
    // The steps every board is programmed with; the window asks no identity
    // before and reads nothing back.
    ProgramOrder order = ProgramOrder::fromEditor(m_editor);
    order.identityBefore = false;

    QPointer<QWidget> window = m_root ? m_root->window() : nullptr;
    if (m_button)
        m_button->setEnabled(false);
    if (window)
        window->setCursor(Qt::WaitCursor);

    // A stop (a window closing) ends the run early; progress() then tells
    // how far it got, and the identity is shown only once it was read.
    CommandRecorder *recorder =
        m_services.recorder && m_services.recorder->recording() ? m_services.recorder : nullptr;
    WindowBoard board = windowBoard(m_services.state.link, m_services.ports);
    board.started = recorder ? recorder->now() : QDateTime();
    BoardProgram done;
    const bool ran = m_services.gate.run(QStringLiteral("Configure printer"), [&] {
        programBoard(m_services.link, m_services.state.link, programmer, order, done);
    });
    if (recorder && ran) {
        board.ended = recorder->now();
        recorder->keep(programmedRow(recorder->context(QStringLiteral("program")), board, order, done));
    }
    const ProgrammingResult &result = programmer.progress();
    if (m_identity && result.identityRead)
        m_identity->setText(printableText(replyText(result.identity)));
    if (result.completed())
        m_status.showStatus(finishedStatus(m_services.state.link, done));

    // After gate.run: the printer column was disabled while the gate was
    // busy, and a disabled button cannot take the focus.
    if (window)
        window->unsetCursor();
    if (m_button) {
        m_button->setEnabled(true);
        m_button->setFocus();
    }
}

} // namespace tessary
