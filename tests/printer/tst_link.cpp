// What the window tests cannot reach cheaply: the serial primitives' timing
// and caps against the simulated line, the command gate's stop on the real
// clock, and the traffic record's threads.
#include "boardsim/simulatedline.h"
#include "hookedclock.h"
#include "scriptedprompts.h"
#include "serial/commandgate.h"
#include "serial/eventloopclock.h"
#include "serial/recordedpath.h"
#include "serial/trafficrecord.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

using namespace tessary;
using namespace tessary::test;

namespace {

// The far end of COM1: it sends pieces at set times of the clock (ms), whatever it hears, and keeps what
// reached it.
struct FarEnd : sim::Device {
    QMap<qint64, QByteArray> pieces;
    QByteArray heard;
    void receive(const QByteArray &bytes, qint64, qint64, const sim::LineSettings &) override { heard += bytes; }
    QByteArray takeDue(qint64 nowUs, const sim::LineSettings *) override
    {
        QByteArray due;
        while (!pieces.isEmpty() && pieces.firstKey() * 1000 <= nowUs)
            due += pieces.take(pieces.firstKey());
        return due;
    }
    std::optional<qint64> nextOutputAtUs(const sim::LineSettings &) const override
    {
        return pieces.isEmpty() ? std::nullopt : std::optional(pieces.firstKey() * 1000);
    }
};

// The simulated line, opened, on the virtual clock with a hand on it, through
// the recording wrappers as the program runs every command.
struct Rig {
    explicit Rig(const char *speed = "9600")
    {
        line.setWakeups(false);
        line.attachDevice(1, far);
        link.setStatusLine(&status);
        QVERIFY(link.openPort(1, QLatin1String(speed), HandshakeHardware));
    }
    HookedClock clock;
    sim::SimulatedLine line{clock};
    std::shared_ptr<FarEnd> far = std::make_shared<FarEnd>();
    RecordedPath path{line, clock};
    SerialLink &link = path.link;
    RecordingStatusLine status;
    const qint64 t0 = 50; // after the settle pause
};

} // namespace

class TestLink : public QObject {
    Q_OBJECT

private slots:
    void readReply()
    {
        // When each piece arrives, ms after the read starts (-1 a stream); the bytes in each piece (for a stream,
        // ms between its bytes); the bytes returned and the ms taken.
        // (Nothing at all: 50 polls of 10 ms, 500 ms, as the traffic monitor's lines show in tst_printerwindow.)
        const struct { const char *name; QList<int> times, sizes; int size, ms; } cases[] = {
            {"20 bytes in three pieces", {5, 25, 45}, {7, 6, 7}, 20, 545},
            {"a gap just short of the quiet time", {1, 491}, {4, 4}, 8, 991},
            {"a gap of the quiet time ends it", {1, 502}, {4, 4}, 4, 501},
            {"a flood: capped at 4096 bytes", {1}, {10000}, 4096, 1},
            {"a byte every 2 ms for ever: capped at 5 s", {-1}, {2}, 2501, 5000},
        };
        for (const auto &[name, times, sizes, size, ms] : cases) {
            Rig rig;
            QByteArray sent; // each piece of its own letter; a stream of x, for longer than any read
            for (int i = 0; i < times.size(); ++i)
                for (int at = qMax(0, times[i]); at <= (times[i] < 0 ? 10'000 : times[i]); at += sizes[i])
                    sent += rig.far->pieces[rig.t0 + at] = times[i] < 0 ? "x" : QByteArray(sizes[i], char('a' + i));
            const QByteArray reply = rig.link.readReply();
            QVERIFY2(reply == sent.left(size), qPrintable(QStringLiteral("%1: %2 bytes").arg(name).arg(reply.size())));
            QCOMPARE(QStringLiteral("%1: %2 ms").arg(name).arg(rig.clock.now() - rig.t0), QStringLiteral("%1: %2 ms").arg(name).arg(ms));
        }
    }

    void closeWaitsForTheOutputThroughTheClock()
    {
        // The speed; how long flow control holds the output (-1 for ever); the pause of the close at which a stop
        // is asked for (0 none); what the two closes of one command waited together; whether the output is
        // dropped, so that the driver's close does not wait either.
        // The two bytes of a reset need 2.1 ms on the line at 9600 bauds, 16.7 ms at 1200: each close
        // waits that long after the write, and 2 ms more, before the port's settings go back (a close long
        // after its write waits for nothing: the scan's times in tst_printerwindow).
        const struct { const char *name; QString speed; int heldMs, stopAt, waitedMs; bool dropped; } cases[] = {
            {"leaves at once, 1200 bauds", "1200", 0, 0, 2 * 19, false},
            {"leaves after 30 ms", "9600", 30, 0, 2 * 35, false},
            {"held for ever: 1 s each, told once", "9600", -1, 0, 2000, true},
            {"held, a stop at the third look", "9600", -1, 3, 3 * 5, true},
        };
        for (const auto &[name, speed, heldMs, stopAt, waitedMs, dropped] : cases) {
            Rig rig(qPrintable(speed));
            rig.link.clearStop(); // a command starts
            qint64 waited = 0;
            for (int group = 0; group < 2; ++group) { // two groups of writes, as programming has
                QVERIFY2(rig.link.openPort(1, speed, HandshakeHardware), name);
                rig.line.holdOutputUntil(heldMs < 0 ? -1 : rig.clock.now() + heldMs);
                rig.link.sendString(QByteArray::fromHex("1b40"));
                const qint64 before = rig.clock.now();
                const int waitsBefore = rig.clock.waits;
                rig.clock.onWait = [&](int wait) {
                    if (wait - waitsBefore == stopAt)
                        rig.link.requestStop();
                };
                QVERIFY2(rig.link.closePort() == !dropped, name); // never throws, a stop included
                rig.clock.onWait = nullptr;
                waited += rig.clock.now() - before;
                QVERIFY2(!rig.line.isOpen(), name);
                if (stopAt)
                    break; // the command has ended
            }
            // What was not dropped (so that the driver's close waits for nothing) reached the far end, and the
            // port closed once the wait was over, none of it at the settings the close puts back. Held output is
            // dropped before each close that gave up on it, as the traffic record says.
            const QString heard = QStringLiteral("%1: waited %2 ms, heard %3, dropped %4 times").arg(name).arg(waited)
                                      .arg(QString::fromLatin1(rig.far->heard.toHex()))
                                      .arg(rig.path.record.lines().filter("the output did not leave: 2 bytes dropped").size());
            QCOMPARE(heard, QStringLiteral("%1: waited %2 ms, heard %3, dropped %4 times").arg(name).arg(waitedMs)
                                .arg(dropped ? "" : "1b401b40").arg(dropped ? 2 - bool(stopAt) : 0));
            QVERIFY2(rig.line.closes().constLast().at == rig.clock.now(), name);
            // Told once per command; nothing to tell when a window closing cut the wait short.
            const char *const told = "The serial port's output did not leave within 1 s and was dropped: flow control holds "
                                     "it back (check the cable's handshake lines and that the printer is on)";
            QCOMPARE(name + (u' ' + rig.status.shown.join(u'|')), name + (u' ' + QString(dropped && !stopAt ? told : "")));
            if (stopAt) { // once stopped, the command opens no port again
                QVERIFY_THROWS_EXCEPTION(CommandStopped, (void)rig.link.openPort(1, speed, HandshakeHardware));
                QCOMPARE(rig.line.opens().size(), 1);
            }
        }
    }

    void gateRunsOneCommandAndStopsItAtItsWait()
    {
        EventLoopClock clock; // the program's: the stop arrives from the event loop during a wait
        sim::SimulatedLine line(clock);
        SerialLink link(line, clock);
        CommandGate gate(link);
        QVERIFY(gate.run([&] { QVERIFY(!gate.run([] {})); })); // one at a time

        QTimer::singleShot(30, &gate, &CommandGate::requestStop);
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(!gate.run([&] { // stopped: the wait throws, and nothing after it runs
            QVERIFY(line.open(1, 9600, HandshakeHardware)); // no settle pause: the stop lands in the first wait
            link.delay(5000);
        }));
        // The first wait ended early. (The port closed after a stop: tst_database, tst_faults_window.)
        QVERIFY(elapsed.elapsed() < 4000);
    }

    void recordTakesLinesFromSeveralThreads()
    {
        // One port per thread, as the parallel scan runs, and a writer taking the lines as they come:
        // every line whole, each port's lines in their order, bursts of two lines together.
        TrafficRecord record;
        QBuffer trace;
        QVERIFY(trace.open(QIODevice::WriteOnly));
        {
            TrafficWriter writer(record, trace);
            std::vector<std::unique_ptr<QThread>> threads;
            for (int port = 1; port <= 6; ++port)
                threads.emplace_back(QThread::create([&record, port] {
                    const auto line = [port](int i) { return QStringLiteral("COM%1 %2").arg(port).arg(i); };
                    for (int i = 0; i < 3000; i += 3) {
                        record.append(line(i));
                        record.append({line(i + 1), line(i + 2)});
                    }
                }));
            for (auto &t : threads)
                t->start();
            for (auto &t : threads)
                QVERIFY(t->wait(30000));
        }
        QVERIFY(!record.isRecording());
        const QStringList lines = record.lines();
        QCOMPARE(QString::fromUtf8(trace.data()), lines.join(u'\n') + u'\n');
        int next[10] = {}; // for each port, the number its next line has
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const int port = lines[i].mid(3, 1).toInt();
            QCOMPARE(lines[i], QStringLiteral("COM%1 %2").arg(port).arg(next[port]));
            if (next[port]++ % 3 == 1) // the first of a burst: the second follows at once
                QCOMPARE(lines.value(i + 1), QStringLiteral("COM%1 %2").arg(port).arg(next[port]));
        }
        QCOMPARE(QList<int>(next, next + 7), QList<int>({0, 3000, 3000, 3000, 3000, 3000, 3000}));
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
