// Where the rows of a run's boards go: the CSV file of --log and the shared
// record of --record, opened before any board is touched; at the end of the
// run, what waits in the record's spool, said once.
#include "runrecord.h"

#include "app/version.h"
#include "cliapp.h"
#include "printer/csvlog.h"
#include "record/recordrun.h"

#include <QCommandLineParser>
#include <QTextStream>

namespace tessary {

RunRecord::RunRecord() = default;

RunRecord::~RunRecord() = default;

bool RunRecord::record(const BoardRow &row, QString *reason)
{
    const int before = m_shared ? m_shared->recorded() : 0;
    const bool kept = m_each.record(row, reason);
    if (m_shared)
        m_lastRecorded = m_shared->recorded() > before;
    return kept;
}

BoardTally::BoardTally(RunRecord &kept, std::function<bool(const BoardRun &)> reported, RecordContext context)
    : m_kept(kept), m_reported(std::move(reported)), m_context(context)
{
}

QString BoardTally::ended(const BoardRun &run)
{
    if (m_kept.empty() || !m_reported(run))
        return {};
    QString reason;
    const bool done = m_kept.record(recordRow(run, m_context), &reason);
    if (const auto in = m_kept.lastRecorded())
        m_recorded.insert(run.device, *in);
    if (done)
        return {};
    m_unlogged.insert(run.device);
    if (std::exchange(m_logProblem, reason).isEmpty())
        return QStringLiteral("tessary: ") + reason;
    return {};
}

bool BoardTally::add(const BoardRun &run, QJsonObject object)
{
    m_shown << &run;
    const bool logged = !m_unlogged.contains(run.device);
    if (!logged)
        object.insert(QStringLiteral("ok"), false);
    if (m_recorded.contains(run.device))
        object.insert(QStringLiteral("recorded"), m_recorded.value(run.device));
    m_json.append(object);
    if (run.outcome == BoardOutcome::NoBoard)
        ++m_empty;
    else
        (object[QStringLiteral("ok")].toBool() ? m_ok : m_failed) += 1;
    return logged;
}

QString BoardTally::counts() const
{
    QString text = QStringLiteral("%1 ok, %2 failed").arg(m_ok).arg(m_failed);
    if (m_empty > 0)
        text += QStringLiteral(", %1 without a board").arg(m_empty);
    return text + u'\n' + boardtext::failedList(m_shown);
}

QCommandLineOption CliApp::recordRunOption()
{
    return {QStringLiteral("record"),
            QStringLiteral("Records each board in the production record as it ends, beside --log: --record alone, the "
                           "record set with tessary record use (else record.sqlite in the user's data folder); "
                           "--record=URL another one: sqlite:PATH, postgresql://[user[:password]@]host[:port]/dbname "
                           "or a PostgreSQL service name. A record of a newer schema refuses the run before any port "
                           "is opened. Rows the record cannot take wait in this station's spool, sent by a later run "
                           "or tessary record flush; the run then exits 1, saying how many wait."),
            QStringLiteral("url")};
}

std::optional<int> CliApp::openRunRecord(const Invocation &call, const QString &command, RunRecord &rows)
{
    const Common &common = call.common;
    // The log must take the rows before any board is touched; rows of
    // another shape are never mixed into it.
    if (call.has("log")) {
        const QString path = call.value("log");
        rows.m_log = std::make_unique<CsvLog>(path);
        QString reason;
        switch (rows.m_log->open(&reason)) {
        case CsvLog::Opened::Ok:
            break;
        case CsvLog::Opened::OtherHeader:
            return usage(QStringLiteral("the log file %1 %2").arg(path, reason));
        case CsvLog::Opened::Failed:
            return fail(common, QStringLiteral("cannot write the log file %1: %2").arg(path, reason));
        }
        rows.m_each.add(*rows.m_log, QStringLiteral("cannot write the log file"));
    }
    // The record's counter hands out the numbers: the run is in the record too.
    const QStringList given = call.parser.optionNames();
    if (!given.contains(QStringLiteral("record")) && !given.contains(QStringLiteral("serial-from-record")))
        return std::nullopt;
    int status = Success;
    const auto location = chosenRecord(call, &status);
    if (!location)
        return status;
    QString refusal;
    rows.m_shared = RecordRun::begin(*location,
                                     {stationName(call), QStringLiteral("tessary ") + programVersion(), command,
                                      maskedOptions(call.line), m_now()},
                                     &refusal);
    if (!rows.m_shared)
        return fail(common, refusal);
    rows.m_each.add(*rows.m_shared, QStringLiteral("cannot record the board"));
    if (const int sent = rows.m_shared->sentFromSpool(); sent > 0 && !common.quiet)
        m_err << "tessary: sent " << sent << (sent == 1 ? " row" : " rows") << " kept in the spool to "
              << location->shown() << '\n';
    if (!rows.m_shared->online())
        m_err << "tessary: " << rows.m_shared->offlineReason() << "; the rows wait in "
              << rows.m_shared->spoolPath() << '\n';
    m_err.flush();
    return std::nullopt;
}

int CliApp::endRunRecord(RunRecord &rows, int status)
{
    if (!rows.m_shared)
        return status;
    const RecordRun::End end = rows.m_shared->end(m_now());
    if (end.complete())
        return status;
    m_err << "tessary: " << end.message << '\n';
    m_err.flush();
    return status == Success ? int(Failure) : status;
}

} // namespace tessary
