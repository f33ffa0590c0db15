#pragma once

#include "allboards.h"
#include "app/appstate.h"
#include "serial/portnames.h"
#include "terminal.h"

#include <QCommandLineOption>
#include <QDateTime>
#include <QList>
#include <QLockFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCommandLineParser;
class QEventLoop;
class QSettings;
class QTextStream;

namespace tessary {

struct AuditOrder;
class BoardRecorder;
class CliEnvironment;
class ComSlots;
class MechanismDatabase;
class NumberCounter;
class ParallelScan;
struct ProgramOrder;
struct RecordContext;
class RunRecord;
class RecordingEnvironment;
class RecordDatabase;
struct RecordFilter;
struct RecordLocation;
class TrafficRecord;
class TrafficWriter;
class SerialLine;
class SerialIdentities;
class SerialLink;

// The command-line tool: `tessary <command> [options]`. Every exchange with
// the board and every file goes through the libraries of the desktop
// program; the messages its windows show in boxes come out here as lines on
// standard error, results on standard output (as JSON with --json).
// What the board commands print alike.
namespace boardtext {
// The board's reply for a terminal: no control characters.
[[nodiscard]] QString shown(const QByteArray &reply);
[[nodiscard]] QString handshakeWord(int code);    // "xon", "hw"
[[nodiscard]] QString handshakeCaption(int code); // "Xon-Xoff", "DSR/DTR Mode"
// Where a board is, as every result object of the board commands begins.
[[nodiscard]] QJsonObject location(const QString &command, int com, const QString &device, const PrinterLink &printer);
// A board's run of --all-boards where the command's steps never began on it:
// where it is, "ok" false but for a board found, its result and reason.
[[nodiscard]] QJsonObject runJson(const QString &command, const BoardRun &run);
// Rows under a header, each column as wide as its widest entry.
[[nodiscard]] QString table(const QList<QStringList> &rows);
// The boards that failed, one line each: device, result, reason.
[[nodiscard]] QString failedList(const QList<const BoardRun *> &runs);
} // namespace boardtext

class CliApp {
public:
    // How often `ports --watch` looks whether its standard output's reader is still there.
    static constexpr int ReaderLookMs = 250;

    enum ExitCode : int {
        Success = 0,
        Failure = 1,    // the board did not answer, an echo or a check failed, a file was refused
        UsageError = 2, // the command line is wrong
        // Stopped by a signal: 128 + its number (130 SIGINT, 143 SIGTERM).
    };

    CliApp(CliEnvironment &environment, QTextStream &out, QTextStream &err);
    ~CliApp();
    CliApp(const CliApp &) = delete;
    CliApp &operator=(const CliApp &) = delete;

    // Runs one command; arguments[0] is the program's name.
    [[nodiscard]] int run(const QStringList &arguments);

    // The clock of the record's times (tests fix it).
    void setNow(std::function<QDateTime()> now) { m_now = std::move(now); }

    // A signal (SIGINT, SIGTERM) asks the command to stop at its next wait:
    // the port is closed as usual, a program run logs `interrupted`, and the
    // exit status is 128 + the signal's number. Called on the command's
    // thread (from the event loop the waits run).
    void interrupt(int signal);

public:
    struct Invocation;
    // What a command reaches beyond files: which of --port, --speed,
    // --handshake, --sequential and --trace it takes.
    enum class Reach {
        Files, // none of them
        Ports, // --port: the port table
        Board, // all of them
    };
    // One command: its help, the options it takes beyond the common ones, the
    // arguments it takes, what it runs, and what it reaches.
    struct Subcommand {
        static constexpr int FileAndEntry = -1; // FILE NAME, or FILE with --index N
        QString name; // "detect", "db add"
        QString description;
        QString syntax; // the arguments in the help; empty: none
        int arguments = 0;
        QString argumentsError; // the usage message for another number of them
        QList<QCommandLineOption> options;
        int (CliApp::*run)(const Invocation &) = nullptr;
        Reach reach = Reach::Files;
    };
    // The commands, and the groups of them named by a word and an action.
    // The help, the manual page and the shell completions all walk it.
    static const QList<Subcommand> &subcommands();
    [[nodiscard]] static const Subcommand *findSubcommand(const QString &name);
    // The options a command takes beside its own, by what it reaches:
    // --help, --json and --quiet for all; --port; the board's line options.
    [[nodiscard]] static QList<QCommandLineOption> commonOptions(Reach reach);

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
        QList<PortChoice> ports; // in port order; empty: every port the system lists
        QString speed;           // empty: scan every speed
        int handshakeIndex = 1;  // 0 "Xon-Xoff", 1 "DSR/DTR Mode"
        bool sequential = false; // scan one port after another, as the window does
        bool allBoards = false;  // every board on every port at once, each port named by its device
        QList<AllBoards::Port> boards; // with allBoards: the ports, in the order given
        bool portsNamed = false; // with allBoards: the ports were named with --port
        // The port table the --port mappings make.
        [[nodiscard]] PortNames table() const;
    };
public:
    // A parsed command line, as a command's run function gets it.
    struct Invocation {
        const QCommandLineParser &parser;
        Common common;
        QStringList arguments; // the positional arguments, their number checked
        QStringList line;      // the command and its options as given ("program", "--all-boards", ...)
        [[nodiscard]] bool has(const char *option) const;
        [[nodiscard]] QString value(const char *option) const;
    };

private:
    int runGroup(const QString &group, const QStringList &arguments);
    // "unknown command prgram; did you mean program?": a word the table does
    // not know at its place (a command, or an action of the group).
    [[nodiscard]] static QString unknownWord(const QString &word, const QString &group = {});
    int runSubcommand(const Subcommand &command, const QStringList &arguments);

    // Parsing.
    // Parses, answers --help; an exit code when the command must end here.
    [[nodiscard]] std::optional<int> parse(QCommandLineParser &parser, const QList<QCommandLineOption> &options,
                                           const QStringList &arguments, Common &common, Reach reach);
    // The --port values as ports; nothing after saying why in *error.
    [[nodiscard]] std::optional<QList<PortChoice>> parsePorts(const QStringList &values, QString *error) const;
    // The --port values of --all-boards as devices (every serial port the
    // system lists without one); nothing after saying why in *error.
    [[nodiscard]] std::optional<QList<AllBoards::Port>> parseBoardPorts(const QStringList &values, QString *error) const;
    int usage(const QString &message);

    // Printing.
    // The message on standard error (unless said already) and, with --json,
    // {"ok": false, "command", "error"} and the extra fields on standard output.
    int fail(const Common &common, const QString &message, const QJsonObject &extra = {}, bool said = false);
    // A command that a signal stopped: the port closed, the note, 128 + signal.
    // printJson false: the command has printed its JSON already.
    int interrupted(const Common &common, const QString &note, const QJsonObject &extra = {}, bool printJson = true);
    // What could not be written (the trace, the output) makes the exit
    // status non-zero, said once.
    [[nodiscard]] int finish(int status);
    // Why the trace is incomplete; only once its writer has failed.
    [[nodiscard]] QString traceFailure() const;
    void print(const Common &common, const QJsonObject &json, const QString &text);
    // What a command has done: JSON with --json, else the text unless --quiet.
    void printDone(const Common &common, const QJsonObject &json, const QString &text);
    // The end of an --all-boards run: the ports' JSON array or the text (with
    // quietHides, not with --quiet when every board is ok), the count of the
    // boards found against --expect, and the exit status.
    [[nodiscard]] int allBoardsEnd(const Invocation &call, const std::vector<BoardRun> &runs, const QJsonArray &json,
                                   const QString &text, bool quietHides, bool failed);
    // Which runs of --all-boards get a row: every named port; without
    // --port, the ports where a board answered or that could not be opened.
    [[nodiscard]] static bool reported(const Common &common, const BoardRun &run);

    // The board.
    // The session a command talks to the board through: the port table, the
    // line over it, the link and where the board is.
    struct Session {
        PortNames table;
        SerialLine *line = nullptr;
        std::unique_ptr<SerialLink> link;
        PrinterLink printer;
    };
    // Where locate() found the board, or why not.
    struct Location {
        bool found = false;
        QByteArray identity;  // the identity reply of the probe that found it
        QString notFound;     // why none was found, in one message
        bool said = false;    // that message is on standard error already
        bool unopened = false; // no port asked could be opened (or none exists): notFound says why
    };
    Session &openSession(const Common &common);
    // Finds the board: the manual probe with --port and --speed, else the
    // scan of the ports given with --port (every port without), all at once
    // or one after another.
    [[nodiscard]] Location locate(const Common &common, bool wakeFirst = false);
    // Opens the session and locates the board; the exit code when none answered.
    [[nodiscard]] std::optional<int> findBoard(const Common &common, Location &location, bool wakeFirst = false);
    [[nodiscard]] QString portText() const;
    [[nodiscard]] QJsonObject locationJson() const;
    [[nodiscard]] QString locationText() const;
    // Runs every port of --all-boards at once, each port's live line on
    // standard error.
    [[nodiscard]] std::vector<BoardRun> runAllBoards(const Common &common, const AllBoards::Hooks &hooks);
    // What every row of this run's record shares.
    [[nodiscard]] RecordContext recordContext(const Invocation &call, const ProgramOrder *order) const;

    int ports(const Invocation &call);
    // Prints each device that comes or goes until a signal stops it (128 +
    // its number) or standard output's reader goes away (1).
    int watchPorts(const Common &common, ComSlots &comSlots);
    int detect(const Invocation &call);
    int detectAllBoards(const Invocation &call);
    int identity(const Invocation &call);
    int read(const Invocation &call);
    int boardControl(const Invocation &call);
    int program(const Invocation &call);
    // What program writes, from its options; the exit code when they are wrong.
    [[nodiscard]] std::optional<int> programOrder(const Invocation &call, ProgramOrder &order);
    // Each board's own identity (an --id template with --serial-file, or
    // --id-list); null when every board takes the order's. The exit code when
    // the options are wrong.
    [[nodiscard]] std::optional<int> serialIdentities(const Invocation &call, RunRecord &rows,
                                                      std::unique_ptr<SerialIdentities> &identities);
    // Why two options (or an option and a port) name one file, which the one
    // would write into the other; nothing when each names its own.
    [[nodiscard]] static QString oneFileTwice(const Invocation &call);
    // The file that keeps an identity list's next line: beside the list itself,
    // a link followed, so that every name of one list shares one position.
    [[nodiscard]] static QString idListCounter(const QString &list);
    // Where the boards' numbers come from; null with *status set when nowhere.
    [[nodiscard]] std::unique_ptr<NumberCounter> numberCounter(const Invocation &call, RunRecord &rows, int *status);
    int programOne(const Invocation &call, const ProgramOrder &order, RunRecord &kept, SerialIdentities *identities);
    int programAllBoards(const Invocation &call, const ProgramOrder &order, RunRecord &kept,
                         SerialIdentities *identities);
    int audit(const Invocation &call);
    [[nodiscard]] std::optional<int> auditOrder(const Invocation &call, AuditOrder &order);
    int auditOne(const Invocation &call, const AuditOrder &order, RunRecord &kept);
    int auditAllBoards(const Invocation &call, const AuditOrder &order, RunRecord &kept);
    // Whether the command's --expect counts boards (detect, program) rather
    // than naming an entry (audit).
    [[nodiscard]] static bool expectCountsBoards(const QList<QCommandLineOption> &options);


    // Where a run's board rows go (runrecord.cpp).
public:
    // --record[=URL] of a command that records its boards.
    [[nodiscard]] static QCommandLineOption recordRunOption();

private:
    // Opens --log and --record for a run of `command` before any board is
    // touched; the exit code when the run must not begin (a log of another
    // shape, a record of a newer schema, a record neither reached nor spooled for).
    [[nodiscard]] std::optional<int> openRunRecord(const Invocation &call, const QString &command, RunRecord &rows);
    // Ends the record's run: what waits in the spool said once, and Failure
    // for a run that would have succeeded.
    [[nodiscard]] int endRunRecord(RunRecord &rows, int status);
    // --station, else the host name.
    [[nodiscard]] static QString stationName(const Invocation &call);

    // Files.
    int dbList(const Invocation &call);
    int dbShow(const Invocation &call);
    int dbAdd(const Invocation &call);
    int dbRemove(const Invocation &call);
    int dbMove(const Invocation &call);
    int dbFactory(const Invocation &call);
    int dbExport(const Invocation &call);
    int dbImport(const Invocation &call);
    // Reads a .cdb file; the exit code when it cannot be read.
    [[nodiscard]] std::optional<int> readDatabase(const Common &common, const QString &path,
                                                  MechanismDatabase &database);
    // Reads the file the command names first and finds the entry its NAME
    // argument or --index names; the exit code when either fails.
    [[nodiscard]] std::optional<int> readEntry(const Invocation &call, MechanismDatabase &database, int *row);
    // Holds the database against other changes from its reading to its
    // writing, so that two runs at once each keep the other's entry; the
    // exit code when it cannot be held.
    [[nodiscard]] std::optional<int> lockDatabase(const Common &common, const QString &path);
    // Writes the database over its own file, or as a new file at newPath; the
    // exit code when it is not written.
    [[nodiscard]] std::optional<int> writeDatabase(const Common &common, MechanismDatabase &database,
                                                   const QString &newPath = {});

    int codeDecode(const Invocation &call);
    int codeEncode(const Invocation &call);
    // Prints the completion script of the shell named.
    int completion(const Invocation &call);

    // The production record (recordcommands.cpp).
    static QList<Subcommand> recordSubcommands();
    int recordUse(const Invocation &call);
    int recordFlush(const Invocation &call);
    int recordList(const Invocation &call);
    int recordBoard(const Invocation &call);
    int recordSummary(const Invocation &call);
    int listBoards(const Invocation &call, const RecordFilter &filter, bool oneBoard);
    // --record, else the record of the settings; nothing with *status set when neither is usable.
    [[nodiscard]] std::optional<RecordLocation> chosenRecord(const Invocation &call, int *status);
    // The chosen record opened for questions; null with *status set when it cannot be.
    [[nodiscard]] std::unique_ptr<RecordDatabase> recordToAsk(const Invocation &call, int *status);
    [[nodiscard]] std::optional<int> parseRecordFilter(const Invocation &call, RecordFilter &filter);

    // COM1 to COM6 as the system's ports and the remembered slots fill them
    // (the desktop program's numbers); keep: the slots given are remembered.
    [[nodiscard]] PortNames systemTable(bool keep = true) const;
    // The memory of the COM slots, shared with the desktop program; null when
    // it cannot be kept, said once.
    [[nodiscard]] QSettings *slotMemory() const;

    // The machine, through the recording wrappers of --trace when given.
    [[nodiscard]] CliEnvironment &environment();

    CliEnvironment &m_environment;
    QTextStream &m_out;
    QTextStream &m_err;
    StreamPrompts m_prompts;
    StreamStatusLine m_status;
    std::unique_ptr<ProgressView> m_progress;
    std::function<QDateTime()> m_now = [] { return QDateTime::currentDateTimeUtc(); };

    QString m_command; // "detect", "db add", ...
    std::unique_ptr<TrafficRecord> m_record;
    std::unique_ptr<TrafficWriter> m_trace;
    std::unique_ptr<QLockFile> m_databaseLock;
    std::unique_ptr<RecordingEnvironment> m_recording;
    Session m_session;
    mutable bool m_slotMemorySaid = false;
    bool m_outputGone = false; // standard output's reader went away: nothing to say
    int m_signal = 0;               // the signal that stopped the command, 0 none
    ParallelScan *m_scan = nullptr; // the scan in progress
    AllBoards *m_allBoards = nullptr; // the boards in progress
    QEventLoop *m_watch = nullptr;    // `ports --watch` while it watches
};

} // namespace tessary
