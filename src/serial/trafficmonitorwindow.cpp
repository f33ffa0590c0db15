#include "serial/trafficmonitorwindow.h"

#include "app/atomicsave.h"
#include "app/controls.h"
#include "app/keyboardhabits.h"
#include "app/shownwindow.h"
#include "serial/trafficrecord.h"

#include <QClipboard>
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace tessary {

TrafficMonitorWindow *TrafficMonitorWindow::showMonitor(QWidget *mainWindow, TrafficRecord &record, Prompts &prompts,
                                                        FileChooser &files)
{
    TrafficMonitorWindow *monitor = shownWindow<TrafficMonitorWindow>(mainWindow);
    if (!monitor) {
        monitor = new TrafficMonitorWindow(record, prompts, files, mainWindow);
        monitor->setAttribute(Qt::WA_DeleteOnClose);
    }
    monitor->show();
    monitor->raise();
    monitor->activateWindow();
    return monitor;
}

TrafficMonitorWindow::TrafficMonitorWindow(TrafficRecord &record, Prompts &prompts, FileChooser &files, QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                          | Qt::WindowCloseButtonHint),
      m_record(record),
      m_prompts(prompts),
      m_files(files)
{
    setObjectName(QStringLiteral("TrafficMonitor"));
    setWindowTitle(QStringLiteral("Traffic monitor"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
    setModal(false);
    resize(WindowSize);

    m_view = new QPlainTextEdit(this);
    m_view->setObjectName(QStringLiteral("TrafficView"));
    m_view->setAccessibleName(QStringLiteral("Serial traffic"));
    m_view->setReadOnly(true);
    m_view->setUndoRedoEnabled(false);
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // The view keeps what the record keeps.
    m_view->setMaximumBlockCount(int(m_record.limit()));
    // Text selection by keyboard too, so the user can copy part of it.
    m_view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    m_copy = makeButton(this, QStringLiteral("CopyTraffic"), QStringLiteral("Copy"));
    m_clear = makeButton(this, QStringLiteral("ClearTraffic"), QStringLiteral("Clear"));
    m_save = makeButton(this, QStringLiteral("SaveTraffic"), QStringLiteral("Save as..."));
    connect(m_copy, &QPushButton::clicked, this, &TrafficMonitorWindow::copy);
    connect(m_clear, &QPushButton::clicked, this, &TrafficMonitorWindow::clear);
    connect(m_save, &QPushButton::clicked, this, &TrafficMonitorWindow::saveAs);

    auto *note = new QLabel(QStringLiteral("Recorded also while this window is closed; the newest %1 lines are kept.")
                                .arg(QLocale(QLocale::English).toString(qlonglong(m_record.limit()))),
                            this);
    note->setObjectName(QStringLiteral("TrafficNote"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_copy);
    buttons->addWidget(m_clear);
    buttons->addWidget(m_save);
    buttons->addStretch(1);
    buttons->addWidget(note);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->addLayout(buttons);
    layout->addWidget(m_view, 1);

    setTabOrder(m_copy, m_clear);
    setTabOrder(m_clear, m_save);
    setTabOrder(m_save, m_view);
    applyKeyboardHabits(this);

    // Queued: the lines may come from any thread, and a burst of them is
    // shown in one go when the event loop next runs (also during a wait).
    connect(&m_record, &TrafficRecord::linesAdded, this, &TrafficMonitorWindow::refresh, Qt::QueuedConnection);
    connect(&m_record, &TrafficRecord::cleared, this, &TrafficMonitorWindow::onCleared);
    m_record.startWatching();
    refresh();
}

TrafficMonitorWindow::~TrafficMonitorWindow() { m_record.stopWatching(); }

FileDialogOptions TrafficMonitorWindow::saveDialog()
{
    return {QStringLiteral("Save traffic as..."), QStringLiteral("Text files (*.txt)|*.txt"), QStringLiteral("txt"),
            true, false};
}

void TrafficMonitorWindow::refresh()
{
    qint64 next = 0;
    const QStringList lines = m_record.linesFrom(m_next, &next);
    m_next = next;
    if (lines.isEmpty())
        return;
    const bool follow = followsEnd();
    m_view->appendPlainText(lines.join(QLatin1Char('\n')));
    if (follow)
        m_view->verticalScrollBar()->setValue(m_view->verticalScrollBar()->maximum());
}

QString TrafficMonitorWindow::text() const { return m_view->toPlainText(); }

bool TrafficMonitorWindow::followsEnd() const
{
    const QScrollBar *bar = m_view->verticalScrollBar();
    return bar->value() >= bar->maximum();
}

void TrafficMonitorWindow::copy()
{
    // The selection when there is one, else everything shown.
    if (m_view->textCursor().hasSelection())
        m_view->copy();
    else
        QGuiApplication::clipboard()->setText(text());
}

void TrafficMonitorWindow::clear() { m_record.clear(); }

void TrafficMonitorWindow::onCleared()
{
    m_view->clear();
    m_next = m_record.end();
}

void TrafficMonitorWindow::saveAs()
{
    const QString path = m_files.saveFile(saveDialog());
    if (path.isEmpty())
        return;
    refresh();
    QString text = this->text();
    if (!text.isEmpty())
        text += QLatin1Char('\n');
    const QString reason = saveAtomically(path, text.toUtf8());
    if (!reason.isEmpty())
        m_prompts.warning(QStringLiteral("Couldn't write the traffic file %1 : %2\nThe file on disk was not changed.")
                              .arg(QDir::toNativeSeparators(path), reason));
}

} // namespace tessary
