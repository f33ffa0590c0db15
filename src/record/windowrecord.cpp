#include "record/windowrecord.h"

#include "app/prompts.h"
#include "app/version.h"
#include "record/recordrun.h"

#include <QCoreApplication>
#include <QSettings>
#include <QSysInfo>
#include <QUuid>

namespace tessary {

namespace {

QString newKey() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

// One window command's run with its board's row, into the record or else the
// spool; on the record's thread. Empty when the record took it all, else
// what the window says.
QString keepRun(const RecordLocation &location, const RecordRun::Start &start, const BoardRow &row)
{
    QString refusal;
    std::unique_ptr<RecordRun> run = RecordRun::begin(location, start, &refusal);
    if (!run) {
        // The board has been written already: its row waits in the spool
        // until the record can take it (a newer program, a record back).
        RecordSpool spool(location);
        const RunRow kept{newKey(), start.station, start.tool, start.command, start.options, start.started, row.ended};
        QString error;
        if (spool.keepRun(kept, refusal, &error) && spool.keepBoard(kept, newKey(), row, refusal, &error))
            return QStringLiteral("%1; the board's row is kept in %2").arg(refusal, spool.path());
        return QStringLiteral("The board's row is not recorded: %1; and %2").arg(refusal, error);
    }
    QString why;
    const bool kept = run->record(row, &why);
    const RecordRun::End end = run->end(row.ended);
    if (!kept)
        return QStringLiteral("The board's row is not recorded: ") + why;
    if (end.complete())
        return {};
    return run->offlineReason().isEmpty() ? end.message
                                          : QStringLiteral("%1 (%2)").arg(end.message, run->offlineReason());
}

} // namespace

WindowRecord::WindowRecord(QSettings *settings, QObject *parent) : QObject(parent), m_settings(settings)
{
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(-1); // one thread for the program's life
}

WindowRecord::~WindowRecord() { m_pool.waitForDone(); }

bool WindowRecord::recording()
{
    if (!m_settings)
        return false;
    m_settings->sync(); // `tessary record use` may have changed it meanwhile
    return !m_settings->value(RecordLocation::settingsKey()).toString().trimmed().isEmpty();
}

RecordContext WindowRecord::context(const QString &command) const
{
    RecordContext context;
    context.station = QSysInfo::machineHostName();
    context.tool = QStringLiteral("tessary-configurator ") + programVersion();
    context.command = command;
    return context;
}

void WindowRecord::keep(const BoardRow &row)
{
    if (!m_settings)
        return;
    QString error;
    const std::optional<RecordLocation> location = RecordLocation::configured(*m_settings, &error);
    const auto said = [this](const QString &problem) {
        if (!problem.isEmpty() && m_status)
            m_status->showStatus(problem);
        emit kept(problem);
    };
    if (!location) {
        // Said after the command's own status, as the record's answer would be.
        QMetaObject::invokeMethod(this, [said, error] { said(QStringLiteral("The board's row is not recorded: ") + error); },
                                  Qt::QueuedConnection);
        return;
    }
    const RecordRun::Start start{row.station, row.tool, row.command, {}, row.started};
    m_pool.start([this, said, location = *location, start, row] {
        const QString problem = keepRun(location, start, row);
        QMetaObject::invokeMethod(this, [said, problem] { said(problem); }, Qt::QueuedConnection);
    });
}

void WindowRecord::waitForDone()
{
    m_pool.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

} // namespace tessary
