// The window's printer commands when the line or the user gets in their way:
// nothing crashes or hangs, the port ends closed, the user is told once, and
// the window stays usable and truthful.
#include "detection/portselection.h"
#include "windowrig.h"

#include <QSignalSpy>
#include <QTest>

using namespace tessary;
using namespace tessary::sim;
using namespace tessary::test;

namespace {

enum Fault { HangUp, Silent, EndlessStream, Garbage, PortBusy, HeldOutput };
const char *const Commands[] = {"GetID", "GetSettings", "ConfigPrinter", "Wakeup", "SleepButton", "Reset"};
const QString Held = "The serial port's output did not leave within 1 s and was dropped: flow control holds it back (check "
                     "the cable's handshake lines and that the printer is on)";

// The board found on COM1 at 115200 by a scan; a complete choice for "Configure printer".
Board &found(WindowRig &rig, const QSet<int> &ports = {1})
{
    Board &board = rig.found(1, {}, ports);
    rig.click("ConfRes IdUser");
    rig.type("ConfigName", QStringLiteral("FAULT SUITE 16CH"));
    rig.clearWire();
    rig.clock.waits = 0;
    return board;
}

} // namespace

class TestFaultsWindow : public QObject {
    Q_OBJECT

private slots:
    void lineFaultEndsWithThePortClosedOneNoticeAndTheWindowUsable()
    {
        const char *const faults[] = {"hang-up", "silence", "endless stream", "garbage", "port held by another program",
                                      "output held by flow control"};
        for (const QString command : Commands)
            for (int fault = HangUp; fault <= HeldOutput; ++fault) {
                const QString where = command + ", " + faults[fault];
                WindowRig rig;
                Board &board = found(rig);
                switch (fault) {
                case HangUp: board.setFaults({.hangUpAfter = int(board.bytesReceived()) + 3}); break;
                case Silent: board.setFaults({.silent = true}); break;
                case EndlessStream: board.setFaults({.endlessStream = true}); break;
                case PortBusy: rig.line.failOpen(1, QStringLiteral("COM1 is in use by another program.")); break;
                case HeldOutput: rig.line.holdOutputUntil(-1); break;
                case Garbage: // something that answers every write, never sensibly
                    rig.line.attachDevice(1, std::make_shared<ScriptedDevice>([](const QByteArray &in, const LineSettings &) {
                        return in.toHex() + QByteArray("\xff\x00\x7f", 3); // never an echo, nor the reply asked for
                    }));
                    break;
                }
                const QString statusBefore = rig.status();

                rig.click(command);

                QVERIFY2(!rig.line.isOpen() && !rig.gate.isBusy(), qPrintable(where));
                // A port that would not open, or output that never left: the reason on the status bar, in place of the
                // line before, never that the command was done.
                if (fault == PortBusy || fault == HeldOutput)
                    QCOMPARE(where + ": " + rig.status(), where + ": " + (fault == PortBusy ? "COM1 is in use by another program." : Held));
                // The commands that expect a reply tell of every other fault too.
                const bool expectsReply = command == QLatin1String("GetSettings") || command == QLatin1String("ConfigPrinter");
                if (expectsReply && fault != EndlessStream)
                    QVERIFY2(!rig.prompts.shown.isEmpty() || (rig.status() != statusBefore && !rig.status().isEmpty()),
                             qPrintable(where + ": the user was not told"));
                // One message when the line is down, not a storm. A board that is there but answers wrongly or not
                // at all gets the programming error once for each parameter it did not echo; held output, also the
                // word that the reset never left.
                const QStringList texts = rig.prompts.texts();
                if (command == QLatin1String("ConfigPrinter") && fault != PortBusy && fault != HangUp)
                    QVERIFY2((QSet<QString>(texts.cbegin(), texts.cend())
                                 == QSet<QString>{"Programming error ! Please check cables and power.",
                                                  fault == HeldOutput ? "The serial line failed: the board was not reset and may "
                                                                        "hold part of the configuration. Please check cables and "
                                                                        "power, then configure it again."
                                                                      : "Programming error ! Please check cables and power."}),
                             qPrintable(where + ": " + texts.join(u'|')));
                else
                    QVERIFY2(texts.size() <= 1, qPrintable(where + ": " + texts.join(u'|')));
                QVERIFY2(rig.window->isVisible() && rig.isEnabled("GetID"), qPrintable(where)); // still usable
            }
    }

    void closingTheMainWindowAtEveryWaitStopsTheCommand()
    {
        for (const char *command : Commands) {
            for (int at = 1;; ++at) {
                WindowRig rig;
                found(rig);
                QSignalSpy quit(rig.window.get(), &MainFrm::quitRequested);
                rig.clock.onWait = [&](int wait) {
                    if (wait == at)
                        rig.window->close();
                };
                rig.click(command);
                if (rig.clock.waits < at) {
                    QVERIFY(at > 1);
                    break; // the command ended before its at-th wait: every wait tried
                }
                const QString where = QStringLiteral("%1 closed at wait %2").arg(QLatin1String(command)).arg(at);
                QVERIFY2(!rig.line.isOpen() && !rig.gate.isBusy(), qPrintable(where));
                QVERIFY2(rig.clock.waits == at, qPrintable(where)); // no wait after the stop
                QTRY_COMPARE(quit.count(), 1);
                QTRY_VERIFY(!rig.window->isVisible());
                QVERIFY2(rig.prompts.shown.isEmpty(), qPrintable(where + u' ' + rig.prompts.texts().join(u'|')));
                if (QByteArray(command) == "ConfigPrinter") {
                    // Whole commands only: the parameter writes, then a part of the reset and identity query.
                    QByteArray written = rig.wire();
                    while (written.startsWith("\x1dSF"))
                        written.remove(0, 5);
                    QVERIFY2(QByteArray("\x1b@\x1bI").startsWith(written), qPrintable(where + u' ' + written.toHex()));
                }
                QVERIFY2(at < 500, "the command never ends");
            }
        }
    }

    void closingThePortSelectionAtEveryWaitLeavesNoHalfFinding()
    {
        int foundAgain = 0;
        for (const bool scan : {true, false}) { // an automatic scan, a manual detection
            for (int at = 1;; ++at) {
                // An earlier detection found COM1 at 115200; that board is off now, another is on COM2 at 9600.
                WindowRig rig;
                found(rig, {1, 2}).setFaults({.silent = true});
                rig.board(2, {.baud = 9600});
                rig.clock.onWait = [&](int wait) {
                    auto *dialog = rig.window->findChild<PortSelection *>();
                    QVERIFY2(!dialog || wait <= at, "the detection went on after the close");
                    if (wait != at || !dialog)
                        return;
                    if (at % 2) // the close control, or Escape
                        dialog->close();
                    else
                        QTest::keyClick(dialog, Qt::Key_Escape);
                    QVERIFY(dialog->isVisible()); // until the detection has stopped
                };
                rig.checkIdentity([&](PortSelection &dialog) {
                    if (!scan)
                        dialog.selectPort(2); // at the window's 9600 and "DSR/DTR Mode"
                    scan ? dialog.autodetect() : dialog.detectSerialPrinter();
                });
                if (rig.clock.waits < at) {
                    QVERIFY(at > 1);
                    break;
                }
                // Stopped in the detection, or later in the main window's identity query.
                QVERIFY(!rig.line.isOpen() && !rig.gate.isBusy() && rig.prompts.shown.isEmpty());
                // The identity, the labels, the printer buttons and the port the next command opens agree: this detection's
                // complete finding, or no printer at all.
                rig.clearWire();
                rig.click("Reset"); // when its button is on
                QString after = rig.printerColumn();
                for (const auto &open : rig.line.opens())
                    after += QStringLiteral(" COM%1 at %2").arg(open.port).arg(open.baud);
                const bool printer = after.contains(QLatin1String("|Port: "));
                foundAgain += printer;
                QVERIFY2(after == QLatin1String(printer ? "TH432 1K5 STD    FW 4.12|Port: COM2|Baudrate: 9600|++++++ COM2 at 9600"
                                                        : "No chipset found|No chipset found, please|Perform a chipset detection|+-----"),
                         qPrintable(after + QStringLiteral(" (closed at wait %1)").arg(at)));
                QVERIFY2(at < 500, "the detection never ends");
            }
        }
        QVERIFY(foundAgain > 0);
    }
};

QTEST_MAIN(TestFaultsWindow)
#include "tst_faults_window.moc"
