// Real time: the program's serial path (QSerialPort) to the board on a
// pseudo-terminal. Each case takes well under a second.

#include "boardsim/demoboard.h"
#include "boardsim/ptyrig.h"

#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace tessary;
using namespace tessary::sim;

namespace {
QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
} // namespace

class TestPtyBoard : public QObject {
    Q_OBJECT
private slots:
    void answersIdentityAndParameterWritesThroughTheSerialPort();
    void answersOnlyAtItsOwnSpeed_data();
    void answersOnlyAtItsOwnSpeed();
    void xonXoffLineSwallowsAFlowControlReply();
    void hangUpClosesTheProgramsPort();
    void programPrintsItsPathAndAnswersThere();
    void demoBoardAnswersOnItsPathAndGoesAwayWithIt();
};

void TestPtyBoard::answersIdentityAndParameterWritesThroughTheSerialPort()
{
    PtyRig rig;
    QVERIFY2(rig.isReady(), qPrintable(rig.errorString()));
    SerialLink &link = rig.link();
    QVERIFY2(link.openPort(1, QStringLiteral("115200"), HandshakeHardware), qPrintable(link.lastProblem()));
    link.sendString(hex("1b49"));
    link.delay(100);
    QCOMPARE(link.readReply(), QByteArray("TH432 1K5 STD    FW 4.12"));
    link.sendCharByChar(hex("1d534607d2"));
    QCOMPARE(link.getValue(), quint8(0xD2));
    link.sendString(hex("1d53661c"));
    QCOMPARE(link.readByte(), quint8(0x87));
    link.closePort();
    quint8 stored = 0;
    rig.board().withBoard([&](Board &board) { stored = board.parameter(7); });
    QCOMPARE(stored, quint8(0xD2));
}

void TestPtyBoard::answersOnlyAtItsOwnSpeed_data()
{
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QByteArray>("reply");
    // 28800 has no speed constant of its own on Linux: the board reads it all the same.
    QTest::newRow("its speed") << QStringLiteral("28800") << hex("04");
    QTest::newRow("another speed") << QStringLiteral("38400") << QByteArray();
}

void TestPtyBoard::answersOnlyAtItsOwnSpeed()
{
    QFETCH(QString, speed);
    QFETCH(QByteArray, reply);
    BoardOptions options;
    options.baud = 28800;
    PtyRig rig(options, 3);
    QVERIFY2(rig.isReady(), qPrintable(rig.errorString()));
    QVERIFY2(rig.link().openPort(3, speed, HandshakeNone), qPrintable(rig.link().lastProblem()));
    rig.link().sendString(hex("1b76"));
    rig.link().delay(100);
    QCOMPARE(rig.link().readWaiting().toHex(), reply.toHex());
}

void TestPtyBoard::xonXoffLineSwallowsAFlowControlReply()
{
    BoardOptions options;
    options.configuration1 = 0x11;
    PtyRig rig(options);
    QVERIFY2(rig.isReady(), qPrintable(rig.errorString()));
    SerialLink &link = rig.link();
    QVERIFY(link.openPort(1, QStringLiteral("115200"), HandshakeHardware));
    link.sendString(hex("1d536607"));
    QCOMPARE(link.readByte(), quint8(0x11));
    link.closePort();
    QVERIFY(link.openPort(1, QStringLiteral("115200"), HandshakeXonXoff));
    link.sendString(hex("1d536607"));
    QCOMPARE(link.bytesWaiting(), qint64(0));
    link.delay(100);
    QCOMPARE(link.bytesWaiting(), qint64(0));
    link.closePort();
}

void TestPtyBoard::hangUpClosesTheProgramsPort()
{
    BoardOptions options;
    options.faults.hangUpAfter = 3;
    PtyRig rig(options);
    QVERIFY2(rig.isReady(), qPrintable(rig.errorString()));
    SerialLink &link = rig.link();
    QVERIFY(link.openPort(1, QStringLiteral("115200"), HandshakeHardware));
    link.sendString(hex("1d534607a5"));
    QCOMPARE(link.getValue(), std::nullopt);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.line().isOpen(), 2000);
    QVERIFY(!rig.line().errorString().isEmpty());
    QVERIFY(!QFileInfo::exists(rig.devicePath()));
}

void TestPtyBoard::programPrintsItsPathAndAnswersThere()
{
    const QString program = qEnvironmentVariable("TESSARY_BIN_DIR") + QStringLiteral("/boardsim/tessary-boardsim");
    if (!QFileInfo::exists(program))
        QSKIP("the tessary-boardsim program is not built");
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, {QStringLiteral("--speed"), QStringLiteral("9600"), QStringLiteral("--handshake"),
                            QStringLiteral("xon"), QStringLiteral("--identity"), QStringLiteral("ACME 80")});
    QVERIFY(process.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), 5000);
    const QString path = QString::fromLocal8Bit(process.readLine()).trimmed();
    QVERIFY2(path.startsWith(QLatin1String("/dev/pts/")), qPrintable(path));

    QtSerialLine line(PortNames({{2, path}}, {}));
    EventLoopClock clock;
    SerialLink link(line, clock);
    QVERIFY2(link.openPort(2, QStringLiteral("9600"), HandshakeXonXoff), qPrintable(link.lastProblem()));
    link.sendString(hex("1b49"));
    link.delay(100);
    QCOMPARE(link.readReply(), QByteArray("ACME 80          FW 4.12"));
    link.sendString(hex("1d53661c"));
    QCOMPARE(link.readByte(), quint8(0x03));
    link.closePort();

    process.terminate();
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    // The traffic log names both directions in hex.
    const QString log = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(log.contains(QLatin1String(" in   1B 49  (9600 bauds, XON/XOFF)")), qPrintable(log));
    QVERIFY2(log.contains(QLatin1String(" out  41 43 4D 45 20 38 30 ")), qPrintable(log));
}

void TestPtyBoard::demoBoardAnswersOnItsPathAndGoesAwayWithIt()
{
    QString path;
    {
        DemoBoard demo;
        QVERIFY2(demo.isRunning(), qPrintable(demo.errorString()));
        path = demo.devicePath();
        QVERIFY(QFileInfo::exists(path));
        QtSerialLine line(PortNames({{1, path}}, {}));
        EventLoopClock clock;
        SerialLink link(line, clock);
        QVERIFY(link.openPort(1, QStringLiteral("115200"), HandshakeHardware));
        link.sendString(hex("1d5343"));
        QCOMPARE(link.readReply().toHex(), QByteArray("f140"));
        link.sendString(hex("1d5368"));
        QCOMPARE(link.readByte(), quint8(1));
        link.closePort();
    }
    QVERIFY(!QFileInfo::exists(path));
}

QTEST_GUILESS_MAIN(TestPtyBoard)
#include "tst_ptyboard.moc"
