#include "app/appstate.h"
#include "boardsim/simulatedline.h"
#include "detection/detector.h"
#include "scriptedprompts.h"
#include "serial/commandgate.h"
#include "serial/seriallink.h"
#include "serial/virtualclock.h"

#include <QTest>

#include <functional>

using namespace tessary;
using namespace tessary::sim;
using namespace tessary::test;

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

// Records what the window would show.
struct RecordingView : DetectionView {
    void setResultText(const QString &text) override
    {
        texts.append(text);
        if (onText)
            onText(text);
    }
    void selectSpeed(int index) override { speed = index; }
    void selectHandshake(int index) override { handshake = index; }
    void selectPort(int p) override { port = p; }
    void setBusy(bool b) override { busy.append(b); }
    void focusOk() override { ++okFocused; }

    [[nodiscard]] QStringList attempts() const
    {
        QStringList list;
        for (const QString &t : texts)
            if (t.startsWith(QLatin1String("Attempting")))
                list.append(t);
        return list;
    }

    QStringList texts;
    int speed = -1;
    int handshake = -1;
    int port = 0;
    QList<bool> busy;
    int okFocused = 0;
    std::function<void(const QString &)> onText;
};

// Counts the reports on the status line.
struct CountingStatus : StatusLine {
    void showStatus(const QString &t) override
    {
        text = t;
        ++count;
    }
    QString statusText() const override { return text; }
    QString text;
    int count = 0;
};

struct Rig {
    Rig() { line.setWakeups(false); }
    VirtualClock clock;
    SimulatedLine line{clock};
    CountingStatus status;
    SerialLink link{line, clock, &status};
    CommandGate gate{link};
    PrinterLink printer;
    ScriptedPrompts prompts;
    RecordingView view;
    Detector detector{link, printer, prompts, &view};
};

QStringList attemptsOn(int port, const QStringList &speeds)
{
    QStringList list;
    for (const QString &s : speeds)
        list.append(QStringLiteral("Attempting to contact printer on COM %1 at %2 bauds.").arg(port).arg(s));
    return list;
}

const QStringList AllSpeedsDown = {QStringLiteral("115200"), QStringLiteral("57600"), QStringLiteral("38400"),
                                   QStringLiteral("28800"),  QStringLiteral("19200"), QStringLiteral("9600"),
                                   QStringLiteral("4800"),   QStringLiteral("2400"),  QStringLiteral("1200")};

// A device that answers the probe ESC "v" with `reply` as long as `answers` allows.
std::shared_ptr<ScriptedDevice> probeAnswerer(QByteArray reply, std::function<bool(qint32 baud, int probeCount)> answers)
{
    auto count = std::make_shared<int>(0);
    return std::make_shared<ScriptedDevice>([=](const QByteArray &received, const LineSettings &settings) {
        if (received != hex("1b76"))
            return QByteArray();
        return answers(settings.baud, (*count)++) ? reply : QByteArray();
    });
}

} // namespace

class TestDetector : public QObject {
    Q_OBJECT

private slots:
    void settingsByteDecidesTheHandshake_data();
    void settingsByteDecidesTheHandshake();

    void scanWithoutAnyPortEndsAfterTheWakeupPause();
    void scanTriesOnlyTheExistingPortsFastestFirst();
    void scanFindsTheBoardOnCom3At9600();
    void scanSkipsADeviceWithoutTheBoardsProbeAnswer_data();
    void scanSkipsADeviceWithoutTheBoardsProbeAnswer();
    void boardAnsweringProbesButNotTheIdentityIsNotFound();
    void portThatCannotBeOpenedCountsAsSilentAndIsReportedOnce();
    void stopDuringTheScanEndsItWithThePortClosed();

    void probeSendsItsQueriesWithTheirWaits();
    void probeWithHardwareBoardSelectsDsrDtr();
    void probeShowsOnlyTheFirst16CharactersTrimmed();
    void manualDetectionRefusesMissingOrUnknownPort_data();
    void manualDetectionRefusesMissingOrUnknownPort();
    void wakeupSendsNulAt57600OnEveryExistingPort();
};

void TestDetector::settingsByteDecidesTheHandshake_data()
{
    QTest::addColumn<int>("settings"); // -1: no byte
    QTest::addColumn<QString>("speed");
    QTest::addColumn<int>("handshake");
    QTest::newRow("9600 code 3, bit 7 clear") << 0x03 << "9600" << 1;
    QTest::newRow("9600 code 3, bit 7 set") << 0x83 << "9600" << 2;
    QTest::newRow("9600 other code, bit 7 clear") << 0x04 << "9600" << 2;
    QTest::newRow("9600 other code, bit 7 set") << 0x84 << "9600" << 2;
    QTest::newRow("middle bits do not count") << 0x7B << "9600" << 1;
    QTest::newRow("28800 code 5") << 0x05 << "28800" << 1;
    QTest::newRow("38400 code 5") << 0x05 << "38400" << 1;
    QTest::newRow("38400 code 6") << 0x06 << "38400" << 2;
    QTest::newRow("38400 code 5, bit 7 set") << 0x85 << "38400" << 2;
    QTest::newRow("1200 code 0") << 0x00 << "1200" << 1;
    QTest::newRow("115200 code 7") << 0x07 << "115200" << 1;
    QTest::newRow("no settings byte") << -1 << "9600" << 2;
}

void TestDetector::settingsByteDecidesTheHandshake()
{
    QFETCH(int, settings);
    QFETCH(QString, speed);
    QFETCH(int, handshake);
    const std::optional<quint8> byte = settings < 0 ? std::nullopt : std::optional<quint8>(quint8(settings));
    QCOMPARE(handshakeFromSettings(byte, speed), handshake);
}

void TestDetector::scanWithoutAnyPortEndsAfterTheWakeupPause()
{
    Rig rig;
    rig.line.setExistingPorts({});
    rig.printer.printerFound = true;
    QCOMPARE(rig.detector.autodetect(), QStringLiteral("No printer found"));
    QCOMPARE(rig.clock.now(), 1000);
    QVERIFY(rig.line.opens().isEmpty());
    QVERIFY(!rig.printer.printerFound);
    QVERIFY(rig.printer.serialLink);
    QCOMPARE(rig.view.texts, QStringList{QStringLiteral("No printer found")});
    QCOMPARE(rig.view.busy.constFirst(), true);
    QCOMPARE(rig.view.busy.constLast(), false);
    QCOMPARE(rig.view.okFocused, 1);
}

void TestDetector::scanTriesOnlyTheExistingPortsFastestFirst()
{
    Rig rig;
    rig.line.setExistingPorts({1, 2});
    QCOMPARE(rig.detector.autodetect(), QStringLiteral("No printer found"));
    QCOMPARE(rig.view.attempts(), attemptsOn(1, AllSpeedsDown) + attemptsOn(2, AllSpeedsDown));
    QSet<int> opened;
    for (const auto &o : rig.line.opens()) {
        opened.insert(o.port);
        QCOMPARE(o.handshake, 0);
    }
    QCOMPARE(opened, (QSet<int>{1, 2}));
    // The wake-up pause, then 100 ms for each speed tried.
    QCOMPARE(rig.clock.now(), 1000 + 2 * 9 * 100);
    QCOMPARE(rig.line.closes().size(), rig.line.opens().size());
}

void TestDetector::scanFindsTheBoardOnCom3At9600()
{
    Rig rig;
    BoardOptions options;
    options.baud = 9600;
    options.handshake = BoardHandshake::XonXoff;
    options.identity = "PRINTER ONE";
    rig.line.attachBoard(3, options);

    const QString expected = QStringLiteral("PRINTER ONE found on COM 3 at 9600 bauds");
    QCOMPARE(rig.detector.autodetect(), expected);

    QCOMPARE(rig.view.attempts(), attemptsOn(1, AllSpeedsDown) + attemptsOn(2, AllSpeedsDown)
                                      + attemptsOn(3, AllSpeedsDown.mid(0, 6)));
    QCOMPARE(rig.view.texts.constLast(), expected);
    QCOMPARE(rig.view.port, 3);
    QCOMPARE(rig.view.speed, 3);
    QCOMPARE(rig.view.handshake, 0);
    QVERIFY(rig.printer.printerFound);
    QCOMPARE(rig.printer.comPort, 3);
    QCOMPARE(rig.printer.baudRate, QStringLiteral("9600"));
    QCOMPARE(rig.printer.handshake, 1);
    // Wake-up NUL, the probe at the five faster speeds, the double probe with
    // CAN between at 9600, then the identity, probe and settings queries.
    QCOMPARE(rig.line.writtenBytes(3), hex("00" "1b76" "1b76" "1b76" "1b76" "1b76" "1b76" "18" "1b76"
                                           "1b49" "1b76" "1d53661c" "18"));
    // The identity query runs with hardware handshake.
    QCOMPARE(rig.line.opens().constLast().handshake, 2);
    QVERIFY(!rig.line.isOpen());
    QCOMPARE(rig.line.closes().size(), rig.line.opens().size());
}

void TestDetector::scanSkipsADeviceWithoutTheBoardsProbeAnswer_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("firstProbeOnly");
    QTest::addColumn<QByteArray>("written");
    // Two probes with CAN between at 115200, then one probe at each other speed.
    QTest::newRow("answers the first probe only")
        << hex("04") << true << hex("00" "1b76" "18" "1b76") + hex("1b76").repeated(8);
    QTest::newRow("answers with two bytes") << hex("0404") << false << hex("00") + hex("1b76").repeated(9);
}

void TestDetector::scanSkipsADeviceWithoutTheBoardsProbeAnswer()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, firstProbeOnly);
    QFETCH(QByteArray, written);
    Rig rig;
    rig.line.setExistingPorts({1});
    rig.line.attachDevice(1, probeAnswerer(reply, [=](qint32, int count) { return !firstProbeOnly || count == 0; }));
    QCOMPARE(rig.detector.autodetect(), QStringLiteral("No printer found"));
    QCOMPARE(rig.view.attempts(), attemptsOn(1, AllSpeedsDown));
    QCOMPARE(rig.line.writtenBytes(1), written);
    QVERIFY(!rig.printer.printerFound);
}

void TestDetector::boardAnsweringProbesButNotTheIdentityIsNotFound()
{
    Rig rig;
    rig.line.setExistingPorts({3});
    rig.line.attachDevice(3, probeAnswerer(hex("04"), [](qint32 baud, int) { return baud == 9600; }));
    QCOMPARE(rig.detector.autodetect(), QStringLiteral("No printer found on COM 3 at 9600 bauds"));
    QCOMPARE(rig.view.port, 3);
    QCOMPARE(rig.view.speed, 3);
    QVERIFY(!rig.printer.printerFound);
    QCOMPARE(rig.line.writtenBytes(3).right(2), hex("1b49"));
}

void TestDetector::portThatCannotBeOpenedCountsAsSilentAndIsReportedOnce()
{
    Rig rig;
    rig.line.setExistingPorts({2});
    rig.line.failOpen(2, QStringLiteral("COM2 is in use by another program"));
    QCOMPARE(rig.detector.autodetect(), QStringLiteral("No printer found"));
    QCOMPARE(rig.view.attempts(), attemptsOn(2, AllSpeedsDown));
    QCOMPARE(rig.status.count, 1);
    QCOMPARE(rig.status.text, QStringLiteral("COM2 is in use by another program"));
    QVERIFY(!rig.line.isOpen());

    // The manual probe on it reads as silence too.
    QCOMPARE(rig.detector.probePort(2, QStringLiteral("9600"), 1),
             QStringLiteral("No printer found on COM 2 at 9600 bauds"));
    QVERIFY(!rig.printer.printerFound);
}

void TestDetector::stopDuringTheScanEndsItWithThePortClosed()
{
    Rig rig;
    rig.line.attachBoard(3, {});
    rig.view.onText = [&](const QString &text) {
        if (text.contains(QLatin1String("COM 2 at 28800")))
            rig.gate.requestStop();
    };
    const bool completed = rig.gate.run([&] { rig.detector.autodetect(); });
    QVERIFY(!completed);
    QVERIFY(!rig.gate.isBusy());
    QVERIFY(!rig.line.isOpen());
    QCOMPARE(rig.line.closes().size(), rig.line.opens().size());
    QVERIFY(rig.view.attempts().constLast().contains(QLatin1String("COM 2 at 28800")));
    QCOMPARE(rig.view.busy.constLast(), false);
    QCOMPARE(rig.line.writtenBytes(3), hex("00")); // the wake-up only
    QVERIFY(!rig.printer.printerFound);
}

void TestDetector::probeSendsItsQueriesWithTheirWaits()
{
    Rig rig;
    BoardOptions options;
    options.baud = 19200;
    options.handshake = BoardHandshake::XonXoff;
    rig.line.attachBoard(3, options);
    const QString text = rig.detector.probePort(3, QStringLiteral("19200"), 0);
    QVERIFY(text.endsWith(QLatin1String(" found on COM 3 at 19200 bauds")));

    const auto &opens = rig.line.opens();
    QCOMPARE(opens.size(), 1);
    QCOMPARE(opens.at(0).baud, 19200);
    QCOMPARE(opens.at(0).handshake, 1);
    const auto &w = rig.line.writes();
    QCOMPARE(w.size(), 4);
    QCOMPARE(w.at(0).bytes, hex("1b49"));
    QCOMPARE(w.at(1).bytes, hex("1b76"));
    QCOMPARE(w.at(2).bytes, hex("1d53661c"));
    QCOMPARE(w.at(3).bytes, hex("18"));
    QCOMPARE(w.at(0).at, opens.at(0).at); // no settle pause in the detection
    QCOMPARE(w.at(1).at - w.at(0).at, 250);
    QCOMPARE(w.at(2).at - w.at(1).at, 100);
    QCOMPARE(w.at(3).at - w.at(2).at, 100);
    QCOMPARE(rig.line.closes().constLast().at, w.at(3).at);
    QCOMPARE(rig.printer.handshake, 1);
    QCOMPARE(rig.view.handshake, 0);
    QCOMPARE(rig.printer.comPort, 3);
    QCOMPARE(rig.printer.baudRate, QStringLiteral("19200"));
}

void TestDetector::probeWithHardwareBoardSelectsDsrDtr()
{
    Rig rig;
    BoardOptions options;
    options.baud = 38400;
    options.handshake = BoardHandshake::Hardware;
    rig.line.attachBoard(5, options);
    rig.view.handshake = 0;
    QVERIFY(rig.detector.probePort(5, QStringLiteral("38400"), 0).endsWith(QLatin1String("COM 5 at 38400 bauds")));
    QCOMPARE(rig.printer.handshake, 2);
    QCOMPARE(rig.view.handshake, 1);
    QVERIFY(rig.printer.printerFound);
}

void TestDetector::probeShowsOnlyTheFirst16CharactersTrimmed()
{
    Rig rig;
    rig.line.attachDevice(4, std::make_shared<ScriptedDevice>([](const QByteArray &received, const LineSettings &) {
        return received == hex("1b49") ? QByteArray("   Twelve chars  0123456789") : QByteArray();
    }));
    QCOMPARE(rig.detector.probePort(4, QStringLiteral("4800"), 1),
             QStringLiteral("Twelve chars found on COM 4 at 4800 bauds"));
    // No settings byte: hardware handshake.
    QCOMPARE(rig.printer.handshake, 2);
}

void TestDetector::manualDetectionRefusesMissingOrUnknownPort_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("message");
    QTest::newRow("none selected") << 0 << "You must select a serial port";
    QTest::newRow("not on this machine") << 4 << "This port does not exist";
}

void TestDetector::manualDetectionRefusesMissingOrUnknownPort()
{
    QFETCH(int, port);
    QFETCH(QString, message);
    Rig rig;
    rig.line.setExistingPorts({1, 2});
    rig.printer.printerFound = true;
    rig.detector.detectSerialPrinter(port, QStringLiteral("9600"), 1);
    QCOMPARE(rig.prompts.texts(), QStringList{message});
    QCOMPARE(rig.prompts.shown.constFirst().icon, MessageIcon::Error);
    QCOMPARE(rig.prompts.shown.constFirst().buttons, MessageButtons::Ok);
    QVERIFY(rig.line.opens().isEmpty());
    QVERIFY(rig.view.busy.isEmpty());
    QVERIFY(rig.printer.serialLink);
    QVERIFY(rig.printer.printerFound); // nothing else changes
}

void TestDetector::wakeupSendsNulAt57600OnEveryExistingPort()
{
    Rig rig;
    rig.line.setExistingPorts({2, 5, 6});
    wakeupPrinter(rig.link);
    QCOMPARE(rig.line.opens().size(), 3);
    int i = 0;
    for (int port : {2, 5, 6}) {
        const auto &o = rig.line.opens().at(i);
        QCOMPARE(o.port, port);
        QCOMPARE(o.baud, 57600);
        QCOMPARE(o.handshake, 0);
        QCOMPARE(rig.line.writes().at(i).bytes, hex("00"));
        ++i;
    }
    QCOMPARE(rig.clock.now(), 1000);
    QVERIFY(!rig.line.isOpen());
}

QTEST_GUILESS_MAIN(TestDetector)
#include "tst_detector.moc"
