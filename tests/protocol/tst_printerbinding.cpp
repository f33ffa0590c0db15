#include "app/appservices.h"
#include "app/appstate.h"
#include "app/prompts.h"
#include "boardsim/simulatedline.h"
#include "configuration/configurationeditor.h"
#include "detection/portselection.h"
#include "protocol/printerbinding.h"
#include "scriptedprompts.h"
#include "serial/commandgate.h"
#include "serial/seriallink.h"
#include "serial/virtualclock.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

using namespace tessary;
using namespace tessary::sim;
using namespace tessary::test;

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

const char *const PrinterButtons[] = {"GetSettings", "ConfigPrinter", "Wakeup", "SleepButton", "Reset"};

// The printer column of the main window, reduced to the controls the
// binding looks for, over the simulated line.
struct Rig {
    Rig()
    {
        line.setWakeups(false);
        auto *layout = new QVBoxLayout(&root);
        for (const char *name : {"Identity", "LabelCom", "LabelBauds"}) {
            auto *l = new QLabel(&root);
            l->setObjectName(QLatin1String(name));
            layout->addWidget(l);
        }
        for (const char *name : {"GetID", "GetSettings", "ConfigPrinter", "Wakeup", "SleepButton", "Reset"}) {
            auto *b = new QPushButton(QLatin1String(name), &root);
            b->setObjectName(QLatin1String(name));
            b->setEnabled(QLatin1String(name) == QLatin1String("GetID"));
            layout->addWidget(b);
        }
        detectAction = new QAction(QStringLiteral("Detect a Printer"), &root);
        detectAction->setObjectName(QStringLiteral("DetectPrinter"));
        binding = new PrinterBinding(&root, services, editor, &root);
        binding->setPortSelectionRunner([this](PortSelection &dialog) {
            ++selections;
            getIdEnabledDuringSelection = button("GetID")->isEnabled();
            if (scan)
                dialog.autodetect();
            dialog.accept();
        });
    }
    void showActive()
    {
        root.show();
        QApplication::setActiveWindow(&root);
        QVERIFY(QTest::qWaitForWindowActive(&root));
    }
    Board &board(BoardOptions options = {})
    {
        line.setExistingPorts({3});
        options.baud = 19200;
        options.handshake = BoardHandshake::Hardware;
        return line.attachBoard(3, options);
    }
    QPushButton *button(const char *name) { return root.findChild<QPushButton *>(QLatin1String(name)); }
    QLabel *label(const char *name) { return root.findChild<QLabel *>(QLatin1String(name)); }

    VirtualClock clock;
    SimulatedLine line{clock};
    SerialLink link{line, clock};
    CommandGate gate{link};
    AppState state;
    ScriptedPrompts prompts;
    ScriptedFileChooser files;
    AppServices services{state, link, gate, prompts, files};
    ConfigurationEditor editor;
    QWidget root;
    QAction *detectAction = nullptr;
    PrinterBinding *binding = nullptr;
    bool scan = true;
    int selections = 0;
    bool getIdEnabledDuringSelection = true;
};

} // namespace

class TestPrinterBinding : public QObject {
    Q_OBJECT

private slots:
    void identityCheckWithPrinterShowsIdentityPortAndSpeed();
    void identityCheckWithoutPrinterAsksForADetection();
    void detectPrinterMenuItemRunsTheIdentityCheck();
    void identityFromTheBoardIsShownPlain();
    void readBackBeforeDetectionWarnsThenRunsTheIdentityCheck();
    void readBackFillsTheEditorAndGivesTheButtonBack();
    void sleepAndWakeSwitchTheButtons();
    void resetKeepsTheButtons();
};

void TestPrinterBinding::identityCheckWithPrinterShowsIdentityPortAndSpeed()
{
    Rig rig;
    BoardOptions options;
    options.identity = "LINE PRINTER";
    rig.board(options);
    rig.showActive();
    QTest::mouseClick(rig.button("GetID"), Qt::LeftButton);

    QCOMPARE(rig.selections, 1);
    QVERIFY(!rig.getIdEnabledDuringSelection);
    QCOMPARE(rig.label("Identity")->text(), QStringLiteral("LINE PRINTER     FW 4.12"));
    QCOMPARE(rig.label("LabelCom")->text(), QStringLiteral("Port: COM3"));
    QCOMPARE(rig.label("LabelBauds")->text(), QStringLiteral("Baudrate: 19200"));
    for (const char *name : PrinterButtons)
        QVERIFY2(rig.button(name)->isEnabled(), name);
    QVERIFY(rig.button("GetID")->isEnabled());
    QVERIFY(rig.button("GetSettings")->hasFocus());
    // The identity query on the printer's own settings, after the detection.
    const auto &open = rig.line.opens().constLast();
    QCOMPARE(open.port, 3);
    QCOMPARE(open.baud, 19200);
    QCOMPARE(open.handshake, 2);
    QCOMPARE(rig.line.writes().constLast().bytes, hex("1b49"));
    QVERIFY(!rig.line.isOpen());
}

void TestPrinterBinding::identityCheckWithoutPrinterAsksForADetection()
{
    Rig rig;
    rig.scan = false;
    rig.state.link.printerFound = true;
    for (const char *name : PrinterButtons)
        rig.button(name)->setEnabled(true);
    rig.showActive();
    QTest::mouseClick(rig.button("GetID"), Qt::LeftButton);

    QCOMPARE(rig.label("Identity")->text(), QStringLiteral("No chipset found"));
    QCOMPARE(rig.label("LabelCom")->text(), QStringLiteral("No chipset found, please"));
    QCOMPARE(rig.label("LabelBauds")->text(), QStringLiteral("Perform a chipset detection"));
    for (const char *name : PrinterButtons)
        QVERIFY2(!rig.button(name)->isEnabled(), name);
    QVERIFY(rig.button("GetID")->isEnabled());
    QVERIFY(rig.button("GetID")->hasFocus());
    QVERIFY(rig.line.opens().isEmpty());
}

void TestPrinterBinding::detectPrinterMenuItemRunsTheIdentityCheck()
{
    Rig rig;
    rig.board();
    rig.detectAction->trigger();
    QCOMPARE(rig.selections, 1);
    QCOMPARE(rig.label("LabelCom")->text(), QStringLiteral("Port: COM3"));
}

void TestPrinterBinding::identityFromTheBoardIsShownPlain()
{
    Rig rig;
    BoardOptions options;
    options.identity = "<b>BOLD</b>";
    options.firmware = "\r\nFW\t1";
    rig.board(options);
    rig.binding->identityCheck();
    QLabel *identity = rig.label("Identity");
    QCOMPARE(identity->textFormat(), Qt::PlainText);
    QCOMPARE(identity->text(), QStringLiteral("<b>BOLD</b>     \uFFFD\uFFFDFW\uFFFD1"));
}

void TestPrinterBinding::readBackBeforeDetectionWarnsThenRunsTheIdentityCheck()
{
    Rig rig;
    rig.scan = false;
    rig.binding->readSettings();
    QCOMPARE(rig.prompts.texts(), QStringList{QStringLiteral("Please detect the printer first")});
    QCOMPARE(rig.prompts.shown.at(0).icon, MessageIcon::Warning);
    QCOMPARE(rig.selections, 1);
    QVERIFY(rig.line.opens().isEmpty());
}

void TestPrinterBinding::readBackFillsTheEditorAndGivesTheButtonBack()
{
    Rig rig;
    BoardOptions options;
    options.userMode = false;
    options.straps1 = 0xD1;
    options.straps2 = 0x80;
    rig.board(options);
    rig.showActive();
    rig.binding->identityCheck();
    rig.line.clearRecords();

    QTest::mouseClick(rig.button("GetSettings"), Qt::LeftButton);
    QVERIFY(rig.prompts.shown.isEmpty());
    QCOMPARE(rig.line.writtenBytes(), hex("1d536606" "1d536609" "1d5343" "1b49"));
    QVERIFY(rig.editor.isChecked(QStringLiteral("ConfRes")));
    QVERIFY(rig.editor.isChecked(QStringLiteral("IdAuto")));
    QCOMPARE(rig.editor.buildConfigurationCode(), QStringLiteral("1101000110000000"));
    QVERIFY(!rig.editor.name().isEmpty());
    QVERIFY(rig.button("GetSettings")->isEnabled());
    QVERIFY(rig.button("GetSettings")->hasFocus());
    QCOMPARE(rig.root.cursor().shape(), Qt::ArrowCursor);
}

void TestPrinterBinding::sleepAndWakeSwitchTheButtons()
{
    Rig rig;
    Board &board = rig.board();
    rig.showActive();
    rig.binding->identityCheck();
    rig.line.clearRecords();

    QTest::mouseClick(rig.button("SleepButton"), Qt::LeftButton);
    QCOMPARE(rig.line.writtenBytes(), hex("18" "1b53" "18"));
    QVERIFY(board.isAsleep());
    for (const char *name : {"SleepButton", "Reset", "GetSettings", "ConfigPrinter"})
        QVERIFY2(!rig.button(name)->isEnabled(), name);
    QVERIFY(rig.button("Wakeup")->isEnabled());
    QVERIFY(rig.button("GetID")->isEnabled());
    QVERIFY(rig.button("Wakeup")->hasFocus());

    rig.line.clearRecords();
    QTest::mouseClick(rig.button("Wakeup"), Qt::LeftButton);
    QCOMPARE(rig.line.writtenBytes(), hex("00" "18"));
    QVERIFY(!board.isAsleep());
    for (const char *name : PrinterButtons)
        QVERIFY2(rig.button(name)->isEnabled(), name);
    QCOMPARE(rig.root.cursor().shape(), Qt::ArrowCursor);
}

void TestPrinterBinding::resetKeepsTheButtons()
{
    Rig rig;
    Board &board = rig.board();
    rig.binding->identityCheck();
    rig.line.clearRecords();
    QTest::mouseClick(rig.button("Reset"), Qt::LeftButton);
    QCOMPARE(rig.line.writtenBytes(), hex("1b40"));
    QCOMPARE(board.resetCount(), 1);
    for (const char *name : PrinterButtons)
        QVERIFY2(rig.button(name)->isEnabled(), name);
}

QTEST_MAIN(TestPrinterBinding)
#include "tst_printerbinding.moc"
