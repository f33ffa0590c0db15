#include "cliapp.h"

#include "app/atomicsave.h"
#include "app/commandlinehelp.h"
#include "app/version.h"
#include "clienvironment.h"
#include "fieldoptions.h"
#include "parallelscan.h"
#include "printer/boardprogramming.h"
#include "protocol/replytext.h"
#include "recordingenvironment.h"
#include "serial/comslots.h"
#include "serial/seriallink.h"
#include "serial/serialline.h"
#include "serial/trafficrecord.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

#include <csignal>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tessary {

namespace {

QString overview()
{
    return QStringLiteral(
        "Usage: tessary <command> [options]\n"
        "Configures the controller board of a Tessary thermal printer from scripts and production lines.\n"
        "\n"
        "Commands:\n"
        "  ports              COM1 to COM6 with their devices and adapters; --watch follows them\n"
        "  detect             find the board, its identity and its line settings\n"
        "  identity           the board's firmware identity\n"
        "  read               the configuration the board holds, in words\n"
        "  wake, sleep, reset control the board\n"
        "  program            write a configuration and an identity into the board\n"
        "  db <action>        list, show, add, remove, move, factory, export, import on .cdb files\n"
        "  code <action>      decode a configuration code, or encode one from field options\n"
        "  record <action>    use, flush, list, board, summary: the production record of every station\n"
        "  completion <shell> the completion script of bash, zsh or fish\n"
        "\n"
        "Every command takes --help, --json and --quiet. The commands that talk to the board also take\n"
        "--port COMn|COMn=PATH|PATH (repeatable), --speed, --handshake xon|hw, --sequential and\n"
        "--trace FILE|-; ports takes --port.\n"
        "A command that talks to the board scans for it first: every port (or each --port) at once, or one\n"
        "after another with --sequential; --port with --speed probes that port at that speed only.\n"
        "detect and program take --all-boards: every board on every port (up to 32) at once, each on its own,\n"
        "every port named with --port ending with one result; --expect N fails a run that finds fewer boards.\n"
        "program takes --record[=URL]: each board's row also into the production record (see tessary record).\n"
        "Exit status: 0 success; 1 the board did not answer, an echo or a check failed, a port could not be\n"
        "opened, or a file was refused; 2 a usage error (also a log of another shape); 130, 143 or 129 stopped\n"
        "by SIGINT, SIGTERM or SIGHUP (the terminal closed).\n"
        "See man tessary.\n");
}

} // namespace

CliApp::CliApp(CliEnvironment &environment, QTextStream &out, QTextStream &err)
    : m_environment(environment), m_out(out), m_err(err), m_prompts(err, false), m_status(err)
{
}

CliApp::~CliApp() = default;

CliEnvironment &CliApp::environment()
{
    if (m_recording)
        return *m_recording;
    return m_environment;
}

int CliApp::run(const QStringList &arguments)
{
    const QStringList rest = arguments.mid(1);
    const QString command = rest.value(0);
    if (command.isEmpty()) {
        m_err << overview();
        return UsageError;
    }
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        m_out << overview();
        return finish(Success);
    }
    if (command == QLatin1String("--version") || command == QLatin1String("-v")) {
        m_out << versionText(QStringLiteral("tessary"));
        return finish(Success);
    }
    m_command = command;
    if (command == QLatin1String("db") || command == QLatin1String("code") || command == QLatin1String("record"))
        return runGroup(command, rest);
    // The parsers see the command in the place of the program's name.
    if (const Subcommand *subcommand = findSubcommand(command))
        return runSubcommand(*subcommand, rest);
    m_err << "tessary: " << unknownWord(command) << '\n';
    m_err.flush();
    return UsageError;
}

// ---- the commands ----------------------------------------------------------

namespace {

QCommandLineOption codeOption()
{
    return {QStringLiteral("code"), QStringLiteral("The 16-character configuration code."), QStringLiteral("code")};
}

QCommandLineOption indexOption()
{
    return {QStringLiteral("index"), QStringLiteral("The entry's position, from 1."), QStringLiteral("n")};
}

QCommandLineOption yesOption(const QString &description)
{
    return {{QStringLiteral("y"), QStringLiteral("yes")}, description};
}

QCommandLineOption option(const char *name, const char *description, const char *valueName = nullptr)
{
    return valueName ? QCommandLineOption(QLatin1String(name), QLatin1String(description), QLatin1String(valueName))
                     : QCommandLineOption(QLatin1String(name), QLatin1String(description));
}

QCommandLineOption allBoardsOption()
{
    return {QStringLiteral("all-boards"),
            QStringLiteral("Every board on every port at once: each --port (a device PATH, or COMn for its device; "
                           "up to 32) or, without --port, every serial port the system lists.")};
}

QCommandLineOption expectOption()
{
    return {QStringLiteral("expect"),
            QStringLiteral("With --all-boards: fail unless at least N boards are found."), QStringLiteral("n")};
}

const QString NoArguments = QStringLiteral("takes no arguments");

// Qt's parser knows options that take a value and options that do not. The
// --record of a command that records its boards takes its URL or not:
// `--record`, `--record=URL` or `--record URL` (such a command takes no
// arguments, so a word after it can only be the URL). Handed to the parser
// with the value always, empty for the record of the settings.
QStringList withOptionalValues(const CliApp::Subcommand &command, const QList<QCommandLineOption> &options,
                               const QStringList &arguments)
{
    QSet<QString> valued;
    for (const QCommandLineOption &option : options)
        if (!option.valueName().isEmpty())
            for (const QString &name : option.names())
                valued.insert(name);
    if (command.reach != CliApp::Reach::Board || command.arguments != 0 || !valued.contains(QStringLiteral("record")))
        return arguments;
    QStringList given = arguments.mid(0, 1);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &word = arguments.at(i);
        given << word;
        if (word == QLatin1String("--")) {
            given << arguments.mid(i + 1);
            break;
        }
        if (!word.startsWith(u'-') || word.contains(u'='))
            continue;
        const QString name = word.mid(word.startsWith(QLatin1String("--")) ? 2 : 1);
        const bool hasNext = i + 1 < arguments.size();
        if (name == QLatin1String("record"))
            given.last() = QStringLiteral("--record=")
                         + (hasNext && !arguments.at(i + 1).startsWith(u'-') ? arguments.at(++i) : QString());
        else if (valued.contains(name) && hasNext)
            given << arguments.at(++i);
    }
    return given;
}

const QString OneFile = QStringLiteral("needs one FILE");
const QString FileAndEntrySyntax = QStringLiteral("FILE NAME | FILE --index N");
const QString FileAndEntryError = QStringLiteral("needs FILE and either NAME or --index N");

} // namespace

const QList<CliApp::Subcommand> &CliApp::subcommands()
{
    static const QList<Subcommand> table = QList<Subcommand>{
        {QStringLiteral("ports"),
         QStringLiteral("Lists COM1 to COM6 with their devices, whether each is present, and what is known of "
                        "its adapter (description, manufacturer, serial number, USB ids); a free slot kept for an "
                        "adapter names it. An adapter keeps its COM number across plugs and runs, shared with "
                        "the desktop program. --port COMn=PATH (or a PATH, repeatable) shows the table with that "
                        "mapping."),
         {}, 0, NoArguments,
         {option("watch", "Prints one line for each device that comes or goes, until stopped (Ctrl+C).")},
         &CliApp::ports, Reach::Ports},
        {QStringLiteral("detect"),
         QStringLiteral("Finds the board: scans every port (or each --port) at every speed after waking "
                        "them, all ports at once unless --sequential, or probes --port at --speed with "
                        "--handshake; prints where it is and the identity it answered with. --all-boards "
                        "finds every board on every port."),
         {}, 0, NoArguments, {allBoardsOption(), expectOption()}, &CliApp::detect, Reach::Board},
        {QStringLiteral("identity"), QStringLiteral("Prints the board's firmware identity (ESC \"I\")."),
         {}, 0, NoArguments, {}, &CliApp::identity, Reach::Board},
        {QStringLiteral("read"),
         QStringLiteral("Reads what the board holds: configuration mode, identity mode, the "
                        "configuration code with every field in words, and the name."),
         {}, 0, NoArguments, {}, &CliApp::read, Reach::Board},
        {QStringLiteral("wake"),
         QStringLiteral("Wakes the board: a NUL on every port at 57600 bauds, a pause of 1000 ms, "
                        "then CAN to the board once it answers."),
         {}, 0, NoArguments, {}, &CliApp::boardControl, Reach::Board},
        {QStringLiteral("sleep"),
         QStringLiteral("Puts the board to sleep (CAN, ESC \"S\", CAN); tessary wake wakes it."),
         {}, 0, NoArguments, {}, &CliApp::boardControl, Reach::Board},
        {QStringLiteral("reset"), QStringLiteral("Resets the board (ESC \"@\")."),
         {}, 0, NoArguments, {}, &CliApp::boardControl, Reach::Board},
        {QStringLiteral("program"),
         QStringLiteral("Writes a configuration and a mechanism identity into the board, each byte checked by "
                        "the board's echo, then resets it and reads its identity. The configuration comes from "
                        "--code, from --db and --entry, or from the field options.\n"
                        "With --all-boards it programs every board on every port at once (each --port PATH, up "
                        "to 32, or every serial port the system lists): each port is scanned until its own "
                        "board answers, and each board found is programmed on its own port with the same "
                        "options; one that fails stops no other. Standard error shows a line per board as it "
                        "goes; standard output gets a table (port, device, speed, identity before and after, "
                        "result), the count (\"7 ok, 1 failed\") and the boards that failed with the reason, or a "
                        "JSON array with --json; every port named with --port has its row, and --log takes a row "
                        "per board as each ends. Exit status 0 only when every board found was programmed (and "
                        "verified, with --verify), no port failed to open and --expect's boards were found."),
         {}, 0, QStringLiteral("takes options, not arguments"),
         QList<QCommandLineOption>{codeOption(),
                                   option("db", "A .cdb database holding the configuration.", "file"),
                                   option("entry", "The name of the entry in --db.", "name")}
             + fieldoptions::options()
             + QList<QCommandLineOption>{
                 option("mode",
                        "Configuration mode: user (the default: the configuration given) or "
                        "resistors (the board's straps; no configuration).",
                        "user|resistors"),
                 option("id", "The mechanism identity, up to 16 characters. {n} in it, or {n:0W} for W digits with "
                              "zeros in front, gives each board its own from --serial-file: --id 'L7-{n:04}' "
                              "writes L7-0001, L7-0002, ...", "text"),
                 option("serial-file", "With an --id holding {n}: the file holding the next number. After the scan, "
                                       "before any board is written, each board found takes one, in port order, under "
                                       "a lock on the file; a number is never handed out twice, also by runs at once.",
                        "file"),
                 option("serial-start", "The first number of a --serial-file, or of a --serial-from-record counter, "
                                        "that does not exist yet.", "n"),
                 option("serial-from-record", "With an --id holding {n}: the numbers come from the counter of that "
                                              "name in the production record (--record's, else the settings'), taken "
                                              "in one transaction, so stations sharing the record never hand out a "
                                              "number twice; the run is recorded there too.", "name"),
                 option("id-list", "A file of identities, one a line, handed out in order like --serial-file's "
                                   "numbers (the next line is kept in FILE.next).", "file"),
                 option("auto-id", "The board names itself from its configuration (the default)."),
                 yesOption(QStringLiteral("Program even when the board's strobe polarity differs.")),
                 option("verify", "After the reset, read back the configuration mode, the configuration "
                                  "bytes and the identity mode; any difference fails."),
                 option("log", "Append a CSV row for each board to the file (the header when new), synced to "
                               "the disk as each board ends; a file of rows under another header is refused.",
                        "file"),
                 recordRunOption(),
                 option("station", "The station named in the rows of --log and --record (the host name by default).", "name"),
                 allBoardsOption(), expectOption()},
         &CliApp::program, Reach::Board},
        {QStringLiteral("audit"),
         QStringLiteral("Reads what the board holds, writing nothing: its port, speed, handshake, firmware, "
                        "identity, configuration mode, identity mode and configuration code in words, and every "
                        "entry of --db (the factory list without it) whose code it holds. With --expect ENTRY, "
                        "--code or field options (only the fields given are compared) a board that holds "
                        "anything else is \"drift\", each differing field in words, and the exit status is 1.\n"
                        "With --all-boards it reads every board on every port at once, as program --all-boards "
                        "programs them: a line per board on standard error as it goes; on standard output a table "
                        "(port, device, speed, identity, mode, code, entries, result), the count and the boards "
                        "that failed with the reason, or a JSON array with --json; --log takes a row per board "
                        "(command audit) as each ends. Exit status 0 only when every board found was read in "
                        "full, none drifted and no port failed to open."),
         {}, 0, QStringLiteral("takes options, not arguments"),
         QList<QCommandLineOption>{option("db", "A .cdb database: its entries name what each board holds, and "
                                                "--expect is one of them (the factory list without it).", "file"),
                                   option("expect", "The entry every board should hold, in --db or the factory "
                                                    "list.", "entry"),
                                   codeOption()}
             + fieldoptions::options()
             + QList<QCommandLineOption>{
                 option("log", "Append a CSV row for each board to the file (the header when new), synced to "
                               "the disk as each board ends; a file of rows under another header is refused.",
                        "file"),
                 recordRunOption(),
                 option("station", "The station named in the rows of --log and --record (the host name by default).", "name"),
                 allBoardsOption()},
         &CliApp::audit, Reach::Board},

        {QStringLiteral("db list"), QStringLiteral("Lists the entries of a .cdb database."),
         QStringLiteral("FILE"), 1, OneFile, {}, &CliApp::dbList},
        {QStringLiteral("db show"), QStringLiteral("Shows one entry with every field of its code in words."),
         FileAndEntrySyntax, Subcommand::FileAndEntry, FileAndEntryError, {indexOption()}, &CliApp::dbShow},
        {QStringLiteral("db add"),
         QStringLiteral("Adds a named configuration, from --code or from the field options, to a .cdb "
                        "database (created when missing). An entry of that name is overwritten only "
                        "with --yes."),
         QStringLiteral("FILE NAME"), 2, QStringLiteral("needs FILE and NAME"),
         QList<QCommandLineOption>{codeOption()} + fieldoptions::options()
             + QList<QCommandLineOption>{yesOption(QStringLiteral("Overwrite an entry of the same name."))},
         &CliApp::dbAdd},
        {QStringLiteral("db remove"), QStringLiteral("Removes one entry from a .cdb database."),
         FileAndEntrySyntax, Subcommand::FileAndEntry, FileAndEntryError, {indexOption()}, &CliApp::dbRemove},
        {QStringLiteral("db move"), QStringLiteral("Moves one entry up, down, or to a position (from 1)."),
         FileAndEntrySyntax, Subcommand::FileAndEntry, FileAndEntryError,
         {indexOption(), option("up", "One place up."), option("down", "One place down."),
          option("to", "To this position, from 1.", "n")},
         &CliApp::dbMove},
        {QStringLiteral("db factory"),
         QStringLiteral("Writes the factory list of 29 mechanisms as a new .cdb database; an existing "
                        "file is replaced only with --yes."),
         QStringLiteral("FILE"), 1, OneFile, {yesOption(QStringLiteral("Replace an existing file."))},
         &CliApp::dbFactory},
        {QStringLiteral("db export"),
         QStringLiteral("Writes a .cdb database as JSON, on standard output or into --output; an "
                        "existing file is replaced only with --yes, the database itself never."),
         QStringLiteral("FILE"), 1, OneFile,
         {QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")}, QStringLiteral("The JSON file to write."),
                             QStringLiteral("file")),
          yesOption(QStringLiteral("Replace an existing file."))},
         &CliApp::dbExport},
        {QStringLiteral("db import"),
         QStringLiteral("Writes a .cdb database from JSON (as db export writes it; - reads standard "
                        "input); an existing file is replaced only with --yes."),
         QStringLiteral("JSON FILE"), 2, QStringLiteral("needs JSON and FILE"),
         {yesOption(QStringLiteral("Replace an existing file."))}, &CliApp::dbImport},

        {QStringLiteral("code decode"), QStringLiteral("Shows every field of a 16-character configuration code in words."),
         QStringLiteral("CODE"), 1, QStringLiteral("needs one CODE"), {}, &CliApp::codeDecode},
        {QStringLiteral("code encode"),
         QStringLiteral("Builds the 16-character configuration code from field options; every field "
                        "but the voltage (5 V unless --voltage 3.3) must be given."),
         {}, 0, QStringLiteral("takes field options, not arguments"), fieldoptions::options(), &CliApp::codeEncode},

        {QStringLiteral("completion"),
         QStringLiteral("Prints the completion script of a shell: commands, options, their values, file names, "
                        "ports and the entries of a --db file as you press Tab. The package installs one for each "
                        "shell where it looks; to try one at once: source <(tessary completion bash)."),
         QStringLiteral("bash|zsh|fish"), 1, QStringLiteral("needs the shell: bash, zsh or fish"), {},
         &CliApp::completion},
    } + recordSubcommands();
    return table;
}

const CliApp::Subcommand *CliApp::findSubcommand(const QString &name)
{
    for (const Subcommand &subcommand : subcommands())
        if (subcommand.name == name)
            return &subcommand;
    return nullptr;
}

QString CliApp::unknownWord(const QString &word, const QString &group)
{
    // The words the table knows at this place: the program's own options,
    // the commands (a group by its first word), or the actions of a group.
    const bool option = word.startsWith(u'-');
    QStringList known;
    if (option)
        known = {QStringLiteral("--help"), QStringLiteral("--version")};
    else
        for (const Subcommand &subcommand : subcommands()) {
            const QString first = subcommand.name.section(u' ', 0, 0);
            const QString candidate = group.isEmpty() ? first : subcommand.name.section(u' ', 1);
            if ((group.isEmpty() || first == group) && !known.contains(candidate))
                known << candidate;
        }
    const QString what = option ? QStringLiteral("option") : group.isEmpty() ? QStringLiteral("command")
                                                                            : QStringLiteral("action");
    const QString near = nearestWord(word, known);
    return QStringLiteral("unknown %1 %2; ").arg(what, word)
         + (near.isEmpty() ? QStringLiteral("see tessary %1--help").arg(group.isEmpty() ? QString() : group + u' ')
                           : QStringLiteral("did you mean %1?").arg(near));
}

int CliApp::runGroup(const QString &group, const QStringList &arguments)
{
    const QString action = arguments.value(1);
    QStringList actions; // as the table lists them
    for (const Subcommand &subcommand : subcommands()) {
        if (subcommand.name.section(u' ', 0, 0) == group)
            actions << subcommand.name.section(u' ', 1);
    }
    if (action == QLatin1String("--help") || action == QLatin1String("-h")) {
        if (group == QLatin1String("db"))
            m_out << "Usage: tessary db list|show|add|remove|move|factory|export|import FILE ...\n";
        else if (group == QLatin1String("code"))
            m_out << "Usage: tessary code decode CODE | tessary code encode <field options>\n";
        else if (group == QLatin1String("record"))
            m_out << "Usage: tessary record use URL | flush | list [filters] | board IDENTITY | summary [--by ...]\n";
        m_out << "See tessary " << group << " <action> --help.\n";
        return finish(Success);
    }
    if (const Subcommand *subcommand = findSubcommand(group + u' ' + action); subcommand)
        return runSubcommand(*subcommand, arguments.mid(1));
    if (action.isEmpty()) {
        const QString last = actions.takeLast();
        return usage(QStringLiteral("needs an action: %1 or %2").arg(actions.join(QStringLiteral(", ")), last));
    }
    return usage(unknownWord(action, group));
}

QList<QCommandLineOption> CliApp::commonOptions(Reach reach)
{
    QList<QCommandLineOption> list = {{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help.")}};
    if (reach != Reach::Files)
        list.append({QStringLiteral("port"),
                     QStringLiteral("The board's port: COM1 to COM6, COMn=PATH, or a device PATH. Repeat it "
                                    "to scan several ports."),
                     QStringLiteral("port")});
    if (reach == Reach::Board)
        list += {{QStringLiteral("speed"), QStringLiteral("With --port: probe at this speed only (1200 ... 115200)."),
                  QStringLiteral("bauds")},
                 {QStringLiteral("handshake"), QStringLiteral("With --speed: xon or hw (the default) for the probe."),
                  QStringLiteral("xon|hw")},
                 {QStringLiteral("sequential"),
                  QStringLiteral("Scan one port after another, as the window does, instead of every port at once.")},
                 {QStringLiteral("trace"),
                  QStringLiteral("Writes every exchange with the board (openings, bytes both ways, waits) to the "
                                 "file, appended, or to standard error for -."),
                  QStringLiteral("file")}};
    list += {{QStringLiteral("json"), QStringLiteral("Machine-readable output on standard output.")},
             {{QStringLiteral("q"), QStringLiteral("quiet")},
              QStringLiteral("No progress, and no output beyond what was asked for.")}};
    return list;
}

namespace {

// Whether the path is standard error by another name (/dev/stderr, the
// terminal's own device): opened anew it would have an offset of its own, and
// the program's messages, written through standard error, would overwrite its
// lines in a file standard error was sent to.
bool namesStandardError(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat named = {}, error = {};
    return path != u"-" && ::stat(QFile::encodeName(path).constData(), &named) == 0 && ::fstat(STDERR_FILENO, &error) == 0
           && named.st_dev == error.st_dev && named.st_ino == error.st_ino;
#else
    return false;
#endif
}

} // namespace

QString CliApp::oneFileTwice(const Invocation &call)
{
    QList<QPair<QString, QString>> files; // how each is named, its path; first the ports' devices
    for (const PortChoice &port : std::as_const(call.common.ports))
        files.append({QStringLiteral("--port"), port.device});
    for (const AllBoards::Port &port : std::as_const(call.common.boards))
        files.append({QStringLiteral("--port"), port.device});
    for (const char *option : {"db", "id-list", "serial-file", "log", "trace"}) {
        const QString path = call.parser.optionNames().contains(QLatin1String(option)) ? call.value(option) : QString();
        if (path.isEmpty() || (path == u"-" && qstrcmp(option, "trace") == 0))
            continue;
        const QString named = QStringLiteral("--") + QLatin1String(option);
        for (const auto &[earlier, earlierPath] : std::as_const(files))
            if (!earlierPath.isEmpty() && sameFile(earlierPath, path))
                return QStringLiteral("%1 and %2 name one file, %3; give each its own").arg(earlier, named, path);
        files.append({named, path});
        if (qstrcmp(option, "id-list") == 0)
            files.append({QStringLiteral("--id-list's next line (%1)").arg(idListCounter(path)), idListCounter(path)});
    }
    return {};
}

int CliApp::runSubcommand(const Subcommand &command, const QStringList &arguments)
{
    m_command = command.name;
    QCommandLineParser parser;
    parser.setApplicationDescription(command.description);
    const QList<QCommandLineOption> options = commonOptions(command.reach) + command.options;
    parser.addOptions(options);
    if (!command.syntax.isEmpty())
        parser.addPositionalArgument(QStringLiteral("arguments"), QString(), command.syntax);

    Invocation call{parser, {}, {}, arguments};
    if (const auto exit = parse(parser, options, withOptionalValues(command, options, arguments), call.common,
                                command.reach))
        return finish(*exit); // a help that could not be written is no success
    call.arguments = parser.positionalArguments();
    const qsizetype expected = command.arguments == Subcommand::FileAndEntry ? (call.has("index") ? 1 : 2)
                                                                             : command.arguments;
    if (call.arguments.size() != expected)
        return usage(command.argumentsError);
    if (const QString twice = oneFileTwice(call); !twice.isEmpty())
        return usage(twice);
    if (command.reach == Reach::Board && call.has("trace")) {
        if (call.value("trace").isEmpty())
            return usage(QStringLiteral("--trace needs a file, or - for standard error"));
        // Recorded from the first byte on, whatever the command then does.
        m_record = std::make_unique<TrafficRecord>();
        QString reason;
        m_trace = TrafficWriter::open(*m_record, namesStandardError(call.value("trace")) ? QStringLiteral("-") : call.value("trace"), &reason);
        if (!m_trace)
            return fail(call.common, QStringLiteral("cannot write the trace %1: %2").arg(call.value("trace"), reason));
        m_recording = std::make_unique<RecordingEnvironment>(m_environment, *m_record,
                                                             QStringLiteral("tessary ") + m_command);
    }
    int status = Failure;
    try {
        status = (this->*command.run)(call);
    } catch (const CommandStopped &) {
        status = interrupted(call.common, QStringLiteral("the port was closed"));
    }
    return finish(status);
}

void CliApp::interrupt(int signal)
{
    if (m_signal == 0)
        m_signal = signal;
    if (m_session.link)
        m_session.link->requestStop();
    if (m_scan)
        m_scan->requestStop();
    if (m_allBoards)
        m_allBoards->requestStop();
    if (m_watch)
        m_watch->exit(128 + m_signal);
}

int CliApp::interrupted(const Common &common, const QString &note, const QJsonObject &extra, bool printJson)
{
    if (m_session.link)
        m_session.link->closePort();
#ifdef SIGHUP
    const bool hangUp = m_signal == SIGHUP;
#else
    const bool hangUp = false; // no such signal on Windows
#endif
    const QString name = m_signal == SIGINT    ? QStringLiteral("SIGINT")
                         : m_signal == SIGTERM ? QStringLiteral("SIGTERM")
                         : hangUp              ? QStringLiteral("SIGHUP")
                                               : QStringLiteral("signal %1").arg(m_signal);
    QJsonObject json = extra;
    json.insert(QStringLiteral("result"), QStringLiteral("interrupted"));
    Common said = common;
    said.json = common.json && printJson;
    fail(said, QStringLiteral("stopped by %1: %2").arg(name, note), json);
    return m_signal > 0 ? 128 + m_signal : int(Failure);
}

int CliApp::finish(int status)
{
    const auto failed = [&status] {
        if (status == Success)
            status = Failure;
    };
    if (m_trace && !m_trace->errorString().isEmpty()) {
        m_err << "tessary: " << traceFailure() << '\n';
        failed();
    }
    m_out.flush();
    if (m_outputGone) {
        failed(); // a closed pipe: nobody to tell
    } else if (m_out.status() != QTextStream::Ok) {
        m_err << "tessary: writing the output failed ("
              << (m_out.device() ? m_out.device()->errorString() : QStringLiteral("unknown error")) << ")\n";
        failed();
    }
    m_err.flush();
    if (m_err.status() != QTextStream::Ok)
        failed(); // nowhere left to say it
    return status;
}

QString CliApp::traceFailure() const
{
    return QStringLiteral("writing the trace failed (%1); the trace is incomplete").arg(m_trace->errorString());
}

bool CliApp::Invocation::has(const char *option) const { return parser.isSet(QLatin1String(option)); }

QString CliApp::Invocation::value(const char *option) const { return parser.value(QLatin1String(option)); }

// ---- parsing ---------------------------------------------------------------

std::optional<int> CliApp::parse(QCommandLineParser &parser, const QList<QCommandLineOption> &options,
                                 const QStringList &arguments, Common &common, Reach reach)
{
    if (!parser.parse(arguments))
        return usage(parseErrorLine(parser, options));
    if (parser.isSet(QStringLiteral("help"))) {
        QString help = parser.helpText();
        // Qt names the executable in the first line; name the command instead.
        const qsizetype end = help.indexOf(u'\n');
        QString first = end < 0 ? help : help.left(end);
        first.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                      QStringLiteral("Usage: tessary ") + m_command);
        m_out << first << help.mid(end);
        return int(Success);
    }
    // An option of one value given twice would have the last one win unseen; --port alone takes several.
    for (const QCommandLineOption &option : options)
        if (const QString name = option.names().constLast(); !option.valueName().isEmpty() && name != u"port"
                                                                && parser.values(name).size() > 1)
            return usage(QStringLiteral("--%1 is given twice; give it once").arg(name));
    common.json = parser.isSet(QStringLiteral("json"));
    common.quiet = parser.isSet(QStringLiteral("quiet"));
    m_progress = std::make_unique<ProgressView>(m_err, common.quiet);
    if (reach == Reach::Files)
        return std::nullopt;

    // The option is the command's own: asked only where it is defined.
    common.allBoards = parser.optionNames().contains(QStringLiteral("all-boards"));
    if (common.allBoards) {
        for (const QString &single : {QStringLiteral("speed"), QStringLiteral("handshake"), QStringLiteral("sequential")})
            if (parser.isSet(single))
                return usage(QStringLiteral("--%1 does not go with --all-boards, which scans every port at every "
                                            "speed, all at once").arg(single));
        QString error;
        const auto boards = parseBoardPorts(parser.values(QStringLiteral("port")), &error);
        if (!boards)
            return usage(error);
        common.boards = *boards;
        common.portsNamed = parser.isSet(QStringLiteral("port"));
        if (parser.isSet(QStringLiteral("expect")) && expectCountsBoards(options)) {
            bool ok = false;
            if (parser.value(QStringLiteral("expect")).toInt(&ok) < 1 || !ok)
                return usage(QStringLiteral("--expect takes a number of boards from 1, not \"%1\"")
                                 .arg(parser.value(QStringLiteral("expect"))));
        }
        return std::nullopt;
    }
    if (parser.optionNames().contains(QStringLiteral("expect")) && expectCountsBoards(options))
        return usage(QStringLiteral("--expect goes with --all-boards"));
    if (parser.isSet(QStringLiteral("port"))) {
        QString error;
        const auto ports = parsePorts(parser.values(QStringLiteral("port")), &error);
        if (!ports)
            return usage(error);
        common.ports = *ports;
    }
    if (reach == Reach::Ports)
        return std::nullopt;
    common.sequential = parser.isSet(QStringLiteral("sequential"));
    if (parser.isSet(QStringLiteral("speed"))) {
        common.speed = parser.value(QStringLiteral("speed")).trimmed();
        if (!speedTexts().contains(common.speed))
            return usage(QStringLiteral("--speed takes one of %1, not \"%2\"")
                             .arg(speedTexts().join(QStringLiteral(", ")), common.speed));
        if (common.ports.isEmpty())
            return usage(QStringLiteral("--speed needs --port: the scan without a port tries every speed"));
        if (common.ports.size() > 1)
            return usage(QStringLiteral("--speed probes one port: give --port once"));
    }
    if (parser.isSet(QStringLiteral("handshake"))) {
        const QString value = parser.value(QStringLiteral("handshake")).trimmed().toLower();
        if (value == QLatin1String("xon"))
            common.handshakeIndex = 0;
        else if (value == QLatin1String("hw"))
            common.handshakeIndex = 1;
        else
            return usage(QStringLiteral("--handshake takes xon or hw, not \"%1\"").arg(value));
        if (common.speed.isEmpty())
            return usage(QStringLiteral("--handshake needs --speed: the scan finds the handshake itself"));
    }
    return std::nullopt;
}

namespace {

const QRegularExpression &comName()
{
    static const QRegularExpression pattern(QStringLiteral("^COM(\\d+)$"), QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

// The COM number the table gives a device (a link and its target being one);
// 0 when none.
int slotOf(const PortNames &table, const QString &device)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    for (int slot = PortNames::FirstPort; slot <= PortNames::LastPort; ++slot) {
        const QString listed = table.device(slot);
        if (!listed.isEmpty()
            && (listed == device || (!canonical.isEmpty() && QFileInfo(listed).canonicalFilePath() == canonical)))
            return slot;
    }
    return 0;
}

} // namespace

std::optional<QList<CliApp::PortChoice>> CliApp::parsePorts(const QStringList &values, QString *error) const
{
    // The numbers the slots would give, without the mappings being parsed: nothing kept.
    const PortNames system = systemTable(false);
    QMap<int, QString> named; // port: device
    QStringList unlisted;
    for (const QString &text : values) {
        const QString value = text.trimmed();
        int port = 0;
        QString device;
        if (const QRegularExpressionMatch match = comName().match(value); match.hasMatch()) {
            port = match.captured(1).toInt();
            if (port < PortNames::FirstPort || port > PortNames::LastPort) {
                *error = QStringLiteral("--port: the ports are COM1 to COM6, not %1").arg(value);
                return std::nullopt;
            }
            device = system.device(port);
        } else if (value.contains(u'=')) {
            const auto mapping = PortNames::parseMapping(value, error);
            if (!mapping)
                return std::nullopt;
            port = mapping->first;
            device = mapping->second;
        } else if (value.isEmpty()) {
            *error = QStringLiteral("--port needs a port: COM1 to COM6, COMn=PATH or a device path");
            return std::nullopt;
        } else {
            // A device path keeps the COM number the system gives it, so the
            // texts match `tessary ports`.
            device = PortNames::absoluteDevice(value);
            port = slotOf(system, device);
            if (port == 0) {
                unlisted << device;
                continue;
            }
        }
        if (named.contains(port)) {
            *error = QStringLiteral("--port: COM%1 is named twice").arg(port);
            return std::nullopt;
        }
        named.insert(port, device);
    }
    // A device the system does not list takes the lowest free slot (COM1 when it is the only one), one
    // whose device is present only when none is free: a present device keeps its slot.
    for (const QString &device : std::as_const(unlisted)) {
        int port = PortNames::FirstPort;
        while (port <= PortNames::LastPort && (named.contains(port) || !system.device(port).isEmpty()))
            ++port;
        if (port > PortNames::LastPort)
            port = PortNames::FirstPort;
        while (port <= PortNames::LastPort && named.contains(port))
            ++port;
        if (port > PortNames::LastPort) {
            *error = QStringLiteral("--port: there are six ports, COM1 to COM6");
            return std::nullopt;
        }
        named.insert(port, device);
    }
    // One device in two slots would be opened twice at once by the scan.
    if (const QString shared = PortNames::sharedDevice(named); !shared.isEmpty()) {
        *error = QStringLiteral("--port: %1; give each device one slot").arg(shared);
        return std::nullopt;
    }
    QList<PortChoice> choices;
    for (auto it = named.cbegin(); it != named.cend(); ++it)
        choices.append({it.key(), it.value()});
    return choices;
}

std::optional<QList<AllBoards::Port>> CliApp::parseBoardPorts(const QStringList &values, QString *error) const
{
    // Without --port the ports are the system's, numbered as the scan numbers them.
    const PortNames system = systemTable(values.isEmpty());
    QMap<int, QString> devices; // in the order given
    if (values.isEmpty()) {
        // The COM slots first, then the ports beyond them in natural order.
        QStringList rest;
        for (const SerialPortInfo &port : m_environment.serialPorts().list())
            if (slotOf(system, port.device) == 0)
                rest << port.device;
        std::sort(rest.begin(), rest.end(), PortNames::naturalLess);
        for (int slot = PortNames::FirstPort; slot <= PortNames::LastPort; ++slot)
            if (!system.device(slot).isEmpty())
                devices.insert(int(devices.size()), system.device(slot));
        for (const QString &device : std::as_const(rest))
            devices.insert(int(devices.size()), device);
    }
    for (const QString &text : values) {
        const QString value = text.trimmed();
        if (const QRegularExpressionMatch match = comName().match(value); match.hasMatch()) {
            const int port = match.captured(1).toInt();
            if (system.device(port).isEmpty()) {
                *error = QStringLiteral("--port: %1 names no device on this machine (see tessary ports)").arg(value);
                return std::nullopt;
            }
            devices.insert(int(devices.size()), system.device(port));
        } else if (value.isEmpty() || value.contains(u'=')) {
            *error = QStringLiteral("--port with --all-boards takes a device PATH (or COMn for its device), not "
                                    "\"%1\": the boards are named by their devices").arg(value);
            return std::nullopt;
        } else {
            devices.insert(int(devices.size()), PortNames::absoluteDevice(value));
        }
    }
    if (devices.size() > AllBoards::MaxPorts) {
        *error = values.isEmpty() ? QStringLiteral("the system lists %1 serial ports; name at most %2 with --port")
                                        .arg(devices.size()).arg(AllBoards::MaxPorts)
                                  : QStringLiteral("--all-boards takes --port at most %1 times").arg(AllBoards::MaxPorts);
        return std::nullopt;
    }
    // Two boards must never share a device: the threads would open it twice at once.
    if (const auto same = PortNames::sameDevice(devices)) {
        *error = QStringLiteral("--port: %1 and %2 are one device; name each board's device once")
                     .arg(devices.value(same->first), devices.value(same->second));
        return std::nullopt;
    }
    QList<AllBoards::Port> ports;
    for (const QString &device : std::as_const(devices))
        ports.append({slotOf(system, device), device});
    return ports;
}

PortNames CliApp::Common::table() const
{
    QMap<int, QString> mappings;
    for (const PortChoice &choice : ports)
        if (!choice.device.isEmpty())
            mappings.insert(choice.port, choice.device);
    return PortNames(mappings);
}

int CliApp::usage(const QString &message)
{
    m_err << "tessary " << m_command << ": " << message << '\n';
    m_err.flush();
    return UsageError;
}

int CliApp::fail(const Common &common, const QString &message, const QJsonObject &extra, bool said)
{
    if (!said)
        m_err << "tessary: " << message << '\n';
    m_err.flush();
    if (common.json) {
        QJsonObject json = extra;
        json.insert(QStringLiteral("ok"), false);
        json.insert(QStringLiteral("command"), m_command);
        json.insert(QStringLiteral("error"), message);
        m_out << QJsonDocument(json).toJson(QJsonDocument::Indented);
        m_out.flush();
    }
    return Failure;
}

void CliApp::print(const Common &common, const QJsonObject &json, const QString &text)
{
    QJsonObject shown = json;
    if (shown.value(QStringLiteral("ok")).toBool() && m_trace && !m_trace->errorString().isEmpty()) {
        // The run fails for its trace (said at its end): its JSON says so as well.
        shown.insert(QStringLiteral("ok"), false);
        shown.insert(QStringLiteral("error"), traceFailure());
    }
    if (common.json)
        m_out << QJsonDocument(shown).toJson(QJsonDocument::Indented);
    else
        m_out << text;
    m_out.flush();
}

void CliApp::printDone(const Common &common, const QJsonObject &json, const QString &text)
{
    if (common.json || !common.quiet)
        print(common, json, text);
}

// ---- what the commands share -------------------------------------------------

PortNames CliApp::systemTable(bool keep) const
{
    return ComSlots(m_environment.serialPorts(), slotMemory(), {}, keep).table();
}

QSettings *CliApp::slotMemory() const
{
    QSettings *memory = m_environment.settings();
    if (!memory && !std::exchange(m_slotMemorySaid, true)) {
        m_err << "tessary: " << m_environment.settingsProblem() << '\n';
        m_err.flush();
    }
    return memory;
}

std::vector<BoardRun> CliApp::runAllBoards(const Common &common, const AllBoards::Hooks &hooks)
{
    BoardLines lines(m_err, isTerminal(m_err), common.quiet);
    AllBoards all(environment(), lines, QStringLiteral("tessary ") + m_command, m_prompts.assumeYes());
    m_allBoards = &all;
    if (m_signal)
        all.requestStop();
    AllBoards::Hooks timed = hooks;
    timed.now = m_now;
    std::vector<BoardRun> runs = all.run(common.boards, timed);
    m_allBoards = nullptr;
    return runs;
}

bool CliApp::expectCountsBoards(const QList<QCommandLineOption> &options)
{
    return std::any_of(options.cbegin(), options.cend(), [](const QCommandLineOption &option) {
        return option.names().contains(QStringLiteral("expect")) && option.valueName() == QLatin1String("n");
    });
}

bool CliApp::reported(const Common &common, const BoardRun &run)
{
    return common.portsNamed || run.found() || run.outcome == BoardOutcome::PortError;
}

QString CliApp::stationName(const Invocation &call)
{
    return call.has("station") ? call.value("station") : QSysInfo::machineHostName();
}

RecordContext CliApp::recordContext(const Invocation &call, const ProgramOrder *order) const
{
    RecordContext context;
    context.station = stationName(call);
    context.tool = QStringLiteral("tessary ") + programVersion();
    context.command = m_command;
    context.order = order;
    for (const SerialPortInfo &port : m_environment.serialPorts().list()) {
        if (port.serialNumber.isEmpty())
            continue;
        // The device as the run names it: itself, or a link to it.
        context.adapterSerials.insert(port.device, port.serialNumber);
        const QString real = PortNames::realDevice(port.device);
        for (const AllBoards::Port &board : call.common.boards)
            if (PortNames::realDevice(board.device) == real)
                context.adapterSerials.insert(board.device, port.serialNumber);
        for (const PortChoice &choice : call.common.ports)
            if (!choice.device.isEmpty() && PortNames::realDevice(choice.device) == real)
                context.adapterSerials.insert(choice.device, port.serialNumber);
    }
    return context;
}

int CliApp::allBoardsEnd(const Invocation &call, const std::vector<BoardRun> &runs, const QJsonArray &json,
                         const QString &text, bool quietHides, bool failed)
{
    const Common &common = call.common;
    QStringList empty;
    for (const BoardRun &run : runs)
        if (run.outcome == BoardOutcome::NoBoard)
            empty << run.name();
    if (!empty.isEmpty())
        m_err << "tessary: no board answered on " << empty.join(QStringLiteral(", ")) << '\n';
    m_err.flush();
    if (common.json)
        m_out << QJsonDocument(json).toJson(QJsonDocument::Indented);
    else if (!common.quiet || !quietHides || m_signal || failed)
        m_out << text;
    m_out.flush();
    if (m_signal) {
        int stopped = 0;
        for (const BoardRun &run : runs)
            stopped += run.stopped ? 1 : 0;
        // Only programming leaves a board half done.
        return interrupted(common, QStringLiteral("%1 of %2 ports stopped before their end").arg(stopped).arg(runs.size())
                                       + (m_command == QLatin1String("audit")
                                              ? QStringLiteral("; nothing was written to any board")
                                              : QStringLiteral("; a board stopped while being programmed may hold a "
                                                               "partial configuration and should be programmed again")),
                           {}, false);
    }
    const auto found = std::count_if(runs.cbegin(), runs.cend(), [](const BoardRun &run) { return run.found(); });
    if (runs.empty()) {
        m_err << "tessary: this machine lists no serial port; name the boards' devices with --port PATH\n";
        failed = true;
    } else if (found == 0) {
        m_err << "tessary: no board found on any of the " << runs.size() << " ports\n";
        failed = true;
    } else if (const Subcommand *command = findSubcommand(m_command);
               command && expectCountsBoards(command->options) && call.has("expect")
               && found < call.value("expect").toInt()) {
        m_err << "tessary: found " << found << (found == 1 ? " board" : " boards") << ", expected "
              << call.value("expect") << '\n';
        failed = true;
    }
    m_err.flush();
    return failed ? Failure : Success;
}

// ---- what the board commands print alike --------------------------------------

namespace boardtext {

QString shown(const QByteArray &reply) { return printableText(replyText(reply)); }

QString handshakeWord(int code) { return code == HandshakeXonXoff ? QStringLiteral("xon") : QStringLiteral("hw"); }

QString handshakeCaption(int code)
{
    return code == HandshakeXonXoff ? QStringLiteral("Xon-Xoff") : QStringLiteral("DSR/DTR Mode");
}

QJsonObject location(const QString &command, int com, const QString &device, const PrinterLink &printer)
{
    return {
        {QStringLiteral("command"), command},
        {QStringLiteral("port"), com ? QJsonValue(QStringLiteral("COM%1").arg(com)) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("device"), device},
        {QStringLiteral("speed"), printer.printerFound ? QJsonValue(printer.baudRate) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("handshake"),
         printer.printerFound ? QJsonValue(handshakeWord(printer.handshake)) : QJsonValue(QJsonValue::Null)},
    };
}

QJsonObject runJson(const QString &command, const BoardRun &run)
{
    QJsonObject json = location(command, run.com, run.device, run.printer);
    json.insert(QStringLiteral("ok"), !outcomeFails(run.outcome) && run.found());
    json.insert(QStringLiteral("result"), outcomeWord(run.outcome));
    json.insert(QStringLiteral("reason"), run.reason.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(run.reason));
    return json;
}

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

QString failedList(const QList<const BoardRun *> &runs)
{
    QString text;
    for (const BoardRun *run : runs)
        if (outcomeFails(run->outcome))
            text += QStringLiteral("%1: %2: %3\n").arg(run->device, outcomeWord(run->outcome), printableText(run->reason));
    return text.isEmpty() ? text : QStringLiteral("Failed:\n") + text;
}

} // namespace boardtext

} // namespace tessary
