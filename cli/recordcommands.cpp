// tessary record: where the production record is, sending what waits in the
// spool, and the questions a factory asks of it.
#include "cliapp.h"

#include "clienvironment.h"
#include "printer/csvlog.h"
#include "record/recorddatabase.h"
#include "record/recordlocation.h"
#include "record/recordspool.h"
#include "serial/portnames.h"

#include <QSettings>
#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTextStream>

namespace tessary {

namespace {

QCommandLineOption recordOption()
{
    return {QStringLiteral("record"),
            QStringLiteral("The record to use instead of the one set with tessary record use: sqlite:PATH, "
                           "postgresql://[user[:password]@]host[:port]/dbname or a PostgreSQL service name."),
            QStringLiteral("url")};
}

QList<QCommandLineOption> filterOptions()
{
    return {
        {QStringLiteral("since"),
         QStringLiteral("Boards started at or after DATE: 2024-05-06 (from the start of that day, local time), "
                        "2024-05-06T14:30 (local), 2024-05-06T12:30Z, today or yesterday."),
         QStringLiteral("date")},
        {QStringLiteral("until"),
         QStringLiteral("Boards started up to DATE, the same forms; a day counts whole."), QStringLiteral("date")},
        {QStringLiteral("station"), QStringLiteral("Boards of this station."), QStringLiteral("name")},
        {QStringLiteral("result"),
         QStringLiteral("Boards with this result: ok, found, echo-error, verify-failed, cancelled, reset-not-sent, "
                        "interrupted, no-board, port-error, drift."),
         QStringLiteral("result")},
        {QStringLiteral("identity"), QStringLiteral("Boards with this identity, before or after their run."),
         QStringLiteral("text")},
        {QStringLiteral("code"), QStringLiteral("Boards given this configuration code."), QStringLiteral("code")},
    };
}

QCommandLineOption csvOption()
{
    return {QStringLiteral("csv"),
            QStringLiteral("CSV on standard output: the columns and header line that --log writes.")};
}

const QString NoArguments = QStringLiteral("takes no arguments");

const QStringList GroupWords = {QStringLiteral("day"), QStringLiteral("station"), QStringLiteral("result"),
                                QStringLiteral("reason")};

// A column of text, padded but for the last; numbers right-aligned.
QString table(const QStringList &header, const QList<QStringList> &rows, const QList<bool> &numeric = {})
{
    QList<qsizetype> widths(header.size(), 0);
    for (const QStringList &row : QList<QStringList>{header} + rows)
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row.at(i).size());
    QString text;
    for (const QStringList &row : QList<QStringList>{header} + rows) {
        QStringList cells;
        for (qsizetype i = 0; i < row.size(); ++i) {
            const bool last = i + 1 == row.size();
            if (numeric.value(i))
                cells << row.at(i).rightJustified(widths[i]);
            else
                cells << (last ? row.at(i) : row.at(i).leftJustified(widths[i]));
        }
        text += cells.join(QStringLiteral("  ")).trimmed() + u'\n';
    }
    return text;
}

QString plural(qint64 count, const QString &one, const QString &many)
{
    return QStringLiteral("%1 %2").arg(count).arg(count == 1 ? one : many);
}

QJsonObject boardJson(const RecordedBoard &board)
{
    const BoardRow &row = board.row;
    QJsonObject json;
    const QStringList columns = BoardRow::columns();
    const QStringList fields = row.fields();
    for (qsizetype i = 0; i < columns.size(); ++i)
        json.insert(columns.at(i), fields.at(i));
    json.insert(QStringLiteral("verified"), row.verified ? QJsonValue(*row.verified) : QJsonValue());
    json.insert(QStringLiteral("writes"), row.writes);
    json.insert(QStringLiteral("planned_writes"), row.plannedWrites);
    json.insert(QStringLiteral("run"), board.run);
    return json;
}

QStringList boardCells(const BoardRow &row)
{
    const QString port = !row.port.isEmpty()     ? row.port
                         : row.device.isEmpty() ? QStringLiteral("-")
                                                : PortNames::shownName(row.device);
    const auto dash = [](const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; };
    return {row.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            dash(row.station),
            dash(row.command),
            port,
            dash(row.identityBefore),
            dash(row.identityAfter),
            dash(row.code),
            outcomeWord(row.result),
            row.reason};
}

} // namespace

QList<CliApp::Subcommand> CliApp::recordSubcommands()
{
    return {
        {QStringLiteral("record use"),
         QStringLiteral("Keeps the record in the user's settings, for tessary and the desktop program alike, and "
                        "reaches it (creating its tables when new): sqlite:PATH, "
                        "postgresql://[user[:password]@]host[:port]/dbname, a PostgreSQL service name, or default "
                        "(record.sqlite in the user's data folder)."),
         QStringLiteral("URL"), 1, QStringLiteral("needs one URL (or default)"), {}, &CliApp::recordUse},
        {QStringLiteral("record flush"),
         QStringLiteral("Sends the rows that wait in this station's spool (kept while the record could not be "
                        "reached, or refused them) to the record now."),
         {}, 0, NoArguments, {recordOption()}, &CliApp::recordFlush},
        {QStringLiteral("record list"),
         QStringLiteral("Lists the boards in the record, oldest first: a table, --json, or --csv (the columns of "
                        "--log). The options narrow it down; each given must hold."),
         {}, 0, NoArguments, QList<QCommandLineOption>{recordOption(), csvOption()} + filterOptions(),
         &CliApp::recordList},
        {QStringLiteral("record board"),
         QStringLiteral("The history of one board, newest first: every row whose identity, before or after, is "
                        "IDENTITY."),
         QStringLiteral("IDENTITY"), 1, QStringLiteral("needs one IDENTITY"), {recordOption(), csvOption()},
         &CliApp::recordBoard},
        {QStringLiteral("record summary"),
         QStringLiteral("Counts the boards in the record: per day (local time), station or result, or the failed "
                        "ones per reason; then the total. The options of record list narrow it down."),
         {}, 0, NoArguments,
         QList<QCommandLineOption>{recordOption(),
                                   {QStringLiteral("by"),
                                    QStringLiteral("What to count by: day, station, result (the default) or reason."),
                                    QStringLiteral("day|station|result|reason")}}
             + filterOptions(),
         &CliApp::recordSummary},
    };
}

std::unique_ptr<RecordDatabase> CliApp::recordToAsk(const Invocation &call, int *status)
{
    const auto location = chosenRecord(call, status);
    if (!location)
        return nullptr;
    RecordDatabase::Opened opened = RecordDatabase::open(*location, RecordDatabase::Use::Read);
    if (!opened.database)
        *status = fail(call.common, opened.error);
    return std::move(opened.database);
}

std::optional<RecordLocation> CliApp::chosenRecord(const Invocation &call, int *status)
{
    QString error;
    // --record alone (a command that records its boards) names the record of the settings.
    if (call.has("record") && !call.value("record").trimmed().isEmpty()) {
        auto location = RecordLocation::parse(call.value("record"), &error);
        if (!location)
            *status = usage(QStringLiteral("--record: ") + error);
        return location;
    }
    // Settings that cannot be kept hold no record: the built-in one.
    QSettings *settings = m_environment.settings();
    auto location = settings ? RecordLocation::configured(*settings, &error) : std::optional(RecordLocation::builtIn());
    if (!location)
        *status = fail(call.common, error);
    return location;
}

int CliApp::recordUse(const Invocation &call)
{
    const QString text = call.arguments.first().trimmed();
    const bool builtIn = text == QLatin1String("default");
    QString error;
    const auto location = builtIn ? std::optional(RecordLocation::builtIn()) : RecordLocation::parse(text, &error);
    if (!location)
        return usage(error);
    QSettings *settings = m_environment.settings();
    if (!settings)
        return fail(call.common, QStringLiteral("the record cannot be kept in the settings: ") +
                                     m_environment.settingsProblem());
    // A file is kept by its whole path: the setting holds wherever tessary runs.
    if (!RecordLocation::keep(*settings,
                              builtIn ? QString()
                              : location->kind == RecordLocation::Kind::Sqlite ? QStringLiteral("sqlite:") + location->path
                                                                               : text))
        return fail(call.common, QStringLiteral("the record cannot be kept in the settings: writing %1 failed; the "
                                                "record in use stays as it was")
                                     .arg(settings->fileName()));
    const RecordDatabase::Opened opened = RecordDatabase::open(*location, RecordDatabase::Use::Write);
    const QJsonObject json{{QStringLiteral("record"), location->shown()}};
    if (!opened.database)
        return fail(call.common,
                    opened.error + QStringLiteral(" (kept in the settings all the same: the rows wait in this "
                                                  "station's spool until it can be reached)"),
                    json);
    QJsonObject done = json;
    done.insert(QStringLiteral("ok"), true);
    done.insert(QStringLiteral("schemaVersion"), RecordDatabase::SchemaVersion);
    printDone(call.common, done,
              QStringLiteral("Recording to %1 (schema version %2), kept in the settings.\n")
                  .arg(location->shown(), QString::number(RecordDatabase::SchemaVersion)));
    return Success;
}

int CliApp::recordFlush(const Invocation &call)
{
    int status = Success;
    const auto location = chosenRecord(call, &status);
    if (!location)
        return status;
    RecordSpool spool(*location);
    const RecordSpool::Held before = spool.held();
    if (before.boards + before.runs + before.unreadable == 0) {
        printDone(call.common, {{QStringLiteral("ok"), true}, {QStringLiteral("record"), location->shown()},
                                {QStringLiteral("sent"), 0}, {QStringLiteral("waiting"), 0}},
                  QStringLiteral("Nothing waits for %1.\n").arg(location->shown()));
        return Success;
    }
    const RecordDatabase::Opened opened = RecordDatabase::open(*location, RecordDatabase::Use::Write);
    if (!opened.database)
        return fail(call.common,
                    QStringLiteral("%1; %2 not recorded yet, kept in %3")
                        .arg(opened.error, plural(before.boards, QStringLiteral("row"), QStringLiteral("rows")),
                             spool.path()),
                    {{QStringLiteral("sent"), 0}, {QStringLiteral("waiting"), before.boards}});
    const RecordSpool::Sent sent = spool.send(*opened.database);
    const QJsonObject counts{{QStringLiteral("record"), location->shown()},
                             {QStringLiteral("sent"), sent.boards},
                             {QStringLiteral("waiting"), sent.left.boards}};
    const int left = sent.left.boards + sent.left.runs + sent.left.unreadable;
    if (left > 0 || !sent.error.isEmpty()) {
        const QString waiting = sent.left.boards > 0
                                    ? plural(sent.left.boards, QStringLiteral("row"), QStringLiteral("rows"))
                                          + QStringLiteral(" not recorded yet")
                                    : QStringLiteral("not everything recorded yet");
        return fail(call.common,
                    QStringLiteral("sent %1 to %2; %3, kept in %4: %5")
                        .arg(plural(sent.boards, QStringLiteral("row"), QStringLiteral("rows")), location->shown(),
                             waiting, spool.path(), sent.error),
                    counts);
    }
    QJsonObject done = counts;
    done.insert(QStringLiteral("ok"), true);
    printDone(call.common, done,
              QStringLiteral("Sent %1 to %2; nothing waits.\n")
                  .arg(plural(sent.boards, QStringLiteral("row"), QStringLiteral("rows")), location->shown()));
    return Success;
}

std::optional<int> CliApp::parseRecordFilter(const Invocation &call, RecordFilter &filter)
{
    const QDate today = m_now().toLocalTime().date();
    // A day counts whole: --until a day is before the next day's start.
    const auto when = [&](const char *option, bool until, QDateTime *time) -> bool {
        if (!call.has(option))
            return true;
        QString text = call.value(option).trimmed();
        QDate day;
        if (text == QLatin1String("today"))
            day = today;
        else if (text == QLatin1String("yesterday"))
            day = today.addDays(-1);
        else if (static const QRegularExpression date(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$")); date.match(text).hasMatch())
            day = QDate::fromString(text, Qt::ISODate);
        if (day.isValid()) {
            *time = (until ? day.addDays(1) : day).startOfDay();
            return true;
        }
        if (text.size() > 10 && text.at(10) == u' ')
            text[10] = u'T';
        *time = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (time->isValid() && until)
            *time = time->addMSecs(1);
        return time->isValid();
    };
    for (const auto &[option, until, time] : {std::tuple{"since", false, &filter.since},
                                              std::tuple{"until", true, &filter.until}})
        if (!when(option, until, time))
            return usage(QStringLiteral("--%1 takes a date (2024-05-06), a time (2024-05-06T14:30, local; "
                                        "2024-05-06T12:30Z), today or yesterday, not \"%2\"")
                             .arg(QLatin1String(option), call.value(option)));
    if (call.has("result")) {
        filter.result = outcomeFromWord(call.value("result").trimmed());
        if (!filter.result)
            return usage(QStringLiteral("--result takes ok, found, echo-error, verify-failed, cancelled, "
                                        "reset-not-sent, interrupted, no-board, port-error or drift, not \"%1\"")
                             .arg(call.value("result")));
    }
    filter.station = call.value("station");
    filter.identity = call.value("identity");
    filter.code = call.value("code").trimmed();
    return std::nullopt;
}

int CliApp::recordList(const Invocation &call)
{
    RecordFilter filter;
    if (const auto exit = parseRecordFilter(call, filter))
        return *exit;
    return listBoards(call, filter, false);
}

int CliApp::recordBoard(const Invocation &call)
{
    RecordFilter filter;
    filter.identity = call.arguments.first();
    return listBoards(call, filter, true);
}

int CliApp::listBoards(const Invocation &call, const RecordFilter &filter, bool oneBoard)
{
    const Common &common = call.common;
    const bool csv = call.has("csv");
    if (csv && common.json)
        return usage(QStringLiteral("--csv and --json are two answers: give one"));
    int status = Success;
    const std::unique_ptr<RecordDatabase> record = recordToAsk(call, &status);
    if (!record)
        return status;
    const RecordLocation &location = record->location();

    // CSV and JSON go out row by row, however many; the table needs its
    // widths first. One board's history that is empty is a failure, said
    // before anything is printed.
    QList<QStringList> cells;
    qint64 count = 0;
    const auto head = [&] {
        if (csv)
            m_out << BoardRow::columns().join(u',') << '\n';
        else if (common.json)
            m_out << QJsonDocument(QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("record"), location.shown()}})
                         .toJson(QJsonDocument::Compact)
                         .chopped(1)
                  << ",\"boards\":[";
    };
    QString error;
    const bool asked = record->boards(
        filter, oneBoard ? RecordDatabase::Order::NewestFirst : RecordDatabase::Order::OldestFirst,
        [&](const RecordedBoard &board) {
            if (count == 0)
                head();
            if (csv) {
                QStringList fields;
                for (const QString &field : board.row.fields())
                    fields << CsvLog::field(field);
                m_out << fields.join(u',') << '\n';
            } else if (common.json) {
                m_out << (count > 0 ? ",\n" : "\n") << QJsonDocument(boardJson(board)).toJson(QJsonDocument::Compact);
            } else {
                cells << boardCells(board.row);
            }
            ++count;
            return m_out.status() == QTextStream::Ok;
        },
        &error);
    if (!asked)
        return fail(common, error);
    if (count == 0 && oneBoard)
        return fail(common, QStringLiteral("no board \"%1\" in the record %2").arg(filter.identity, location.shown()));
    if (count == 0)
        head();
    if (common.json)
        m_out << (count > 0 ? "\n]}\n" : "]}\n");
    if (!csv && !common.json) {
        if (count > 0)
            m_out << table({QStringLiteral("Started"), QStringLiteral("Station"), QStringLiteral("Command"),
                            QStringLiteral("Port"), QStringLiteral("Identity before"), QStringLiteral("Identity after"),
                            QStringLiteral("Code"), QStringLiteral("Result"), QStringLiteral("Reason")},
                           cells);
        if (!common.quiet)
            m_out << plural(count, QStringLiteral("board"), QStringLiteral("boards")) << '\n';
    }
    m_out.flush();
    return Success;
}

int CliApp::recordSummary(const Invocation &call)
{
    const Common &common = call.common;
    RecordFilter filter;
    if (const auto exit = parseRecordFilter(call, filter))
        return *exit;
    const QString by = call.has("by") ? call.value("by").trimmed() : QStringLiteral("result");
    const qsizetype index = GroupWords.indexOf(by);
    if (index < 0)
        return usage(QStringLiteral("--by takes day, station, result or reason, not \"%1\"").arg(by));
    const auto groupBy = static_cast<RecordDatabase::GroupBy>(index);
    int status = Success;
    const std::unique_ptr<RecordDatabase> record = recordToAsk(call, &status);
    if (!record)
        return status;
    const RecordLocation &location = record->location();
    QString error;
    const auto groups = record->summary(filter, groupBy, &error);
    const auto results = groups ? record->summary(filter, RecordDatabase::GroupBy::Result, &error)
                                : std::nullopt;
    if (!groups || !results)
        return fail(common, error);
    SummaryGroup total;
    for (const SummaryGroup &group : *results) {
        total.boards += group.boards;
        total.ok += group.ok;
        total.failed += group.failed;
    }

    QJsonArray array;
    QList<QStringList> rows;
    const bool counts = groupBy == RecordDatabase::GroupBy::Day || groupBy == RecordDatabase::GroupBy::Station;
    for (const SummaryGroup &group : *groups) {
        QJsonObject json{{by, group.key}, {QStringLiteral("boards"), group.boards}};
        if (counts) {
            json.insert(QStringLiteral("ok"), group.ok);
            json.insert(QStringLiteral("failed"), group.failed);
            rows.append({group.key.isEmpty() ? QStringLiteral("-") : group.key, QString::number(group.boards),
                         QString::number(group.ok), QString::number(group.failed)});
        } else {
            rows.append({group.key.isEmpty() ? QStringLiteral("-") : group.key, QString::number(group.boards)});
        }
        array.append(json);
    }
    QString heading = by;
    heading[0] = heading[0].toUpper();
    QString text = rows.isEmpty() ? QString()
                   : counts       ? table({heading, QStringLiteral("Boards"), QStringLiteral("OK"), QStringLiteral("Failed")},
                                          rows, {false, true, true, true})
                                  : table({heading, QStringLiteral("Boards")}, rows, {false, true});
    text += QStringLiteral("%1: %2 ok, %3 failed\n")
                .arg(plural(total.boards, QStringLiteral("board"), QStringLiteral("boards")))
                .arg(total.ok)
                .arg(total.failed);
    print(common,
          {{QStringLiteral("ok"), true},
           {QStringLiteral("record"), location.shown()},
           {QStringLiteral("by"), by},
           {QStringLiteral("groups"), array},
           {QStringLiteral("total"),
            QJsonObject{{QStringLiteral("boards"), total.boards},
                        {QStringLiteral("ok"), total.ok},
                        {QStringLiteral("failed"), total.failed}}}},
          text);
    return Success;
}

} // namespace tessary
