// The commands that talk to the board: detect, identity, read, wake, sleep,
// reset and program.
#include "cliapp.h"

#include "clienvironment.h"
#include "configuration/configurationcode.h"
#include "configuration/configurationeditor.h"
#include "configuration/programmer.h"
#include "database/mechanismdatabase.h"
#include "detection/detector.h"
#include "fieldoptions.h"
#include "parallelscan.h"
#include "productionlog.h"
#include "protocol/printerqueries.h"
#include "protocol/replytext.h"
#include "serial/seriallink.h"
#include "serial/serialline.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QScopeGuard>
#include <QTextStream>

namespace tessary {

namespace {

// The board's reply for a terminal: no control characters.
QString shown(const QByteArray &reply) { return printableText(replyText(reply)); }

QString handshakeWord(int code) { return code == HandshakeXonXoff ? QStringLiteral("xon") : QStringLiteral("hw"); }
QString handshakeCaption(int code)
{
    return code == HandshakeXonXoff ? QStringLiteral("Xon-Xoff") : QStringLiteral("DSR/DTR Mode");
}

QString hexByte(quint8 value) { return QStringLiteral("%1").arg(value, 2, 16, QChar(u'0')).toUpper(); }

} // namespace

// ---- the session -----------------------------------------------------------

void CliApp::openSession(const Common &common)
{
    // With --port only the ports named are used: the scan and the wake-up
    // touch no other device.
    m_table = common.ports.isEmpty() ? systemTable() : common.table({});
    m_link.reset();
    m_line = &environment().line(m_table);
    m_link = std::make_unique<SerialLink>(*m_line, environment().clock(), &m_status);
    if (m_signal)
        m_link->requestStop();
    m_printer = {};
}

bool CliApp::locate(const Common &common, bool wakeFirst)
{
    QList<int> existing;
    for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port)
        if (m_line->portExists(port))
            existing << port;
    for (const PortChoice &choice : common.ports) {
        if (existing.contains(choice.port))
            continue;
        m_err << "tessary: "
              << (choice.device.isEmpty()
                      ? QStringLiteral("COM%1 names no device on this machine (see tessary ports)").arg(choice.port)
                      : QStringLiteral("%1 does not exist").arg(choice.device))
              << '\n';
    }
    m_notFound = QStringLiteral("no board found");
    if (existing.isEmpty()) {
        if (common.ports.isEmpty())
            m_err << "tessary: this machine lists no serial port; name the board's device with --port PATH\n";
        m_err.flush();
        return false;
    }

    Detector detector(*m_link, m_printer, m_prompts, m_progress.get());
    detector.begin();
    // The identity the probe read; asking again would cost another query.
    const auto keepIdentity = qScopeGuard([this, &detector] { m_identity = detector.identityReply(); });
    if (!common.speed.isEmpty()) {
        // A sleeping board hears nothing but the wake-up; the scan sends it
        // itself.
        if (wakeFirst)
            wakeupPrinter(*m_link);
        detector.detectSerialPrinter(common.ports.first().port, common.speed, common.handshakeIndex);
    } else if (common.sequential) {
        detector.autodetect();
    } else {
        // The same wake-up round and the same steps per port as the window's
        // scan, every port at once; the identity query where the board
        // answered.
        detector.beginScan();
        ParallelScan scan(environment(), m_table, m_prompts, m_status, *m_progress);
        m_scan = &scan;
        const ParallelScan::Answer answer = scan.run(existing);
        m_scan = nullptr;
        m_link->checkStop(); // a signal ended the scan early
        detector.finishScan(answer.port, answer.speed);
    }
    if (m_printer.printerFound)
        return true;
    // One message: the detection's result, and what to try. The scan has
    // sent a wake-up already; a probe at one speed has not.
    m_notFound = printableText(m_progress->lastText());
    if (common.speed.isEmpty())
        m_notFound += QStringLiteral(": no board answered at any speed, after a wake-up");
    else if (!wakeFirst)
        m_notFound += QStringLiteral("; if the board sleeps, try tessary wake once, with the same --port");
    return false;
}

std::optional<int> CliApp::findBoard(const Common &common, bool wakeFirst)
{
    openSession(common);
    if (!locate(common, wakeFirst))
        return fail(common, m_notFound);
    return std::nullopt;
}

QString CliApp::portText() const
{
    const QString device = m_table.device(m_printer.comPort);
    return device.isEmpty() ? QStringLiteral("COM%1").arg(m_printer.comPort)
                            : QStringLiteral("COM%1 (%2)").arg(m_printer.comPort).arg(device);
}

QJsonObject CliApp::locationJson() const
{
    return {
        {QStringLiteral("command"), m_command},
        {QStringLiteral("port"), QStringLiteral("COM%1").arg(m_printer.comPort)},
        {QStringLiteral("device"), m_table.device(m_printer.comPort)},
        {QStringLiteral("speed"), m_printer.baudRate},
        {QStringLiteral("handshake"), handshakeWord(m_printer.handshake)},
    };
}

QString CliApp::locationText() const
{
    return QStringLiteral("Port: %1\nBaudrate: %2\nHandshake: %3\n")
        .arg(portText(), m_printer.baudRate, handshakeCaption(m_printer.handshake));
}

// ---- detect, identity, read ------------------------------------------------

int CliApp::detect(const Invocation &call)
{
    const Common &common = call.common;
    if (const auto exit = findBoard(common))
        return *exit;
    QJsonObject json = locationJson();
    json.insert(QStringLiteral("ok"), true);
    json.insert(QStringLiteral("identity"), replyText(m_identity));
    print(common, json, locationText() + QStringLiteral("Identity: %1\n").arg(shown(m_identity)));
    return Success;
}

int CliApp::identity(const Invocation &call)
{
    const Common &common = call.common;
    if (const auto exit = findBoard(common))
        return *exit;
    const QByteArray identity = PrinterQueries(*m_link, m_printer).identity();
    if (identity.isEmpty())
        return fail(common, QStringLiteral("the board did not answer the identity query"));
    QJsonObject json = locationJson();
    json.insert(QStringLiteral("ok"), true);
    json.insert(QStringLiteral("identity"), replyText(identity));
    print(common, json, shown(identity) + u'\n');
    return Success;
}

int CliApp::read(const Invocation &call)
{
    const Common &common = call.common;
    if (const auto exit = findBoard(common))
        return *exit;

    ConfigurationEditor editor;
    const ReadBackResult result = PrinterQueries(*m_link, m_printer).readSettings(editor, m_prompts);

    QJsonObject json = locationJson();
    json.insert(QStringLiteral("ok"), result.code.has_value());
    json.insert(QStringLiteral("configurationMode"), result.configurationModeUser ? QStringLiteral("user")
                                                                                  : QStringLiteral("resistors"));
    json.insert(QStringLiteral("identityMode"), result.identityUser ? QStringLiteral("user")
                                                                    : QStringLiteral("automatic"));
    json.insert(QStringLiteral("name"), result.name);
    json.insert(QStringLiteral("identity"), replyText(result.identityReply));
    QString text = locationText();
    text += QStringLiteral("Configuration mode: %1\n")
                .arg(result.configurationModeUser ? QStringLiteral("User") : QStringLiteral("Resistors"));
    text += QStringLiteral("Identity determination: %1\n")
                .arg(result.identityUser ? QStringLiteral("User") : QStringLiteral("Automatic"));
    if (result.code) {
        json.insert(QStringLiteral("code"), *result.code);
        json.insert(QStringLiteral("fields"), describeJson(decodeConfigurationCode(*result.code)));
        text += QStringLiteral("Configuration code: %1\n").arg(*result.code);
        text += describeText(decodeConfigurationCode(*result.code), QStringLiteral("  "));
    } else {
        json.insert(QStringLiteral("code"), QJsonValue::Null);
        json.insert(QStringLiteral("error"), PrinterQueries::readErrorMessage());
        text += QStringLiteral("Configuration code: unreadable (%1 bytes answered)\n")
                    .arg(result.configurationReply.size());
    }
    text += QStringLiteral("Name: %1\n").arg(printableText(result.name));
    print(common, json, text);
    return result.code ? Success : Failure;
}

// ---- wake, sleep, reset ----------------------------------------------------

int CliApp::boardControl(const Invocation &call)
{
    const Common &common = call.common;
    const QString command = m_command;
    const bool wake = command == QLatin1String("wake");
    const bool sleep = command == QLatin1String("sleep");
    if (const auto exit = findBoard(common, wake))
        return *exit;

    PrinterQueries queries(*m_link, m_printer);
    QString done;
    bool sent = false;
    if (wake) {
        // Finding the board has woken every port; one wake-up round is enough.
        sent = queries.cancelAfterWakeup();
        done = QStringLiteral("Woke the board on %1.\n");
    } else if (sleep) {
        sent = queries.sleep();
        done = QStringLiteral("The board on %1 sleeps; tessary wake wakes it.\n");
    } else {
        sent = queries.reset();
        done = QStringLiteral("Reset the board on %1.\n");
    }
    // Done only once the bytes went out; the link has said why not.
    if (!sent) {
        QJsonObject json = locationJson();
        json.insert(QStringLiteral("reason"), m_link->lastProblem());
        return fail(common,
                    QStringLiteral("the board on %1 was not %2")
                        .arg(portText(), wake    ? QStringLiteral("woken")
                                         : sleep ? QStringLiteral("put to sleep")
                                                 : QStringLiteral("reset")),
                    json);
    }
    QJsonObject json = locationJson();
    json.insert(QStringLiteral("ok"), true);
    printDone(common, json, done.arg(portText()));
    return Success;
}

// ---- program ---------------------------------------------------------------

int CliApp::program(const Invocation &call)
{
    const Common &common = call.common;

    // What to write.
    const bool fromCode = call.has("code");
    const bool fromDb = call.has("db") || call.has("entry");
    const bool fromFields = fieldoptions::anySet(call.parser);
    if (int(fromCode) + int(fromDb) + int(fromFields) > 1)
        return usage(QStringLiteral("give the configuration one way: --code, --db with --entry, or field options"));
    if (fromDb && !(call.has("db") && call.has("entry")))
        return usage(QStringLiteral("--db and --entry go together"));
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

    ConfigurationEditor editor;
    editor.resetToStartState();
    std::optional<MechanismSettings> exact; // a code is written as given, voltage included
    QString codeText;
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
        MechanismDatabase database;
        const QString file = call.value("db");
        if (const auto exit = readDatabase(common, file, database))
            return *exit;
        const QString entry = call.value("entry");
        const int row = database.find(entry);
        if (row < 0)
            return fail(common, QStringLiteral("%1 has no entry named \"%2\"").arg(file, entry));
        codeText = database.code(row);
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

    openSession(common);
    m_prompts.setAssumeYes(call.has("yes"));
    Programmer programmer(*m_link, m_printer, m_prompts, m_status);
    if (!programmer.checkChoices(editor))
        return UsageError;
    ProgrammingPlan plan = ProgrammingPlan::fromEditor(editor);
    if (exact)
        plan.settings = *exact;
    if (plan.identity == ProgrammingPlan::Identity::User && plan.name.size() > ConfigurationEditor::MaxNameLength)
        m_err << "tessary: the identity is cut to its first 16 characters: \""
              << plan.name.left(ConfigurationEditor::MaxNameLength) << "\"\n";
    const QString planCode = userMode ? codeFromBytes(configurationByte1(plan.settings),
                                                      configurationByte2(plan.settings))
                                      : QString();

    // The log must take the row before the board is touched.
    std::unique_ptr<ProductionLog> log;
    if (call.has("log")) {
        const QString path = call.value("log");
        log = std::make_unique<ProductionLog>(path);
        QString reason;
        if (!log->open(&reason))
            return fail(common, QStringLiteral("cannot write the log file %1: %2").arg(path, reason));
    }
    ProductionLog::Row row;
    row.time = m_now();
    row.code = userMode ? planCode : QStringLiteral("resistors");
    const auto writeLog = [&](const QString &result) {
        if (!log)
            return true;
        row.result = result;
        QString reason;
        if (log->append(row, &reason))
            return true;
        m_err << "tessary: cannot write the log file: " << reason << '\n';
        return false;
    };

    ProgrammingResult result;
    QByteArray before;
    // Read back what the board now holds.
    std::optional<bool> verified;
    QStringList differences;
    try {
        if (!locate(common)) {
            writeLog(QStringLiteral("no-board"));
            return fail(common, m_notFound, {{QStringLiteral("result"), QStringLiteral("no-board")}});
        }
        row.port = m_table.device(m_printer.comPort);
        if (row.port.isEmpty())
            row.port = QStringLiteral("COM%1").arg(m_printer.comPort);
        row.speed = m_printer.baudRate;

        PrinterQueries queries(*m_link, m_printer);
        before = queries.identity();
        row.identityBefore = replyText(before);

        result = programmer.program(plan);
        row.identityAfter = replyText(result.identity);

        if (result.completed() && call.has("verify")) {
            ConfigurationEditor scratch;
            const ReadBackResult back = queries.readSettings(scratch, m_prompts);
            if (back.configurationModeUser != userMode)
                differences << QStringLiteral("configuration mode: wrote %1, the board holds %2")
                                   .arg(userMode ? QStringLiteral("User") : QStringLiteral("Resistors"),
                                        back.configurationModeUser ? QStringLiteral("User")
                                                                   : QStringLiteral("Resistors"));
            if (!back.code)
                differences << QStringLiteral("configuration bytes: the board's reply was unusable (%1 bytes)")
                                   .arg(back.configurationReply.size());
            else if (userMode && *back.code != planCode)
                differences << QStringLiteral("configuration bytes: wrote %1, the board holds %2")
                                   .arg(planCode, *back.code);
            if (back.identityUser != userId)
                differences << QStringLiteral("identity mode: wrote %1, the board holds %2")
                                   .arg(userId ? QStringLiteral("User") : QStringLiteral("Automatic"),
                                        back.identityUser ? QStringLiteral("User") : QStringLiteral("Automatic"));
            // The name the board reports after its reset is the one it holds.
            const QString wrote = trimBlanks(plan.name.left(ConfigurationEditor::MaxNameLength));
            const QString reports = trimBlanks(replyText(result.identity.left(ConfigurationEditor::MaxNameLength)));
            if (userId && reports != wrote)
                differences << QStringLiteral("identity: wrote \"%1\", the board reports \"%2\"")
                                   .arg(wrote, printableText(reports));
            verified = differences.isEmpty();
            for (const QString &difference : differences)
                m_err << "tessary: verification failed: " << difference << '\n';
        }
    } catch (const CommandStopped &) {
        const ProgrammingResult &done = programmer.progress();
        row.parameters = int(done.writes.size());
        writeLog(QStringLiteral("interrupted"));
        const QString note = done.completed()
                                 ? QStringLiteral("the board was programmed and reset; the verification did not end")
                                 : QStringLiteral("%1 parameter writes sent; the board may hold a partial "
                                                  "configuration and should be programmed again")
                                       .arg(row.parameters);
        return interrupted(common, note, {{QStringLiteral("parameters"), row.parameters}});
    }
    row.parameters = int(result.writes.size());

    const int echoFailures = result.echoFailures();
    QString outcome;
    if (result.outcome == ProgrammingResult::Outcome::Cancelled)
        outcome = QStringLiteral("cancelled");
    else if (result.outcome == ProgrammingResult::Outcome::NotReset)
        outcome = QStringLiteral("reset-not-sent");
    else if (!result.completed())
        outcome = QStringLiteral("stopped");
    else if (echoFailures > 0)
        outcome = QStringLiteral("echo-error");
    else if (verified == false)
        outcome = QStringLiteral("verify-failed");
    else
        outcome = QStringLiteral("ok");
    const bool logged = writeLog(outcome);

    QJsonObject json = locationJson();
    json.insert(QStringLiteral("ok"), outcome == QLatin1String("ok") && logged);
    json.insert(QStringLiteral("result"), outcome);
    json.insert(QStringLiteral("mode"), userMode ? QStringLiteral("user") : QStringLiteral("resistors"));
    json.insert(QStringLiteral("code"), userMode ? QJsonValue(planCode) : QJsonValue(QJsonValue::Null));
    json.insert(QStringLiteral("identityMode"), userId ? QStringLiteral("user") : QStringLiteral("automatic"));
    if (userId)
        json.insert(QStringLiteral("id"), plan.name.left(ConfigurationEditor::MaxNameLength));
    json.insert(QStringLiteral("identityBefore"), replyText(before));
    json.insert(QStringLiteral("identityAfter"), replyText(result.identity));
    json.insert(QStringLiteral("detectedPolarity"), result.detectedPolarity ? QJsonValue(int(*result.detectedPolarity))
                                                                            : QJsonValue(QJsonValue::Null));
    QJsonArray writes;
    for (const ProgrammingResult::Write &w : result.writes)
        writes.append(QJsonObject{{QStringLiteral("address"), w.address},
                                  {QStringLiteral("value"), w.value},
                                  {QStringLiteral("echo"), w.echo ? QJsonValue(int(*w.echo)) : QJsonValue(QJsonValue::Null)}});
    json.insert(QStringLiteral("writes"), writes);
    json.insert(QStringLiteral("echoFailures"), echoFailures);
    json.insert(QStringLiteral("verified"), verified ? QJsonValue(*verified) : QJsonValue(QJsonValue::Null));
    json.insert(QStringLiteral("differences"), QJsonArray::fromStringList(differences));

    QString text = locationText();
    text += QStringLiteral("Identity before: %1\n").arg(shown(before));
    if (userMode)
        text += QStringLiteral("Configuration mode: User, code %1 (bytes %2 %3)\n")
                    .arg(planCode, hexByte(configurationByte1(plan.settings)),
                         hexByte(configurationByte2(plan.settings)));
    else
        text += QStringLiteral("Configuration mode: Resistors\n");
    text += userId ? QStringLiteral("Identity determination: User, \"%1\"\n")
                         .arg(plan.name.left(ConfigurationEditor::MaxNameLength))
                   : QStringLiteral("Identity determination: Automatic\n");
    if (result.completed()) {
        text += QStringLiteral("Parameters written: %1, echo errors: %2\n").arg(result.writes.size()).arg(echoFailures);
        text += QStringLiteral("Identity after: %1\n").arg(shown(result.identity));
        if (verified)
            text += *verified ? QStringLiteral("Verified: the board holds what was written.\n")
                              : QStringLiteral("Verification failed.\n");
    } else if (result.outcome == ProgrammingResult::Outcome::Cancelled) {
        text += QStringLiteral("Not programmed: the board's strobe polarity differs (give --yes to "
                               "program anyway).\n");
    } else if (result.outcome == ProgrammingResult::Outcome::NotReset) {
        text += QStringLiteral("Parameters sent: %1; the board was not reset.\n").arg(result.writes.size());
    }
    text += QStringLiteral("Result: %1\n").arg(outcome);
    if (common.json || !common.quiet || outcome != QLatin1String("ok"))
        print(common, json, text);
    return outcome == QLatin1String("ok") && logged ? Success : Failure;
}

} // namespace tessary
