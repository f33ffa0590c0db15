// The commands that talk to the board: detect, identity, read, wake, sleep,
// reset and program.
#include "cliapp.h"

#include "allboards.h"
#include "boardprogram.h"
#include "clienvironment.h"
#include "configuration/configurationcode.h"
#include "configuration/configurationeditor.h"
#include "database/mechanismdatabase.h"
#include "detection/detector.h"
#include "fieldoptions.h"
#include "parallelscan.h"
#include "printer/printerqueries.h"
#include "printer/programmer.h"
#include "productionlog.h"
#include "protocol/replytext.h"
#include "serial/seriallink.h"
#include "serial/serialline.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QTextStream>

#include <algorithm>

namespace tessary {

namespace {

// The board's reply for a terminal: no control characters.
QString shown(const QByteArray &reply) { return printableText(replyText(reply)); }

QString handshakeWord(int code) { return code == HandshakeXonXoff ? QStringLiteral("xon") : QStringLiteral("hw"); }
QString handshakeCaption(int code)
{
    return code == HandshakeXonXoff ? QStringLiteral("Xon-Xoff") : QStringLiteral("DSR/DTR Mode");
}

// Where a board is, as every result object of the board commands begins.
QJsonObject locationJson(const QString &command, int com, const QString &device, const PrinterLink &printer)
{
    return {
        {QStringLiteral("command"), command},
        {QStringLiteral("port"), com ? QJsonValue(QStringLiteral("COM%1").arg(com)) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("device"), device},
        {QStringLiteral("speed"), printer.baudRate},
        {QStringLiteral("handshake"), handshakeWord(printer.handshake)},
    };
}

// Rows under a header, each column as wide as its widest entry.
QString table(const QList<QStringList> &rows)
{
    QList<qsizetype> widths;
    for (const QStringList &row : rows)
        for (qsizetype column = 0; column < row.size(); ++column) {
            if (widths.size() <= column)
                widths.append(0);
            widths[column] = std::max(widths[column], row[column].size());
        }
    QString text;
    for (const QStringList &row : rows) {
        QString line;
        for (qsizetype column = 0; column < row.size(); ++column)
            line += row[column].leftJustified(column + 1 < row.size() ? widths[column] + 2 : 0);
        text += line + u'\n';
    }
    return text;
}

QString comText(int com) { return com ? QStringLiteral("COM%1").arg(com) : QStringLiteral("-"); }

} // namespace

// ---- the session -----------------------------------------------------------

void CliApp::openSession(const Common &common)
{
    // With --port only the ports named are used: the scan and the wake-up
    // touch no other device.
    m_table = common.ports.isEmpty() && !common.allBoards ? systemTable() : common.table();
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
    QStringList missing;
    for (const PortChoice &choice : common.ports)
        if (!existing.contains(choice.port))
            missing << (choice.device.isEmpty()
                            ? QStringLiteral("COM%1 names no device on this machine (see tessary ports)").arg(choice.port)
                            : QStringLiteral("%1 does not exist").arg(choice.device));
    if (existing.isEmpty()) { // nothing to ask: the reason is the one message
        m_notFound = missing.isEmpty()
                         ? QStringLiteral("this machine lists no serial port; name the board's device with --port PATH")
                         : missing.join(QStringLiteral("; "));
        return false;
    }
    for (const QString &reason : std::as_const(missing)) // the ports that remain are asked
        m_err << "tessary: " << reason << '\n';

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
    return tessary::locationJson(m_command, m_printer.comPort, m_table.device(m_printer.comPort), m_printer);
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
    if (common.allBoards) {
        const std::vector<AllBoards::Board> boards = runAllBoards(common, nullptr, {});
        QJsonArray json;
        QList<QStringList> rows = {{"Port", "Device", "Speed", "Handshake", "Identity"}};
        for (const AllBoards::Board &board : boards) {
            if (!board.found())
                continue;
            QJsonObject object = tessary::locationJson(m_command, board.port.com, board.port.device, board.printer);
            object.insert(QStringLiteral("ok"), true);
            object.insert(QStringLiteral("identity"), replyText(board.identity));
            json.append(object);
            rows.append({comText(board.port.com), board.port.device, board.printer.baudRate,
                         handshakeCaption(board.printer.handshake), shown(board.identity)});
        }
        if (const auto exit = allBoardsEnd(common, boards, json, table(rows), false))
            return *exit;
        return Success;
    }
    if (const auto exit = findBoard(common))
        return *exit;
    QJsonObject json = locationJson();
    json.insert(QStringLiteral("ok"), true);
    json.insert(QStringLiteral("identity"), replyText(m_identity));
    print(common, json, locationText() + QStringLiteral("Identity: %1\n").arg(shown(m_identity)));
    return Success;
}

std::vector<AllBoards::Board> CliApp::runAllBoards(const Common &common, const ProgramOrder *order,
                                                   const std::function<QString(const AllBoards::Board &)> &ended)
{
    BoardLines lines(m_err, isTerminal(m_err), common.quiet);
    AllBoards all(environment(), lines, QStringLiteral("tessary ") + m_command, m_prompts.assumeYes());
    m_allBoards = &all;
    if (m_signal)
        all.requestStop();
    std::vector<AllBoards::Board> boards = all.run(common.boards, order, ended ? ended : [](const AllBoards::Board &) { return QString(); });
    m_allBoards = nullptr;
    return boards;
}

std::optional<int> CliApp::allBoardsEnd(const Common &common, const std::vector<AllBoards::Board> &boards,
                                        const QJsonArray &json, const QString &text, bool quietHides)
{
    QStringList missing, empty;
    for (const AllBoards::Board &board : boards) {
        if (board.missing)
            missing << board.port.device;
        else if (!board.found() && !board.stopped)
            empty << board.port.name();
    }
    for (const QString &device : std::as_const(missing))
        m_err << "tessary: " << device << " does not exist\n";
    if (!empty.isEmpty())
        m_err << "tessary: no board answered on " << empty.join(QStringLiteral(", ")) << '\n';
    if (json.isEmpty() && !m_signal) {
        if (common.json)
            m_out << "[]\n";
        if (boards.empty())
            m_err << "tessary: this machine lists no serial port; name the boards' devices with --port PATH\n";
        else
            m_err << "tessary: no board found on any of the " << boards.size() << " ports\n";
        m_err.flush();
        return Failure;
    }
    m_err.flush();
    const bool allOk = std::all_of(json.begin(), json.end(), [](const QJsonValue &board) {
        return board[QStringLiteral("ok")].toBool();
    });
    if (common.json)
        m_out << QJsonDocument(json).toJson(QJsonDocument::Indented);
    else if (!common.quiet || !quietHides || m_signal || !allOk)
        m_out << text;
    m_out.flush();
    if (m_signal) {
        int stopped = 0;
        for (const AllBoards::Board &board : boards)
            stopped += board.stopped ? 1 : 0;
        return interrupted(common, QStringLiteral("%1 of %2 ports stopped before their end; a board stopped while "
                                                  "being programmed may hold a partial configuration and should be "
                                                  "programmed again")
                                       .arg(stopped)
                                       .arg(boards.size()),
                           {}, false);
    }
    return std::nullopt;
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

    const ReadBackResult result = PrinterQueries(*m_link, m_printer).readSettings();
    if (result.answeredNothing())
        return fail(common, QStringLiteral("the board did not answer the read-back"), locationJson());

    if (!result.code)
        m_prompts.error(PrinterQueries::readErrorMessage());
    // A mode the board did not answer is not guessed.
    const auto modeJson = [](const std::optional<quint8> &mode, const char *nonzero, const char *zero) {
        return mode ? QJsonValue(QLatin1String(*mode ? nonzero : zero)) : QJsonValue(QJsonValue::Null);
    };
    const auto modeText = [](const std::optional<quint8> &mode, const char *nonzero, const char *zero) {
        return mode ? QString::fromLatin1(*mode ? nonzero : zero) : QStringLiteral("no reply");
    };
    QJsonObject json = locationJson();
    json.insert(QStringLiteral("ok"), result.code.has_value());
    json.insert(QStringLiteral("configurationMode"), modeJson(result.configurationMode, "user", "resistors"));
    json.insert(QStringLiteral("identityMode"), modeJson(result.identityMode, "user", "automatic"));
    json.insert(QStringLiteral("name"), result.name);
    json.insert(QStringLiteral("identity"), replyText(result.identityReply));
    QString text = locationText();
    text += QStringLiteral("Configuration mode: %1\n").arg(modeText(result.configurationMode, "User", "Resistors"));
    text += QStringLiteral("Identity determination: %1\n").arg(modeText(result.identityMode, "User", "Automatic"));
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

    order.userMode = userMode;
    order.userId = userId;
    order.verify = call.has("verify");
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
    order.plan = ProgrammingPlan::fromEditor(editor);
    if (exact)
        order.plan.settings = *exact;
    if (order.plan.identity == ProgrammingPlan::Identity::User
        && order.plan.name.size() > ConfigurationEditor::MaxNameLength)
        m_err << "tessary: the identity is cut to its first 16 characters: \""
              << order.plan.name.left(ConfigurationEditor::MaxNameLength) << "\"\n";
    if (userMode)
        order.planCode = codeFromBytes(configurationByte1(order.plan.settings), configurationByte2(order.plan.settings));
    return std::nullopt;
}

int CliApp::program(const Invocation &call)
{
    const Common &common = call.common;
    ProgramOrder order;
    if (const auto exit = programOrder(call, order))
        return *exit;

    // The log must take the row before the board is touched.
    std::unique_ptr<ProductionLog> log;
    if (call.has("log")) {
        const QString path = call.value("log");
        log = std::make_unique<ProductionLog>(path);
        QString reason;
        if (!log->open(&reason))
            return fail(common, QStringLiteral("cannot write the log file %1: %2").arg(path, reason));
    }
    if (common.allBoards)
        return programAllBoards(common, order, log.get());

    ProductionLog::Row row;
    row.time = m_now();
    row.code = order.logCode();
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

    Programmer programmer(*m_link, m_printer, m_prompts, m_status);
    BoardProgram done;
    try {
        if (!locate(common)) {
            writeLog(QStringLiteral("no-board"));
            return fail(common, m_notFound, {{QStringLiteral("result"), QStringLiteral("no-board")}});
        }
        row.port = m_table.device(m_printer.comPort);
        if (row.port.isEmpty())
            row.port = QStringLiteral("COM%1").arg(m_printer.comPort);
        row.speed = m_printer.baudRate;
        programBoard(*m_link, m_printer, programmer, order, done);
    } catch (const CommandStopped &) {
        const ProgrammingResult &progress = programmer.progress();
        row.identityBefore = replyText(done.before);
        row.parameters = int(progress.writes.size());
        writeLog(QStringLiteral("interrupted"));
        const QString note = progress.completed()
                                 ? QStringLiteral("the board was programmed and reset; the verification did not end")
                                 : QStringLiteral("%1 parameter writes sent; the board may hold a partial "
                                                  "configuration and should be programmed again")
                                       .arg(row.parameters);
        return interrupted(common, note, {{QStringLiteral("parameters"), row.parameters}});
    }
    for (const QString &difference : std::as_const(done.differences))
        m_err << "tessary: verification failed: " << difference << '\n';
    row.identityBefore = replyText(done.before);
    row.identityAfter = replyText(done.result.identity);
    row.parameters = int(done.result.writes.size());
    const bool logged = writeLog(done.outcome);

    QJsonObject json = programJson(locationJson(), order, done);
    if (!logged)
        json.insert(QStringLiteral("ok"), false);
    if (common.json || !common.quiet || !done.ok())
        print(common, json, locationText() + programText(order, done));
    return done.ok() && logged ? Success : Failure;
}

int CliApp::programAllBoards(const Common &common, const ProgramOrder &order, ProductionLog *log)
{
    // A row for each board as it ends, so a run stopped half-way keeps the
    // rows of the boards already done; a row that cannot be written fails
    // that board, said once.
    QSet<QString> unlogged;
    QString logProblem;
    const QDateTime time = m_now();
    const auto ended = [&](const AllBoards::Board &board) -> QString {
        if (!log || !board.found())
            return {};
        ProductionLog::Row row{time, board.port.device, board.printer.baudRate, replyText(board.program.before),
                               replyText(board.program.result.identity), order.logCode(), board.result(),
                               board.parameters};
        QString reason;
        if (log->append(row, &reason))
            return {};
        unlogged.insert(board.port.device);
        if (std::exchange(logProblem, reason).isEmpty())
            return QStringLiteral("tessary: cannot write the log file: ") + reason;
        return {};
    };
    const std::vector<AllBoards::Board> boards = runAllBoards(common, &order, ended);

    QJsonArray json;
    QList<QStringList> rows = {{"Port", "Device", "Speed", "Identity before", "Identity after", "Result"}};
    int ok = 0, failed = 0;
    for (const AllBoards::Board &board : boards) {
        if (!board.found())
            continue;
        const bool logged = !unlogged.contains(board.port.device);
        QJsonObject location = tessary::locationJson(m_command, board.port.com, board.port.device, board.printer);
        QJsonObject object = board.stopped ? location : programJson(location, order, board.program);
        if (board.stopped) {
            object.insert(QStringLiteral("ok"), false);
            object.insert(QStringLiteral("result"), board.result());
            object.insert(QStringLiteral("parameters"), board.parameters);
        }
        if (!logged)
            object.insert(QStringLiteral("ok"), false);
        json.append(object);
        const bool good = object[QStringLiteral("ok")].toBool();
        (good ? ok : failed) += 1;
        rows.append({comText(board.port.com), board.port.device, board.printer.baudRate, shown(board.program.before),
                     shown(board.program.result.identity), board.result() + (logged ? QString() : QStringLiteral(", not logged"))});
    }
    const QString text = table(rows) + QStringLiteral("%1 ok, %2 failed\n").arg(ok).arg(failed);
    if (const auto exit = allBoardsEnd(common, boards, json, text, true))
        return *exit;
    return failed == 0 ? Success : Failure;
}

} // namespace tessary
