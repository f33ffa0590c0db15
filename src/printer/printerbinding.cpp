#include "printer/printerbinding.h"

#include "app/appservices.h"
#include "app/appstate.h"
#include "app/prompts.h"
#include "configuration/configurationeditor.h"
#include "database/mechanismdatabase.h"
#include "detection/portselection.h"
#include "printer/commandrecord.h"
#include "protocol/replytext.h"
#include "serial/commandgate.h"

#include <QAction>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

namespace tessary {

PrinterBinding::PrinterBinding(QWidget *window, AppServices &services, ConfigurationEditor &editor,
                               const MechanismDatabase &database, StatusLine &status, QObject *parent)
    : QObject(parent),
      m_window(window),
      m_services(services),
      m_editor(editor),
      m_database(database),
      m_status(status),
      m_queries(services.link, services.state.link),
      m_runPortSelection([](PortSelection &dialog) { dialog.exec(); })
{
    m_getId = findButton("GetID");
    m_getSettings = findButton("GetSettings");
    m_configPrinter = findButton("ConfigPrinter");
    m_wakeup = findButton("Wakeup");
    m_sleep = findButton("SleepButton");
    m_reset = findButton("Reset");
    m_identity = window->findChild<QLabel *>(QStringLiteral("Identity"));
    m_labelCom = window->findChild<QLabel *>(QStringLiteral("LabelCom"));
    m_labelBauds = window->findChild<QLabel *>(QStringLiteral("LabelBauds"));
    // Texts from the board are shown as they are, never as markup.
    for (QLabel *l : {m_identity, m_labelCom, m_labelBauds}) {
        if (l)
            l->setTextFormat(Qt::PlainText);
    }

    auto connectButton = [this](QPushButton *b, void (PrinterBinding::*slot)()) {
        if (b)
            connect(b, &QPushButton::clicked, this, slot);
    };
    connectButton(m_getId, &PrinterBinding::identityCheck);
    connectButton(m_getSettings, &PrinterBinding::readSettings);
    connectButton(m_wakeup, &PrinterBinding::wakeUp);
    connectButton(m_sleep, &PrinterBinding::sleep);
    connectButton(m_reset, &PrinterBinding::reset);
    if (auto *detect = window->findChild<QAction *>(QStringLiteral("DetectPrinter")))
        connect(detect, &QAction::triggered, this, &PrinterBinding::identityCheck);
}

QPushButton *PrinterBinding::findButton(const char *name) const
{
    return m_window->findChild<QPushButton *>(QLatin1String(name));
}

QString PrinterBinding::silentBoardMessage(const PrinterLink &printer)
{
    return QStringLiteral("The board did not answer on COM%1 at %2 bauds. Please check cables and power.")
        .arg(printer.comPort)
        .arg(printer.baudRate);
}

QString PrinterBinding::entriesWithCode(const MechanismDatabase &database, const QString &code)
{
    QStringList names;
    for (const DatabaseEntry &entry : database.entries()) {
        if (entry.code == code)
            names << entry.name;
    }
    if (names.isEmpty())
        return QStringLiteral("matches no entry of the list");
    QString text = names.constFirst() + QStringLiteral("'s configuration");
    if (names.size() > 1)
        text += QStringLiteral(" and %1 more").arg(names.size() - 1);
    return text;
}

QString PrinterBinding::printerPort() const { return QStringLiteral("COM%1").arg(m_services.state.link.comPort); }

void PrinterBinding::setLabel(QLabel *label, const QString &text)
{
    if (label)
        label->setText(printableText(text));
}

void PrinterBinding::setAwakeButtonsEnabled(bool enabled)
{
    for (QPushButton *b : {m_sleep, m_reset, m_getSettings, m_configPrinter}) {
        if (b)
            b->setEnabled(enabled);
    }
}

void PrinterBinding::setPrinterButtonsEnabled(bool enabled)
{
    setAwakeButtonsEnabled(enabled);
    if (m_wakeup)
        m_wakeup->setEnabled(enabled);
}

void PrinterBinding::setCommunicationToolTip(const QString &text)
{
    // The labels keep their captions; the group names the handshake in use.
    if (auto *frame = m_window->findChild<QWidget *>(QStringLiteral("Frame14")))
        frame->setToolTip(text);
}

void PrinterBinding::setBusyCursor(bool busy)
{
    if (busy)
        m_window->setCursor(Qt::WaitCursor);
    else
        m_window->unsetCursor();
}

void PrinterBinding::identityCheck()
{
    if (m_services.gate.isBusy())
        return;
    QPointer<PrinterBinding> alive(this);
    if (m_getId)
        m_getId->setEnabled(false);
    {
        PortSelection dialog(m_services, portCaptions(m_services), m_window);
        m_runPortSelection(dialog);
    }
    if (!alive)
        return;

    const PrinterLink &printer = m_services.state.link;
    if (printer.printerFound) {
        setPrinterButtonsEnabled(true);
        QByteArray identity;
        m_services.gate.run(QStringLiteral("Check identity"), [&] { identity = m_queries.identity(); });
        setLabel(m_identity, replyText(identity));
        setLabel(m_labelCom, QStringLiteral("Port: COM") + QChar(48 + printer.comPort));
        setLabel(m_labelBauds, QStringLiteral("Baudrate: ") + printer.baudRate);
        setCommunicationToolTip(handshakeToolTip(printer.handshake));
        if (m_getId)
            m_getId->setEnabled(true);
        // After the gate: the printer column is enabled again and can take focus.
        if (m_getSettings)
            m_getSettings->setFocus(Qt::OtherFocusReason);
    } else {
        setLabel(m_identity, QStringLiteral("No chipset found"));
        setLabel(m_labelCom, QStringLiteral("No chipset found, please"));
        setLabel(m_labelBauds, QStringLiteral("Perform a chipset detection"));
        setCommunicationToolTip(QString());
        setPrinterButtonsEnabled(false);
        if (m_getId) {
            m_getId->setEnabled(true);
            m_getId->setFocus(Qt::OtherFocusReason);
        }
    }
}

void PrinterBinding::readSettings()
{
    if (m_services.gate.isBusy())
        return;
    if (!m_services.state.link.printerFound) {
        m_services.prompts.warning(detectFirstMessage());
        identityCheck();
        return;
    }
    setBusyCursor(true);
    if (m_getSettings)
        m_getSettings->setEnabled(false);
    CommandRecorder *recorder =
        m_services.recorder && m_services.recorder->recording() ? m_services.recorder : nullptr;
    WindowBoard board = windowBoard(m_services.state.link, m_services.ports);
    board.started = recorder ? recorder->now() : QDateTime();
    ReadBackResult back;
    bool shown = false; // the configuration went into the editor as it came
    const bool ran = m_services.gate.run(QStringLiteral("Check configuration"), [this, &back, &shown] {
        back = m_queries.readSettings([this, &shown](const ReadBackResult &read) {
            // Nothing came yet: whether the board is silent is known only
            // once the identity has been asked.
            if (read.answeredNothing())
                return;
            shown = true;
            showConfiguration(read);
        });
    });
    // A board that said nothing is no board read: nothing to record.
    if (recorder && ran && !back.answeredNothing()) {
        board.ended = recorder->now();
        recorder->keep(readRow(recorder->context(QStringLiteral("read")), board, back));
    }
    if (ran && back.answeredNothing()) {
        // Nothing was read, so nothing is shown as read: the editor stays
        // as it was.
        giveBackReadButton();
        m_services.prompts.error(silentBoardMessage(m_services.state.link));
    } else if (ran) {
        // Only the identity answered: the configuration as it always was.
        if (!shown)
            showConfiguration(back);
        m_editor.setName(back.name);
        if (back.code) {
            m_status.showStatus(QStringLiteral("Configuration read from %1 at %2 bauds: %3")
                                    .arg(printerPort(), m_services.state.link.baudRate,
                                         entriesWithCode(m_database, *back.code)));
        }
    }
    giveBackReadButton();
    if (m_getSettings)
        m_getSettings->setFocus(Qt::OtherFocusReason);
}

void PrinterBinding::giveBackReadButton()
{
    if (m_getSettings)
        m_getSettings->setEnabled(true);
    setBusyCursor(false);
}

void PrinterBinding::showConfiguration(const ReadBackResult &read)
{
    // Each mode as a click on its option would set it.
    m_editor.setConfigurationMode(read.configurationModeUser());
    m_editor.setIdentityMode(read.identityUser());
    if (read.code) {
        m_editor.applyConfigurationCode(*read.code);
        return;
    }
    // The option groups keep their state; the window is given back at once
    // and the name is read all the same.
    giveBackReadButton();
    m_services.prompts.error(PrinterQueries::readErrorMessage());
}

void PrinterBinding::wakeUp()
{
    if (m_services.gate.isBusy())
        return;
    setBusyCursor(true);
    bool sent = false;
    m_services.gate.run(QStringLiteral("Wake up"), [this, &sent] { sent = m_queries.wakeUp(); });
    setBusyCursor(false);
    setAwakeButtonsEnabled(true);
    if (sent)
        m_status.showStatus(QStringLiteral("Wake-up sent to %1").arg(printerPort()));
}

void PrinterBinding::sleep()
{
    if (m_services.gate.isBusy())
        return;
    setBusyCursor(true);
    bool sent = false;
    m_services.gate.run(QStringLiteral("Sleep"), [this, &sent] { sent = m_queries.sleep(); });
    setBusyCursor(false);
    setAwakeButtonsEnabled(false);
    if (m_wakeup)
        m_wakeup->setFocus(Qt::OtherFocusReason);
    if (sent)
        m_status.showStatus(QStringLiteral("Sleep sent to %1").arg(printerPort()));
}

void PrinterBinding::reset()
{
    if (m_services.gate.isBusy())
        return;
    setBusyCursor(true);
    bool sent = false;
    m_services.gate.run(QStringLiteral("Reset"), [this, &sent] { sent = m_queries.reset(); });
    setBusyCursor(false);
    if (sent)
        m_status.showStatus(QStringLiteral("Reset sent to %1").arg(printerPort()));
}

} // namespace tessary
