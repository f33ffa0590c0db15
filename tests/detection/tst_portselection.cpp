#include "app/appservices.h"
#include "app/appstate.h"
#include "app/prompts.h"
#include "boardsim/simulatedline.h"
#include "detection/portselection.h"
#include "scriptedprompts.h"
#include "serial/commandgate.h"
#include "serial/qtserialline.h"
#include "serial/recordingline.h"
#include "serial/seriallink.h"
#include "serial/trafficrecord.h"
#include "serial/virtualclock.h"

#include <QComboBox>
#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <functional>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace tessary;
using namespace tessary::sim;
using namespace tessary::test;

namespace {

// The virtual clock with a look-in at every wait: where a real window
// would take the user's input.
struct HookedClock : VirtualClock {
    void delay(int ms) override
    {
        ++delays;
        if (onDelay)
            onDelay(delays);
        VirtualClock::delay(ms);
    }
    int delays = 0;
    std::function<void(int)> onDelay;
};

struct Rig {
    Rig() { line.setWakeups(false); }
    HookedClock clock;
    SimulatedLine line{clock};
    SerialLink link{line, clock};
    CommandGate gate{link};
    AppState state;
    ScriptedPrompts prompts;
    ScriptedFileChooser files;
    AppServices services{state, link, gate, prompts, files};
};

template <typename T> T *child(QWidget &w, const char *name)
{
    T *found = w.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

} // namespace

class TestPortSelection : public QObject {
    Q_OBJECT

private slots:
    void openingState();
    void portCaptionsNameTheirDevices_data();
    void portCaptionsNameTheirDevices();
    void demoBoardSlotSaysSo();
    void busyShowsWaitCursorAndDisablesTheButtons();
    void manualDetectionOnTheChosenPort();
    void closingDuringAScanStopsItAndClosesThePort_data();
    void closingDuringAScanStopsItAndClosesThePort();
    void okClosesWithoutChangingTheState();
    void boardTextIsShownPlainWithoutControlCharacters();
};

void TestPortSelection::openingState()
{
    Rig rig;
    rig.line.setExistingPorts({1, 2});
    rig.state.link.printerFound = true;
    PortSelection dialog(rig.services);

    QCOMPARE(dialog.windowTitle(), QStringLiteral("Communication Port Selection"));
    QVERIFY(!(dialog.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(dialog.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QVERIFY(qAbs(dialog.width() - 315) < 60 && qAbs(dialog.height() - 257) < 60);
    QVERIFY(!rig.state.link.printerFound);

    QCOMPARE(child<QGroupBox>(dialog, "Frame1")->title(), QStringLiteral("Serial Port"));
    QCOMPARE(child<QGroupBox>(dialog, "Frame1")->accessibleName(), QStringLiteral("Serial Port"));
    QCOMPARE(child<QGroupBox>(dialog, "Frame2")->title(), QStringLiteral("Current Chipset"));
    for (int port = 1; port <= 6; ++port) {
        auto *option = child<QRadioButton>(dialog, qPrintable(QStringLiteral("COM%1").arg(port)));
        QCOMPARE(option->text(), QStringLiteral("COM %1").arg(port));
        QCOMPARE(option->isEnabled(), port <= 2);
        QVERIFY(!option->isChecked());
        QCOMPARE(option->parentWidget()->objectName(), QStringLiteral("Frame1"));
    }
    QCOMPARE(child<QLabel>(dialog, "label")->text(), QStringLiteral("Baudrate:"));
    QCOMPARE(child<QLabel>(dialog, "Label1")->text(), QStringLiteral("Handshake:"));
    auto *speed = child<QComboBox>(dialog, "serialspeed");
    QVERIFY(!speed->isEditable());
    QStringList speeds;
    for (int i = 0; i < speed->count(); ++i)
        speeds << speed->itemText(i);
    QCOMPARE(speeds, QStringList({"1200", "2400", "4800", "9600", "19200", "28800", "38400", "57600", "115200"}));
    QCOMPARE(speed->currentText(), QStringLiteral("9600"));
    auto *handshake = child<QComboBox>(dialog, "serialhandshakeconf");
    QVERIFY(!handshake->isEditable());
    QCOMPARE(handshake->count(), 2);
    QCOMPARE(handshake->itemText(0), QStringLiteral("Xon-Xoff"));
    QCOMPARE(handshake->currentText(), QStringLiteral("DSR/DTR Mode"));
    QCOMPARE(child<QPushButton>(dialog, "DetectSerialPrinter")->text(), QStringLiteral("Detect Chipset"));
    QCOMPARE(child<QPushButton>(dialog, "Autodetect")->text(), QStringLiteral("Autodetect Chipset"));
    QCOMPARE(child<QPushButton>(dialog, "OKButton")->text(), QStringLiteral("OK"));
    QCOMPARE(child<QLabel>(dialog, "DetectedPrinter")->text(),
             QStringLiteral("No printer found yet, please start detection."));
    QCOMPARE(child<QLabel>(dialog, "DetectedPrinter")->parentWidget()->objectName(), QStringLiteral("Frame2"));
}

void TestPortSelection::portCaptionsNameTheirDevices_data()
{
    QTest::addColumn<QString>("given"); // the path given with --port COM3=, "%1" the pseudo-terminal's number
    QTest::addColumn<QString>("folder"); // the current folder when the window opens, "" for as it is
    QTest::newRow("the pseudo-terminal's path") << "/dev/pts/%1" << "";
    QTest::newRow("a symbolic link to it") << "LINK" << "";
    QTest::newRow("a relative path from /dev") << "pts/%1" << "/dev";
    QTest::newRow("a roundabout path") << "/dev/./pts/../pts/%1" << "";
}

void TestPortSelection::portCaptionsNameTheirDevices()
{
    QFETCH(QString, given);
    QFETCH(QString, folder);
    // A pseudo-terminal, as the board simulator makes one.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    const auto closeMaster = qScopeGuard([master] { ::close(master); });
    const QString pty = QString::fromLocal8Bit(ptsname(master));
    const QString number = pty.section(u'/', -1);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("tessary-board"));
    QVERIFY(QFile::link(pty, link));
    const QString previous = QDir::currentPath();
    const auto restore = qScopeGuard([previous] { QDir::setCurrent(previous); });
    if (!folder.isEmpty())
        QVERIFY(QDir::setCurrent(folder));

    // The program's own serial line with --port COM3=<given>, as the main window opens the window.
    Rig rig;
    QtSerialLine line(PortNames({{3, given == QLatin1String("LINK") ? link : given.arg(number)}}, {}));
    SerialLink link3(line, rig.clock);
    AppServices services{rig.state, link3, rig.gate, rig.prompts, rig.files};
    PortSelection dialog(services, portCaptions(services));
    QCOMPARE(child<QRadioButton>(dialog, "COM3")->text(), QStringLiteral("COM 3 (pts/%1)").arg(number));
    QVERIFY(child<QRadioButton>(dialog, "COM3")->isEnabled());
    QCOMPARE(child<QRadioButton>(dialog, "COM4")->text(), QStringLiteral("COM 4"));
}

void TestPortSelection::demoBoardSlotSaysSo()
{
    Rig rig;
    AppServices demo{rig.state, rig.link, rig.gate, rig.prompts, rig.files, true};
    PortSelection dialog(demo, portCaptions(demo));
    QCOMPARE(child<QRadioButton>(dialog, "COM1")->text(), QStringLiteral("COM 1 (demo board)"));
    QCOMPARE(child<QRadioButton>(dialog, "COM2")->text(), QStringLiteral("COM 2"));
    // Without a mapping table of devices (the simulated line) the plain captions stay.
    QCOMPARE(portCaptions(rig.services)(4), QStringLiteral("COM 4"));
    // The program's line names its devices through the traffic record's wrapper.
    QtSerialLine serial(PortNames({{2, QStringLiteral("/dev/ttyUSB1")}}, {}));
    TrafficRecord record;
    RecordingLine recorded(serial, rig.clock, record);
    SerialLink link(recorded, rig.clock);
    AppServices program{rig.state, link, rig.gate, rig.prompts, rig.files};
    QCOMPARE(portCaptions(program)(2), QStringLiteral("COM 2 (ttyUSB1)"));
    QCOMPARE(portCaptions(program)(3), QStringLiteral("COM 3"));
}

void TestPortSelection::busyShowsWaitCursorAndDisablesTheButtons()
{
    Rig rig;
    rig.line.setExistingPorts({1});
    PortSelection dialog(rig.services);
    dialog.show();
    bool checked = false;
    rig.clock.onDelay = [&](int) {
        if (checked)
            return;
        checked = true;
        QCOMPARE(dialog.cursor().shape(), Qt::WaitCursor);
        for (const char *name : {"Autodetect", "DetectSerialPrinter", "OKButton"})
            QVERIFY(!child<QPushButton>(dialog, name)->isEnabled());
    };
    QTest::mouseClick(child<QPushButton>(dialog, "Autodetect"), Qt::LeftButton);
    QVERIFY(checked);
    QCOMPARE(dialog.cursor().shape(), Qt::ArrowCursor);
    for (const char *name : {"Autodetect", "DetectSerialPrinter", "OKButton"})
        QVERIFY(child<QPushButton>(dialog, name)->isEnabled());
    QCOMPARE(child<QLabel>(dialog, "DetectedPrinter")->text(), QStringLiteral("No printer found"));
}

void TestPortSelection::manualDetectionOnTheChosenPort()
{
    Rig rig;
    BoardOptions options;
    options.baud = 4800;
    options.handshake = BoardHandshake::XonXoff;
    options.identity = "DESK UNIT";
    rig.line.attachBoard(2, options);
    PortSelection dialog(rig.services);
    dialog.show();
    // Without a chosen port nothing is sent.
    QTest::mouseClick(child<QPushButton>(dialog, "DetectSerialPrinter"), Qt::LeftButton);
    QCOMPARE(rig.prompts.texts(), QStringList{QStringLiteral("You must select a serial port")});
    QVERIFY(rig.line.opens().isEmpty());
    QVERIFY(rig.state.link.serialLink);

    child<QRadioButton>(dialog, "COM2")->setChecked(true);
    child<QComboBox>(dialog, "serialspeed")->setCurrentIndex(2);
    QTest::mouseClick(child<QPushButton>(dialog, "DetectSerialPrinter"), Qt::LeftButton);
    QCOMPARE(child<QLabel>(dialog, "DetectedPrinter")->text(), QStringLiteral("DESK UNIT found on COM 2 at 4800 bauds"));
    QCOMPARE(child<QComboBox>(dialog, "serialhandshakeconf")->currentText(), QStringLiteral("Xon-Xoff"));
    QVERIFY(rig.state.link.printerFound);
    QCOMPARE(rig.state.link.comPort, 2);
    QCOMPARE(rig.state.link.baudRate, QStringLiteral("4800"));
    QCOMPARE(rig.state.link.handshake, 1);
    // The probe ran with the handshake chosen in the window.
    QCOMPARE(rig.line.opens().at(0).handshake, 2);
    QVERIFY(dialog.isVisible());
}

void TestPortSelection::closingDuringAScanStopsItAndClosesThePort_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("close control") << false;
    QTest::newRow("escape key") << true;
}

void TestPortSelection::closingDuringAScanStopsItAndClosesThePort()
{
    QFETCH(bool, escape);
    Rig rig;
    rig.line.attachBoard(6, {});
    PortSelection dialog(rig.services);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    rig.clock.onDelay = [&](int count) {
        // Some way into the scan, with a port open.
        if (count != 7)
            return;
        QVERIFY(rig.line.isOpen());
        if (escape)
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            dialog.close();
        // The window waits for the scan to stop.
        QVERIFY(dialog.isVisible());
    };
    QTest::mouseClick(child<QPushButton>(dialog, "Autodetect"), Qt::LeftButton);

    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!rig.gate.isBusy());
    QVERIFY(!rig.line.isOpen());
    QCOMPARE(rig.line.closes().size(), rig.line.opens().size());
    QVERIFY(!rig.state.link.printerFound);
    QCOMPARE(rig.clock.delays, 7); // no wait after the stop
    QVERIFY(!rig.link.stopRequested());
}

void TestPortSelection::okClosesWithoutChangingTheState()
{
    Rig rig;
    rig.state.link.printerFound = true;
    PortSelection dialog(rig.services);
    dialog.show();
    QTest::mouseClick(child<QPushButton>(dialog, "OKButton"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QVERIFY(!rig.state.link.printerFound);
    QVERIFY(rig.line.opens().isEmpty());
}

void TestPortSelection::boardTextIsShownPlainWithoutControlCharacters()
{
    Rig rig;
    rig.line.attachDevice(1, std::make_shared<ScriptedDevice>([](const QByteArray &received, const LineSettings &) {
        return received == QByteArray::fromHex("1b49") ? QByteArray("<b>X</b>\r\nY\x07") : QByteArray();
    }));
    PortSelection dialog(rig.services);
    child<QRadioButton>(dialog, "COM1")->setChecked(true);
    dialog.detectSerialPrinter();
    auto *result = child<QLabel>(dialog, "DetectedPrinter");
    QCOMPARE(result->textFormat(), Qt::PlainText);
    QCOMPARE(result->text(), QStringLiteral("<b>X</b>\uFFFD\uFFFDY\uFFFD found on COM 1 at 9600 bauds"));
}

QTEST_MAIN(TestPortSelection)
#include "tst_portselection.moc"
