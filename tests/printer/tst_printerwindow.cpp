// The printer commands as the user meets them: the main window in process over
// the simulated board on the virtual clock, checked by the bytes on the wire,
// the texts shown, the buttons' states and the traffic monitor's lines.
#include "detection/portselection.h"
#include "files.h"
#include "serial/trafficmonitorwindow.h"
#include "windowrig.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTest>
#include <QtMath>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tessary;
using namespace tessary::sim;
using namespace tessary::test;

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

template <typename T = QWidget> T *in(QObject *w, const QString &name) { return w->findChild<T *>(name); }

// "3/9600/1" for each of the last n openings.
QString lastOpens(const SimulatedLine &line, int n)
{
    QStringList list;
    for (const auto &o : line.opens().mid(qMax<qsizetype>(0, line.opens().size() - n)))
        list << QStringLiteral("%1/%2/%3").arg(o.port).arg(o.baud).arg(o.handshake);
    return list.join(u' ');
}

const QString NoPrinter = "No chipset found|No chipset found, please|Perform a chipset detection|+-----";

// The port selection window's chosen port, speed and handshake.
QString selection(PortSelection &d)
{
    QString port = QStringLiteral("none");
    for (QRadioButton *option : d.findChildren<QRadioButton *>())
        port = option->isChecked() ? option->objectName() : port;
    return port + u' ' + in<QComboBox>(&d, "serialspeed")->currentText() + u' '
         + in<QComboBox>(&d, "serialhandshakeconf")->currentText();
}

// Communication > Traffic monitor, and the lines it shows.
TrafficMonitorWindow *openMonitor(WindowRig &rig)
{
    rig.click("TrafficMonitor");
    return rig.window->findChild<TrafficMonitorWindow *>();
}
QStringList monitorLines(TrafficMonitorWindow *monitor)
{
    QCoreApplication::processEvents();
    return monitor->text().split(u'\n');
}

const QString ProgrammingError = QStringLiteral("N Programming error ! Please check cables and power.");
const QString PolarityQuestion = "W? Hardware detected polarity doesn't match user choice !  Program anyway ?";

enum Device { Nothing, Board3At9600, ProbesButNoIdentity, Busy2 };
enum Setup { Ready, OtherPolarityCancel, SilentBoard, WrongEcho7, SilentAfterReset, HangUpAfterReset };
// After the detection, what answers "Check configuration": the board, or a device answering only some queries.
enum Answering { TheBoard, AllButTheModes, TheIdentityOnly };

// Every option button of the window, on (*) or greyed (-), and the name field as shown.
QString editorControls(const WindowRig &rig)
{
    QString states;
    for (const QRadioButton *b : rig.window->findChildren<QRadioButton *>())
        states += b->objectName() + (b->isChecked() ? "* " : " ") + (b->isEnabled() ? "" : "- ");
    return states + rig.text("ConfigName") + (rig.isEnabled("ConfigName") ? "" : "-");
}

// A scan: the ports that exist, the device on them, the speeds tried on COM1, COM2..., fastest first; the window's
// text and choices and the time it took, the bytes to the device's port, the last two openings (the scan's, the
// main window's), the main window's printer column.
struct Scan {
    QList<int> ports;
    Device device;
    QList<int> tried;
    QString result;
    QByteArray wire;
    QString opens, after;
};

// A detection on one port at one speed with the handshake chosen in the window (0 Xon-Xoff, 1 DSR/DTR Mode),
// against a device whose communication settings byte is `settings` (-1 none) and whose identity reply is
// `identity`: the window's result, and the handshake decided (1 Xon-Xoff, 2 DSR/DTR Mode; 0 no printer).
struct Detection {
    int port;
    QString speed;
    int chosen, settings;
    QByteArray identity;
    QString result;
    int handshake;
};

// A run of "Configure printer": the code applied to the editor, then the options clicked and the name set; how
// the board is set; then the bytes on the wire, the messages, the identity shown and the status line ("" the
// line before, or what the question had it say).
struct Configure {
    QString code, clicks, name;
    Setup setup;
    QByteArray wire;
    QStringList messages;
    QString identity, status;
};

} // namespace

Q_DECLARE_METATYPE(Scan)
Q_DECLARE_METATYPE(Detection)
Q_DECLARE_METATYPE(Configure)

class TestPrinterWindow : public QObject {
    Q_OBJECT

private slots:
    void portSelectionOpensWithoutAFindingAndRefusesADetectionWithoutAPort()
    {
        WindowRig rig;
        rig.line.setExistingPorts({1, 2});
        rig.state.link = {true, 1, QStringLiteral("115200"), HandshakeHardware, true}; // an earlier finding
        rig.line.failOpen(2, QStringLiteral("COM2 is in use by another program."));
        rig.checkIdentity([&](PortSelection &d) {
            QVERIFY(!rig.isEnabled("GetID")); // (how it opens: tst_shell's everyWindowReadsAsWritten)
            in<QPushButton>(&d, "DetectSerialPrinter")->click();
            QCOMPARE(rig.prompts.described(), QStringList{"E You must select a serial port"});
            d.selectPort(2);
            in<QPushButton>(&d, "DetectSerialPrinter")->click();
            QCOMPARE(in<QLabel>(&d, "DetectedPrinter")->text(), "No printer found on COM 2 at 9600 bauds");
            // Only the detection that touched a port is in the traffic record (tried, then tried again to report it).
            const QString notOpened = "COM2            not opened at 9600 bauds, hardware handshake: COM2 is in use by another program.";
            QCOMPARE(rig.record.lines(), (QStringList{"---- Detect Chipset ---- 2026-03-02 14:05:00.000 +01:00", notOpened, notOpened}));
            // The program's message about COM2 goes once a later command opens COM2, unless another text has
            // taken its place; opening another port leaves it.
            const QString busy = "COM2 is in use by another program.";
            const struct { bool opens; int port; QString before, after; } steps[] = {
                {false, 1, "", busy}, {true, 2, "other", "other"}, {false, 2, "", busy}, {true, 2, "", ""}};
            for (const auto &step : steps) {
                rig.line.failOpen(2, step.opens ? QString() : busy);
                if (!step.before.isEmpty())
                    rig.window->showStatus(step.before);
                d.selectPort(step.port);
                d.detectSerialPrinter();
                QCOMPARE(rig.status(), step.after);
            }
        });
        QCOMPARE(rig.printerColumn(), NoPrinter); // the earlier finding forgotten
    }

    // The options name their devices ("COM 3 (pts/4)" also for a link to it) and follow adapters that
    // come and go at once while the window is open (the list's word, even during a scan's wait); nothing
    // watches once it is closed, and the main window's next command finds the printer's adapter where it
    // was or says that it is gone.
    void portOptionsNameAndFollowTheirDevices()
    {
        WindowRig demo(WindowRig::emptyDatabase(), true);
        demo.checkIdentity([](PortSelection &d) { QCOMPARE(in<QRadioButton>(&d, "COM1")->text(), "COM 1 (demo board)"); });

        const int master = posix_openpt(O_RDWR | O_NOCTTY); // as the board simulator makes one
        QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        const auto closeMaster = qScopeGuard([master] { ::close(master); });
        WindowRig rig;
        QVERIFY(QFile::link(QString::fromLocal8Bit(ptsname(master)), rig.folder.filePath("board")));
        rig.board(2);
        const SerialPortInfo usb{"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A1", quint16(0x0403), quint16(0x6001), {}};
        rig.ports.setDevices({"/dev/ttyS0"});
        rig.followPorts({{3, rig.folder.filePath("board")}}); // --port COM3=<a link to a pseudo-terminal>
        const QString com3 = QStringLiteral("COM 3 (pts/%1)").arg(QString::fromLocal8Bit(ptsname(master)).section(u'/', -1));
        const auto options = [](PortSelection &d) {
            QStringList texts;
            for (const char *name : {"COM1", "COM2", "COM3", "COM4"})
                texts << in<QRadioButton>(&d, name)->text() + (in(&d, name)->isEnabled() ? "" : " (off)")
                             + (in<QRadioButton>(&d, name)->isChecked() ? " (chosen)" : "");
            return texts.join(", ");
        };
        rig.checkIdentity([&](PortSelection &d) {
            QCOMPARE(options(d), "COM 1 (ttyS0), COM 2 (off), " + com3 + ", COM 4 (off)");
            d.selectPort(1);
            rig.ports.plug(usb); // the chosen one stays chosen
            QCOMPARE(options(d), "COM 1 (ttyS0) (chosen), COM 2 (ttyUSB0), " + com3 + ", COM 4 (off)");
            d.selectPort(2);
            rig.ports.unplug(usb.device); // the chosen one goes
            QCOMPARE(options(d), "COM 1 (ttyS0), COM 2 (off), " + com3 + ", COM 4 (off)");
            rig.ports.plug(usb);
            d.selectPort(2);
            rig.ports.unplug(usb.device, false); // between two looks: the detection finds it gone
            in<QPushButton>(&d, "DetectSerialPrinter")->click();
            QCOMPARE(rig.prompts.described(), QStringList{"E This port does not exist"});
            QCOMPARE(options(d), "COM 1 (ttyS0), COM 2 (off), " + com3 + ", COM 4 (off)");
            // Back as another device while the scan tries COM1: shown at the same virtual millisecond,
            // in its slot, and scanned.
            qint64 plugged = -1, shown = -1;
            rig.clock.onWait = [&](int) {
                if (plugged < 0 && rig.clock.now() >= 500) {
                    plugged = rig.clock.now();
                    rig.ports.plug({"/dev/ttyUSB3", "FT232R USB UART", "FTDI", "A1", quint16(0x0403), quint16(0x6001), {}});
                }
                if (shown < 0 && in(&d, "COM2")->isEnabled())
                    shown = rig.clock.now();
            };
            d.autodetect();
            rig.clock.onWait = {};
            QVERIFY(plugged >= 500 && shown == plugged);
            QCOMPARE(options(d), "COM 1 (ttyS0), COM 2 (ttyUSB3) (chosen), " + com3 + ", COM 4 (off)");
            QCOMPARE(in<QLabel>(&d, "DetectedPrinter")->text(), "TH432 1K5 STD found on COM 2 at 115200 bauds");
            QCOMPARE(rig.ports.watchers(), 1);
        });
        QCOMPARE(rig.ports.watchers(), 0); // nothing watches while the window is closed
        openMonitor(rig);
        rig.record.clear(); // the record keeps the detection's lines: only what follows counts here
        rig.ports.unplug("/dev/ttyUSB3");
        rig.clearWire();
        rig.click("Reset Reset");
        QCOMPARE(rig.status(), "The adapter of COM2 (ttyUSB3) is gone: plug it back in or run a detection");
        rig.ports.plug(usb); // back as ttyUSB0: COM2 again, where the printer was found
        rig.click("Reset");
        QCOMPARE(rig.wire(), hex("1b40"));
        const QStringList lines = monitorLines(rig.window->findChild<TrafficMonitorWindow *>());
        QCOMPARE(lines.filter(QRegularExpression("^(----|COM2: )")),
                 (QStringList{"COM2: ttyUSB3 unplugged", "---- Reset ---- 2026-03-02 14:05:03.309 +01:00",
                              "---- Reset ---- 2026-03-02 14:05:03.309 +01:00", "COM2: ttyUSB0 plugged in",
                              "---- Reset ---- 2026-03-02 14:05:03.309 +01:00"})); // two failed at once
    }

    void scan_data()
    {
        QTest::addColumn<Scan>("scan");
        // A close right after a write waits for its bytes to leave and 2 ms: 3 ms after a wake-up NUL.
        const QString none = QStringLiteral("No printer found; none 9600 DSR/DTR Mode; %1 ms");
        QTest::newRow("no port at all") << Scan{{}, Nothing, {}, none.arg(1000), {}, "", NoPrinter};
        QTest::newRow("nothing on COM1 and COM2") << Scan{{1, 2}, Nothing, {9, 9}, none.arg(2806), hex("00") + hex("1b76").repeated(9),
                                                          "2/2400/0 2/1200/0", NoPrinter};
        // The wake-up NUL, a probe at the five faster speeds, two with CAN between at 9600; the identity,
        // probe and settings queries with hardware handshake; the main window's identity query.
        QTest::newRow("a board on COM3 at 9600")
            << Scan{{1, 2, 3, 4, 5, 6}, Board3At9600, {9, 9, 6}, "PRINTER ONE found on COM 3 at 9600 bauds; COM3 9600 Xon-Xoff; 4072 ms",
                    hex("00 1b76 1b76 1b76 1b76 1b76 1b76 18 1b76 1b49 1b76 1d53661c 18 1b49"), "3/9600/2 3/9600/1",
                    "PRINTER ONE      FW 4.12|Port: COM3|Baudrate: 9600|++++++"};
        // (A device answering the first probe only, or with two bytes, is no board either: tst_cli's scan table;
        // an identity that is no text fails the same probe: see manualDetection.)
        QTest::newRow("a device answering the probes but not the identity query")
            << Scan{{3}, ProbesButNoIdentity, {0, 0, 6}, "No printer found on COM 3 at 9600 bauds; COM3 9600 DSR/DTR Mode; 2053 ms",
                    hex("00 1b76 1b76 1b76 1b76 1b76 1b76 18 1b76 1b49"), "3/9600/0 3/9600/2", NoPrinter};
        QTest::newRow("a port held by another program") << Scan{{2}, Busy2, {}, none.arg(1000), {}, "", NoPrinter};
    }

    void scan()
    {
        QFETCH(Scan, scan);
        const auto &[ports, device, tried, result, wire, opens, after] = scan;
        WindowRig rig;
        rig.line.setExistingPorts(QSet<int>(ports.cbegin(), ports.cend()));
        if (device == Board3At9600)
            rig.board(3, {.baud = 9600, .handshake = BoardHandshake::XonXoff, .identity = "PRINTER ONE"});
        if (device == ProbesButNoIdentity)
            rig.line.attachDevice(3, std::make_shared<ScriptedDevice>([](const QByteArray &in, const LineSettings &s) {
                return in == hex("1b76") && s.baud == 9600 ? hex("04") : QByteArray();
            }));
        if (device == Busy2)
            rig.line.failOpen(2, QStringLiteral("COM2 is in use by another program."));
        RecordingStatusLine status; // said once, not at every speed
        rig.link.setStatusLine(&status);
        QStringList seen; // the result label at each wait, as the window repaints
        bool busy = true;
        rig.clock.onWait = [&](int) {
            if (auto *d = rig.window->findChild<PortSelection *>()) {
                if (const QString text = in<QLabel>(d, "DetectedPrinter")->text(); seen.value(seen.size() - 1) != text)
                    seen << text;
                busy = busy && d->cursor().shape() == Qt::WaitCursor && !in(d, "Autodetect")->isEnabled()
                    && !in(d, "DetectSerialPrinter")->isEnabled() && !in(d, "OKButton")->isEnabled();
            }
        };
        rig.checkIdentity([&](PortSelection &d) {
            in<QPushButton>(&d, "Autodetect")->click();
            QCOMPARE(QStringLiteral("%1; %2; %3 ms").arg(in<QLabel>(&d, "DetectedPrinter")->text(), selection(d))
                         .arg(rig.clock.now()), result);
            QVERIFY(in(&d, "Autodetect")->isEnabled() && in(&d, "DetectSerialPrinter")->isEnabled()
                    && d.cursor().shape() == Qt::ArrowCursor);
            QCOMPARE(d.focusWidget(), in(&d, "OKButton"));
            QTest::keyClick(&d, Qt::Key_Escape); // closes it, keeping what was found
            QVERIFY(!d.isVisible());
        });
        QVERIFY(busy);
        QStringList attempts = {QStringLiteral("No printer found yet, please start detection.")};
        const QStringList speeds = {"115200", "57600", "38400", "28800", "19200", "9600", "4800", "2400", "1200"};
        for (int port = 1; port <= tried.size(); ++port)
            for (int s = 0; s < tried.at(port - 1); ++s)
                attempts << QStringLiteral("Attempting to contact printer on COM %1 at %2 bauds.").arg(port).arg(speeds[s]);
        QCOMPARE(seen, attempts);
        QCOMPARE(rig.line.writtenBytes(device == Busy2 ? 2 : device == Board3At9600 || device >= ProbesButNoIdentity ? 3 : 1), wire);
        QCOMPARE(lastOpens(rig.line, 2), opens);
        QCOMPARE(status.shown, device == Busy2 ? QStringList{"COM2 is in use by another program."} : QStringList());
        QCOMPARE(rig.printerColumn(), after);
        QCOMPARE(rig.window->focusWidget(), rig.find<QWidget>(device == Board3At9600 ? "GetSettings" : "GetID"));
    }

    void manualDetection_data()
    {
        QTest::addColumn<Detection>("detection");
        const QByteArray unit = "DESK UNIT";
        const QString found = QStringLiteral("DESK UNIT found on COM %1 at %2 bauds"), none = "No printer found on COM 2 at 9600 bauds";
        // Bits 0-2 the speed's code and bit 7 clear: XON/XOFF. 28800 and 38400 share code 5. On COM1 and COM6.
        const QList<QPair<const char *, int>> codes = {{"1200", 0},  {"2400", 1},  {"4800", 2},  {"9600", 3}, {"19200", 4},
                                                       {"28800", 5}, {"38400", 5}, {"57600", 6}, {"115200", 7}};
        for (const auto &[speed, code] : codes)
            QTest::addRow("%s, its code %d", speed, code)
                << Detection{code % 2 * 5 + 1, speed, code % 2, code, unit, found.arg(code % 2 * 5 + 1).arg(speed), 1};
        QTest::newRow("bit 7 set") << Detection{2, "9600", 1, 0x83, unit, found.arg(2).arg(9600), 2};
        QTest::newRow("38400, code 6") << Detection{2, "38400", 0, 0x06, unit, found.arg(2).arg(38400), 2};
        QTest::newRow("bits 3-6 do not count") << Detection{2, "9600", 1, 0x7B, unit, found.arg(2).arg(9600), 1};
        QTest::newRow("no settings byte") << Detection{2, "4800", 1, -1, unit, found.arg(2).arg(4800), 2};
        QTest::newRow("the first 16 characters, trimmed, of more than one read")
            << Detection{2, "9600", 1, 0x03, QByteArray("   Twelve chars  0123456789").append(100, '7'),
                         "Twelve chars found on COM 2 at 9600 bauds", 1};
        QTest::newRow("shown as plain text, Latin-1 letters too")
            << Detection{2, "9600", 1, -1, "<b>X</b> \xa0\xff!abcd\r\nY\x07\x7f\x85",
                         "<b>X</b> \u00A0\u00FF!abcd found on COM 2 at 9600 bauds", 2};
        QTest::newRow("no identity reply") << Detection{2, "9600", 1, 0x03, {}, none, 0};
        // An identity is text: within its first 16 characters, blanks trimmed, none below 20, 7F to 9F none.
        QTest::newRow("blanks only") << Detection{2, "9600", 1, 0x03, QByteArray(16, ' ') + " FW 4.12", none, 0};
        for (const char *bytes : {"41 42 1b 43", "41 7f", "e2 8d", "9f"})
            QTest::addRow("not text: %s", bytes) << Detection{2, "9600", 1, 0x03, QByteArray::fromHex(bytes), none, 0};
        // (A board answering other speeds with noise: tst_cli's scan table and its detection at one speed.)
    }

    void manualDetection()
    {
        QFETCH(Detection, detection);
        const auto &[port, speed, chosen, settings, identity, result, handshake] = detection;
        // The tooltips name what each handshake uses.
        const QStringList tips = {"Software flow control: XON and XOFF characters",
                                  "Hardware flow control: the RTS and CTS lines"};
        WindowRig rig;
        rig.line.attachDevice(port, std::make_shared<ScriptedDevice>([=](const QByteArray &in, const LineSettings &) {
            if (in == hex("1b49") || in == hex("1b76"))
                return in == hex("1b49") ? identity : hex("04");
            return in == hex("1d53661c") && settings >= 0 ? QByteArray(1, char(settings)) : QByteArray();
        }));
        rig.checkIdentity([&](PortSelection &d) {
            in<QRadioButton>(&d, QStringLiteral("COM%1").arg(port))->click();
            in<QComboBox>(&d, "serialspeed")->setCurrentText(speed);
            in<QComboBox>(&d, "serialhandshakeconf")->setCurrentIndex(chosen);
            in<QPushButton>(&d, "DetectSerialPrinter")->click();
            QCOMPARE(in<QLabel>(&d, "DetectedPrinter")->text(), result);
            QCOMPARE(in<QLabel>(&d, "DetectedPrinter")->textFormat(), Qt::PlainText);
            QCOMPARE(in<QComboBox>(&d, "serialhandshakeconf")->currentIndex(), handshake ? handshake - 1 : chosen);
            // The captions stay; each handshake's tooltip, the list's own its current one's.
            auto *handshakes = in<QComboBox>(&d, "serialhandshakeconf");
            QCOMPARE(QStringList({handshakes->itemData(0, Qt::ToolTipRole).toString(),
                                  handshakes->itemData(1, Qt::ToolTipRole).toString()}), tips);
            QCOMPARE(handshakes->toolTip(), tips.at(handshakes->currentIndex()));
            QCOMPARE(d.focusWidget() == in(&d, "OKButton"), handshake != 0); // found: OK is next
        });
        // The probe, with the handshake chosen: no settle pause, 250 ms for the identity, 100 ms for each query
        // after; the close waits for the CAN's 10 bits on the line and 2 ms.
        const auto &open = rig.line.opens().constFirst();
        QStringList steps{QString::number(open.handshake)};
        for (const auto &w : rig.line.writes().mid(0, handshake ? 4 : 1))
            steps << QStringLiteral("%1 %2").arg(w.at - open.at).arg(QString::fromLatin1(w.bytes.toHex()));
        steps << QStringLiteral("closed %1").arg(rig.line.closes().constFirst().at - open.at);
        QCOMPARE(steps.join(QLatin1String(", ")), QString::number(chosen + 1) + (handshake
                     ? QStringLiteral(", 0 1b49, 250 1b76, 350 1d53661c, 450 18, closed %1").arg(450 + qCeil(10e3 / speed.toInt() + 2))
                     : QStringLiteral(", 0 1b49, closed 250")));
        // A reply that is no identity is named in the traffic record.
        QCOMPARE(rig.record.lines().filter(QStringLiteral("   250 ms  not a board: the identity reply is not text")).size(),
                 !handshake && !identity.isEmpty() ? 1 : 0);
        if (handshake) { // the main window asks for the identity again, and shows it whole
            const QString whole = identity.contains('<') ? "<b>X</b> \u00A0\u00FF!abcd\uFFFD\uFFFDY\uFFFD\uFFFD\uFFFD"
                                                         : QString::fromLatin1(identity);
            QCOMPARE(rig.printerColumn(), QStringLiteral("%1|Port: COM%2|Baudrate: %3|++++++").arg(whole).arg(port).arg(speed));
            QCOMPARE(rig.find<QLabel>("Identity")->textFormat(), Qt::PlainText);
            QCOMPARE(lastOpens(rig.line, 1), QStringLiteral("%1/%2/%3").arg(port).arg(speed).arg(handshake));
        } else {
            QCOMPARE(rig.printerColumn(), NoPrinter);
        }
        // The main window's "Communication" names the handshake the board was found with.
        QCOMPARE(rig.find<QWidget>("Frame14")->toolTip(), tips.value(handshake - 1));
    }

    void checkConfiguration()
    {
        // The board's options (its faults switched on once the board was found), what answers, the editor after (the
        // options on, the code (1110010000100000 before) and the name), the status line (over the factory list's
        // "default.cdb file error, default list created.") and the messages.
        const QStringList readError = {"E Error while reading printer parameters !"};
        const QString unchanged = QStringLiteral("default.cdb file error, default list created.");
        const QString read = QStringLiteral("Configuration read from COM3 at 115200 bauds: "), read04 = read + "Mechanism 04's configuration";
        const struct { const char *name; BoardOptions options; Answering answering; QString editor, status; QStringList messages; } cases[] = {
            {"user mode and identity", {.configuration1 = 0xD1, .configuration2 = 0x80, .identity = "MY PRINTER"}, TheBoard,
             "ConfUser IdUser 1101000110000000 MY PRINTER", read04, {}},
            {"a four-byte reply counts by its last two", {.configuration1 = 0xD1, .configuration2 = 0x80, .fourByteConfiguration = true},
             TheBoard, "ConfUser IdAuto 1101000110000000 TH864 1K5 KEL", read04, {}},
            {"resistors mode: the straps", {.userMode = false, .straps1 = 0xD1, .straps2 = 0x80, .identity = "STRAPS"}, TheBoard,
             "ConfRes IdUser 1101000110000000 STRAPS", read04, {}},
            {"a three-byte reply: the name still read", {.identity = "KEPT NAME", .faults = {.threeByteConfiguration = true}}, TheBoard,
             "ConfUser IdUser 1110010000100000 KEPT NAME", unchanged, readError},
            // Not one byte back: nothing is shown as read, the editor stays exactly as it was.
            {"a silent board", {.identity = "GONE", .faults = {.silent = true}}, TheBoard, "ConfRes IdUser 1110010000100000 BEFORE",
             unchanged, {"E The board did not answer on COM3 at 115200 bauds. Please check cables and power."}},
            // A board that answered something: a missing mode reply reads as 0, as it always has.
            {"silent to the mode queries only", {}, AllButTheModes, "ConfRes IdAuto 1101000110000000 KEPT NAME", read04, {}},
            {"answering the identity only", {}, TheIdentityOnly, "ConfRes IdAuto 1110010000100000 KEPT NAME", unchanged, readError},
            {"MRS after the name, blanks around it", {.configuration1 = 0x71, .identity = "  ABCDEFGHIJ"}, TheBoard,
             "ConfUser IdUser 1111000101000000 ABCDEFGHIJ", read + "matches no entry of the list", {}},
            {"MRS beyond 16 characters", {.identity = "ABCDEFGHIJKLMNOP", .firmware = "MRS"}, TheBoard,
             "ConfUser IdUser 1111000101000000 ABCDEFGHIJKLMNOP",
             read + "Mechanism 01's configuration and 3 more", {}}, // 01, 08, 26 and 28 of the factory list
        };
        for (auto [name, options, answering, editor, status, messages] : cases) {
            WindowRig rig(std::nullopt); // no default.cdb: the factory list
            const BoardFaults faults = std::exchange(options.faults, {});
            rig.found(3, options).setFaults(faults);
            if (answering != TheBoard)
                rig.line.attachDevice(3, std::make_shared<ScriptedDevice>([=](const QByteArray &in, const LineSettings &) {
                    if (in == hex("1d5343") && answering == AllButTheModes)
                        return hex("d180");
                    return in == hex("1b49") ? QByteArray("KEPT NAME        FW 4.12") : QByteArray();
                }));
            rig.window->editor().applyConfigurationCode(QStringLiteral("1110010000100000"));
            rig.click("ConfRes IdUser");
            rig.type("ConfigName", QStringLiteral("BEFORE"));
            const QString before = editorControls(rig);
            rig.clearWire();
            QString pointer; // at each wait: B the busy pointer, else A; an unusable reply gives the window back at once
            rig.clock.onWait = [&](int) { pointer += rig.window->cursor().shape() == Qt::WaitCursor ? u'B' : u'A'; };

            rig.click("GetSettings"); // (its four queries, in order: tst_cli's fault table)

            QCOMPARE(QStringList{name} + rig.prompts.described(), QStringList{name} + messages);
            const bool givenBackEarly = rig.prompts.described().value(0).startsWith("E Error") && answering == TheBoard;
            QVERIFY2(pointer.contains(QRegularExpression(givenBackEarly ? "^B+A+$" : "^B+$")), qPrintable(name + (u' ' + pointer)));
            QString shown = name + QStringLiteral(": ");
            for (const char *option : {"ConfRes", "ConfUser", "IdAuto", "IdUser"})
                shown += rig.isChecked(option) ? QLatin1String(option) + u' ' : QString();
            QCOMPARE(shown + rig.window->editor().buildConfigurationCode() + u' ' + rig.text("ConfigName") + " | " + rig.status(),
                     name + (": " + editor + " | " + status));
            QVERIFY2((editorControls(rig) == before) == faults.silent, name); // only a board that said nothing leaves it so
            QVERIFY2(rig.window->focusWidget() == rig.find<QWidget>("GetSettings"), name); // enabled again
            QVERIFY2(rig.window->cursor().shape() == Qt::ArrowCursor, name);
        }
    }

    void sleepWakeAndReset()
    {
        WindowRig rig;
        rig.found(3, {.baud = 19200}, {1, 3, 5});
        rig.clearWire();
        bool busy = true; // the busy pointer at every wait of each command
        rig.clock.onWait = [&](int) { busy = busy && rig.window->cursor().shape() == Qt::WaitCursor; };

        rig.click("SleepButton");
        const auto &w = rig.line.writes(); // those of the command that ran last
        QCOMPARE(rig.wire(), hex("18 1b53 18"));
        QVERIFY(w.at(2).at - w.at(1).at >= 10);
        QCOMPARE(rig.printerColumn(), QStringLiteral("TH432 1K5 STD    FW 4.12|Port: COM3|Baudrate: 19200|+--+--"));
        QCOMPARE(rig.status(), "Sleep sent to COM3"); // once its bytes left: tst_faults_window for the faults
        QCOMPARE(rig.window->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(rig.window->focusWidget(), rig.find<QWidget>("Wakeup"));
        rig.clearWire();

        // A NUL at 57600 bauds without handshake on every port, 1000 ms, then CAN to the printer (the bytes: tst_cli).
        rig.click("Wakeup");
        QCOMPARE(lastOpens(rig.line, 4), QStringLiteral("1/57600/0 3/57600/0 5/57600/0 3/19200/2"));
        QVERIFY(rig.line.opens().at(3).at - w.at(2).at >= 1000);
        QVERIFY(rig.printerColumn().endsWith(QLatin1String("|++++++")) && rig.window->cursor().shape() == Qt::ArrowCursor);
        QCOMPARE(rig.status(), "Wake-up sent to COM3");
        rig.clearWire();

        // The two bytes (tst_cli's fault table), and the port closed once they have had their 1.04 ms on the line, and 2 ms.
        rig.click("Reset");
        QCOMPARE(rig.line.closes().constLast().at - w.at(0).at, 4);
        QCOMPARE(rig.status(), "Reset sent to COM3");
        QVERIFY(busy && rig.window->cursor().shape() == Qt::ArrowCursor);
    }

    void configurePrinter_data()
    {
        QTest::addColumn<Configure>("run");
        const auto row = [](const char *name, const Configure &run) { QTest::newRow(name) << run; };
        const QString programmed = QStringLiteral("Configuration programmed on COM3 at 115200 bauds: %1 parameters, "
                                                  "each echoed by the board");
        const QString notEchoed = QStringLiteral("Configuration sent to COM3 at 115200 bauds: %1 parameters, %2 of them "
                                                 "not echoed as written");
        const char *const factory = "1111000101000000"; // Negative strobe, as the board detects
        const QString old = QStringLiteral("OLD NAME         FW 4.12");
        const QByteArray tail = hex("1b40 1b49");
        const QByteArray userAuto = hex("1d5368 1d53460601 1d534607f1 1d53460840 1d53460900") + tail;
        row("resistors, automatic identity", {factory, "ConfRes IdAuto", "", Ready, hex("1d53460600 1d53460900") + tail, {},
            "TH576 1K5 STD    FW 4.12", programmed.arg(2)});
        row("user mode, the factory code", {factory, "ConfUser IdAuto", "", Ready, userAuto, {}, "TH432 1K5 STD    FW 4.12",
            programmed.arg(4)});
        row("the other polarity, Cancel", {factory, "ConfUser IdUser", "NEW", OtherPolarityCancel, hex("1d5368"),
            {PolarityQuestion}, old, "Programming cancelled !"});
        // No answer to "Sh" reads as Positive; a missing echo is a failed one, for a written 0 too.
        row("a silent board, negative strobe", {factory, "ConfUser IdAuto", "", SilentBoard, userAuto,
            QStringList{PolarityQuestion} + QStringList(4, ProgrammingError), "", notEchoed.arg(4).arg(4)});
        row("a wrong echo: one message, the rest written; a Latin-1 name", {factory, "ConfUser IdUser", "Caf\u00e9!",
            WrongEcho7, hex("1d5368 1d53460601 1d534607f1 1d53460840 1d53460943 1d53460a61 1d53460b66 1d53460ce9 "
                            "1d53460d21 1d53460e00") + tail, {ProgrammingError}, "Caf\u00e9!            FW 4.12",
        notEchoed.arg(9).arg(1)});
        // The name field holds 16 characters (also when set as an assistive tool sets it): all of them go out.
        row("a name of 22 characters", {factory, "ConfRes IdUser", "ABCDEFGHIJKLMNOPQRSTUV", Ready,
            hex("1d53460600 1d53460941 1d53460a42 1d53460b43 1d53460c44 1d53460d45 1d53460e46 1d53460f47 1d53461048 "
                "1d53461149 1d5346124a 1d5346134b 1d5346144c 1d5346154d 1d5346164e 1d5346174f 1d53461850") + tail, {},
            "ABCDEFGHIJKLMNOP FW 4.12", programmed.arg(17)});
        row("no configuration mode", {factory, "IdAuto", "", Ready, {}, {"W Please select a configuration mode !"}, old});
        row("no identity method", {factory, "ConfUser", "", Ready, {},
            {"W Please select an identity determination method !"}, old});
        row("a name of blanks only", {factory, "ConfUser IdUser", "   ", Ready, {}, {"W Please specify a mechanism identity !"}, old});
        // A board that hangs as it restarts: its silence after the reset is no word that it took the configuration.
        row("silent from the reset on", {factory, "ConfUser IdAuto", "", SilentAfterReset, userAuto, {}, "",
            "Configuration sent to COM3 at 115200 bauds, but after its reset the board differs: identity: the board did not answer"});
        // One that drops the line as it restarts: what is known is said (the reset left), and no identity it did not read.
        row("a hang-up after the reset", {factory, "ConfRes IdAuto", "", HangUpAfterReset, hex("1d53460600 1d53460900 1b40"),
            {"E The reset left the port, then the serial line hung up before the board answered. Please check cables and "
             "power, then check the board's configuration."}, old, programmed.arg(2)});
        // The choices are taken once, before the first byte: a change made meanwhile is for the next run.
        row("the editor changed during the run", {factory, "ConfUser IdUser", "FIRST", Ready,
            hex("1d5368 1d53460601 1d534607f1 1d53460840 1d53460946 1d53460a49 1d53460b52 1d53460c53 1d53460d54 "
                "1d53460e00") + tail, {}, "FIRST            FW 4.12", programmed.arg(9)});
    }

    void configurePrinter()
    {
        QFETCH(Configure, run);
        const auto &[code, clicks, name, setup, wire, messages, identity, status] = run;
        WindowRig rig;
        Board &board = rig.found(3, {.identity = "OLD NAME", .strobePolarity = setup == OtherPolarityCancel ? 0 : 1});
        board.setFaults({.silent = setup == SilentBoard, .wrongEchoAddress = setup == WrongEcho7 ? 7 : -1,
                         .hangUpAfterReset = setup == HangUpAfterReset});
        if (!code.isEmpty())
            rig.window->editor().applyConfigurationCode(code);
        rig.click(clicks);
        rig.find<QLineEdit>("ConfigName")->setText(name);
        QCOMPARE(rig.text("ConfigName"), name.left(16));
        rig.prompts.answer({setup != OtherPolarityCancel});
        const QString before = rig.status();
        rig.clearWire();
        bool busyPointer = true;
        bool polarityShown = false;
        rig.clock.onWait = [&](int) {
            polarityShown = polarityShown
                         || rig.status() == "Strobe polarity detected by the board: Positive; chosen: Negative";
            busyPointer = busyPointer && rig.window->cursor().shape() == Qt::WaitCursor // and the button off
                          && !rig.find<QWidget>("ConfigPrinter")->isEnabledTo(rig.find<QWidget>("Frame10"));
            if (setup == SilentAfterReset && rig.wire().endsWith(hex("1b40")))
                board.setFaults({.silent = true});
            if (name == QLatin1String("FIRST") && rig.wire() == hex("1d5368 1d53460601")) { // the first parameter out
                rig.type("ConfigName", QStringLiteral("OTHER"));
                rig.click("HW864");
            }
        };

        rig.click("ConfigPrinter");

        QCOMPARE(rig.wire(), wire);
        QCOMPARE(rig.prompts.described(), messages);
        // The port opened with the finding's settings for the configuration, the identity, the reset, the query
        // (none once the line hung up).
        const QString open = QStringLiteral("%1/115200/2").arg(rig.state.link.comPort);
        const int opens = wire.isEmpty() ? 0 : wire.size() == 3 ? 1 : wire.endsWith(hex("1b49")) ? 4 : 3;
        QCOMPARE(lastOpens(rig.line, 9), QStringList(opens, open).join(u' '));
        QCOMPARE(rig.text("Identity"), identity);
        QVERIFY(busyPointer);
        // Asked, the question has the status line name both polarities, until the run says what it did.
        QCOMPARE(polarityShown, messages.contains(PolarityQuestion) && setup != OtherPolarityCancel);
        QCOMPARE(rig.status(), status.isEmpty() ? before : status);
        for (const auto &w : rig.line.writes()) // a parameter command goes out byte by byte
            QVERIFY(w.bytes.size() == 1 || w.bytes == hex("1d5368") || w.bytes == hex("1b40") || w.bytes == hex("1b49"));
        const bool refused = messages.value(0).startsWith(QLatin1String("W ")); // checked before anything changes
        QVERIFY(rig.isEnabled("ConfigPrinter") && !rig.line.isOpen());
        QCOMPARE(rig.window->focusWidget(), rig.find<QWidget>(refused ? "GetSettings" : "ConfigPrinter"));
        QCOMPARE(rig.window->cursor().shape(), Qt::ArrowCursor);
    }

    void monitorShowsAScanAReadBackAndAProgrammingRun()
    {
        // The board on COM1 at 115200 with XON/XOFF and a long firmware text; COM2 held by another program.
        WindowRig rig;
        rig.line.setExistingPorts({1, 2});
        rig.board(1, {.handshake = BoardHandshake::XonXoff, .firmware = " FW 4.12 (build 2026-12-06)"});
        rig.line.failOpen(2, QStringLiteral("COM2 is in use by another program."));
        TrafficMonitorWindow *monitor = openMonitor(rig);
        rig.checkIdentity(); // a scan, then the identity
        rig.click("GetSettings");
        rig.click("ConfigPrinter"); // with what was read: User mode, the factory code, automatic identity
        QVERIFY(rig.prompts.shown.isEmpty());
        QVERIFY(monitor && monitor->isVisible() && !monitor->isModal());
        QCOMPARE(openMonitor(rig), monitor); // one at a time
        const QStringList lines = monitorLines(monitor);
        const QStringList expected = { // these among others, in this order (the help page's excerpts show the rest)
            "---- Autodetect Chipset ---- 2026-03-02 14:05:00.000 +01:00",
            "COM2            not opened at 57600 bauds, no handshake: COM2 is in use by another program.",
            "                waited 1000 ms",
            "COM1    100 ms  cleared   04                                               <EOT>",
            "COM1    300 ms  received  04                                               <EOT>",
            "COM1    300 ms  closed",
            "COM1      0 ms  waited 250 ms, 43 bytes waiting",
            "COM1    250 ms  received  54 48 34 33 32 20 31 4B 35 20 53 54 44 20 20 20 20 46 57 20 34 2E 31 32 20 28 62 "
            "75 69 6C 64 20  TH432 1K5 STD    FW 4.12 (build ",
            "COM1    250 ms            32 30 32 36 2D 31 32 2D 30 36 29                 2026-12-06)",
            "---- Check identity ---- 2026-03-02 14:05:01.756 +01:00",
            "COM1      0 ms  opened at 115200 bauds, XON/XOFF handshake",
            "---- Check configuration ---- 2026-03-02 14:05:02.406 +01:00",
            "COM1     59 ms  received  F1 40                                            .@",
            "---- Configure printer ---- 2026-03-02 14:05:03.471 +01:00",
            "COM1     53 ms  sent      1D 53 46 06 01                                   <GS>SF<ACK><SOH>",
            "                waited 1000 ms", // after the reset, then the identity query after the settle pause
            "COM1     50 ms  sent      1B 49                                            <ESC>I",
        };
        QCOMPARE(missingInOrder(lines, expected), QString());

        in<QPushButton>(monitor, "CopyTraffic")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), lines.join(u'\n'));
        const QString path = rig.folder.filePath(QStringLiteral("traffic.txt"));
        rig.files.paths = {path};
        in<QPushButton>(monitor, "SaveTraffic")->click();
        const FileDialogOptions &asked = rig.files.asked.constLast();
        QCOMPARE(asked.title + u' ' + asked.filter + u' ' + asked.defaultSuffix,
                 "Save traffic as... Text files (*.txt)|*.txt txt");
        QVERIFY(asked.confirmOverwrite && !asked.mustExist);
        QCOMPARE(QString::fromUtf8(fileBytes(path)), lines.join(u'\n') + u'\n');
        // Never in place of what is not a file.
        const QString fifo = rig.folder.filePath(QStringLiteral("fifo"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0644) == 0);
        rig.files.paths = {fifo};
        rig.prompts.clear();
        in<QPushButton>(monitor, "SaveTraffic")->click();
        QCOMPARE(rig.prompts.texts(), QStringList{"Couldn't write the traffic file " + fifo
                                                  + " : it is a named pipe (FIFO), not a file\nThe file on disk was not changed."});
    }

    void monitorKeepsFollowsClearsAndSaves()
    {
        WindowRig rig;
        rig.board(1);
        TrafficMonitorWindow *monitor = openMonitor(rig);
        int n = 0;
        const auto add = [&](int count) {
            for (const int end = n + count; n < end; ++n)
                rig.record.append(QStringLiteral("line %1").arg(n));
            QCoreApplication::processEvents();
        };
        // More than it keeps before the view first looks: it shows the newest. It follows the end unless the
        // user scrolls up, and again once back at the end.
        add(20300);
        QCOMPARE(monitorLines(monitor).constFirst(), "line 300");
        QScrollBar *bar = in<QPlainTextEdit>(monitor, "TrafficView")->verticalScrollBar();
        QVERIFY(bar->maximum() > 0 && bar->value() == bar->maximum());
        bar->setValue(bar->maximum() / 2);
        const int reading = bar->value();
        add(1);
        QVERIFY(qAbs(bar->value() - reading) <= 1); // the oldest line gone: the text moved up by one
        bar->setValue(bar->maximum());
        add(1);
        QCOMPARE(bar->value(), bar->maximum());
        // The newest 20,000 lines, also when they come in batches over a long day.
        for (int batch = 0; batch < 200; ++batch)
            add(101);
        QStringList lines = monitorLines(monitor);
        QCOMPARE(QStringList({QString::number(lines.size()), lines.constFirst(), lines.constLast()}),
                 (QStringList{"20000", "line 20502", "line 40501"}));
        QCOMPARE(rig.record.lines(), lines); // the record keeps what the view shows

        // Clear empties the view and the record; what comes next is shown from the top.
        in<QPushButton>(monitor, "ClearTraffic")->click();
        QVERIFY(monitor->text().isEmpty() && rig.record.lines().isEmpty());
        rig.click("DetectPrinter"); // the menu item runs the identity check
        lines = monitorLines(monitor);
        QCOMPARE(lines.constFirst(), QStringLiteral("---- Autodetect Chipset ---- 2026-03-02 14:05:00.000 +01:00"));

        // Recorded also while it is closed: opened after a fault, it shows what led to it.
        monitor->close();
        QTRY_VERIFY(!rig.window->findChild<TrafficMonitorWindow *>());
        rig.line.board(1)->setFaults({.silent = true});
        rig.click("GetSettings"); // (its message: checkConfiguration)
        const QStringList after = monitorLines(openMonitor(rig));
        QCOMPARE(after.mid(0, lines.size()), lines);
        QCOMPARE(after.value(lines.size()), "---- Check configuration ---- 2026-03-02 14:05:02.421 +01:00");
        QCOMPARE(after.mid(lines.size()).filter(QRegularExpression("ms  (sent|waited 500 ms, nothing came)")).size(), 8);
    }
};

QTEST_MAIN(TestPrinterWindow)
#include "tst_printerwindow.moc"
