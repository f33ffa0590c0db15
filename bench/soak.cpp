// tessary-soak: a day on a production line in a few hours. Programming
// cycles (one board, or every board at once on 4 to 8 boards) against
// tessary-boardsim, each board with a fault drawn at random from the seed
// (hang-ups, silence, late or wrong echo, no echo, held output, a busy port,
// and now and then a signal at a random moment). Every board that a run
// calls ok is checked against the board's own traffic log; every named port
// must have its row in the log and its object in the JSON. Beside the
// cycles, one window program (the path the benchmark drives: the real line,
// the traffic record's wrappers, the traffic monitor open) runs "Check
// configuration" and "Configure printer" against a board of its own and
// reports its resident memory once its traffic record holds its newest lines in full and at its end.
//
//   tessary-soak CYCLES SEED      the soak; exit status 1 on a false success,
//                                 a port without a row, a crash or a hang
//   tessary-soak --window CYCLES  the window program alone (the soak runs it)
#include "boardprocess.h"
#include "programpath.h"

#include "configuration/configurationcode.h"
#include "detection/detector.h"
#include "printer/csvlog.h"
#include "printer/printerqueries.h"
#include "printer/programmer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace tessary;
using namespace tessary::bench;

namespace {

constexpr int TessaryTimeoutMs = 120'000; // longer is a hang: the slowest legitimate cycle takes about 15 s
const QString Code = QStringLiteral("1111000101000000");

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// ---- the window program -----------------------------------------------------

constexpr qsizetype WindowRecordLines = 1000;

int windowProgram(int cycles)
{
    BoardProcess board({QStringLiteral("--speed"), QStringLiteral("115200")});
    if (!board.isReady()) {
        std::fprintf(stderr, "tessary-soak: %s\n", qPrintable(board.errorString()));
        return 1;
    }
    // A record of fewer lines than the program's fills within the first
    // cycles; it is compared once full, so a short soak measures a leak too.
    Program p({{1, board.path()}}, Monitor::Open, WindowRecordLines);
    {
        Detector detector(p.link, p.printer, p.prompts);
        detector.detectSerialPrinter(1, QStringLiteral("115200"), Detector::HandshakeIndexHardware);
    }
    if (!p.printer.printerFound) {
        std::fprintf(stderr, "tessary-soak: the window program found no board\n");
        return 1;
    }
    PrinterQueries queries(p.link, p.printer);
    Programmer programmer(p.link, p.printer, p.prompts, p.status);
    ProgrammingPlan user;
    user.mode = ProgrammingPlan::Mode::User;
    user.identity = ProgrammingPlan::Identity::User;
    user.settings = decodeConfigurationCode(Code);
    user.settings.strobePolarity = 1; // what the board reports
    ProgrammingPlan resistors;
    resistors.mode = ProgrammingPlan::Mode::Resistors;
    resistors.identity = ProgrammingPlan::Identity::Automatic;
    int failed = 0;
    int cycle = 0;
    const auto oneCycle = [&] {
        ++cycle;
        const ReadBackResult read = queries.readSettings(); // "Check configuration"
        user.name = QStringLiteral("WINDOW %1").arg(cycle, 6, 10, QChar(u'0'));
        const int shown = p.prompts.shown;
        const ProgrammingResult result = programmer.program(cycle % 2 ? user : resistors); // "Configure printer"
        if (!read.code || !result.completed() || result.echoFailures() > 0 || p.prompts.shown != shown)
            ++failed;
    };
    // The traffic record keeps the newest lines up to its limit, by design:
    // the memory is compared from the moment it holds them all.
    while (p.record.end() < p.record.limit())
        oneCycle();
    const int warmUp = cycle;
    const qint64 firstKb = residentKb();
    for (int counted = 0; counted < cycles; ++counted)
        oneCycle();
    const qint64 lastKb = residentKb();
    std::printf("window %d %d %lld %lld %d\n", cycles, failed, firstKb, lastKb, warmUp);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

// ---- the cycles -------------------------------------------------------------

enum class Fault { None, HangUp, HangUpAfterReset, Silent, LateEcho, WrongEcho, NoEcho, Held, Busy };

const char *faultName(Fault fault)
{
    switch (fault) {
    case Fault::None:
        return "none";
    case Fault::HangUp:
        return "hang-up";
    case Fault::HangUpAfterReset:
        return "hang-up after the reset";
    case Fault::Silent:
        return "silent";
    case Fault::LateEcho:
        return "late echo";
    case Fault::WrongEcho:
        return "wrong echo";
    case Fault::NoEcho:
        return "no echo";
    case Fault::Held:
        return "held output";
    case Fault::Busy:
        return "busy port";
    }
    return "";
}

struct BoardSpec {
    qint32 speed = 115200;
    bool xon = false;
    Fault fault = Fault::None;
    int faultValue = 0; // the bytes before a hang-up, the address of a wrong echo
};

struct Cycle {
    bool allBoards = false;
    bool verify = false;
    std::vector<BoardSpec> boards;
    int signal = 0; // SIGINT or SIGTERM, sent after signalAfterMs
    int signalAfterMs = 0;
};

Cycle draw(std::mt19937 &random)
{
    const auto uniform = [&random](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    static const qint32 speeds[] = {1200, 2400, 4800, 9600, 19200, 28800, 38400, 57600, 115200};
    Cycle cycle;
    cycle.allBoards = uniform(0, 9) < 6;
    cycle.verify = uniform(0, 1) == 1;
    const int boards = cycle.allBoards ? uniform(4, 8) : 1;
    for (int i = 0; i < boards; ++i) {
        BoardSpec board;
        board.speed = speeds[uniform(0, 8)];
        board.xon = uniform(0, 4) == 0;
        const int roll = uniform(0, 99);
        board.fault = roll < 45 ? Fault::None
                    : roll < 52 ? Fault::HangUp
                    : roll < 59 ? Fault::HangUpAfterReset
                    : roll < 66 ? Fault::Silent
                    : roll < 73 ? Fault::LateEcho
                    : roll < 80 ? Fault::WrongEcho
                    : roll < 87 ? Fault::NoEcho
                    : roll < 94 ? Fault::Held
                                : Fault::Busy;
        board.faultValue = board.fault == Fault::HangUp ? uniform(1, 90) : board.fault == Fault::WrongEcho ? uniform(6, 20) : 0;
        cycle.boards.push_back(board);
    }
    if (uniform(0, 99) < 12) {
        cycle.signal = uniform(0, 1) ? SIGINT : SIGTERM;
        cycle.signalAfterMs = uniform(100, 9000);
    }
    return cycle;
}

// The bytes a board took in at its own speed, from its traffic log.
QByteArray heard(const QString &logPath)
{
    QFile log(logPath);
    if (!log.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression in(QStringLiteral("^\\s*[0-9.]+ in   ([0-9A-F ]+)  \\((?!.*not the board's speed)"));
    QByteArray bytes;
    for (const QByteArray &line : log.readAll().split('\n'))
        if (const auto match = in.match(QString::fromLatin1(line)); match.hasMatch())
            bytes += QByteArray::fromHex(match.captured(1).toLatin1());
    return bytes;
}

// Whether the board took in what a run that calls it ok has sent: every
// parameter write, then the reset, and after it the read-back when verified.
bool boardGotItAll(const QByteArray &in, const QString &id, bool verify)
{
    QList<QByteArray> steps;
    const MechanismSettings settings = decodeConfigurationCode(Code);
    QList<QPair<int, int>> writes = {{6, 1}, {7, configurationByte1(settings)}, {8, configurationByte2(settings)}};
    const QByteArray name = id.toLatin1();
    for (qsizetype i = 0; i < name.size(); ++i)
        writes.append({int(9 + i), quint8(name.at(i))});
    if (name.size() < 16)
        writes.append({int(9 + name.size()), 0});
    for (const auto &[address, value] : writes)
        steps << QByteArray("\x1d" "SF") + char(address) + char(value);
    steps << QByteArray("\x1b@");
    if (verify)
        steps << QByteArray("\x1d" "Sf\x06") << QByteArray("\x1d" "Sf\x09") << QByteArray("\x1d" "SC") << QByteArray("\x1b" "I");
    qsizetype at = 0;
    for (const QByteArray &step : std::as_const(steps)) {
        at = in.indexOf(step, at);
        if (at < 0)
            return false;
        at += step.size();
    }
    return true;
}

struct Totals {
    int cycles = 0, single = 0, allBoards = 0, boards = 0, signalsSent = 0;
    QMap<QString, int> results;
    QMap<QString, int> faults;
    int falseSuccesses = 0, missingRows = 0, crashes = 0, hangs = 0, unexpectedStatus = 0;
    QStringList problems; // the first few, in words
    void problem(const QString &text)
    {
        if (problems.size() < 20)
            problems << text;
    }
};

// A handle on a board's pseudo-terminal held for the whole cycle. A board that
// hangs up frees its number the moment its process ends; another process on the
// machine (a test, another soak) could then get that number for its own board,
// and this cycle's program would open and program that board through the path it
// was given. Held open here, the number stays taken: the path is gone until the
// cycle ends, as a board unplugged from its socket would be.
class Keeper {
public:
    explicit Keeper(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
    }
    ~Keeper()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Keeper(const Keeper &) = delete;
    Keeper &operator=(const Keeper &) = delete;

private:
    int m_fd;
};

// Whether the cycle found a problem; its folder (the boards' logs, the CSV,
// what tessary printed) is then kept.
bool runCycle(int number, const Cycle &cycle, const QString &folder, Totals &totals)
{
    const int problemsBefore = totals.falseSuccesses + totals.missingRows + totals.crashes + totals.hangs + totals.unexpectedStatus;
    std::vector<std::unique_ptr<Keeper>> keepers; // ends after the boards
    std::vector<std::unique_ptr<BoardProcess>> boards;
    std::vector<std::unique_ptr<QSerialPort>> holders;
    std::vector<int> heldEnds;
    QStringList arguments = {QStringLiteral("program"), QStringLiteral("--code"), Code, QStringLiteral("--yes"),
                             QStringLiteral("--json"), QStringLiteral("--station"), QStringLiteral("soak"),
                             QStringLiteral("--log"), folder + QStringLiteral("/log.csv")};
    // A short identity: the faults cost a wait per write (late echo, held output).
    const QString id = QStringLiteral("S%1").arg(number % 1000, 3, 10, QChar(u'0'));
    arguments << QStringLiteral("--id") << id;
    if (cycle.verify)
        arguments << QStringLiteral("--verify");
    if (cycle.allBoards)
        arguments << QStringLiteral("--all-boards");
    QStringList devices;
    for (std::size_t i = 0; i < cycle.boards.size(); ++i) {
        const BoardSpec &spec = cycle.boards[i];
        QStringList options = {QStringLiteral("--speed"), QString::number(spec.speed), QStringLiteral("--handshake"),
                               spec.xon ? QStringLiteral("xon") : QStringLiteral("hw")};
        switch (spec.fault) {
        case Fault::HangUp:
            options << QStringLiteral("--hang-up-after") << QString::number(spec.faultValue);
            break;
        case Fault::HangUpAfterReset:
            options << QStringLiteral("--hang-up-after-reset");
            break;
        case Fault::Silent:
            options << QStringLiteral("--silent");
            break;
        case Fault::LateEcho:
            options << QStringLiteral("--late-echo");
            break;
        case Fault::WrongEcho:
            options << QStringLiteral("--wrong-echo") << QString::number(spec.faultValue);
            break;
        case Fault::NoEcho:
            options << QStringLiteral("--no-echo");
            break;
        default:
            break;
        }
        totals.faults[QLatin1String(faultName(spec.fault))] += 1;
        boards.push_back(std::make_unique<BoardProcess>(options, folder + QStringLiteral("/board%1.log").arg(i)));
        const QString path = boards.back()->path();
        keepers.push_back(std::make_unique<Keeper>(path));
        devices << path;
        if (spec.fault == Fault::Held) {
            // A second handle on the program's end stops its output, as a board's XOFF would.
            const int end = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (end >= 0 && ::tcflow(end, TCOOFF) == 0)
                heldEnds.push_back(end);
        } else if (spec.fault == Fault::Busy) {
            holders.push_back(std::make_unique<QSerialPort>(path));
            holders.back()->open(QIODevice::ReadWrite);
        }
        arguments << QStringLiteral("--port") << path;
    }

    QElapsedTimer took;
    took.start();
    QProcess tessary;
    QEventLoop loop;
    QObject::connect(&tessary, &QProcess::finished, &loop, &QEventLoop::quit);
    // A program that never started never finishes either (its file replaced by a build meanwhile, say).
    bool notStarted = false;
    QObject::connect(&tessary, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            notStarted = true;
            loop.quit();
        }
    });
    QTimer timeout, signal;
    timeout.setSingleShot(true);
    signal.setSingleShot(true);
    bool hung = false;
    QObject::connect(&timeout, &QTimer::timeout, &loop, [&] {
        hung = true;
        tessary.kill();
    });
    QObject::connect(&signal, &QTimer::timeout, &loop, [&] { ::kill(pid_t(tessary.processId()), cycle.signal); });
    tessary.start(QStringLiteral(TESSARY_CLI_PATH), arguments);
    timeout.start(TessaryTimeoutMs);
    if (cycle.signal) {
        signal.start(cycle.signalAfterMs);
        ++totals.signalsSent;
    }
    loop.exec();
    tessary.waitForFinished(5000);
    signal.stop();
    for (const int end : heldEnds)
        ::close(end);
    holders.clear();
    // Each board stopped before its log is read: it first takes in what the
    // program's last writes left on the line, which a loaded machine may not
    // have let it read yet.
    boards.clear();

    ++totals.cycles;
    ++(cycle.allBoards ? totals.allBoards : totals.single);
    totals.boards += int(cycle.boards.size());
    const int status = tessary.exitCode();
    const QString where = QStringLiteral("cycle %1").arg(number);
    if (notStarted) {
        ++totals.unexpectedStatus;
        totals.problem(where + QStringLiteral(": tessary did not start: ") + tessary.errorString());
    } else if (hung) {
        ++totals.hangs;
        totals.problem(where + QStringLiteral(": tessary did not end within %1 s").arg(TessaryTimeoutMs / 1000));
    } else if (tessary.exitStatus() == QProcess::CrashExit) {
        ++totals.crashes;
        totals.problem(where + QStringLiteral(": tessary crashed: ") + QString::fromUtf8(tessary.readAllStandardError().right(300)));
    } else if (status != 0 && status != 1 && status != 130 && status != 143) {
        ++totals.unexpectedStatus;
        totals.problem(where + QStringLiteral(": exit status %1").arg(status));
    }

    // Every named port has its row; a board called ok got what a run sends.
    QFile logFile(folder + QStringLiteral("/log.csv"));
    QStringList rows;
    if (logFile.open(QIODevice::ReadOnly))
        rows = QString::fromUtf8(logFile.readAll()).split(u'\n', Qt::SkipEmptyParts);
    if (rows.value(0) != CsvLog::header())
        totals.problem(where + QStringLiteral(": the log has no header"));
    const QByteArray printed = tessary.readAllStandardOutput();
    const QJsonDocument json = QJsonDocument::fromJson(printed);
    const QJsonArray objects = json.isArray() ? json.array() : QJsonArray{json.object()};
    QStringList words;
    for (qsizetype i = 0; i < devices.size(); ++i) {
        const QString &device = devices[i];
        const QStringList mine = rows.filter(QStringLiteral(",%1,").arg(device));
        QString result;
        for (const QJsonValue object : objects)
            if (object[QStringLiteral("device")].toString() == device)
                result = object[QStringLiteral("result")].toString();
        if (mine.size() != 1 || result.isEmpty()) {
            ++totals.missingRows;
            totals.problem(where + QStringLiteral(": %1 has %2 rows in the log and %3 in the JSON")
                                       .arg(device)
                                       .arg(mine.size())
                                       .arg(result.isEmpty() ? QStringLiteral("no object") : QStringLiteral("its object")));
            continue;
        }
        const QString logged = mine.first().section(u',', 18, 18);
        totals.results[logged] += 1;
        words << logged;
        if ((logged == QLatin1String("ok") || result == QLatin1String("ok"))
            && !boardGotItAll(heard(folder + QStringLiteral("/board%1.log").arg(i)), id, cycle.verify)) {
            ++totals.falseSuccesses;
            totals.problem(where + QStringLiteral(": %1 called ok (%2) without the board holding the bytes")
                                       .arg(device, QLatin1String(faultName(cycle.boards[std::size_t(i)].fault))));
        }
    }
    std::fprintf(stderr, "cycle %d: %s, %zu board%s%s: %s (exit %d, %.1f s)\n", number,
                 cycle.allBoards ? "every board at once" : "one board", cycle.boards.size(),
                 cycle.boards.size() == 1 ? "" : "s",
                 cycle.signal ? qPrintable(QStringLiteral(", %1 after %2 ms")
                                               .arg(cycle.signal == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"))
                                               .arg(cycle.signalAfterMs))
                              : "",
                 qPrintable(words.join(QStringLiteral(", "))), status, took.elapsed() / 1000.0);
    if (totals.falseSuccesses + totals.missingRows + totals.crashes + totals.hangs + totals.unexpectedStatus == problemsBefore)
        return false;
    QFile out(folder + QStringLiteral("/tessary.out"));
    if (out.open(QIODevice::WriteOnly))
        out.write(printed + "\n---- standard error\n" + tessary.readAllStandardError());
    totals.problem(QStringLiteral("  kept in %1").arg(folder));
    return true;
}

int soak(int cycles, quint32 seed, const QString &self)
{
    QElapsedTimer clock;
    clock.start();
    QProcess window;
    window.setProcessChannelMode(QProcess::SeparateChannels);
    window.start(self, {QStringLiteral("--window"), QString::number(cycles)});

    std::mt19937 random(seed);
    Totals totals;
    for (int number = 1; number <= cycles; ++number) {
        QTemporaryDir folder;
        if (runCycle(number, draw(random), folder.path(), totals))
            folder.setAutoRemove(false);
    }
    window.waitForFinished(-1);
    const QStringList figures = QString::fromLatin1(window.readAllStandardOutput()).trimmed().split(u' ');

    std::printf("Soak of %d cycles, seed %u, %.1f minutes\n\n", cycles, seed, clock.elapsed() / 60000.0);
    std::printf("| Cycles | One board | Every board at once (4 to 8) | Boards | Signals sent |\n|---:|---:|---:|---:|---:|\n");
    std::printf("| %d | %d | %d | %d | %d |\n\n", totals.cycles, totals.single, totals.allBoards, totals.boards, totals.signalsSent);
    QStringList faults, results;
    for (auto it = totals.faults.cbegin(); it != totals.faults.cend(); ++it)
        faults << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    for (auto it = totals.results.cbegin(); it != totals.results.cend(); ++it)
        results << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    std::printf("Faults drawn: %s\nResults logged: %s\n\n", qPrintable(faults.join(QStringLiteral(", "))),
                qPrintable(results.join(QStringLiteral(", "))));
    std::printf("| False successes | Ports without a row | Crashes | Hangs | Other exit statuses |\n|---:|---:|---:|---:|---:|\n");
    std::printf("| %d | %d | %d | %d | %d |\n\n", totals.falseSuccesses, totals.missingRows, totals.crashes, totals.hangs,
                totals.unexpectedStatus);
    bool windowOk = window.exitStatus() == QProcess::NormalExit && figures.size() == 6 && figures[0] == QLatin1String("window");
    if (windowOk) {
        const double first = figures[3].toDouble() / 1024, last = figures[4].toDouble() / 1024;
        const double change = first > 0 ? 100.0 * (last - first) / first : 0;
        std::printf("Window program: %s cycles of Check configuration and Configure printer, %s failed; resident memory "
                    "%.1f MB once the traffic record held its newest lines in full (after %s cycles), %.1f MB %s "
                    "cycles later (%+.1f%%, within 10%%: %s)\n",
                    qPrintable(figures[1]), qPrintable(figures[2]), first, qPrintable(figures[5]), last,
                    qPrintable(figures[1]), change, std::abs(change) <= 10 ? "yes" : "NO");
        windowOk = figures[2] == QLatin1String("0");
    } else {
        std::printf("Window program: did not report (%s)\n", qPrintable(QString::fromUtf8(window.readAllStandardError())));
    }
    for (const QString &problem : std::as_const(totals.problems))
        std::printf("  %s\n", qPrintable(problem));
    std::fflush(stdout);
    const bool clean = totals.falseSuccesses == 0 && totals.missingRows == 0 && totals.crashes == 0 && totals.hangs == 0
                    && totals.unexpectedStatus == 0 && windowOk;
    return clean ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    bool ok = false;
    if (arguments.size() == 3 && arguments[1] == QLatin1String("--window")) {
        const int cycles = arguments[2].toInt(&ok);
        if (ok && cycles > 0)
            return windowProgram(cycles);
    } else if (arguments.size() == 3) {
        const int cycles = arguments[1].toInt(&ok);
        bool seedOk = false;
        const quint32 seed = arguments[2].toUInt(&seedOk);
        if (ok && seedOk && cycles > 0)
            return soak(cycles, seed, app.applicationFilePath());
    }
    std::fprintf(stderr, "Usage: tessary-soak CYCLES SEED | tessary-soak --window CYCLES\n");
    return 2;
}
