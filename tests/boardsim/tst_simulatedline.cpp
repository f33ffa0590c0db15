#include "boardsim/simulatedline.h"
#include "serial/eventloopclock.h"
#include "serial/seriallink.h"
#include "serial/virtualclock.h"

#include <QSignalSpy>
#include <QTest>

using namespace tessary;
using namespace tessary::sim;

namespace {
QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
} // namespace

class TestSimulatedLine : public QObject {
    Q_OBJECT
private slots:
    void answersOnlyOnItsPortAtItsSpeed_data();
    void answersOnlyOnItsPortAtItsSpeed();
    void answersWhateverHandshakeTheProgramChose_data();
    void answersWhateverHandshakeTheProgramChose();
    void swallowsFlowControlBytesOnlyWithXonXoff();
    void virtualClockJumpsToTheReplyByte();
    void recordsOpensWritesAndClosesWithTheirTimes();
    void repliesLeavingWhileThePortIsClosedAreLost();
    void reportsMissingPortsAndOpenFailures();
    void otherDevicesAnswerThroughTheirCallback();
    void boardAnswersNoiseAtOtherSpeedsWhenAskedTo();
    void aNulAtAnotherSpeedWakesTheBoard();
    void hangUpClosesTheLineAndTakesThePortAway();
    void readsAtMostTheAskedNumberOfBytes();
    void wakesAClockWaitingInTheEventLoop();
};

void TestSimulatedLine::answersOnlyOnItsPortAtItsSpeed_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("its port and speed") << 3 << "9600" << hex("04");
    QTest::newRow("faster") << 3 << "19200" << QByteArray();
    QTest::newRow("slower") << 3 << "4800" << QByteArray();
    QTest::newRow("another port") << 2 << "9600" << QByteArray();
}

void TestSimulatedLine::answersOnlyOnItsPortAtItsSpeed()
{
    QFETCH(int, port);
    QFETCH(QString, speed);
    QFETCH(QByteArray, reply);
    VirtualClock clock;
    SimulatedLine line(clock);
    BoardOptions options;
    options.baud = 9600;
    line.attachBoard(3, options);
    SerialLink link(line, clock);
    QVERIFY(link.openPort(port, speed, HandshakeNone));
    link.sendString(hex("1b76"));
    link.delay(100);
    QCOMPARE(link.readWaiting().toHex(), reply.toHex());
}

void TestSimulatedLine::answersWhateverHandshakeTheProgramChose_data()
{
    QTest::addColumn<int>("handshake");
    QTest::newRow("none") << int(HandshakeNone);
    QTest::newRow("xon/xoff") << int(HandshakeXonXoff);
    QTest::newRow("hardware") << int(HandshakeHardware);
}

void TestSimulatedLine::answersWhateverHandshakeTheProgramChose()
{
    QFETCH(int, handshake);
    VirtualClock clock;
    SimulatedLine line(clock);
    BoardOptions options;
    options.baud = 38400;
    options.handshake = BoardHandshake::Hardware;
    line.attachBoard(1, options);
    SerialLink link(line, clock);
    QVERIFY(link.openPort(1, QStringLiteral("38400"), handshake));
    // The board reports its own handshake; the program's choice does not silence it.
    link.sendString(hex("1d53661c"));
    QCOMPARE(link.getValue(), quint8(0x85));
}

void TestSimulatedLine::swallowsFlowControlBytesOnlyWithXonXoff()
{
    VirtualClock clock;
    SimulatedLine line(clock);
    BoardOptions options;
    options.identity = QByteArray("A\x11" "B\x13" "C");
    line.attachBoard(1, options);
    SerialLink link(line, clock);

    QVERIFY(link.openPort(1, QStringLiteral("115200"), HandshakeXonXoff));
    link.sendString(hex("1b49"));
    QCOMPARE(link.readReply(), QByteArray("ABC            FW 4.12"));
    // An echo of 0x13 never arrives.
    link.sendCharByChar(hex("1d53460713"));
    QCOMPARE(link.getValue(), std::nullopt);
    link.closePort();

    QVERIFY(link.openPort(1, QStringLiteral("115200"), HandshakeHardware));
    link.sendString(hex("1d536607"));
    QCOMPARE(link.readByte(), quint8(0x13));
    link.sendString(hex("1b49"));
    QCOMPARE(link.readReply(), QByteArray("A\x11" "B\x13" "C            FW 4.12"));
}

void TestSimulatedLine::virtualClockJumpsToTheReplyByte()
{
    VirtualClock clock;
    SimulatedLine line(clock);
    line.attachBoard(1); // 115200: 87 us a byte
    SerialLink link(line, clock);
    QVERIFY(link.openPort(1, QStringLiteral("115200"), HandshakeHardware));
    QCOMPARE(clock.now(), qint64(50));
    link.sendString(hex("1b76"));
    // Two bytes in (174 us), 2 ms to think, one byte out (87 us): 52.261 ms.
    QCOMPARE(line.nextInputAt(), std::optional<qint64>(53));
    QCOMPARE(link.getValue(), quint8(0x04));
    QCOMPARE(clock.now(), qint64(53));
    QCOMPARE(line.nextInputAt(), std::nullopt);
}

void TestSimulatedLine::recordsOpensWritesAndClosesWithTheirTimes()
{
    VirtualClock clock;
    SimulatedLine line(clock);
    line.attachBoard(2);
    SerialLink link(line, clock);
    QVERIFY(link.openPort(2, QStringLiteral("115200"), HandshakeHardware));
    link.sendString(hex("181b53"));
    link.delay(10);
    link.sendString(hex("18"));
    link.closePort();
    QVERIFY(link.openPort(5, QStringLiteral("57600"), HandshakeNone));
    link.sendString(hex("00"));
    link.closePort();

    QCOMPARE(line.opens().size(), 2);
    QCOMPARE(line.opens().at(0).at, qint64(0));
    QCOMPARE(line.opens().at(0).port, 2);
    QCOMPARE(line.opens().at(0).baud, 115200);
    QCOMPARE(line.opens().at(0).handshake, int(HandshakeHardware));
    QCOMPARE(line.opens().at(1).port, 5);
    QCOMPARE(line.opens().at(1).baud, 57600);
    QCOMPARE(line.writes().size(), 3);
    QCOMPARE(line.writes().at(0).at, qint64(50));
    QCOMPARE(line.writes().at(1).at, qint64(60));
    QCOMPARE(line.writes().at(2).port, 5);
    QCOMPARE(line.writtenBytes().toHex(), QByteArray("181b531800"));
    QCOMPARE(line.writtenBytes(2).toHex(), QByteArray("181b5318"));
    QCOMPARE(line.closes().size(), 2);
    QCOMPARE(line.closes().at(0).at, qint64(60));
    QVERIFY(!line.closes().at(0).hungUp);
    QVERIFY(line.board()->isAsleep());

    line.clearRecords();
    QVERIFY(line.opens().isEmpty() && line.writes().isEmpty() && line.closes().isEmpty());
}

void TestSimulatedLine::repliesLeavingWhileThePortIsClosedAreLost()
{
    VirtualClock clock;
    SimulatedLine line(clock);
    line.attachBoard(1);
    SerialLink link(line, clock);
    QVERIFY(link.openPort(1, QStringLiteral("115200"), HandshakeHardware));
    link.sendString(hex("1b49"));
    link.closePort();
    clock.advance(10); // the identity leaves the board meanwhile
    QVERIFY(link.openPort(1, QStringLiteral("115200"), HandshakeHardware));
    QCOMPARE(link.readReply(), QByteArray());
    QCOMPARE(line.readBytes(), QByteArray());
}

void TestSimulatedLine::reportsMissingPortsAndOpenFailures()
{
    VirtualClock clock;
    SimulatedLine line(clock);
    line.setExistingPorts({1, 2});
    QVERIFY(line.portExists(1));
    QVERIFY(!line.portExists(3));
    QVERIFY(!line.open(3, 9600, HandshakeNone));
    QCOMPARE(line.errorString(), QStringLiteral("COM3 does not exist"));
    line.failOpen(2, QStringLiteral("COM2: the port is in use by another program"));
    QVERIFY(!line.open(2, 9600, HandshakeNone));
    QCOMPARE(line.errorString(), QStringLiteral("COM2: the port is in use by another program"));
    QVERIFY(!line.isOpen());
    QVERIFY(line.open(1, 9600, HandshakeNone));
    QVERIFY(line.errorString().isEmpty());
    // Opening an open line changes nothing.
    QVERIFY(line.open(2, 1200, HandshakeXonXoff));
    QCOMPARE(line.opens().size(), 1);
    QCOMPARE(line.opens().at(0).port, 1);
    // A board makes its port exist.
    line.attachBoard(4);
    QVERIFY(line.portExists(4));
}

void TestSimulatedLine::otherDevicesAnswerThroughTheirCallback()
{
    VirtualClock clock;
    SimulatedLine line(clock);
    int probes = 0;
    // Answers the first probe only, and at any speed.
    line.attachDevice(2, std::make_shared<ScriptedDevice>([&](const QByteArray &in, const LineSettings &) {
        return in == hex("1b76") && probes++ == 0 ? hex("01") : QByteArray();
    }));
    line.attachDevice(3, std::make_shared<ScriptedDevice>([](const QByteArray &in, const LineSettings &s) {
        return in == hex("1b76") && s.baud == 2400 ? hex("0102") : QByteArray();
    }));
    SerialLink link(line, clock);
    QVERIFY(link.openPort(2, QStringLiteral("115200"), HandshakeNone));
    link.sendString(hex("1b76"));
    link.delay(100);
    QCOMPARE(link.bytesWaiting(), qint64(1));
    link.clearInput();
    link.sendString(hex("1b76"));
    link.delay(100);
    QCOMPARE(link.bytesWaiting(), qint64(0));
    link.closePort();

    QVERIFY(link.openPort(3, QStringLiteral("2400"), HandshakeNone));
    link.sendString(hex("1b76"));
    link.delay(100);
    QCOMPARE(link.readWaiting().toHex(), QByteArray("0102"));
}

void TestSimulatedLine::boardAnswersNoiseAtOtherSpeedsWhenAskedTo()
{
    VirtualClock clock;
    SimulatedLine line(clock);
    line.attachBoard(1, {}, OtherSpeeds::Garbage);
    SerialLink link(line, clock);
    QVERIFY(link.openPort(1, QStringLiteral("9600"), HandshakeNone));
    link.sendString(hex("1b76"));
    link.delay(100);
    QCOMPARE(link.bytesWaiting(), qint64(2)); // one misread byte each, not the probe's one
    QCOMPARE(line.board()->bytesReceived(), qint64(2));
}

void TestSimulatedLine::aNulAtAnotherSpeedWakesTheBoard()
{
    VirtualClock clock;
    SimulatedLine line(clock);
    BoardOptions options;
    options.baud = 9600;
    Board &board = line.attachBoard(1, options);
    SerialLink link(line, clock);
    QVERIFY(link.openPort(1, QStringLiteral("9600"), HandshakeHardware));
    link.sendString(hex("181b53"));
    link.closePort();
    QVERIFY(board.isAsleep());
    QVERIFY(link.openPort(1, QStringLiteral("57600"), HandshakeNone));
    link.sendString(hex("00"));
    link.closePort();
    QVERIFY(!board.isAsleep());
}

void TestSimulatedLine::hangUpClosesTheLineAndTakesThePortAway()
{
    VirtualClock clock;
    SimulatedLine line(clock);
    BoardOptions options;
    options.faults.hangUpAfter = 3;
    line.attachBoard(1, options);
    SerialLink link(line, clock);
    QSignalSpy ready(&line, &SerialLine::inputReady);
    QVERIFY(link.openPort(1, QStringLiteral("115200"), HandshakeHardware));
    link.sendString(hex("1d534607a5"));
    QVERIFY(!line.isOpen());
    QCOMPARE(ready.count(), 1);
    QCOMPARE(line.errorString(), QStringLiteral("COM1: the line was hung up; the port was closed"));
    QCOMPARE(link.lastProblem(), line.errorString());
    QCOMPARE(link.getValue(), std::nullopt);
    QVERIFY(line.closes().last().hungUp);
    QVERIFY(!line.portExists(1));
    QVERIFY(!link.openPort(1, QStringLiteral("115200"), HandshakeHardware));
}

void TestSimulatedLine::readsAtMostTheAskedNumberOfBytes()
{
    VirtualClock clock;
    SimulatedLine line(clock);
    BoardOptions options;
    options.faults.endlessStream = true;
    line.attachBoard(1, options);
    SerialLink link(line, clock);
    QVERIFY(link.openPort(1, QStringLiteral("115200"), HandshakeHardware));
    link.sendString(hex("1b76"));
    link.delay(100);
    QVERIFY(link.bytesWaiting() > 1000);
    QCOMPARE(link.readWaiting(), QByteArray(100, 'U'));
    // A reply read stops at its caps instead of for ever.
    QCOMPARE(link.readReply().size(), SerialLink::ReplyByteCap);
}

void TestSimulatedLine::wakesAClockWaitingInTheEventLoop()
{
    EventLoopClock clock;
    SimulatedLine line(clock);
    BoardOptions options;
    options.baud = 1200; // the identity takes 0.2 s
    line.attachBoard(1, options);
    SerialLink link(line, clock);
    QVERIFY(link.openPort(1, QStringLiteral("1200"), HandshakeHardware));
    QSignalSpy ready(&line, &SerialLine::inputReady);
    link.sendString(hex("1b76"));
    QVERIFY(ready.wait(2000));
    QCOMPARE(link.readWaiting().toHex(), QByteArray("04"));
}

QTEST_GUILESS_MAIN(TestSimulatedLine)
#include "tst_simulatedline.moc"
