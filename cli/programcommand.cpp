// tessary program: a configuration and an identity written into one board,
// or into every board on every port at once, each board's row in the log.
#include "cliapp.h"

#include "app/atomicsave.h"

#include "clienvironment.h"
#include "configuration/configurationcode.h"
#include "configuration/configurationeditor.h"
#include "database/mechanismdatabase.h"
#include "fieldoptions.h"
#include "printer/boardprogramming.h"
#include "printer/csvlog.h"
#include "printer/serialfile.h"
#include "printer/serialidentities.h"
#include "record/recordnumbers.h"
#include "runrecord.h"
#include "protocol/replytext.h"
#include "serial/seriallink.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonArray>
#include <QScopeGuard>
#include <QSet>
#include <QTextStream>

namespace tessary {

namespace {

QString hexByte(quint8 value) { return QStringLiteral("%1").arg(value, 2, 16, QChar(u'0')).toUpper(); }

// The numbers of a counter in the shared record, which the run opens after
// its options are checked and before any port.
class RecordCounter final : public NumberCounter {
public:
    RecordCounter(RunRecord &rows, QString name, std::optional<qint64> start)
        : m_rows(rows), m_name(std::move(name)), m_start(start)
    {
    }
    std::optional<QList<qint64>> take(const QStringList &boards, const NumberCheck &check, QString *error) override
    {
        if (!m_rows.shared()) {
            *error = QStringLiteral("no serial numbers: the record is not open");
            return std::nullopt;
        }
        return RecordNumbers(*m_rows.shared(), m_name, m_start).take(boards, check, error);
    }

private:
    RunRecord &m_rows;
    QString m_name;
    std::optional<qint64> m_start;
};

// The programming of one board of --all-boards, on its thread, with the
// identity it was given where each board has its own.
class ProgramTask : public BoardTask {
public:
    explicit ProgramTask(const ProgramOrder &order) : m_order(order) {}

    void run(BoardRun &board, SerialLink &link, Prompts &prompts, StatusLine &status) override
    {
        m_order = m_order.forBoard(board.takenIdentity);
        Programmer programmer(link, board.printer, prompts, status);
        m_programmer = &programmer;
        const auto done = qScopeGuard([this] { m_programmer = nullptr; });
        board.program.emplace();
        programBoard(link, board.printer, programmer, m_order, *board.program);
        for (const QString &difference : std::as_const(board.program->differences))
            prompts.plain(QStringLiteral("verification failed: ") + difference);
    }

    QString step() const override
    {
        if (!m_programmer)
            return QStringLiteral("reading the identity");
        const ProgrammingResult &progress = m_programmer->progress();
        if (progress.outcome == ProgrammingResult::Outcome::Refused) // not begun: the identity before
            return QStringLiteral("reading the identity");
        if (progress.outcome != ProgrammingResult::Outcome::Stopped) // done: the read-back
            return QStringLiteral("reading back");
        if (progress.resetSent)
            return QStringLiteral("resetting");
        // What the board got: the writes it echoed.
        return QStringLiteral("writing %1/%2").arg(echoedWrites(progress)).arg(m_order.writeCount());
    }

private:
    ProgramOrder m_order; // this board's
    const Programmer *m_programmer = nullptr;
};

// The identity a board is given: none yet where each board takes its own.
QJsonValue givenIdentity(const ProgramOrder &order, const BoardRun &run)
{
    if (!order.userId || (order.ownIdentities && run.takenIdentity.isEmpty()))
        return QJsonValue::Null;
    return order.forBoard(run.takenIdentity).plan.name.left(ConfigurationEditor::MaxNameLength);
}

// One board's result as JSON, `json` saying where it is.
QJsonObject programJson(QJsonObject json, const ProgramOrder &runOrder, const BoardRun &run)
{
    const ProgramOrder order = runOrder.forBoard(run.takenIdentity);
    json.insert(QStringLiteral("ok"), run.outcome == BoardOutcome::Ok);
    json.insert(QStringLiteral("result"), outcomeWord(run.outcome));
    json.insert(QStringLiteral("reason"), run.reason.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(run.reason));
    json.insert(QStringLiteral("mode"), order.userMode ? QStringLiteral("user") : QStringLiteral("resistors"));
    json.insert(QStringLiteral("code"), order.userMode ? QJsonValue(order.planCode) : QJsonValue(QJsonValue::Null));
    json.insert(QStringLiteral("identityMode"), order.userId ? QStringLiteral("user") : QStringLiteral("automatic"));
    if (order.userId)
        json.insert(QStringLiteral("id"), givenIdentity(runOrder, run));
    json.insert(QStringLiteral("writesEchoed"), run.program ? run.program->echoed() : 0);
    json.insert(QStringLiteral("writesPlanned"), order.writeCount());
    if (!run.program)
        return json;
    const BoardProgram &done = *run.program;
    const ProgrammingResult &result = done.result;
    json.insert(QStringLiteral("identityBefore"), replyText(run.identityBefore()));
    json.insert(QStringLiteral("identityAfter"), replyText(result.identity));
    json.insert(QStringLiteral("detectedPolarity"), result.detectedPolarity ? QJsonValue(int(*result.detectedPolarity))
                                                                            : QJsonValue(QJsonValue::Null));
    QJsonArray writes;
    for (const ProgrammingResult::Write &w : result.writes)
        writes.append(QJsonObject{{QStringLiteral("address"), w.address},
                                  {QStringLiteral("value"), w.value},
                                  {QStringLiteral("echo"), w.echo ? QJsonValue(int(*w.echo)) : QJsonValue(QJsonValue::Null)}});
    json.insert(QStringLiteral("writes"), writes);
    json.insert(QStringLiteral("echoFailures"), result.echoFailures());
    json.insert(QStringLiteral("verified"), done.verified ? QJsonValue(*done.verified) : QJsonValue(QJsonValue::Null));
    json.insert(QStringLiteral("differences"), QJsonArray::fromStringList(done.differences));
    return json;
}

// One board's result for a terminal, after the lines saying where it is.
QString programText(const ProgramOrder &runOrder, const BoardRun &run)
{
    const ProgramOrder order = runOrder.forBoard(run.takenIdentity);
    const BoardProgram &done = *run.program;
    const ProgrammingResult &result = done.result;
    const MechanismSettings &settings = order.plan.settings;
    QString text = QStringLiteral("Identity before: %1\n").arg(boardtext::shown(run.identityBefore()));
    if (order.userMode)
        text += QStringLiteral("Configuration mode: User, code %1 (bytes %2 %3)\n")
                    .arg(order.planCode, hexByte(configurationByte1(settings)), hexByte(configurationByte2(settings)));
    else
        text += QStringLiteral("Configuration mode: Resistors\n");
    text += order.userId ? QStringLiteral("Identity determination: User, \"%1\"\n")
                               .arg(order.plan.name.left(ConfigurationEditor::MaxNameLength))
                         : QStringLiteral("Identity determination: Automatic\n");
    if (result.completed()) {
        text += QStringLiteral("Parameters written: %1, echo errors: %2\n")
                    .arg(result.writes.size())
                    .arg(result.echoFailures());
        text += result.lineLostAfterReset ? QStringLiteral("Identity after: none, the line hung up after the reset\n")
                                          : QStringLiteral("Identity after: %1\n").arg(boardtext::shown(result.identity));
        if (done.verified)
            text += *done.verified ? QStringLiteral("Verified: the board holds what was written.\n")
                                   : QStringLiteral("Verification failed.\n");
    } else if (result.outcome == ProgrammingResult::Outcome::Cancelled) {
        text += QStringLiteral("Not programmed: the board's strobe polarity differs (give --yes to "
                               "program anyway).\n");
    } else if (result.outcome == ProgrammingResult::Outcome::NotReset) {
        text += QStringLiteral("Parameters echoed: %1 of %2; the board was not reset.\n")
                    .arg(done.echoed())
                    .arg(order.writeCount());
    }
    text += QStringLiteral("Result: %1\n").arg(outcomeWord(run.outcome));
    return text;
}

} // namespace

std::optional<int> CliApp::programOrder(const Invocation &call, ProgramOrder &order)
{
    const Common &common = call.common;

    // What to write.
    const bool fromCode = call.has("code");
    const bool fromDb = call.has("db") || call.has("entry");
    const bool fromFields = fieldoptions::anySet(call.parser);
    if (int(fromCode) + int(fromDb) + int(fromFields) > 1)
        return usage(QStringLiteral("give the configuration one way: --code, --db with --entry, or field options"));
    // Said as what is missing: the entry to write, or the file that holds it.
    if (fromDb && !call.has("entry"))
        return usage(QStringLiteral("--db needs --entry NAME, the entry to write"));
    if (fromDb && !call.has("db"))
        return usage(QStringLiteral("--entry needs --db FILE, the database that holds it"));
    const QString mode = call.value("mode").trimmed().toLower();
    if (!mode.isEmpty() && mode != QLatin1String("user") && mode != QLatin1String("resistors"))
        return usage(QStringLiteral("--mode takes user or resistors, not \"%1\"").arg(mode));
    const bool userMode = mode != QLatin1String("resistors");
    if (!userMode && (fromCode || fromDb || fromFields))
        return usage(QStringLiteral("resistors mode takes its configuration from the board's straps; "
                                    "leave out --code, --db and the field options"));
    // The identity: one for every board, or each board's own (an --id
    // template, a list), checked before any port is opened.
    const bool fromList = call.has("id-list");
    if (call.has("id") && fromList)
        return usage(QStringLiteral("give --id or --id-list, not both"));
    const bool userId = call.has("id") || fromList;
    if (userId && call.has("auto-id"))
        return usage(QStringLiteral("give %1 or --auto-id, not both").arg(fromList ? "--id-list" : "--id"));
    QString id = call.value("id");
    QString why;
    const std::optional<IdentityTemplate> pattern = IdentityTemplate::parse(id, &why);
    if (!pattern)
        return usage(QStringLiteral("--id \"%1\": %2").arg(id, why));
    if (!pattern->numbered())
        if (const QString problem = identityProblem(id); !problem.isEmpty())
            return usage(QStringLiteral("--id: ") + problem);
    const bool ownIdentities = pattern->numbered() || fromList;
    if (ownIdentities) // a stand-in until each board is given its own
        id = fromList ? QStringLiteral("list") : id;
    else
        id = pattern->identity(0); // braces written {{ }} are braces
    if (call.has("station") && call.value("station").trimmed().isEmpty())
        return usage(QStringLiteral("--station needs a name"));

    ConfigurationEditor editor;
    editor.resetToStartState();
    std::optional<MechanismSettings> exact; // a code is written as given, voltage included
    QString codeText;
    QString database, entry;
    if (fromFields || (userMode && !fromCode && !fromDb)) {
        if (const auto error = fieldoptions::apply(call.parser, editor))
            return usage(*error);
        // Every field left out, by its flag, in one message.
        if (const QStringList missing = fieldoptions::missing(editor); userMode && !missing.isEmpty())
            return usage(QStringLiteral("the configuration leaves out %1%2")
                             .arg(missing.size() == 1 ? missing.constFirst()
                                                      : missing.mid(0, missing.size() - 1).join(QStringLiteral(", "))
                                                            + QStringLiteral(" and ") + missing.constLast(),
                                  fromFields ? QString() : QStringLiteral(" (or give --code, or --db with --entry)")));
    } else if (fromCode) {
        codeText = call.value("code").trimmed();
        if (!isConfigurationCode(codeText))
            return usage(QStringLiteral("--code: a configuration code is 16 characters 0 or 1, not \"%1\"")
                             .arg(codeText));
    } else if (fromDb) {
        MechanismDatabase mechanisms;
        database = call.value("db");
        if (const auto exit = readDatabase(common, database, mechanisms))
            return *exit;
        entry = call.value("entry");
        const int row = mechanisms.find(entry);
        if (row < 0)
            return fail(common, QStringLiteral("%1 has no entry named \"%2\"").arg(database, entry));
        codeText = mechanisms.code(row);
        if (!isConfigurationCode(codeText))
            return fail(common, QStringLiteral("the code of \"%1\" is not 16 characters 0 or 1: \"%2\"")
                                    .arg(entry, codeText));
    }
    if (!codeText.isEmpty()) {
        editor.applyConfigurationCode(codeText);
        exact = decodeConfigurationCode(codeText);
        // Only the head type "11" and the head width "000" name no option:
        // a board told either would drive its head wrongly.
        if (exact->headType > 2 || headWidthDots(exact->headWidth) == 0) {
            const QString why = QStringLiteral("the code %1 names no %2; it is not written")
                                    .arg(codeText, exact->headType > 2 ? QStringLiteral("head type")
                                                                       : QStringLiteral("head width"));
            return fromCode ? usage(why) : fail(common, why);
        }
        const QString written = codeFromBytes(configurationByte1(*exact), configurationByte2(*exact));
        if (written != codeText)
            m_err << "tessary: the board is given " << written
                  << " (its printer-mode bit is always set and its reserved bits clear)\n";
    }
    editor.setConfigurationMode(userMode);
    editor.setIdentityMode(userId);
    editor.setName(id);

    if (!Programmer::checkChoices(editor, m_prompts))
        return UsageError;
    order = ProgramOrder::fromEditor(editor, exact);
    order.verify = call.has("verify");
    order.database = database;
    order.entry = entry;
    order.ownIdentities = ownIdentities;
    return std::nullopt;
}

std::optional<int> CliApp::serialIdentities(const Invocation &call, RunRecord &rows,
                                            std::unique_ptr<SerialIdentities> &identities)
{
    const bool fromFile = call.has("serial-file"), fromList = call.has("id-list");
    const bool fromRecord = call.has("serial-from-record");
    QString why;
    const std::optional<IdentityTemplate> pattern = IdentityTemplate::parse(call.value("id"), &why); // checked already
    const bool numbered = call.has("id") && pattern && pattern->numbered();
    if (fromFile && fromList)
        return usage(QStringLiteral("--id-list keeps its next line beside it; leave out --serial-file"));
    if (fromRecord && (fromFile || fromList))
        return usage(QStringLiteral("give one place for the identities: --serial-file, --serial-from-record or --id-list"));
    if (fromRecord && call.value("serial-from-record").trimmed().isEmpty())
        return usage(QStringLiteral("--serial-from-record needs the counter's name"));
    if (call.has("serial-start") && !fromFile && !fromRecord)
        return usage(QStringLiteral("--serial-start goes with --serial-file: the first number of a new serial file"));
    if ((fromFile || fromRecord) && !numbered)
        return usage(QStringLiteral("%1 numbers the boards of an --id holding {n} or {n:0W}, e.g. "
                                    "--id 'L7-{n:04}'")
                         .arg(fromFile ? "--serial-file" : "--serial-from-record"));
    if (numbered && !fromFile && !fromRecord)
        return usage(QStringLiteral("--id \"%1\" numbers its boards: give --serial-file FILE, the file holding the "
                                    "next number (--serial-start N begins a new one), or --serial-from-record NAME")
                         .arg(call.value("id")));
    if (!numbered && !fromList)
        return std::nullopt;

    std::optional<qint64> start;
    if (call.has("serial-start")) {
        bool ok = false;
        const QString text = call.value("serial-start").trimmed();
        start = text.toLongLong(&ok);
        if (!ok || *start < 0 || text.size() > 16 || text.startsWith(u'+'))
            return usage(QStringLiteral("--serial-start takes a number from 0, not \"%1\"").arg(text));
    }
    if (fromRecord) {
        identities = std::make_unique<SerialIdentities>(
            *pattern, std::make_unique<RecordCounter>(rows, call.value("serial-from-record").trimmed(), start));
        return std::nullopt;
    }
    // The file as it is now, before any port is opened; read again under its lock.
    const QString counterPath = fromList ? idListCounter(call.value("id-list")) : call.value("serial-file");
    if ((fromList ? call.value("id-list") : counterPath).isEmpty())
        return usage(QStringLiteral("%1 needs a file").arg(fromList ? "--id-list" : "--serial-file"));
    const auto now = SerialFile::peek(counterPath, &why);
    if (!now)
        return fail(call.common, why);
    if (!*now && !start && !fromList)
        return usage(QStringLiteral("the serial file %1 %2; give --serial-start N to begin it at N")
                         .arg(counterPath, QFileInfo::exists(counterPath) ? "is empty" : "does not exist"));
    if (!*now && !QFileInfo(QFileInfo(counterPath).absolutePath()).isDir())
        return fail(call.common, QStringLiteral("cannot create %1: its folder does not exist").arg(counterPath));
    int status = Success;
    std::unique_ptr<NumberCounter> counter = numberCounter(call, rows, &status);
    if (!counter)
        return status;
    if (fromList) {
        std::optional<IdentityList> list = IdentityList::read(call.value("id-list"), &why);
        if (!list)
            return fail(call.common, why);
        identities = std::make_unique<SerialIdentities>(std::move(*list), std::move(counter));
    } else {
        identities = std::make_unique<SerialIdentities>(*pattern, std::move(counter));
    }
    return std::nullopt;
}

QString CliApp::idListCounter(const QString &list)
{
    return followLink(list) + QStringLiteral(".next");
}

std::unique_ptr<NumberCounter> CliApp::numberCounter(const Invocation &call, RunRecord &, int *status)
{
    if (call.has("id-list")) // the list's next line
        return std::make_unique<SerialFile>(idListCounter(call.value("id-list")), 1);
    if (call.has("serial-file"))
        return std::make_unique<SerialFile>(call.value("serial-file"),
                                            call.has("serial-start")
                                                ? std::optional<qint64>(call.value("serial-start").trimmed().toLongLong())
                                                : std::nullopt);
    *status = usage(QStringLiteral("give --serial-file FILE, where the boards' numbers come from"));
    return nullptr;
}

int CliApp::program(const Invocation &call)
{
    const Common &common = call.common;
    ProgramOrder order;
    if (const auto exit = programOrder(call, order))
        return *exit;
    RunRecord rows;
    std::unique_ptr<SerialIdentities> identities;
    if (const auto exit = serialIdentities(call, rows, identities))
        return *exit;
    if (const auto exit = openRunRecord(call, m_command, rows))
        return *exit;
    m_prompts.setAssumeYes(call.has("yes"));
    int status = Failure;
    try {
        status = common.allBoards ? programAllBoards(call, order, rows, identities.get())
                                  : programOne(call, order, rows, identities.get());
    } catch (const CommandStopped &) {
        (void)endRunRecord(rows, Failure);
        throw;
    }
    return endRunRecord(rows, status);
}

int CliApp::programOne(const Invocation &call, const ProgramOrder &order, RunRecord &kept,
                       SerialIdentities *identities)
{
    const Common &common = call.common;
    BoardRun run;
    run.started = m_now();
    if (common.ports.size() == 1) { // the port the board must be on, found or not
        run.com = common.ports.first().port;
        run.device = common.ports.first().device;
    }
    Session &session = openSession(common);
    Programmer programmer(*session.link, session.printer, m_prompts, m_status);
    Location location;
    try {
        location = locate(common);
        if (location.found) {
            run.com = session.printer.comPort;
            run.device = session.table.device(run.com);
            run.printer = session.printer;
            run.identity = location.identity;
            // The board's own identity, taken before its first byte is written.
            if (identities) {
                QString why;
                if (const auto taken = identities->take({run.device}, &why))
                    run.takenIdentity = taken->constFirst();
                else
                    run.refusal = why;
            }
            if (run.refusal.isEmpty()) {
                run.program.emplace();
                programBoard(*session.link, session.printer, programmer, order.forBoard(run.takenIdentity),
                             *run.program);
            }
        } else if (location.unopened) {
            run.portError = location.notFound;
        }
    } catch (const CommandStopped &) {
        run.stopped = true;
    }
    run.ended = m_now();
    run.decide();
    if (run.program)
        for (const QString &difference : std::as_const(run.program->differences))
            m_err << "tessary: verification failed: " << difference << '\n';

    bool logged = true;
    if (!kept.empty()) {
        QString reason;
        logged = kept.record(recordRow(run, recordContext(call, &order)), &reason);
        if (!logged)
            m_err << "tessary: " << reason << '\n';
    }
    if (run.stopped)
        return interrupted(common, run.reason, programJson(boardtext::runJson(m_command, run), order, run));
    if (!run.found())
        return fail(common, location.notFound, boardtext::runJson(m_command, run), location.said);
    if (!run.program)
        return fail(common, run.reason, programJson(locationJson(), order, run));

    QJsonObject json = programJson(locationJson(), order, run);
    if (!logged)
        json.insert(QStringLiteral("ok"), false);
    if (const auto recorded = kept.lastRecorded())
        json.insert(QStringLiteral("recorded"), *recorded);
    const bool ok = run.outcome == BoardOutcome::Ok;
    if (common.json || !common.quiet || !ok)
        print(common, json, locationText() + programText(order, run));
    return ok && logged ? Success : Failure;
}

int CliApp::programAllBoards(const Invocation &call, const ProgramOrder &order, RunRecord &kept,
                             SerialIdentities *identities)
{
    const Common &common = call.common;
    BoardTally tally(kept, [&common](const BoardRun &run) { return reported(common, run); }, recordContext(call, &order));
    AllBoards::Hooks hooks;
    hooks.makeTask = [&order] { return std::make_unique<ProgramTask>(order); };
    // Each board's own identity, taken for every board found before the first write.
    QString refusal;
    hooks.beforeTasks = [&](const std::vector<BoardRun *> &found) {
        if (!identities)
            return true;
        QStringList devices;
        for (const BoardRun *board : found)
            devices << board->device;
        const std::optional<QStringList> taken = identities->take(devices, &refusal);
        for (std::size_t i = 0; i < found.size(); ++i)
            (taken ? found[i]->takenIdentity : found[i]->refusal) = taken ? taken->value(qsizetype(i)) : refusal;
        return taken.has_value();
    };
    hooks.ended = [&tally](const BoardRun &run) { return tally.ended(run); };
    const std::vector<BoardRun> runs = runAllBoards(common, hooks);
    if (!refusal.isEmpty())
        m_err << "tessary: " << refusal << '\n';

    QList<QStringList> rows = {{"Port", "Device", "Speed", "Identity before", "Identity after", "Result"}};
    for (const BoardRun &run : runs) {
        if (!tally.reported(run))
            continue;
        const bool logged = tally.add(run, programJson(boardtext::runJson(m_command, run), order, run));
        const QByteArray before = run.identityBefore();
        rows.append({run.portName(), run.device, run.found() ? run.printer.baudRate : QStringLiteral("-"),
                     before.isEmpty() ? QStringLiteral("-") : boardtext::shown(before),
                     run.program && !run.program->result.identity.isEmpty() ? boardtext::shown(run.program->result.identity)
                                                                             : QStringLiteral("-"),
                     outcomeWord(run.outcome) + (logged ? QString() : QStringLiteral(", not logged"))});
    }
    return allBoardsEnd(call, runs, tally.json(), boardtext::table(rows) + tally.counts(), true, tally.failed() > 0);
}

} // namespace tessary
