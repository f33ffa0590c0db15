#include "app/appservices.h"
#include "app/appstate.h"
#include "app/prompts.h"
#include "boardsim/simulatedline.h"
#include "detection/portselection.h"
#include "mainwindow/mainfrm.h"
#include "protocol/printerbinding.h"
#include "scriptedprompts.h"
#include "serial/commandgate.h"
#include "serial/seriallink.h"
#include "serial/virtualclock.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using namespace tessary;
using namespace tessary::sim;
using namespace tessary::test;

namespace {

// The virtual clock with a hand on it: at its n-th wait it runs an action,
// as a user's click lands while a command waits for the board.
class HookClock : public VirtualClock {
public:
    void delay(int ms) override
    {
        tick();
        VirtualClock::delay(ms);
    }
    bool waitForInput(SerialLine &line, int ms) override
    {
        tick();
        return VirtualClock::waitForInput(line, ms);
    }
    int waits = 0;
    int actAt = -1;
    std::function<void()> action;

private:
    void tick()
    {
        if (++waits == actAt && action)
            action();
    }
};

enum class Fault { None, HangUp, Silent, EndlessStream, Garbage, PortBusy };

// The main window with every printer button enabled after an earlier
// detection found the simulated board on COM1 at 115200. The board may since
// have moved to another port and speed (COM1 then has nothing behind it).
struct Harness {
    explicit Harness(Fault fault = Fault::None, int boardPort = 1, qint32 boardBaud = 115200)
    {
        line.setWakeups(false);
        line.setExistingPorts({1, boardPort});
        BoardOptions options;
        options.baud = boardBaud;
        options.handshake = BoardHandshake::Hardware;
        switch (fault) {
        case Fault::HangUp: options.faults.hangUpAfter = 3; break;
        case Fault::Silent: options.faults.silent = true; break;
        case Fault::EndlessStream: options.faults.endlessStream = true; break;
        case Fault::None:
        case Fault::PortBusy: break;
        case Fault::Garbage:
            line.attachDevice(1, std::make_shared<ScriptedDevice>([](const QByteArray &received, const LineSettings &) {
                // Something that answers every write, never sensibly.
                QByteArray noise;
                for (char c : received)
                    noise += char(~c) + QByteArray("\xff\x00\x7f", 3);
                return noise;
            }));
            break;
        }
        if (fault != Fault::Garbage)
            line.attachBoard(boardPort, options);
        if (fault == Fault::PortBusy)
            line.failOpen(1, QStringLiteral("COM1 is in use by another program."));

        window = std::make_unique<MainFrm>(services);
        link.setStatusLine(window.get()); // as the program does
        window->show();
        // The detection found the board earlier.
        state.link = PrinterLink{true, 1, QStringLiteral("115200"), HandshakeHardware, true};
        for (const char *name : {"GetID", "GetSettings", "ConfigPrinter", "Wakeup", "SleepButton", "Reset"})
            button(name)->setEnabled(true);
        binding = window->findChild<PrinterBinding *>();
        // "Check identity" first runs the port selection: a scan, in place.
        binding->setPortSelectionRunner([this](PortSelection &dialog) {
            selection = &dialog;
            dialog.show();
            dialog.autodetect();
            if (dialog.isVisible())
                dialog.accept();
            selection = nullptr;
        });
        // A complete choice for "Configure printer": resistors, a user identity.
        window->findChild<QRadioButton *>(QStringLiteral("ConfRes"))->click();
        window->findChild<QRadioButton *>(QStringLiteral("IdUser"))->click();
        QTest::keyClicks(window->findChild<QLineEdit *>(QStringLiteral("ConfigName")), QStringLiteral("FAULT SUITE 16CH"));
    }
    QPushButton *button(const char *name) const { return window->findChild<QPushButton *>(QLatin1String(name)); }

    HookClock clock;
    SimulatedLine line{clock};
    SerialLink link{line, clock};
    CommandGate gate{link};
    AppState state;
    ScriptedPrompts prompts;
    ScriptedFileChooser files;
    AppServices services{state, link, gate, prompts, files};
    std::unique_ptr<MainFrm> window;
    ~Harness() { link.setStatusLine(nullptr); }
    PrinterBinding *binding = nullptr;
    PortSelection *selection = nullptr;
};

const char *const Commands[] = {"GetID", "GetSettings", "ConfigPrinter", "Wakeup", "SleepButton", "Reset"};

} // namespace

class TestFaultsWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void lineFaultEndsWithPortClosedOneNoticeAndWindowUsable_data();
    void lineFaultEndsWithPortClosedOneNoticeAndWindowUsable();
    void closingTheMainWindowAtEveryWaitOfEveryCommandStopsItCleanly_data();
    void closingTheMainWindowAtEveryWaitOfEveryCommandStopsItCleanly();
    void closingThePortSelectionAtEveryWaitOfADetectionLeavesTheMainWindowUsable_data();
    void closingThePortSelectionAtEveryWaitOfADetectionLeavesTheMainWindowUsable();

private:
    QTemporaryDir m_dir;
    QString m_previousDir;
};

void TestFaultsWindow::initTestCase()
{
    // Start-up loads default.cdb from the current directory: an empty one.
    QVERIFY(m_dir.isValid());
    m_previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir.path()));
    QFile empty(QStringLiteral("default.cdb"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.write(QByteArray("ZELPRINTERSCDB0") + QByteArray::fromHex("000d0a"));
}

void TestFaultsWindow::cleanupTestCase() { QDir::setCurrent(m_previousDir); }

void TestFaultsWindow::lineFaultEndsWithPortClosedOneNoticeAndWindowUsable_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("fault");
    // Whether the user must be told: the commands that expect a reply do,
    // the ones that only send do not notice a board that keeps quiet.
    QTest::addColumn<bool>("noticeExpected");
    const QList<QPair<const char *, Fault>> faults = {{"hang-up", Fault::HangUp},
                                                      {"silence", Fault::Silent},
                                                      {"endless stream", Fault::EndlessStream},
                                                      {"garbage", Fault::Garbage},
                                                      {"port held by another program", Fault::PortBusy}};
    for (const char *command : Commands) {
        for (const auto &[name, fault] : faults) {
            const bool expectsReply = QByteArray(command) == "GetSettings" || QByteArray(command) == "ConfigPrinter";
            const bool notice = fault == Fault::PortBusy || (expectsReply && fault != Fault::EndlessStream);
            QTest::addRow("%s, %s", command, name) << QString::fromLatin1(command) << int(fault) << notice;
        }
    }
}

void TestFaultsWindow::lineFaultEndsWithPortClosedOneNoticeAndWindowUsable()
{
    QFETCH(QString, command);
    QFETCH(int, fault);
    QFETCH(bool, noticeExpected);
    Harness h{Fault(fault)};
    const QString statusBefore = h.window->statusText();

    h.button(command.toLatin1().constData())->click();

    QVERIFY(!h.line.isOpen());
    QVERIFY(!h.gate.isBusy());
    const qsizetype messages = h.prompts.shown.size();
    const QString messageTexts = h.prompts.texts().join(u'|');
    const bool statusChanged = h.window->statusText() != statusBefore && !h.window->statusText().isEmpty();
    if (noticeExpected)
        QVERIFY2(messages >= 1 || statusChanged, "the user was not told");
    // Still usable: visible, the next command can start.
    QVERIFY(h.window->isVisible());
    QVERIFY(h.button("GetID")->isEnabled());
    h.prompts.clear();
    h.button("Wakeup")->click();
    QVERIFY(!h.line.isOpen());
    // One message, not a storm of them, when the line is down. A board that
    // is there but answers wrongly or not at all gets the programming error
    // once for each parameter it did not echo: that is what the technician
    // must know (which writes failed), so it is not a storm to suppress.
    const bool boardThereButWrong = fault == int(Fault::Silent) || fault == int(Fault::Garbage)
                                    || fault == int(Fault::EndlessStream);
    if (command == QLatin1String("ConfigPrinter") && boardThereButWrong) {
        for (const QString &text : h.prompts.texts())
            QCOMPARE(text, QStringLiteral("Programming error ! Please check cables and power."));
    } else {
        QVERIFY2(messages <= 1, qPrintable(messageTexts));
    }
}

void TestFaultsWindow::closingTheMainWindowAtEveryWaitOfEveryCommandStopsItCleanly_data()
{
    QTest::addColumn<QString>("command");
    for (const char *command : Commands)
        QTest::newRow(command) << QString::fromLatin1(command);
}

void TestFaultsWindow::closingTheMainWindowAtEveryWaitOfEveryCommandStopsItCleanly()
{
    QFETCH(QString, command);
    int stops = 0;
    for (int at = 1;; ++at) {
        Harness h;
        QSignalSpy quit(h.window.get(), &MainFrm::quitRequested);
        h.clock.actAt = at;
        h.clock.action = [&h] { h.window->close(); };
        h.button(command.toLatin1().constData())->click();
        if (h.clock.waits < at) {
            QVERIFY2(stops > 0, qPrintable(h.prompts.texts().join(u'|')));
            break; // the command ended before its at-th wait: every wait tried
        }
        ++stops;
        QVERIFY2(!h.line.isOpen(), qPrintable(QStringLiteral("port open after a close at wait %1").arg(at)));
        QVERIFY(!h.gate.isBusy());
        QTRY_COMPARE(quit.count(), 1);
        QTRY_VERIFY(!h.window->isVisible());
        QVERIFY2(h.prompts.shown.isEmpty(), qPrintable(h.prompts.texts().join(u'|')));
        QVERIFY2(at < 500, "the command never ends");
    }
    QVERIFY(stops > 0);
}

void TestFaultsWindow::closingThePortSelectionAtEveryWaitOfADetectionLeavesTheMainWindowUsable_data()
{
    QTest::addColumn<bool>("scan");
    QTest::newRow("automatic scan") << true;
    QTest::newRow("manual detection") << false;
}

void TestFaultsWindow::closingThePortSelectionAtEveryWaitOfADetectionLeavesTheMainWindowUsable()
{
    QFETCH(bool, scan);
    int stops = 0;
    int found = 0;
    for (int at = 1;; ++at) {
        // The earlier detection found COM1 at 115200; the board is now on COM2 at 9600.
        Harness h(Fault::None, 2, 9600);
        h.binding->setPortSelectionRunner([&](PortSelection &dialog) {
            dialog.show();
            if (scan) {
                dialog.autodetect();
            } else {
                dialog.selectPort(2); // at the window's 9600 and "DSR/DTR Mode"
                dialog.detectSerialPrinter();
            }
            QTRY_VERIFY(!dialog.isDetecting());
            if (dialog.isVisible())
                dialog.accept();
        });
        h.clock.actAt = at;
        h.clock.action = [&h] {
            if (auto *dialog = h.window->findChild<PortSelection *>())
                dialog->reject();
        };
        h.button("GetID")->click();
        if (h.clock.waits < at)
            break;
        // Stopped during the detection itself, or during the identity query after it.
        ++stops;
        QVERIFY(!h.line.isOpen());
        QVERIFY(!h.gate.isBusy());
        QVERIFY(h.prompts.shown.size() <= 1);
        QVERIFY(h.window->isVisible());
        QVERIFY(h.button("GetID")->isEnabled());
        // The labels, the printer buttons and the port the next command opens
        // agree: this detection's complete finding, or no printer at all.
        const QString where = QStringLiteral("closed at wait %1").arg(at);
        const QString com = h.window->findChild<QLabel *>(QStringLiteral("LabelCom"))->text();
        const QString bauds = h.window->findChild<QLabel *>(QStringLiteral("LabelBauds"))->text();
        const bool printerButtons = h.button("GetSettings")->isEnabled();
        for (const char *name : {"ConfigPrinter", "Wakeup", "SleepButton", "Reset"})
            QVERIFY2(h.button(name)->isEnabled() == printerButtons, qPrintable(where + u' ' + QLatin1String(name)));
        QCOMPARE(h.state.link.printerFound, printerButtons);
        if (printerButtons) {
            ++found;
            QCOMPARE(com + u' ' + bauds + u' ' + where, QStringLiteral("Port: COM2 Baudrate: 9600 ") + where);
            h.line.clearRecords();
            h.button("Reset")->click();
            QVERIFY(!h.line.opens().isEmpty());
            QCOMPARE(h.line.opens().constLast().port, 2);
            QCOMPARE(h.line.opens().constLast().baud, 9600);
        } else {
            QCOMPARE(com + u' ' + bauds + u' ' + where,
                     QStringLiteral("No chipset found, please Perform a chipset detection ") + where);
        }
        QVERIFY2(at < 500, "the detection never ends");
    }
    QVERIFY(stops > 0);
    QVERIFY(found > 0); // stops during the identity query after the window closed
}

QTEST_MAIN(TestFaultsWindow)
#include "tst_faults_window.moc"
