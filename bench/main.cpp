// tessary-bench: every printer command against tessary-boardsim on a
// pseudo-terminal, through QtSerialLine and EventLoopClock in real time.
// For each command: the median and worst wall time of several runs, the floor
// its waits and bytes set, the ratio, the CPU time of this process (the board
// runs in a child process and does not count), and the longest time the event
// loop went unserved (a 5 ms timer recording its own lateness). Every
// command runs three ways: on the bare serial line, through the traffic
// record's wrappers, recording with the monitor closed (the program's usual state), and
// with the traffic monitor window open and recording. Then the desktop
// program's start-up time and peak memory.
#include "boardprocess.h"
#include "floor.h"
#include "programpath.h"
#include "recordbench.h"

#include "app/appstate.h"
#include "cliapp.h"
#include "clienvironment.h"
#include "app/prompts.h"
#include "configuration/configurationcode.h"
#include "configuration/configurationeditor.h"
#include "detection/detector.h"
#include "printer/printerqueries.h"
#include "printer/programmer.h"
#include "serial/eventloopclock.h"
#include "serial/portnames.h"
#include "serial/qtserialline.h"
#include "serial/recordedpath.h"
#include "serial/recordingline.h"
#include "serial/seriallink.h"
#include "serial/trafficmonitorwindow.h"
#include "serial/trafficrecord.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTextStream>
#include <QTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

using namespace tessary;
using namespace tessary::bench;

namespace {

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

double processCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// A 5 ms timer on the event loop: how late it fires is how long the user
// interface would have gone without handling its events.
class StallProbe {
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(IntervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = monotonicNs();
            m_worstNs = std::max(m_worstNs, now - m_lastNs - IntervalMs * 1'000'000LL);
            m_lastNs = now;
        });
    }
    void start()
    {
        m_worstNs = 0;
        m_lastNs = monotonicNs();
        m_timer.start();
    }
    double stop()
    {
        m_timer.stop();
        // The time since the last tick counts too: a stall may end the run.
        m_worstNs = std::max(m_worstNs, monotonicNs() - m_lastNs - IntervalMs * 1'000'000LL);
        return m_worstNs / 1e6;
    }

private:
    static constexpr int IntervalMs = 5;
    QTimer m_timer;
    qint64 m_lastNs = 0;
    qint64 m_worstNs = 0;
};

struct Sample {
    double wallMs = 0;
    double cpuMs = 0;
    double stallMs = 0;
};

struct Row {
    QString command;
    double floorMs = 0;
    double boardMs = 0; // the board's own latency on the exchanges waited for
    QList<Sample> samples;
    QString failure; // empty when every run did what it should
    double goal = 1.03; // the worst run against the floor
};

void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs one command `runs` times; `setup` before each run is not timed,
// `check` after it says what went wrong (empty: nothing). probe false: no
// stall probe (its 200 wakeups a second would count in the CPU of a
// command that has no window to stall).
Row measure(const QString &command, const Floor &floor, int runs, const std::function<void()> &setup,
            const std::function<void()> &run, const std::function<QString()> &check, bool probe = true)
{
    Row row{command, floor.ms(), floor.boardMs(), {}, {}, 1.03};
    StallProbe stall;
    for (int i = 0; i < runs; ++i) {
        if (setup)
            setup();
        if (probe)
            stall.start();
        const double cpu0 = processCpuMs();
        const qint64 t0 = monotonicNs();
        run();
        const qint64 t1 = monotonicNs();
        const double cpu1 = processCpuMs();
        Sample s{(t1 - t0) / 1e6, cpu1 - cpu0, probe ? stall.stop() : 0.0};
        row.samples.append(s);
        const QString problem = check();
        if (!problem.isEmpty() && row.failure.isEmpty())
            row.failure = problem;
        std::fprintf(stderr, "  %s run %d: %.1f ms\n", qPrintable(command), i + 1, s.wallMs);
    }
    return row;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

constexpr int IdentityReplyBytes = 16 + 8; // 16 identity characters, " FW 4.12"
// The simulated board's answer latencies (boardsim/board.h).
constexpr double QueryLatencyMs = 2.0;
constexpr double EchoLatencyMs = 5.0;

// One `tessary` command in process, on the real machine: QtSerialLine and
// EventLoopClock, as the program runs it.
struct CliRun {
    int status = -1;
    QString out;
    QString err;
    void operator()(const QStringList &arguments)
    {
        out.clear();
        err.clear();
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        SystemEnvironment environment;
        CliApp cli(environment, outStream, errStream);
        status = cli.run(QStringList{QStringLiteral("tessary")} + arguments);
    }
    [[nodiscard]] QString problem(const QString &expected) const
    {
        if (status == 0 && out.contains(expected))
            return {};
        return QStringLiteral("exit %1: %2").arg(status).arg(err.trimmed().section(u'\n', -1));
    }
};

QList<Row> commandRows(int runs, Monitor monitor, QString &error)
{
    QList<Row> rows;
    BoardProcess board({QStringLiteral("--speed"), QStringLiteral("115200"), QStringLiteral("--handshake"),
                        QStringLiteral("hw")});
    if (!board.isReady()) {
        error = board.errorString();
        return rows;
    }
    Program p({{1, board.path()}}, monitor);

    // Check identity after a manual detection on COM1 at 115200.
    {
        CountingPrompts prompts;
        Detector detector(p.link, p.printer, prompts);
        detector.detectSerialPrinter(1, QStringLiteral("115200"), Detector::HandshakeIndexHardware);
        if (!p.printer.printerFound) {
            error = QStringLiteral("the manual detection found no board");
            return rows;
        }
    }
    PrinterQueries queries(p.link, p.printer);
    const auto portClosed = [&p]() -> QString {
        return p.line.isOpen() ? QStringLiteral("port left open") : QString();
    };

    QByteArray identity;
    rows.append(measure(QStringLiteral("Check identity"),
                        Floor().pause(SerialLink::SettleMs)
                            .pause(PrinterQueries::IdentityDelayMs, 2 + IdentityReplyBytes)
                            .pause(SerialLink::PollLimit * SerialLink::PollMs),
                        runs, {}, [&] { identity = queries.identity(); },
                        [&]() -> QString {
                            if (identity.size() != IdentityReplyBytes)
                                return QStringLiteral("identity of %1 bytes").arg(identity.size());
                            return portClosed();
                        }));

    // Check configuration: two parameter reads, the configuration, the identity.
    ReadBackResult readBack;
    rows.append(measure(QStringLiteral("Check configuration"),
                        Floor().pause(SerialLink::SettleMs)
                            .exchange(4 + 1).exchange(4 + 1).board(4 * QueryLatencyMs)
                            .exchange(3 + 2).pause(SerialLink::PollLimit * SerialLink::PollMs)
                            .exchange(2 + IdentityReplyBytes).pause(SerialLink::PollLimit * SerialLink::PollMs),
                        runs, {}, [&] { readBack = queries.readSettings(); },
                        [&]() -> QString {
                            if (!readBack.code)
                                return QStringLiteral("read-back failed");
                            return portClosed();
                        }));

    // Configure printer. Resistors + Automatic: two parameter writes.
    PlainStatusLine programStatus;
    CountingPrompts programPrompts;
    Programmer programmer(p.link, p.printer, programPrompts, programStatus);
    ProgrammingResult result;
    const auto programmed = [&](int writes) {
        return [&, writes]() -> QString {
            if (!result.completed() || result.writes.size() != writes || result.echoFailures() || programPrompts.shown)
                return QStringLiteral("programming failed (%1 writes, %2 echo failures)")
                    .arg(result.writes.size()).arg(result.echoFailures());
            return portClosed();
        };
    };
    const auto programFloor = [](int writes, int polarityBytes) {
        Floor f;
        f.pause(SerialLink::SettleMs).exchange(polarityBytes); // configuration group
        f.board(writes * EchoLatencyMs + (polarityBytes ? QueryLatencyMs : 0));
        for (int i = 0; i < writes; ++i)
            f.exchange(5 + 1);                                  // GS "SF" a v, and its echo
        f.pause(SerialLink::SettleMs)                            // identity group
            .pause(SerialLink::SettleMs).pause(Programmer::ResetPauseMs, 2)
            .pause(SerialLink::SettleMs).pause(PrinterQueries::IdentityDelayMs, 2 + IdentityReplyBytes)
            .pause(SerialLink::PollLimit * SerialLink::PollMs);
        return f;
    };
    ProgrammingPlan resistors;
    resistors.mode = ProgrammingPlan::Mode::Resistors;
    resistors.identity = ProgrammingPlan::Identity::Automatic;
    rows.append(measure(QStringLiteral("Configure: Resistors + Automatic"), programFloor(2, 0), runs, {},
                        [&] { result = programmer.program(resistors); }, programmed(2)));

    ProgrammingPlan user;
    user.mode = ProgrammingPlan::Mode::User;
    user.identity = ProgrammingPlan::Identity::User;
    user.settings = decodeConfigurationCode(QStringLiteral("1111000101000000"));
    user.settings.strobePolarity = 1; // what the board's hardware reports
    user.name = QStringLiteral("BENCH MECHANISM1");
    rows.append(measure(QStringLiteral("Configure: User + User (16 chars)"), programFloor(3 + 16, 3 + 1), runs, {},
                        [&] { result = programmer.program(user); }, programmed(19)));

    // The board control commands say whether their bytes went out.
    bool sent = false;
    const auto wentOut = [&]() -> QString { return sent ? portClosed() : QStringLiteral("the bytes did not go out"); };

    // Wake up: a NUL on every port at 57600, the 1000 ms pause, CAN to the board.
    rows.append(measure(QStringLiteral("Wake up"),
                        Floor().pause(Detector::WakeupPauseMs, 1, 57600).pause(SerialLink::SettleMs), runs, {},
                        [&] { sent = queries.wakeUp(); }, wentOut));

    // Sleep, woken again (untimed) before each run.
    rows.append(measure(QStringLiteral("Sleep"),
                        Floor().pause(SerialLink::SettleMs).pause(PrinterQueries::SleepDelayMs, 3), runs,
                        [&] { queries.wakeUp(); }, [&] { sent = queries.sleep(); }, wentOut));
    queries.wakeUp();

    // Reset: the port is closed once the two bytes have had their time on the line.
    rows.append(measure(QStringLiteral("Reset"), Floor().pause(SerialLink::SettleMs).exchange(2), runs,
                        [&] { pause(400); /* the board's restart silence */ }, [&] { sent = queries.reset(); },
                        wentOut));
    pause(400);

    // The automatic scan with the board on COM1 at 115200: found at the first speed.
    {
        CountingPrompts prompts;
        Detector detector(p.link, p.printer, prompts);
        QString text;
        const Floor floor = Floor().pause(Detector::WakeupPauseMs, 1, 57600)
                                 .pause(3 * Detector::QueryWaitMs)                       // probe, CAN, probe
                                 .pause(Detector::IdentityWaitMs, 2 + IdentityReplyBytes) // probePort
                                 .pause(2 * Detector::QueryWaitMs);
        rows.append(measure(QStringLiteral("Scan: COM1 at 115200"), floor, runs, {}, [&] { text = detector.autodetect(); },
                            [&]() -> QString {
                                if (!p.printer.printerFound || p.printer.comPort != 1)
                                    return QStringLiteral("scan: ") + text;
                                return portClosed();
                            }));
    }
    return rows;
}

Row slowScanRow(int runs, Monitor monitor, QString &error)
{
    // Two ports with something silent behind them, then the board on COM3 at 1200.
    BoardProcess com1({QStringLiteral("--silent")});
    BoardProcess com2({QStringLiteral("--silent")});
    BoardProcess board({QStringLiteral("--speed"), QStringLiteral("1200"), QStringLiteral("--handshake"),
                        QStringLiteral("hw")});
    if (!com1.isReady() || !com2.isReady() || !board.isReady()) {
        error = com1.errorString() + com2.errorString() + board.errorString();
        return {};
    }
    Program p({{1, com1.path()}, {2, com2.path()}, {3, board.path()}}, monitor);
    CountingPrompts prompts;
    Detector detector(p.link, p.printer, prompts);
    QString text;
    const int speeds = int(speedTexts().size());
    const Floor floor = Floor().pause(Detector::WakeupPauseMs, 1, 57600)
                             .pause((2 * speeds + speeds - 1) * Detector::QueryWaitMs) // one probe per port and speed
                             .pause(3 * Detector::QueryWaitMs, 2 + 1 + 1 + 2 + 1, 1200)
                             .pause(Detector::IdentityWaitMs, 2 + IdentityReplyBytes, 1200)
                             .pause(2 * Detector::QueryWaitMs);
    return measure(QStringLiteral("Scan: COM3 at 1200, 2 ports before"), floor, runs, {},
                   [&] { text = detector.autodetect(); },
                   [&]() -> QString {
                       if (!p.printer.printerFound || p.printer.comPort != 3 || p.printer.baudRate != QLatin1String("1200"))
                           return QStringLiteral("scan: ") + text;
                       return p.line.isOpen() ? QStringLiteral("port left open") : QString();
                   });
}

// tessary wake --port --speed: one wake-up round, the probe, then CAN.
Row cliWakeRow(int runs, QString &error)
{
    BoardProcess board({QStringLiteral("--speed"), QStringLiteral("115200"), QStringLiteral("--handshake"),
                        QStringLiteral("hw")});
    if (!board.isReady()) {
        error = board.errorString();
        return {};
    }
    CliRun cli;
    const Floor wake = Floor().pause(Detector::WakeupPauseMs, 1, 57600)
                           .pause(Detector::IdentityWaitMs, 2 + IdentityReplyBytes)
                           .pause(2 * Detector::QueryWaitMs)
                           .pause(SerialLink::SettleMs);
    return measure(QStringLiteral("tessary wake --port --speed 115200"), wake, runs, {},
                   [&] { cli({QStringLiteral("wake"), QStringLiteral("--port"), board.path(), QStringLiteral("--speed"),
                              QStringLiteral("115200"), QStringLiteral("--quiet"), QStringLiteral("--json")}); },
                   [&] { return cli.problem(QStringLiteral("\"command\": \"wake\"")); });
}

// Reset with the board's flow control holding the program's output (it sent
// XOFF): the close waits for the output through the event loop, then drops
// it. Its floor is that bounded wait; what matters is the longest stall.
Row heldOutputRow(int runs, QString &error)
{
    BoardProcess board({QStringLiteral("--speed"), QStringLiteral("115200"), QStringLiteral("--handshake"),
                        QStringLiteral("hw")});
    if (!board.isReady()) {
        error = board.errorString();
        return {};
    }
    // A second handle on the program's end of the line, opened before the
    // port (exclusive once open), stops its output as the board's XOFF would.
    const int programEnd = ::open(QFile::encodeName(board.path()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (programEnd < 0 || ::tcflow(programEnd, TCOOFF) != 0) {
        error = QStringLiteral("cannot stop the output of %1").arg(board.path());
        return {};
    }
    // The path the program's windows take: the recording wrappers, the link
    // and the command gate over the real line.
    QtSerialLine line(PortNames({{1, board.path()}}));
    EventLoopClock clock;
    RecordedPath path(line, clock);
    PlainStatusLine status;
    path.link.setStatusLine(&status);
    const PrinterLink printer{true, 1, QStringLiteral("115200"), HandshakeHardware, true};
    PrinterQueries queries(path.link, printer);
    bool sent = true;
    Row row = measure(QStringLiteral("Reset, output held by flow control"),
                      Floor().pause(SerialLink::SettleMs).pause(1000 /* the close's bounded wait */), runs, {},
                      [&] { path.gate.run(QStringLiteral("Reset"), [&] { sent = queries.reset(); }); },
                      [&]() -> QString {
                          if (status.statusText() != SerialLink::undrainedMessage() || sent)
                              return QStringLiteral("the held output was not reported");
                          return line.isOpen() ? QStringLiteral("port left open") : QString();
                      });
    ::tcflow(programEnd, TCOON);
    ::close(programEnd);
    return row;
}

// tessary detect over six ports: something silent on COM1 to COM5, the board
// on COM6 at 1200 bauds. One port after another, every speed of the five
// silent ports comes first; all at once, only COM6's own steps count, so the
// floor is that of a scan of COM6 alone, which the parallel scan must come
// within 10% of.
QList<Row> scanRows(int runs, QString &error)
{
    std::vector<std::unique_ptr<BoardProcess>> silent;
    QStringList ports;
    for (int port = 1; port <= 5; ++port) {
        silent.push_back(std::make_unique<BoardProcess>(QStringList{QStringLiteral("--silent")}));
        ports << QStringLiteral("--port") << QStringLiteral("COM%1=%2").arg(port).arg(silent.back()->path());
    }
    BoardProcess board({QStringLiteral("--speed"), QStringLiteral("1200"), QStringLiteral("--handshake"),
                        QStringLiteral("hw")});
    ports << QStringLiteral("--port") << QStringLiteral("COM6=") + board.path();
    for (const auto &process : silent)
        if (!process->isReady())
            error += process->errorString();
    if (!board.isReady())
        error += board.errorString();
    if (!error.isEmpty())
        return {};

    const int speeds = int(speedTexts().size());
    const auto floor = [speeds](int portsBefore) {
        return Floor()
            .pause(Detector::WakeupPauseMs, 1, 57600)
            .pause((portsBefore * speeds + speeds - 1) * Detector::QueryWaitMs) // one probe per port and speed
            .pause(3 * Detector::QueryWaitMs, 2 + 1 + 1 + 2 + 1, 1200)
            .pause(Detector::IdentityWaitMs, 2 + IdentityReplyBytes, 1200) // the identity detect prints
            .pause(2 * Detector::QueryWaitMs);
    };
    CliRun cli;
    const QString found = QStringLiteral("\"port\": \"COM6\"");
    QList<Row> rows;
    rows.append(measure(QStringLiteral("tessary detect: COM6 at 1200, 6 ports, --sequential"), floor(5), runs, {},
                        [&] { cli(QStringList{QStringLiteral("detect"), QStringLiteral("--sequential"),
                                              QStringLiteral("--quiet"), QStringLiteral("--json")} + ports); },
                        [&] { return cli.problem(found); }));
    rows.append(measure(QStringLiteral("tessary detect: COM6 at 1200, 6 ports at once"), floor(0), runs, {},
                        [&] { cli(QStringList{QStringLiteral("detect"), QStringLiteral("--quiet"),
                                              QStringLiteral("--json")} + ports); },
                        [&] { return cli.problem(found); }));
    rows.last().goal = 1.10;
    return rows;
}

// tessary program --all-boards against boards on pseudo-terminals, each a
// tessary-boardsim process of its own, and the slowest of them programmed
// alone in the same run: every board at once should take little more than
// the slowest board alone.
struct GangRow {
    QString boards;
    Row alone;
    Row all;
};

GangRow gangRow(int runs, const QList<qint32> &speeds, QString &error)
{
    std::vector<std::unique_ptr<BoardProcess>> boards;
    QStringList ports;
    for (const qint32 speed : speeds) {
        boards.push_back(std::make_unique<BoardProcess>(
            QStringList{QStringLiteral("--speed"), QString::number(speed), QStringLiteral("--handshake"), QStringLiteral("hw")}));
        if (!boards.back()->isReady()) {
            error = boards.back()->errorString();
            return {};
        }
        ports << QStringLiteral("--port") << boards.back()->path();
    }
    const qsizetype slowest = std::min_element(speeds.cbegin(), speeds.cend()) - speeds.cbegin();
    const QStringList program = {QStringLiteral("program"), QStringLiteral("--code"), QStringLiteral("1111000101000000"),
                                 QStringLiteral("--id"), QStringLiteral("BENCH-0001"), QStringLiteral("--verify"),
                                 QStringLiteral("--json")};
    CliRun cli;
    const auto allOk = [&cli](qsizetype boards) {
        return [&cli, boards]() -> QString {
            if (cli.status == 0 && cli.out.count(QStringLiteral("\"result\": \"ok\"")) == boards)
                return {};
            return QStringLiteral("exit %1: %2").arg(cli.status).arg(cli.err.trimmed().section(u'\n', -1));
        };
    };
    GangRow row;
    QStringList texts;
    for (const qint32 speed : speeds)
        texts << QString::number(speed);
    row.boards = texts.count(texts.first()) == texts.size()
                     ? QStringLiteral("%1 boards at %2").arg(speeds.size()).arg(texts.first())
                     : QStringLiteral("%1 boards at %2").arg(speeds.size()).arg(texts.join(QStringLiteral(", ")));
    row.alone = measure(QStringLiteral("alone: the board at %1").arg(speeds.at(slowest)), Floor(), runs, {},
                        [&] { cli(program + QStringList{QStringLiteral("--port"), boards.at(slowest)->path()}); },
                        allOk(1), false);
    row.all = measure(QStringLiteral("--all-boards: ") + row.boards, Floor(), runs, {},
                      [&] { cli(program + ports + QStringList{QStringLiteral("--all-boards")}); }, allOk(speeds.size()),
                      false);
    return row;
}

struct StartUp {
    double shownMs = 0;
    qint64 peakKb = 0;
    QString error;
};

// The unmodified desktop program with the show probe preloaded.
StartUp startUp(const QStringList &arguments)
{
    StartUp s;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(TESSARY_SHOWPROBE_PATH));
    if (!env.contains(QStringLiteral("DISPLAY")) && !env.contains(QStringLiteral("WAYLAND_DISPLAY")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::SeparateChannels);
    program.setStandardOutputFile(QProcess::nullDevice());
    const qint64 t0 = monotonicNs();
    program.start(QStringLiteral(TESSARY_CONFIGURATOR_PATH), arguments);
    if (!program.waitForFinished(20000)) {
        program.kill();
        program.waitForFinished();
        s.error = QStringLiteral("the program did not end");
        return s;
    }
    for (const QByteArray &line : program.readAllStandardError().split('\n')) {
        if (line.startsWith("TESSARY_SHOWN_NS "))
            s.shownMs = (line.mid(17).toLongLong() - t0) / 1e6;
        else if (line.startsWith("TESSARY_VMHWM_KB "))
            s.peakKb = line.mid(17).toLongLong();
    }
    if (s.shownMs <= 0)
        s.error = QStringLiteral("the main window was never shown");
    return s;
}

QString goal(bool met) { return met ? QStringLiteral("yes") : QStringLiteral("NO"); }

double medianOf(const Row &row, double Sample::*field)
{
    QList<double> values;
    for (const Sample &s : row.samples)
        values << s.*field;
    return median(values);
}

// One table of rows; false when a row failed.
bool printRows(const QList<Row> &rows)
{
    std::printf("| Command | Floor ms | Median ms | Worst ms | Median/floor | Worst/floor | Board latency ms | Worst/(floor+board) | CPU ms (median) | CPU %% of wall | Longest UI stall ms | Within goal |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|\n");
    bool allOk = true;
    for (const Row &row : rows) {
        QList<double> wall, cpu, stall;
        for (const Sample &s : row.samples) {
            wall << s.wallMs;
            cpu << s.cpuMs;
            stall << s.stallMs;
        }
        const double med = median(wall);
        const double worst = *std::max_element(wall.cbegin(), wall.cend());
        const double medCpu = median(cpu);
        const double worstStall = *std::max_element(stall.cbegin(), stall.cend());
        std::printf("| %s | %.1f | %.1f | %.1f | %.3f | %.3f | %.0f | %.3f | %.2f | %.2f | %.2f | %s |\n",
                    qPrintable(row.command), row.floorMs, med, worst, med / row.floorMs, worst / row.floorMs,
                    row.boardMs, worst / (row.floorMs + row.boardMs), medCpu, 100.0 * medCpu / med,
                    worstStall,
                    qPrintable(QStringLiteral("%1 (%2%)").arg(goal(worst / row.floorMs <= row.goal))
                                   .arg(qRound((row.goal - 1) * 100))));
        if (!row.failure.isEmpty()) {
            std::printf("|   failed: %s |\n", qPrintable(row.failure));
            allOk = false;
        }
    }
    return allOk;
}

bool printGangRows(const QList<GangRow> &rows)
{
    std::printf("| Boards | Slowest alone, median ms | All at once, median ms | All, worst ms | Worst / slowest alone | "
                "CPU ms alone (median) | CPU ms all (median) | CPU %% of wall, all | Within 10%% |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---|\n");
    bool allOk = true;
    for (const GangRow &row : rows) {
        const double alone = medianOf(row.alone, &Sample::wallMs);
        const double all = medianOf(row.all, &Sample::wallMs);
        double worst = 0;
        for (const Sample &s : row.all.samples)
            worst = std::max(worst, s.wallMs);
        const double cpu = medianOf(row.all, &Sample::cpuMs);
        std::printf("| %s | %.1f | %.1f | %.1f | %.3f | %.1f | %.1f | %.2f | %s |\n", qPrintable(row.boards), alone, all,
                    worst, worst / alone, medianOf(row.alone, &Sample::cpuMs), cpu, 100.0 * cpu / all,
                    qPrintable(goal(worst / alone <= 1.10)));
        for (const Row *measured : {&row.alone, &row.all})
            if (!measured->failure.isEmpty()) {
                std::printf("|   failed (%s): %s |\n", qPrintable(measured->command), qPrintable(measured->failure));
                allOk = false;
            }
    }
    return allOk;
}

} // namespace

int main(int argc, char *argv[])
{
    // Offscreen without a display: the monitor window still lays out and
    // paints, off the screen.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = qMax(1, qEnvironmentVariableIntValue("TESSARY_BENCH_RUNS") ?: 5);
    // The groups of rows to run, named on the command line; none named: all.
    const QStringList groups = {QStringLiteral("commands"), QStringLiteral("cli"), QStringLiteral("boards"),
                                QStringLiteral("record"), QStringLiteral("startup")};
    QStringList chosen = app.arguments().mid(1);
    for (const QString &group : std::as_const(chosen))
        if (!groups.contains(group)) {
            std::fprintf(stderr, "Usage: tessary-bench [%s]...\n", qPrintable(groups.join(u'|')));
            return 2;
        }
    if (chosen.isEmpty())
        chosen = groups;
    bool allOk = true;

    QMap<Monitor, QList<Row>> byMonitor;
    for (const Monitor monitor : {Monitor::Bare, Monitor::Closed, Monitor::Open}) {
        if (!chosen.contains(QStringLiteral("commands")))
            break;
        QString error;
        QList<Row> rows = commandRows(runs, monitor, error);
        if (error.isEmpty())
            rows.append(slowScanRow(runs, monitor, error));
        if (!error.isEmpty()) {
            std::fprintf(stderr, "tessary-bench: %s\n", qPrintable(error));
            return 1;
        }
        byMonitor.insert(monitor, rows);
    }

    for (const Monitor monitor : byMonitor.isEmpty() ? QList<Monitor>() : QList<Monitor>{Monitor::Closed, Monitor::Open, Monitor::Bare}) {
        std::printf("Printer commands against tessary-boardsim over a pseudo-terminal, %d runs each, %s\n"
                    "(QtSerialLine + EventLoopClock, real time; CPU = this process only)\n\n",
                    runs, monitorTitle(monitor));
        allOk = printRows(byMonitor.value(monitor)) && allOk;
        std::printf("\n");
    }

    // The rows measured once: the held output, and the command-line tool.
    if (chosen.contains(QStringLiteral("cli"))) {
        QString error;
        QList<Row> rows;
        rows.append(heldOutputRow(runs, error));
        if (error.isEmpty())
            rows.append(cliWakeRow(runs, error));
        if (error.isEmpty())
            rows.append(scanRows(runs, error));
        if (!error.isEmpty()) {
            std::fprintf(stderr, "tessary-bench: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("A close whose output the flow control holds, and tessary commands in process, %d runs each\n\n",
                    runs);
        allOk = printRows(rows) && allOk;
        std::printf("\n");
    }

    // What the wrappers cost with the monitor closed, and what it costs open.
    if (!byMonitor.isEmpty()) {
        std::printf("Medians against the bare line (wall and CPU ms)\n\n");
        std::printf("| Command | Bare wall | Closed - bare | Open - bare | Bare CPU | Closed CPU | Open CPU |\n");
        std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
        const QList<Row> &bare = byMonitor[Monitor::Bare];
        for (qsizetype i = 0; i < bare.size(); ++i) {
            const Row &closed = byMonitor[Monitor::Closed].at(i);
            const Row &open = byMonitor[Monitor::Open].at(i);
            const double wall = medianOf(bare.at(i), &Sample::wallMs);
            std::printf("| %s | %.1f | %+.1f | %+.1f | %.2f | %.2f | %.2f |\n", qPrintable(bare.at(i).command), wall,
                        medianOf(closed, &Sample::wallMs) - wall, medianOf(open, &Sample::wallMs) - wall,
                        medianOf(bare.at(i), &Sample::cpuMs), medianOf(closed, &Sample::cpuMs),
                        medianOf(open, &Sample::cpuMs));
        }
        std::printf("\n");
    }

    // Every board at once against the slowest board alone.
    if (chosen.contains(QStringLiteral("boards"))) {
        QString error;
        QList<GangRow> rows;
        rows.append(gangRow(runs, {115200, 57600, 19200, 9600, 4800, 2400, 1200, 1200}, error));
        if (error.isEmpty())
            rows.append(gangRow(runs, QList<qint32>(16, 115200), error));
        if (!error.isEmpty()) {
            std::fprintf(stderr, "tessary-bench: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("tessary program --all-boards --verify against the slowest board alone, %d runs each "
                    "(CPU = this process only)\n\n", runs);
        allOk = printGangRows(rows) && allOk;
        std::printf("\n");
    }

    if (chosen.contains(QStringLiteral("record")))
        allOk = recordRows(runs) && allOk;

    if (!chosen.contains(QStringLiteral("startup"))) {
        std::fflush(stdout);
        return allOk ? 0 : 1;
    }
    std::printf("Start-up of tessary-configurator (%s), 3 runs each\n\n",
                qEnvironmentVariableIsSet("DISPLAY") ? "X display" : "offscreen");
    std::printf("| Start | Main window shown ms (median) | Worst ms | Peak memory MB (VmHWM, median) |\n|---|---:|---:|---:|\n");
    for (const QStringList &args : {QStringList{}, QStringList{QStringLiteral("--demo")}}) {
        QList<double> shown, peak;
        QString startError;
        for (int i = 0; i < 3; ++i) {
            const StartUp s = startUp(args);
            if (!s.error.isEmpty())
                startError = s.error;
            shown << s.shownMs;
            peak << s.peakKb / 1024.0;
        }
        std::printf("| %s | %.0f | %.0f | %.1f |\n", args.isEmpty() ? "plain" : "--demo", median(shown),
                    *std::max_element(shown.cbegin(), shown.cend()), median(peak));
        if (!startError.isEmpty()) {
            std::printf("|   failed: %s |\n", qPrintable(startError));
            allOk = false;
        }
    }
    std::fflush(stdout);
    return allOk ? 0 : 1;
}
