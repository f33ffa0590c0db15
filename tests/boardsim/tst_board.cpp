#include "boardsim/board.h"

#include <QTest>

using tessary::sim::Board;
using tessary::sim::BoardFaults;
using tessary::sim::BoardHandshake;
using tessary::sim::BoardOptions;

namespace {

constexpr qint64 Second = 1'000'000;

// Sends the bytes at atUs and collects everything the board sends in the next two seconds.
QByteArray exchange(Board &board, const QByteArray &command, qint64 atUs = 0)
{
    board.receive(command, atUs);
    return board.takeDue(atUs + 2 * Second);
}

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

} // namespace

class TestBoard : public QObject {
    Q_OBJECT
private slots:
    void answersEachCommandWithItsBytes_data();
    void answersEachCommandWithItsBytes();
    void identityReplyFollowsModeConfigurationAndUserIdentity_data();
    void identityReplyFollowsModeConfigurationAndUserIdentity();
    void reportsItsSpeedAndHandshakeInParameter28_data();
    void reportsItsSpeedAndHandshakeInParameter28();
    void pacesRepliesAtTheByteTimeOfItsSpeed();
    void answersWithinTheProgramsWaitsAtTheSlowestSpeed();
    void writtenParametersReadBackAtOnceButTakeEffectAtReset();
    void staysSilentWhileRestartingAndDropsPendingReplies();
    void sleepsUntilANulWakesIt();
    void aNulAtAnotherSpeedWakesItButNothingElseGetsThrough();
    void forgetsAHalfCommandThatStalls();
    void faultsChangeTheReplies_data();
    void faultsChangeTheReplies();
    void lateEchoComesAfterTheProgramsWait();
    void endlessStreamNeverPauses();
    void hangsUpAfterTheGivenNumberOfBytes();
    void parsesConfigurationCodes();
    void logsTrafficBothWays();
};

void TestBoard::answersEachCommandWithItsBytes_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("probe") << hex("1b76") << hex("04");
    QTest::newRow("read mode") << hex("1d536606") << hex("01");
    QTest::newRow("read byte 1") << hex("1d536607") << hex("f1");
    QTest::newRow("read byte 2") << hex("1d536608") << hex("40");
    QTest::newRow("read identity start") << hex("1d536609") << hex("00");
    QTest::newRow("read settings") << hex("1d53661c") << hex("87");
    QTest::newRow("read beyond the parameters") << hex("1d536640") << hex("00");
    QTest::newRow("read configuration") << hex("1d5343") << hex("f140");
    QTest::newRow("strobe polarity") << hex("1d5368") << hex("01");
    QTest::newRow("write echoes") << hex("1d534607a5") << hex("a5");
    QTest::newRow("write raw ESC address") << hex("1d53461b00") << hex("00");
    QTest::newRow("read raw ESC address") << hex("1d53661b") << hex("00");
    QTest::newRow("write CAN as value") << hex("1d53460918") << hex("18");
    QTest::newRow("write beyond the parameters is not confirmed") << hex("1d53462001") << QByteArray();
    QTest::newRow("two commands in one go") << hex("1b761d536606") << hex("0401");
    QTest::newRow("reset is silent") << hex("1b40") << QByteArray();
    QTest::newRow("sleep is silent") << hex("1b53") << QByteArray();
    QTest::newRow("CAN and NUL are silent") << hex("1800") << QByteArray();
    QTest::newRow("unknown ESC command") << hex("1b41") << QByteArray();
    QTest::newRow("unknown GS command") << hex("1d5358") << QByteArray();
    QTest::newRow("stray letters") << hex("4976") << QByteArray();
    QTest::newRow("CAN drops a half command") << hex("1b1849") << QByteArray();
    QTest::newRow("ESC restarts a half command") << hex("1d1b76") << hex("04");
}

void TestBoard::answersEachCommandWithItsBytes()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    Board board;
    QCOMPARE(exchange(board, command).toHex(), reply.toHex());
}

void TestBoard::identityReplyFollowsModeConfigurationAndUserIdentity_data()
{
    QTest::addColumn<bool>("userMode");
    QTest::addColumn<int>("byte1");
    QTest::addColumn<int>("byte2");
    QTest::addColumn<QByteArray>("identity");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("derived from the configuration")
        << true << 0xF1 << 0x40 << QByteArray() << QByteArray("TH432 1K5 STD    FW 4.12");
    QTest::newRow("KEL 3000 Ohms 864 dots")
        << true << 0xD2 << 0x80 << QByteArray() << QByteArray("TH864 3K0 KEL    FW 4.12");
    QTest::newRow("800 Ohms 832 dots")
        << true << 0xF4 << 0xE0 << QByteArray() << QByteArray("TH832 800 STD    FW 4.12");
    QTest::newRow("resistors mode takes the straps")
        << false << 0xF1 << 0x40 << QByteArray() << QByteArray("TH576 1K5 STD    FW 4.12");
    QTest::newRow("user identity padded")
        << true << 0xF1 << 0x40 << QByteArray("ACME 80") << QByteArray("ACME 80          FW 4.12");
    QTest::newRow("user identity of sixteen")
        << true << 0xF1 << 0x40 << QByteArray("ABCDEFGHIJKLMNOP") << QByteArray("ABCDEFGHIJKLMNOP FW 4.12");
    QTest::newRow("MRS mode derived")
        << true << 0x71 << 0x40 << QByteArray() << QByteArray("TH432 1K5 STDMRS FW 4.12");
    QTest::newRow("MRS mode user identity")
        << true << 0x71 << 0x40 << QByteArray("ABCDEFGHIJKLMNOP") << QByteArray("ABCDEFGHIJKLMMRS FW 4.12");
}

void TestBoard::identityReplyFollowsModeConfigurationAndUserIdentity()
{
    QFETCH(bool, userMode);
    QFETCH(int, byte1);
    QFETCH(int, byte2);
    QFETCH(QByteArray, identity);
    QFETCH(QByteArray, reply);
    BoardOptions options;
    options.userMode = userMode;
    options.configuration1 = quint8(byte1);
    options.configuration2 = quint8(byte2);
    options.identity = identity;
    Board board(options);
    QCOMPARE(exchange(board, hex("1b49")), reply);
}

void TestBoard::reportsItsSpeedAndHandshakeInParameter28_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<bool>("hardware");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("1200 xon") << 1200 << false << hex("00");
    QTest::newRow("2400 hw") << 2400 << true << hex("81");
    QTest::newRow("4800 xon") << 4800 << false << hex("02");
    QTest::newRow("9600 xon") << 9600 << false << hex("03");
    QTest::newRow("19200 hw") << 19200 << true << hex("84");
    QTest::newRow("28800 xon") << 28800 << false << hex("05");
    QTest::newRow("38400 hw") << 38400 << true << hex("85");
    QTest::newRow("57600 xon") << 57600 << false << hex("06");
    QTest::newRow("115200 hw") << 115200 << true << hex("87");
}

void TestBoard::reportsItsSpeedAndHandshakeInParameter28()
{
    QFETCH(int, baud);
    QFETCH(bool, hardware);
    QFETCH(QByteArray, reply);
    BoardOptions options;
    options.baud = baud;
    options.handshake = hardware ? BoardHandshake::Hardware : BoardHandshake::XonXoff;
    Board board(options);
    QCOMPARE(exchange(board, hex("1d53661c")).toHex(), reply.toHex());
}

void TestBoard::pacesRepliesAtTheByteTimeOfItsSpeed()
{
    BoardOptions options;
    options.baud = 9600; // 1042 us a byte
    Board board(options);
    board.receive(hex("1d5343"), 10'000);
    const qint64 first = 10'000 + Board::QueryLatencyUs + 1042;
    QCOMPARE(board.nextOutputAtUs(), std::optional<qint64>(first));
    QVERIFY(board.takeDue(first - 1).isEmpty());
    QCOMPARE(board.takeDue(first).toHex(), QByteArray("f1"));
    QCOMPARE(board.nextOutputAtUs(), std::optional<qint64>(first + 1042));
    QCOMPARE(board.takeDue(first + 1042).toHex(), QByteArray("40"));
    QVERIFY(!board.hasPendingOutput());

    // A query that arrives while a reply is still leaving waits its turn.
    board.receive(hex("1b49"), 100'000);
    board.receive(hex("1b76"), 100'001);
    QByteArray all = board.takeDue(100'000 + Board::QueryLatencyUs + 24 * 1042);
    QCOMPARE(all.size(), 24);
    QCOMPARE(board.nextOutputAtUs(), std::optional<qint64>(100'000 + Board::QueryLatencyUs + 25 * 1042));
    QCOMPARE(board.takeDue(Second).toHex(), QByteArray("04"));
}

void TestBoard::answersWithinTheProgramsWaitsAtTheSlowestSpeed()
{
    BoardOptions options;
    options.baud = 1200;
    options.identity = "ABCDEFGHIJKLMNOP";
    Board board(options);
    board.receive(hex("1b76"), 0);
    QVERIFY(*board.nextOutputAtUs() < 100'000);
    board.takeDue(Second);
    board.receive(hex("1b49"), Second);
    QVERIFY(*board.nextOutputAtUs() < Second + 100'000);
    // The whole identity is there within the 250 ms of the detection.
    QCOMPARE(board.takeDue(Second + 230'000).size(), 24);
    board.receive(hex("1d534609ff"), 2 * Second);
    QVERIFY(*board.nextOutputAtUs() < 2 * Second + 500'000);
}

void TestBoard::writtenParametersReadBackAtOnceButTakeEffectAtReset()
{
    Board board;
    QCOMPARE(exchange(board, hex("1d534607d2"), 0).toHex(), QByteArray("d2"));
    QCOMPARE(exchange(board, hex("1d53460880"), 1 * Second).toHex(), QByteArray("80"));
    const QByteArray name = "PRN";
    for (int i = 0; i < name.size(); ++i)
        QCOMPARE(exchange(board, hex("1d5346") + char(9 + i) + name.at(i), (2 + i) * Second),
                 QByteArray(1, name.at(i)));
    QCOMPARE(exchange(board, hex("1d53460c00"), 5 * Second).toHex(), QByteArray("00"));

    QCOMPARE(exchange(board, hex("1d536607"), 6 * Second).toHex(), QByteArray("d2"));
    QCOMPARE(board.parameter(8), quint8(0x80));
    // Still the old configuration until the board restarts.
    QCOMPARE(exchange(board, hex("1d5343"), 7 * Second).toHex(), QByteArray("f140"));
    QCOMPARE(exchange(board, hex("1b49"), 8 * Second), QByteArray("TH432 1K5 STD    FW 4.12"));

    QVERIFY(exchange(board, hex("1b40"), 9 * Second).isEmpty());
    QCOMPARE(board.resetCount(), 1);
    QCOMPARE(board.effectiveConfiguration(), (std::pair<quint8, quint8>(0xD2, 0x80)));
    QCOMPARE(exchange(board, hex("1d5343"), 10 * Second).toHex(), QByteArray("d280"));
    QCOMPARE(exchange(board, hex("1b49"), 11 * Second), QByteArray("PRN              FW 4.12"));

    // Back to resistors mode and automatic identity: the straps and a derived name.
    exchange(board, hex("1d53460600"), 12 * Second);
    exchange(board, hex("1d53460900"), 13 * Second);
    exchange(board, hex("1b40"), 14 * Second);
    QVERIFY(!board.isUserMode());
    QCOMPARE(exchange(board, hex("1d5343"), 15 * Second).toHex(), QByteArray("e160"));
    QCOMPARE(exchange(board, hex("1b49"), 16 * Second), QByteArray("TH576 1K5 STD    FW 4.12"));
}

void TestBoard::staysSilentWhileRestartingAndDropsPendingReplies()
{
    Board board;
    board.receive(hex("1b49"), 0);
    board.receive(hex("1b40"), 100); // the identity has not left yet
    QVERIFY(!board.hasPendingOutput());
    QVERIFY(!board.isReady(299'000));
    QVERIFY(exchange(board, hex("1b76"), 200'000).isEmpty());
    QVERIFY(exchange(board, hex("1b76"), 300'099).isEmpty());
    QVERIFY(board.isReady(300'100));
    QCOMPARE(exchange(board, hex("1b76"), 300'100).toHex(), QByteArray("04"));
}

void TestBoard::sleepsUntilANulWakesIt()
{
    Board board;
    // The program's sleep sequence: CAN, ESC "S", 10 ms, CAN.
    board.receive(hex("181b53"), 0);
    QVERIFY(board.isAsleep());
    QVERIFY(exchange(board, hex("18"), 10'000).isEmpty());
    QVERIFY(exchange(board, hex("1b76"), 20'000).isEmpty());
    QVERIFY(exchange(board, hex("1d53460701"), 30'000).isEmpty());
    QCOMPARE(board.parameter(7), quint8(0xF1)); // ignored while asleep
    QVERIFY(board.isAsleep());
    QVERIFY(exchange(board, hex("00"), 40'000).isEmpty());
    QVERIFY(!board.isAsleep());
    QCOMPARE(exchange(board, hex("181b76"), 50'000).toHex(), QByteArray("04"));
}

void TestBoard::aNulAtAnotherSpeedWakesItButNothingElseGetsThrough()
{
    Board board;
    board.receive(hex("1b53"), 0);
    board.receiveAtOtherSpeed(hex("1b7618"), 1'000);
    QVERIFY(board.isAsleep());
    board.receiveAtOtherSpeed(hex("00"), 2'000);
    QVERIFY(!board.isAsleep());
    board.receiveAtOtherSpeed(hex("1b76"), 3'000);
    QVERIFY(!board.hasPendingOutput());
}

void TestBoard::forgetsAHalfCommandThatStalls()
{
    Board board;
    board.receive(hex("1d53"), 0);
    QVERIFY(exchange(board, hex("6606"), Board::CommandTimeoutUs + 1).isEmpty());
    board.receive(hex("1d53"), 2 * Second);
    QCOMPARE(exchange(board, hex("6606"), 2 * Second + 1'000).toHex(), QByteArray("01"));
}

void TestBoard::faultsChangeTheReplies_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("stored7"); // parameter 7 afterwards

    enum { Silent, NoEcho, WrongEcho7, WrongEchoAll, ThreeBytes, FourBytes, Polarity };
    QTest::newRow("silent probe") << int(Silent) << hex("1b76") << QByteArray() << 0xF1;
    QTest::newRow("silent still stores") << int(Silent) << hex("1d53460712") << QByteArray() << 0x12;
    QTest::newRow("no echo stores") << int(NoEcho) << hex("1d53460712") << QByteArray() << 0x12;
    QTest::newRow("no echo still answers reads") << int(NoEcho) << hex("1d536607") << hex("f1") << 0xF1;
    QTest::newRow("wrong echo at its address") << int(WrongEcho7) << hex("1d53460712") << hex("13") << 0x13;
    QTest::newRow("right echo elsewhere") << int(WrongEcho7) << hex("1d53460812") << hex("12") << 0xF1;
    QTest::newRow("wrong echo everywhere") << int(WrongEchoAll) << hex("1d53460900") << hex("01") << 0xF1;
    QTest::newRow("three-byte configuration") << int(ThreeBytes) << hex("1d5343") << hex("43f140") << 0xF1;
    QTest::newRow("four-byte configuration") << int(FourBytes) << hex("1d5343") << hex("5343f140") << 0xF1;
    QTest::newRow("positive strobe detected") << int(Polarity) << hex("1d5368") << hex("00") << 0xF1;
}

void TestBoard::faultsChangeTheReplies()
{
    QFETCH(int, fault);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QFETCH(int, stored7);
    BoardOptions options;
    switch (fault) {
    case 0: options.faults.silent = true; break;
    case 1: options.faults.noEcho = true; break;
    case 2: options.faults.wrongEchoAddress = 7; break;
    case 3: options.faults.wrongEchoAddress = BoardFaults::EveryAddress; break;
    case 4: options.faults.threeByteConfiguration = true; break;
    case 5: options.fourByteConfiguration = true; break;
    case 6: options.strobePolarity = 0; break;
    }
    Board board(options);
    QCOMPARE(exchange(board, command).toHex(), reply.toHex());
    QCOMPARE(board.parameter(7), quint8(stored7));
}

void TestBoard::lateEchoComesAfterTheProgramsWait()
{
    BoardOptions options;
    options.faults.lateEcho = true;
    Board board(options);
    board.receive(hex("1d534607a5"), 0);
    QVERIFY(board.takeDue(500'000).isEmpty());
    QVERIFY(*board.nextOutputAtUs() > 500'000);
    QCOMPARE(board.takeDue(Second).toHex(), QByteArray("a5"));
    // Queries are not late.
    QCOMPARE(exchange(board, hex("1b76"), 2 * Second).toHex(), QByteArray("04"));
}

void TestBoard::endlessStreamNeverPauses()
{
    BoardOptions options;
    options.baud = 9600;
    options.faults.endlessStream = true;
    Board board(options);
    QVERIFY(!board.hasPendingOutput()); // quiet until spoken to
    board.receive(hex("1b76"), 0);
    const QByteArray first = board.takeDue(104'200);
    // 2 ms of latency, then one byte every 1042 us.
    QCOMPARE(first.size(), 98);
    QVERIFY(first.count('U') == first.size());
    QCOMPARE(board.nextOutputAtUs(), std::optional<qint64>(2'000 + 99 * 1042));
    QCOMPARE(board.takeDue(10 * Second, 100).size(), 100); // capped, the rest is lost
    QVERIFY(*board.nextOutputAtUs() > 10 * Second);
    // A restart stops it until the next command.
    board.receive(hex("1b40"), 11 * Second);
    board.takeDue(11 * Second);
    QVERIFY(!board.hasPendingOutput());
}

void TestBoard::hangsUpAfterTheGivenNumberOfBytes()
{
    BoardOptions options;
    options.faults.hangUpAfter = 3;
    Board board(options);
    QVERIFY(exchange(board, hex("1d534607a5")).isEmpty());
    QVERIFY(board.isHungUp());
    QCOMPARE(board.bytesReceived(), qint64(3));
    QCOMPARE(board.parameter(7), quint8(0xF1));
    QVERIFY(exchange(board, hex("1b76"), Second).isEmpty());
}

void TestBoard::parsesConfigurationCodes()
{
    QCOMPARE(Board::parseCode(QStringLiteral("1111000101000000")),
             (std::optional<std::pair<quint8, quint8>>(std::pair<quint8, quint8>(0xF1, 0x40))));
    QCOMPARE(Board::parseCode(QStringLiteral("0000000000000001")),
             (std::optional<std::pair<quint8, quint8>>(std::pair<quint8, quint8>(0x00, 0x01))));
    QVERIFY(!Board::parseCode(QStringLiteral("111100010100000")));
    QVERIFY(!Board::parseCode(QStringLiteral("11110001010000002")));
    QVERIFY(!Board::parseCode(QStringLiteral("111100010100000x")));
}

void TestBoard::logsTrafficBothWays()
{
    Board board;
    QStringList lines;
    board.setTrafficLog([&](Board::Direction direction, qint64 atUs, const QByteArray &bytes) {
        lines << QStringLiteral("%1 %2 %3")
                     .arg(direction == Board::Direction::In ? "in" : "out")
                     .arg(atUs)
                     .arg(QString::fromLatin1(bytes.toHex(' ')));
    });
    board.receive(hex("1b76"), 1'000);
    board.takeDue(10'000);
    QCOMPARE(lines, (QStringList{"in 1000 1b 76", "out 10000 04"}));
}

QTEST_GUILESS_MAIN(TestBoard)
#include "tst_board.moc"
