#include "record/recordrun.h"

#include <QUuid>

namespace tessary {

namespace {

QString newKey() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

} // namespace

RecordRun::RecordRun(const RecordLocation &location, const Start &start)
    : m_location(location),
      m_spool(location),
      m_run{newKey(), start.station, start.tool, start.command, start.options, start.started, {}}
{
}

RecordRun::~RecordRun() = default;

std::unique_ptr<RecordRun> RecordRun::begin(const RecordLocation &location, const Start &start, QString *refusal)
{
    std::unique_ptr<RecordRun> run(new RecordRun(location, start));
    RecordDatabase::Opened opened = RecordDatabase::open(location, RecordDatabase::Use::Write);
    if (opened.failure == RecordDatabase::Failure::NewerSchema) {
        *refusal = opened.error;
        return nullptr;
    }
    QString why = opened.error;
    if (opened.database) {
        run->m_database = std::move(opened.database);
        const RecordSpool::Sent sent = run->m_spool.send(*run->m_database);
        run->m_sentFromSpool = sent.boards;
        if (run->m_database->lost()) {
            run->goOffline(sent.error);
        } else if (run->m_database->addRun(run->m_run, &why)) {
            return run;
        } else if (run->m_database->lost()) {
            run->goOffline(why);
        }
    } else {
        run->goOffline(why);
    }
    // The run's row waits in the spool, so a run that finds no board is kept too.
    QString spoolError;
    if (!run->m_spool.keepRun(run->m_run, why, &spoolError)) {
        *refusal = QStringLiteral("%1; and %2").arg(why, spoolError);
        return nullptr;
    }
    return run;
}

void RecordRun::goOffline(const QString &reason)
{
    m_database.reset();
    m_offlineReason = reason;
}

std::optional<QList<qint64>> RecordRun::takeNumbers(const QString &counter, std::optional<qint64> start,
                                                    const QStringList &boards, const NumberCheck &check,
                                                    QString *error)
{
    if (!m_database) {
        *error = QStringLiteral("no serial numbers: %1").arg(m_offlineReason);
        return std::nullopt;
    }
    auto numbers = m_database->takeNumbers(counter, start, m_run, boards, check, error);
    if (!numbers && m_database->lost())
        goOffline(*error);
    return numbers;
}

bool RecordRun::record(const BoardRow &row, QString *reason)
{
    const QString key = newKey();
    QString why = m_offlineReason;
    if (m_database) {
        if (m_database->addBoard(m_run, key, row, &why)) {
            ++m_recorded;
            return true;
        }
        if (m_database->lost())
            goOffline(why);
    }
    QString spoolError;
    if (m_spool.keepBoard(m_run, key, row, why, &spoolError))
        return true;
    *reason = QStringLiteral("%1; and %2").arg(why, spoolError);
    return false;
}

RecordRun::End RecordRun::end(const QDateTime &ended)
{
    m_run.ended = ended;
    QString why = m_offlineReason;
    bool kept = m_database && m_database->addRun(m_run, &why);
    if (!kept) {
        QString spoolError;
        kept = m_spool.keepRun(m_run, why, &spoolError);
    }
    End end;
    end.recorded = m_recorded;
    end.spool = m_spool.path();
    const RecordSpool::Held held = m_spool.held();
    end.waiting = held.boards;
    end.runsWaiting = held.runs + (kept ? 0 : 1);
    if (end.waiting > 0)
        end.message = (end.waiting == 1 ? QStringLiteral("1 row not recorded yet, kept in %1")
                                        : QStringLiteral("%1 rows not recorded yet, kept in %2").arg(end.waiting))
                          .arg(end.spool);
    else if (end.runsWaiting > 0)
        end.message = QStringLiteral("the run itself is not recorded yet, kept in %1").arg(end.spool);
    if (!kept)
        end.message = QStringLiteral("the end of the run could be neither recorded nor kept in %1").arg(end.spool);
    return end;
}

} // namespace tessary
