// tessary program: a configuration and an identity written into one board,
// or into every board on every port at once, each board's row in the log.
#include "cliapp.h"

#include "clienvironment.h"
#include "configuration/configurationcode.h"
#include "configuration/configurationeditor.h"
#include "database/mechanismdatabase.h"
#include "fieldoptions.h"
#include "printer/boardprogramming.h"
#include "runrecord.h"
#include "protocol/replytext.h"
#include "serial/seriallink.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QScopeGuard>
#include <QSet>
#include <QTextStream>

namespace tessary {

namespace {

QString hexByte(quint8 value) { return QStringLiteral("%1").arg(value, 2, 16, QChar(u'0')).toUpper(); }

// The programming of one board of --all-boards, on its thread.
class ProgramTask : public BoardTask {
public:
    explicit ProgramTask(const ProgramOrder &order) : m_order(order) {}

    void run(BoardRun &board, SerialLink &link, Prompts &prompts, StatusLine &status) override
    {
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
    const ProgramOrder &m_order;
    const Programmer *m_programmer = nullptr;
};

// One board's result as JSON, `json` saying where it is.
QJsonObject programJson(QJsonObject json, const ProgramOrder &order, const BoardRun &run)
{
    json.insert(QStringLiteral("ok"), run.outcome == BoardOutcome::Ok);
    json.insert(QStringLiteral("result"), outcomeWord(run.outcome));
    json.insert(QStringLiteral("reason"), run.reason.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(run.reason));
    json.insert(QStringLiteral("mode"), order.userMode ? QStringLiteral("user") : QStringLiteral("resistors"));
    json.insert(QStringLiteral("code"), order.userMode ? QJsonValue(order.planCode) : QJsonValue(QJsonValue::Null));
    json.insert(QStringLiteral("identityMode"), order.userId ? QStringLiteral("user") : QStringLiteral("automatic"));
    if (order.userId)
        json.insert(QStringLiteral("id"), order.plan.name.left(ConfigurationEditor::MaxNameLength));
    json.insert(QStringLiteral("writesEchoed"), run.program ? run.program->echoed() : 0);
    json.insert(QStringLiteral("writesPlanned"), order.writeCount());
    if (!run.program)
        return json;
    const BoardProgram &done = *run.program;
    const ProgrammingResult &result = done.result;
    json.insert(QStringLiteral("identityBefore"), replyText(done.before));
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
QString programText(const ProgramOrder &order, const BoardRun &run)
{
    const BoardProgram &done = *run.program;
    const ProgrammingResult &result = done.result;
    const MechanismSettings &settings = order.plan.settings;
    QString text = QStringLiteral("Identity before: %1\n").arg(boardtext::shown(done.before));
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
    const bool userId = call.has("id");
    if (userId && call.has("auto-id"))
        return usage(QStringLiteral("give --id or --auto-id, not both"));
    const QString id = call.value("id");
    if (ConfigurationEditor::sanitiseName(id) != id)
        return usage(QStringLiteral("--id: the board stores one byte per character; use printable Latin-1 "
                                    "characters only"));
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
        if (!isBinaryCode(codeText))
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
        if (!isBinaryCode(codeText))
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
    if (order.plan.identity == ProgrammingPlan::Identity::User
        && order.plan.name.size() > ConfigurationEditor::MaxNameLength)
        m_err << "tessary: the identity is cut to its first 16 characters: \""
              << order.plan.name.left(ConfigurationEditor::MaxNameLength) << "\"\n";
    return std::nullopt;
}

int CliApp::program(const Invocation &call)
{
    const Common &common = call.common;
    ProgramOrder order;
    if (const auto exit = programOrder(call, order))
        return *exit;

    RunRecord rows;
    if (const auto exit = openRunRecord(call, m_command, rows))
        return *exit;
    m_prompts.setAssumeYes(call.has("yes"));
    int status = Failure;
    try {
        status = common.allBoards ? programAllBoards(call, order, rows) : programOne(call, order, rows);
    } catch (const CommandStopped &) {
        (void)endRunRecord(rows, Failure);
        throw;
    }
    return endRunRecord(rows, status);
}

int CliApp::programOne(const Invocation &call, const ProgramOrder &order, RunRecord &kept)
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
            run.program.emplace();
            programBoard(*session.link, session.printer, programmer, order, *run.program);
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

int CliApp::programAllBoards(const Invocation &call, const ProgramOrder &order, RunRecord &kept)
{
    const Common &common = call.common;
    // A row for each board as it ends, so a run stopped half-way keeps the
    // rows of the boards already done; a row that cannot be written fails
    // that board, said once.
    const RecordContext context = recordContext(call, &order);
    QSet<QString> unlogged;
    QHash<QString, bool> recorded; // with --record: the boards whose rows went into the record itself
    QString logProblem;
    AllBoards::Hooks hooks;
    hooks.makeTask = [&order] { return std::make_unique<ProgramTask>(order); };
    hooks.ended = [&](const BoardRun &run) -> QString {
        if (kept.empty() || !reported(common, run))
            return {};
        QString reason;
        const bool done = kept.record(recordRow(run, context), &reason);
        if (const auto in = kept.lastRecorded())
            recorded.insert(run.device, *in);
        if (done)
            return {};
        unlogged.insert(run.device);
        if (std::exchange(logProblem, reason).isEmpty())
            return QStringLiteral("tessary: ") + reason;
        return {};
    };
    const std::vector<BoardRun> runs = runAllBoards(common, hooks);

    QJsonArray json;
    QList<QStringList> rows = {{"Port", "Device", "Speed", "Identity before", "Identity after", "Result"}};
    int ok = 0, failed = 0, empty = 0;
    QList<const BoardRun *> shown;
    for (const BoardRun &run : runs) {
        if (!reported(common, run))
            continue;
        shown << &run;
        const bool logged = !unlogged.contains(run.device);
        QJsonObject object = programJson(boardtext::runJson(m_command, run), order, run);
        if (!logged)
            object.insert(QStringLiteral("ok"), false);
        if (recorded.contains(run.device))
            object.insert(QStringLiteral("recorded"), recorded.value(run.device));
        json.append(object);
        if (run.outcome == BoardOutcome::NoBoard)
            ++empty;
        else
            (object[QStringLiteral("ok")].toBool() ? ok : failed) += 1;
        const QByteArray before = run.program && !run.program->before.isEmpty() ? run.program->before : run.identity;
        rows.append({run.portName(), run.device, run.found() ? run.printer.baudRate : QStringLiteral("-"),
                     before.isEmpty() ? QStringLiteral("-") : boardtext::shown(before),
                     run.program && !run.program->result.identity.isEmpty() ? boardtext::shown(run.program->result.identity)
                                                                             : QStringLiteral("-"),
                     outcomeWord(run.outcome) + (logged ? QString() : QStringLiteral(", not logged"))});
    }
    QString text = boardtext::table(rows) + QStringLiteral("%1 ok, %2 failed").arg(ok).arg(failed);
    if (empty > 0)
        text += QStringLiteral(", %1 without a board").arg(empty);
    text += u'\n' + boardtext::failedList(shown);
    return allBoardsEnd(call, runs, json, text, true, failed > 0);
}

} // namespace tessary
