#pragma once

#include "app/appstate.h"
#include "serial/portnames.h"
#include "terminal.h"

#include <QDateTime>
#include <QJsonObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QCommandLineParser;
class QTextStream;

namespace tessary {

class CliEnvironment;
class MechanismDatabase;
class SerialLine;
class SerialLink;

// The command-line tool: `tessary <command> [options]`. Every exchange with
// the board and every file goes through the libraries of the desktop
// program; the messages its windows show in boxes come out here as lines on
// standard error, results on standard output (as JSON with --json).
class CliApp {
public:
    enum ExitCode : int {
        Success = 0,
        Failure = 1,    // the board did not answer, an echo or a check failed, a file was refused
        UsageError = 2, // the command line is wrong
    };

    CliApp(CliEnvironment &environment, QTextStream &out, QTextStream &err);
    ~CliApp();
    CliApp(const CliApp &) = delete;
    CliApp &operator=(const CliApp &) = delete;

    // Runs one command; arguments[0] is the program's name.
    [[nodiscard]] int run(const QStringList &arguments);

    // The clock of the production log's time column (tests fix it).
    void setNow(std::function<QDateTime()> now) { m_now = std::move(now); }

private:
    // Where a command was told the board is.
    struct PortChoice {
        int port = 0;    // 1 to 6
        QString device;  // empty: the slot names no device
    };
    // The options every command takes.
    struct Common {
        bool json = false;
        bool quiet = false;
        std::optional<PortChoice> port;
        QString speed;           // empty: scan every speed
        int handshakeIndex = 1;  // 0 "Xon-Xoff", 1 "DSR/DTR Mode"
    };

    // Parsing.
    void setUp(QCommandLineParser &parser, const QString &command, const QString &description,
               const QString &syntax);
    // Parses, answers --help; an exit code when the command must end here.
    [[nodiscard]] std::optional<int> parse(QCommandLineParser &parser, const QStringList &arguments,
                                           Common &common);
    [[nodiscard]] std::optional<PortChoice> parsePort(const QString &text, QString *error) const;
    int usage(const QString &message);
    int fail(const Common &common, const QString &message);
    void print(const Common &common, const QJsonObject &json, const QString &text);

    // The board.
    void openSession(const Common &common);
    // Finds the board: the manual probe with --port and --speed, else the
    // scan (of the --port alone when given). False when none answered.
    [[nodiscard]] bool locate(const Common &common, bool wakeFirst = false);
    [[nodiscard]] QString portText() const;
    [[nodiscard]] QJsonObject locationJson() const;
    [[nodiscard]] QString locationText() const;

    int ports(const QStringList &arguments);
    int detect(const QStringList &arguments);
    int identity(const QStringList &arguments);
    int read(const QStringList &arguments);
    int boardControl(const QString &command, const QStringList &arguments);
    int program(const QStringList &arguments);

    // Files.
    int db(const QStringList &arguments);
    int dbList(const QStringList &arguments);
    int dbShow(const QStringList &arguments);
    int dbAdd(const QStringList &arguments);
    int dbRemove(const QStringList &arguments);
    int dbMove(const QStringList &arguments);
    int dbFactory(const QStringList &arguments);
    int dbExport(const QStringList &arguments);
    int dbImport(const QStringList &arguments);
    [[nodiscard]] bool loadDatabase(const QString &path, MechanismDatabase &database);
    [[nodiscard]] bool saveDatabase(MechanismDatabase &database);
    [[nodiscard]] bool saveDatabaseAs(MechanismDatabase &database, const QString &path);
    // The row an entry argument or --index names; -1 after saying why.
    [[nodiscard]] int entryRow(const QCommandLineParser &parser, const MechanismDatabase &database,
                               const Common &common, int *exitCode);

    int code(const QStringList &arguments);
    int codeDecode(const QStringList &arguments);
    int codeEncode(const QStringList &arguments);

    CliEnvironment &m_environment;
    QTextStream &m_out;
    QTextStream &m_err;
    StreamPrompts m_prompts;
    StreamStatusLine m_status;
    std::unique_ptr<ProgressView> m_progress;
    std::function<QDateTime()> m_now = [] { return QDateTime::currentDateTimeUtc(); };

    QString m_command; // "detect", "db add", ...
    PortNames m_table;
    SerialLine *m_line = nullptr;
    std::unique_ptr<SerialLink> m_link;
    PrinterLink m_printer;
};

} // namespace tessary
