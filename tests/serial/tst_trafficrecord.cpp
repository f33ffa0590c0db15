// The traffic record and its recording wrappers, on the simulated board and
// the virtual clock: the lines an exchange gives, that recording changes
// nothing on the wire, the bound, several threads at once, and the writer.
#include "app/appstate.h"
#include "boardsim/simulatedline.h"
#include "detection/detector.h"
#include "scriptedprompts.h"
#include "serial/recordingline.h"
#include "serial/seriallink.h"
#include "serial/trafficrecord.h"
#include "serial/virtualclock.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

using namespace tessary;
using namespace tessary::sim;
using namespace tessary::test;

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

// The program's serial path over the simulated line, recorded.
struct Recorded {
    explicit Recorded(TrafficRecord &record) : line(sim, clock, record) { sim.setWakeups(false); }
    VirtualClock clock;
    SimulatedLine sim{clock};
    RecordingLine line;
    RecordingClock recordingClock{clock, line};
    SerialLink link{line, recordingClock};
};

// What the program did on the simulated line, comparable.
QStringList wire(const SimulatedLine &sim)
{
    QStringList events;
    for (const auto &o : sim.opens())
        events << QStringLiteral("open %1 COM%2 %3 %4").arg(o.at).arg(o.port).arg(o.baud).arg(o.handshake);
    for (const auto &w : sim.writes())
        events << QStringLiteral("write %1 COM%2 %3").arg(w.at).arg(w.port).arg(QString::fromLatin1(w.bytes.toHex()));
    for (const auto &c : sim.closes())
        events << QStringLiteral("close %1 COM%2").arg(c.at).arg(c.port);
    return events;
}

} // namespace

class TestTrafficRecord : public QObject {
    Q_OBJECT

private slots:
    void exchangesBecomeLines();
    void recordingChangesNothingOnTheWire_data();
    void recordingChangesNothingOnTheWire();
    void keepsTheNewestLines();
    void linesFromSeveralThreadsStayWholeAndInOrder();
    void writerAppendsToItsFile();
};

void TestTrafficRecord::exchangesBecomeLines()
{
    TrafficRecord record;
    record.startWatching();
    Recorded r(record);
    r.sim.attachBoard(1);
    r.sim.failOpen(2, QStringLiteral("COM2 (/dev/ttyS1): the port is in use by another program"));
    SerialLink &link = r.link;

    r.line.beginCommand(QStringLiteral("Configure printer"));
    QVERIFY(!link.line().open(2, 9600, HandshakeXonXoff));
    QVERIFY(link.openPort(1, QStringLiteral("115200"), HandshakeHardware));
    link.sendCharByChar(hex("1d53460601"));  // one burst, written byte by byte
    QCOMPARE(link.getValue(), quint8(0x01)); // the echo
    link.sendString(hex("1b49"));
    QCOMPARE(link.readReply().size(), 24);   // the identity, then 500 ms of silence
    link.sendString(hex("1b76"));
    link.delay(100);
    link.clearInput();                       // the probe's answer, never read
    link.sendString(QByteArray(40, 'U'));    // longer than a line holds
    link.closePort();
    link.delay(1000);                        // with no port open

    const QStringList expected = {
        "---- Configure printer ----",
        "COM2            not opened at 9600 bauds, XON/XOFF handshake: COM2 (/dev/ttyS1): the port is in use by "
        "another program",
        "COM1      0 ms  opened at 115200 bauds, hardware handshake",
        "COM1      0 ms  waited 50 ms, nothing came",
        "COM1     50 ms  sent      1D 53 46 06 01                                   <GS>SF<ACK><SOH>",
        "COM1     56 ms  received  01                                               <SOH>",
        "COM1     56 ms  sent      1B 49                                            <ESC>I",
        "COM1     59 ms  received  54 48 34 33 32 20 31 4B 35 20 53 54 44 20 20 20 20 46 57 20 34 2E 31 32  "
        "TH432 1K5 STD    FW 4.12",
        "COM1     61 ms  waited 500 ms, nothing came",
        "COM1    561 ms  sent      1B 76                                            <ESC>v",
        "COM1    561 ms  waited 100 ms, 1 byte waiting",
        "COM1    661 ms  cleared   04                                               <EOT>",
        "COM1    661 ms  sent      55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 "
        "55 55 55 55 55 55  UUUUUUUUUUUUUUUUUUUUUUUUUUUUUUUU",
        "COM1    661 ms            55 55 55 55 55 55 55 55                          UUUUUUUU",
        "COM1    661 ms  closed",
        "                waited 1000 ms",
    };
    const QStringList lines = record.lines();
    for (qsizetype i = 0; i < qMax(lines.size(), expected.size()); ++i)
        QCOMPARE(lines.value(i), expected.value(i));
}

void TestTrafficRecord::recordingChangesNothingOnTheWire_data()
{
    QTest::addColumn<int>("boardPort");
    QTest::addColumn<int>("baud");
    QTest::newRow("board on COM3 at 9600") << 3 << 9600;
    QTest::newRow("no board") << 0 << 0;
}

void TestTrafficRecord::recordingChangesNothingOnTheWire()
{
    QFETCH(int, boardPort);
    QFETCH(int, baud);
    // The same scan watched and not: the same bytes at the same times, the
    // same answer; nothing is recorded while nobody watches.
    QStringList wires[2];
    PrinterLink found[2];
    for (const bool watched : {false, true}) {
        TrafficRecord record;
        if (watched)
            record.startWatching();
        Recorded r(record);
        if (boardPort) {
            BoardOptions options;
            options.baud = baud;
            r.sim.attachBoard(boardPort, options);
        }
        ScriptedPrompts prompts;
        PrinterLink printer;
        Detector(r.link, printer, prompts).autodetect();
        wires[watched] = wire(r.sim);
        found[watched] = printer;
        QCOMPARE(record.end() > 100, watched);
    }
    QCOMPARE(wires[1], wires[0]);
    QCOMPARE(found[1].printerFound, found[0].printerFound);
    QCOMPARE(found[1].comPort, found[0].comPort);
    QCOMPARE(found[1].baudRate, found[0].baudRate);
    QCOMPARE(found[1].handshake, found[0].handshake);
}

void TestTrafficRecord::keepsTheNewestLines()
{
    TrafficRecord record;
    QCOMPARE(record.limit(), 20000);
    for (int i = 0; i < 20005; ++i)
        record.append(QStringLiteral("line %1").arg(i));
    const QStringList lines = record.lines();
    QCOMPARE(lines.size(), 20000);
    QCOMPARE(lines.constFirst(), QStringLiteral("line 5"));
    QCOMPARE(lines.constLast(), QStringLiteral("line 20004"));

    // A view that fell behind gets what is still kept; one that is up to
    // date gets only the new lines.
    qint64 next = 0;
    QCOMPARE(record.linesFrom(0, &next).constFirst(), QStringLiteral("line 5"));
    QCOMPARE(next, 20005);
    QCOMPARE(record.linesFrom(20003, &next), (QStringList{"line 20003", "line 20004"}));

    record.clear();
    QVERIFY(record.lines().isEmpty());
    record.append(QStringLiteral("after"));
    QCOMPARE(record.linesFrom(next, &next), QStringList{"after"});
    QCOMPARE(next, 20006);
}

void TestTrafficRecord::linesFromSeveralThreadsStayWholeAndInOrder()
{
    // One port per thread, each with its own line and clock, as a parallel
    // scan runs; a writer takes the lines as they come.
    constexpr int Ports = 6;
    constexpr int Rounds = 40;
    const auto session = [](TrafficRecord &record, int port) {
        Recorded r(record);
        BoardOptions options;
        options.identity = QByteArray("BOARD ") + QByteArray::number(port);
        r.sim.attachBoard(port, options);
        for (int i = 0; i < Rounds; ++i) {
            (void)r.link.openPort(port, QStringLiteral("115200"), HandshakeHardware);
            r.link.sendString(hex("1b49"));
            (void)r.link.readReply();
            r.link.closePort();
        }
    };
    QStringList alone[Ports + 1];
    for (int port = 1; port <= Ports; ++port) {
        TrafficRecord solo;
        solo.startWatching();
        session(solo, port);
        alone[port] = solo.lines();
    }

    TrafficRecord record;
    QBuffer trace;
    QVERIFY(trace.open(QIODevice::WriteOnly));
    {
        TrafficWriter writer(record, trace);
        QVERIFY(record.isRecording());
        std::vector<std::unique_ptr<QThread>> threads;
        for (int port = 1; port <= Ports; ++port)
            threads.emplace_back(QThread::create(session, std::ref(record), port));
        for (auto &t : threads)
            t->start();
        for (auto &t : threads)
            QVERIFY(t->wait(30000));
    }
    QVERIFY(!record.isRecording());

    const QStringList lines = record.lines();
    QCOMPARE(lines.size(), Ports * alone[1].size());
    QCOMPARE(QString::fromUtf8(trace.data()), lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    for (int port = 1; port <= Ports; ++port) {
        QStringList own;
        for (const QString &line : lines)
            if (line.startsWith(QStringLiteral("COM%1 ").arg(port)))
                own << line;
        QCOMPARE(own, alone[port]);
    }
}

void TestTrafficRecord::writerAppendsToItsFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trace.txt"));
    TrafficRecord record;
    record.append(QStringLiteral("before any writer"));
    for (const char *line : {"first run", "second run"}) {
        QString error;
        const auto writer = TrafficWriter::open(record, path, &error);
        QVERIFY2(writer, qPrintable(error));
        record.append(QString::fromLatin1(line));
        // On the disk at once, not when the writer goes.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().endsWith(QByteArray(line) + '\n'));
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("first run\nsecond run\n"));

    QString error;
    QVERIFY(!TrafficWriter::open(record, dir.filePath(QStringLiteral("no/such/folder/trace.txt")), &error));
    QVERIFY(error.contains(QStringLiteral("no/such/folder/trace.txt")));
    QVERIFY(!record.isRecording());
}

QTEST_GUILESS_MAIN(TestTrafficRecord)
#include "tst_trafficrecord.moc"
