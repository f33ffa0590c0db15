// tessary audit: what one board, or every board at once, holds (read back,
// nothing written), the entries that name it, and how it differs from what
// it should hold; each board's row in the log.
#include "cliapp.h"

#include "clienvironment.h"
#include "configuration/configurationeditor.h"
#include "database/factorylist.h"
#include "database/mechanismdatabase.h"
#include "fieldoptions.h"
#include "printer/boardaudit.h"
#include "runrecord.h"
#include "protocol/replytext.h"
#include "serial/seriallink.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QSet>
#include <QTextStream>

#include <array>

namespace tessary {

namespace {

const QString FactoryList = QStringLiteral("factory list");

// The audit of one board of --all-boards, on its thread.
class AuditTask : public BoardTask {
public:
    explicit AuditTask(const AuditOrder &order) : m_order(order) {}

    void run(BoardRun &board, SerialLink &link, Prompts &, StatusLine &) override
    {
        board.audit.emplace();
        auditBoard(link, board.printer, m_order, *board.audit);
    }
    QString step() const override { return QStringLiteral("reading back"); }

private:
    const AuditOrder &m_order;
};

// The field each field option names.
struct FieldOption {
    const char *option;
    qint16 MechanismSettings::*field;
};
constexpr std::array<FieldOption, 8> FieldOptions = {{
    {"head-width", &MechanismSettings::headWidth},
    {"head-type", &MechanismSettings::headType},
    {"mechanism", &MechanismSettings::mechanismType},
    {"steps", &MechanismSettings::motorSteps},
    {"rotation", &MechanismSettings::motorRotation},
    {"strobe", &MechanismSettings::strobePolarity},
    {"head-up", &MechanismSettings::headUpPolarity},
    {"voltage", &MechanismSettings::logicVoltage},
}};

// The fields expected, in words: "Head width: 576 dots".
QStringList expectedFields(const MechanismSettings &expected)
{
    const MechanismSettings none{-1, -1, -1, -1, -1, -1, -1, -1, -1};
    QStringList words;
    const QList<FieldDescription> described = describe(expected), unset = describe(none);
    for (qsizetype i = 0; i < described.size(); ++i)
        if (described[i].value != unset[i].value)
            words << described[i].caption + QStringLiteral(": ") + described[i].value;
    return words;
}

// What each board is compared with, in words.
QString expectedText(const AuditOrder &order)
{
    if (!order.entry.isEmpty())
        return QStringLiteral("\"%1\" of %2, code %3")
            .arg(order.entry, order.database == FactoryList ? QStringLiteral("the factory list") : order.database,
                 order.expectedCode);
    if (!order.expectedCode.isEmpty())
        return QStringLiteral("code ") + order.expectedCode;
    return expectedFields(*order.expected).join(QStringLiteral(", "));
}

QJsonValue modeJson(const std::optional<quint8> &mode, const char *nonzero, const char *zero)
{
    return mode ? QJsonValue(QLatin1String(*mode ? nonzero : zero)) : QJsonValue(QJsonValue::Null);
}

QString modeText(const std::optional<quint8> &mode, const char *nonzero, const char *zero)
{
    return mode ? QString::fromLatin1(*mode ? nonzero : zero) : QStringLiteral("no reply");
}

// The identity reply the board gave last: the read-back's, else the probe's.
QByteArray lastIdentity(const BoardRun &run)
{
    return run.audit && !run.audit->back.identityReply.isEmpty() ? run.audit->back.identityReply : run.identity;
}

// One board's audit as JSON, `json` saying where it is.
QJsonObject auditJson(QJsonObject json, const AuditOrder &order, const BoardRun &run)
{
    json.insert(QStringLiteral("ok"), run.outcome == BoardOutcome::Ok);
    json.insert(QStringLiteral("result"), outcomeWord(run.outcome));
    json.insert(QStringLiteral("reason"), run.reason.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(run.reason));
    if (order.expects()) {
        QJsonObject expected;
        expected.insert(QStringLiteral("database"), order.entry.isEmpty() ? QJsonValue(QJsonValue::Null)
                                                                          : QJsonValue(order.database));
        expected.insert(QStringLiteral("entry"), order.entry.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(order.entry));
        expected.insert(QStringLiteral("code"), order.expectedCode.isEmpty() ? QJsonValue(QJsonValue::Null)
                                                                             : QJsonValue(order.expectedCode));
        expected.insert(QStringLiteral("fields"), QJsonArray::fromStringList(expectedFields(*order.expected)));
        json.insert(QStringLiteral("expected"), expected);
    }
    if (!run.found())
        return json;
    const QByteArray identity = lastIdentity(run);
    json.insert(QStringLiteral("identity"), identityPart(identity));
    json.insert(QStringLiteral("firmware"), firmwarePart(identity));
    if (!run.audit)
        return json;
    const BoardAudit &audit = *run.audit;
    const ReadBackResult &back = audit.back;
    json.insert(QStringLiteral("configurationMode"), modeJson(back.configurationMode, "user", "resistors"));
    json.insert(QStringLiteral("identityMode"), modeJson(back.identityMode, "user", "automatic"));
    json.insert(QStringLiteral("code"), back.code ? QJsonValue(*back.code) : QJsonValue(QJsonValue::Null));
    if (back.code)
        json.insert(QStringLiteral("fields"), describeJson(decodeConfigurationCode(*back.code)));
    json.insert(QStringLiteral("entries"), QJsonArray::fromStringList(audit.entries));
    json.insert(QStringLiteral("unanswered"), QJsonArray::fromStringList(audit.unanswered));
    json.insert(QStringLiteral("differences"), QJsonArray::fromStringList(audit.differences));
    return json;
}

// One board's audit for a terminal, after the lines saying where it is.
QString auditText(const AuditOrder &order, const BoardRun &run)
{
    const BoardAudit &audit = *run.audit;
    const ReadBackResult &back = audit.back;
    const QByteArray identity = lastIdentity(run);
    QString text = QStringLiteral("Firmware: %1\nIdentity: %2\n")
                       .arg(printableText(firmwarePart(identity)), printableText(identityPart(identity)));
    text += QStringLiteral("Configuration mode: %1\n").arg(modeText(back.configurationMode, "User", "Resistors"));
    text += QStringLiteral("Identity determination: %1\n").arg(modeText(back.identityMode, "User", "Automatic"));
    if (back.code) {
        text += QStringLiteral("Configuration code: %1\n").arg(*back.code);
        text += describeText(decodeConfigurationCode(*back.code), QStringLiteral("  "));
        text += QStringLiteral("Entries: %1 (%2)\n")
                    .arg(audit.entries.isEmpty() ? QStringLiteral("none") : audit.entries.join(QStringLiteral(", ")),
                         order.entriesSource);
    } else {
        text += back.configurationReply.isEmpty()
                    ? QStringLiteral("Configuration code: no reply\n")
                    : QStringLiteral("Configuration code: unreadable (%1 bytes answered)\n").arg(back.configurationReply.size());
    }
    if (order.expects())
        text += QStringLiteral("Expected: %1\n").arg(expectedText(order));
    const QStringList lines = audit.unanswered + audit.differences;
    for (qsizetype i = 0; i < lines.size(); ++i)
        text += (i == 0 ? QStringLiteral("Differences:\n  ") : QStringLiteral("  ")) + printableText(lines.at(i)) + u'\n';
    text += QStringLiteral("Result: %1\n").arg(outcomeWord(run.outcome));
    return text;
}

} // namespace

std::optional<int> CliApp::auditOrder(const Invocation &call, AuditOrder &order)
{
    const Common &common = call.common;
    const bool fromEntry = call.has("expect");
    const bool fromCode = call.has("code");
    const bool fromFields = fieldoptions::anySet(call.parser);
    if (int(fromEntry) + int(fromCode) + int(fromFields) > 1)
        return usage(QStringLiteral("give what the boards should hold one way: --expect ENTRY, --code or field options"));
    if (call.has("station") && call.value("station").trimmed().isEmpty())
        return usage(QStringLiteral("--station needs a name"));
    QString codeText;
    if (fromCode) {
        codeText = call.value("code").trimmed();
        if (!isConfigurationCode(codeText))
            return usage(QStringLiteral("--code: a configuration code is 16 characters 0 or 1, not \"%1\"").arg(codeText));
    } else if (fromFields) {
        ConfigurationEditor editor;
        if (const auto error = fieldoptions::apply(call.parser, editor))
            return usage(*error);
        // Only the fields given are compared.
        MechanismSettings expected{-1, -1, -1, -1, -1, -1, -1, -1, -1};
        for (const FieldOption &field : FieldOptions)
            if (call.has(field.option))
                expected.*field.field = editor.settings().*field.field;
        order.expected = expected;
    }

    // The entries that name what a board holds.
    MechanismDatabase known;
    if (call.has("db")) {
        order.entriesSource = call.value("db");
        if (const auto exit = readDatabase(common, order.entriesSource, known))
            return *exit;
    } else {
        order.entriesSource = FactoryList;
        FillFactoryList(known);
    }
    for (int row = 0; row < known.count(); ++row)
        order.entries.append({known.name(row), AuditOrder::heldCode(known.code(row))});
    if (fromEntry) {
        order.entry = call.value("expect");
        const int row = known.find(order.entry);
        if (row < 0)
            return usage(QStringLiteral("--expect: %1 has no entry named \"%2\"")
                             .arg(call.has("db") ? order.entriesSource : QStringLiteral("the factory list"), order.entry));
        order.database = call.has("db") ? order.entriesSource : FactoryList;
        codeText = known.code(row);
        if (!isConfigurationCode(codeText))
            return fail(common, QStringLiteral("the code of \"%1\" is not 16 characters 0 or 1: \"%2\"")
                                    .arg(order.entry, codeText));
    }
    if (!codeText.isEmpty()) {
        // What a board programmed with it holds: its printer-mode bit set, its reserved bits clear.
        order.expectedCode = AuditOrder::heldCode(codeText);
        order.expected = decodeConfigurationCode(order.expectedCode);
    }
    return std::nullopt;
}

int CliApp::audit(const Invocation &call)
{
    const Common &common = call.common;
    AuditOrder order;
    if (const auto exit = auditOrder(call, order))
        return *exit;
    // The log and the record take the rows; both opened before any board is touched.
    RunRecord rows;
    if (const auto exit = openRunRecord(call, m_command, rows))
        return *exit;
    int status = Failure;
    try {
        status = common.allBoards ? auditAllBoards(call, order, rows) : auditOne(call, order, rows);
    } catch (const CommandStopped &) {
        (void)endRunRecord(rows, Failure);
        throw;
    }
    return endRunRecord(rows, status);
}

int CliApp::auditOne(const Invocation &call, const AuditOrder &order, RunRecord &kept)
{
    const Common &common = call.common;
    BoardRun run;
    run.started = m_now();
    if (common.ports.size() == 1) { // the port the board must be on, found or not
        run.com = common.ports.first().port;
        run.device = common.ports.first().device;
    }
    Session &session = openSession(common);
    Location location;
    try {
        location = locate(common);
        if (location.found) {
            run.com = session.printer.comPort;
            run.device = session.table.device(run.com);
            run.printer = session.printer;
            run.identity = location.identity;
            run.audit.emplace();
            auditBoard(*session.link, session.printer, order, *run.audit);
        } else if (location.unopened) {
            run.portError = location.notFound;
        }
    } catch (const CommandStopped &) {
        run.stopped = true;
    }
    run.ended = m_now();
    run.decide();

    bool logged = true;
    if (!kept.empty()) {
        RecordContext context = recordContext(call, nullptr);
        context.audit = &order;
        QString reason;
        logged = kept.record(recordRow(run, context), &reason);
        if (!logged)
            m_err << "tessary: " << reason << '\n';
    }
    if (run.stopped)
        return interrupted(common, run.reason, auditJson(boardtext::runJson(m_command, run), order, run));
    if (!run.found())
        return fail(common, location.notFound, boardtext::runJson(m_command, run), location.said);

    if (run.audit)
        for (const QString &line : run.audit->unanswered + run.audit->differences)
            m_err << "tessary: " << outcomeWord(run.outcome) << ": " << printableText(line) << '\n';
    QJsonObject json = auditJson(locationJson(), order, run);
    const bool ok = run.outcome == BoardOutcome::Ok && logged;
    json.insert(QStringLiteral("ok"), ok);
    if (const auto recorded = kept.lastRecorded())
        json.insert(QStringLiteral("recorded"), *recorded);
    if (common.json || !common.quiet || !ok)
        print(common, json, locationText() + auditText(order, run));
    return ok ? Success : Failure;
}

int CliApp::auditAllBoards(const Invocation &call, const AuditOrder &order, RunRecord &kept)
{
    const Common &common = call.common;
    RecordContext context = recordContext(call, nullptr);
    context.audit = &order;
    BoardTally tally(kept, [&common](const BoardRun &run) { return reported(common, run); }, context);
    AllBoards::Hooks hooks;
    hooks.makeTask = [&order] { return std::make_unique<AuditTask>(order); };
    hooks.ended = [&tally](const BoardRun &run) { return tally.ended(run); };
    const std::vector<BoardRun> runs = runAllBoards(common, hooks);

    QList<QStringList> rows = {{"Port", "Device", "Speed", "Identity", "Mode", "Code", "Entries", "Result"}};
    for (const BoardRun &run : runs) {
        if (!tally.reported(run))
            continue;
        const bool logged = tally.add(run, auditJson(boardtext::runJson(m_command, run), order, run));
        const QByteArray identity = lastIdentity(run);
        const ReadBackResult *back = run.audit ? &run.audit->back : nullptr;
        const auto dash = [](const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; };
        rows.append({run.portName(), run.device, run.found() ? run.printer.baudRate : QStringLiteral("-"),
                     dash(printableText(identityPart(identity))),
                     back && back->configurationMode ? (*back->configurationMode ? QStringLiteral("user")
                                                                                 : QStringLiteral("resistors"))
                                                     : QStringLiteral("-"),
                     back && back->code ? *back->code : QStringLiteral("-"),
                     dash(run.audit ? run.audit->entries.join(QStringLiteral(", ")) : QString()),
                     outcomeWord(run.outcome) + (logged ? QString() : QStringLiteral(", not logged"))});
    }
    QString text = boardtext::table(rows);
    if (order.expects())
        text += QStringLiteral("Expected: %1\n").arg(expectedText(order));
    return allBoardsEnd(call, runs, tally.json(), text + tally.counts(), true, tally.failed() > 0);
}

} // namespace tessary
