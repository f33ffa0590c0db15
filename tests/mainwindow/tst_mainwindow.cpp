#include "mainwindow/mainfrm.h"
#include "scriptedline.h"
#include "scriptedprompts.h"
#include "serial/commandgate.h"
#include "serial/eventloopclock.h"
#include "serial/seriallink.h"
#include "serial/virtualclock.h"

#include <QAction>
#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace tessary;
using namespace tessary::test;

namespace {

// The window over a scripted line and the virtual clock, with pre-answered
// message boxes.
struct Harness {
    explicit Harness(bool demo = false) : services{state, link, gate, prompts, files, demo} {}

    VirtualClock clock;
    ScriptedLine line{clock};
    SerialLink link{line, clock};
    CommandGate gate{link};
    AppState state;
    ScriptedPrompts prompts;
    ScriptedFileChooser files;
    AppServices services;
};

const QString Question = QStringLiteral("Database has been modified ! Quit anyway ?");

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startStateOfEveryControl_data();
    void startStateOfEveryControl();
    void formLoadSetsProgramWideState();
    void formLoadRestoresStartStateAfterChanges();
    void windowIsFixedSizeWithTitleAndBoldColumnCaptions();
    void demoModeTitleNamesTheSimulatedBoard();
    void modeSelectorCaptionsAreRedAndGreen();
    void groupBoxesCarryTheirCaptionAsAccessibleName();
    void tabOrderFollowsTheColumns();
    void menuBarShowsExactlyThreeMenus();
    void f10ReachesTheMenuBarFromTheKeyboard();
    void menuItemsHaveCaptionsAndNoShortcuts_data();
    void menuItemsHaveCaptionsAndNoShortcuts();
    void dbOpsMenuHoldsTheFourEditionItems();
    void statusLineShowsTextInLabel();
    void databaseReportsToTheStatusBar();

    void exitAndCloseGuards_data();
    void exitAndCloseGuards();
    void guardQuestionIsAWarningWithOkAndCancel();
    void exitWithOkDoesNotAskAgainWhenClosing();

    void printerColumnDisabledWhileCommandRuns();
    void closeDuringCommandStopsItThenCloses();
    void closeDuringCommandCancelledLetsItFinish();
    void closeDuringRealTimeWaitStopsTheWait();

private:
    void showWindow();
    template <typename T> T *control(const char *name) const
    {
        T *w = m_window->findChild<T *>(QLatin1String(name));
        if (!w)
            qWarning("no control %s", name);
        return w;
    }

    QTemporaryDir m_currentDir;
    QString m_previousDir;
    std::unique_ptr<Harness> m_harness;
    std::unique_ptr<MainFrm> m_window;
};

void TestMainWindow::initTestCase()
{
    // Start-up reads from the current directory: make it one of our own.
    QVERIFY(m_currentDir.isValid());
    m_previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_currentDir.path()));
    // An empty database as default.cdb, so that start-up loads no entries.
    QFile empty(QStringLiteral("default.cdb"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.write(QByteArray("ZELPRINTERSCDB0") + QByteArray::fromHex("000d0a"));
    empty.close();
}

void TestMainWindow::init()
{
    m_harness = std::make_unique<Harness>();
    m_window = std::make_unique<MainFrm>(m_harness->services);
}

void TestMainWindow::cleanup()
{
    m_window.reset();
    m_harness.reset();
}

void TestMainWindow::showWindow()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestMainWindow::startStateOfEveryControl_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("checked");

    auto row = [](const char *name, const char *kind, const QString &caption, bool visible, bool enabled,
                  bool checked = false) {
        QTest::newRow(name) << QString::fromLatin1(kind) << caption << visible << enabled << checked;
    };
    const char *Group = "QGroupBox";
    const char *Button = "QPushButton";
    const char *Option = "QRadioButton";
    const char *Label = "QLabel";
    const char *List = "QListWidget";

    // Left column.
    row("Frame9", Group, "Mechanism database", true, true);
    row("List1", List, "", true, true);
    row("DbbAnalyse", Button, "Analyse current entry", true, true);
    row("DbbDelete", Button, "Delete current entry", true, true);
    row("DbUp", Button, "Move up", true, true);
    row("DbDown", Button, "Move down", true, true);
    row("List2", List, "", false, true);
    // Middle column.
    row("Frame8", Group, "Configuration editor", true, true);
    row("IdEditor", Group, "Mechanism identity", true, true);
    row("ConfigName", "QLineEdit", "", true, true);
    row("Frame1", Group, "Logic voltage", false, true);
    row("Voltage5", Option, "5     Volts", false, true, true);
    row("Voltage3", Option, "3.3  Volts", false, true);
    row("Printermode", Group, "Printer mode", true, true);
    row("ModeMRS", Option, "MRS", true, false);
    row("ModeChipset", Option, "Chipset", true, false);
    row("Frame2", Group, "Mechanism", true, true);
    row("MechaStd", Option, "Standard", true, true);
    row("MechaKEL", Option, "KEL", true, true);
    row("Frame11", Group, "Head-up polarity", true, true);
    row("HupNormal", Option, "Normal", true, true);
    row("HupInverted", Option, "Inverted", true, true);
    row("Frame3", Group, "Motor steps", true, true);
    row("Step1", Option, "1 step/dotline", true, true);
    row("Steps2", Option, "2 steps/dotline", true, true);
    row("Frame4", Group, "Motor rotation", true, true);
    row("StepperNormal", Option, "Normal", true, true);
    row("StepperInverted", Option, "Inverted", true, true);
    row("Frame7", Group, "Head width", true, true);
    row("HW384", Option, "2''               384 pixels", true, true);
    row("HW432", Option, "2''               432 pixels", true, true);
    row("HW448", Option, "2''               448 pixels", true, true);
    row("HW576", Option, "3''               576 pixels", true, true);
    row("HW640", Option, "3''               640 pixels", true, true);
    row("HW832", Option, "4 ''              832 pixels", true, true);
    row("HW864", Option, "4 ''              864 pixels", true, true);
    row("Frame5", Group, "Head type", true, true);
    row("HeadST", Option, "800 Ohms", true, true);
    row("HeadHS", Option, "3000 Ohms", true, true);
    row("HeadLV", Option, "1500 Ohms", true, true);
    row("Frame6", Group, "Strobe polarity", true, true);
    row("StrobeRohm", Option, "Positive", true, true);
    row("StrobeKyo", Option, "Negative", true, true);
    row("NewConfig", Button, "Save configuration to database", true, true);
    // Right column.
    row("Frame10", Group, "Printer", true, true);
    row("Identityf", Group, "Firmware Identity", true, true);
    row("Identity", Label, "Please, run chipset detection", true, true);
    row("GetID", Button, "Check identity", true, true);
    row("Frame12", Group, "Configuration mode", true, true);
    row("ConfRes", Option, "Resistors", true, true);
    row("ConfUser", Option, "User", true, true);
    row("Frame13", Group, "Identity determination", true, true);
    row("IdAuto", Option, "Automatic", true, true);
    row("IdUser", Option, "User", true, true);
    row("GetSettings", Button, "Check configuration", true, false);
    row("ConfigPrinter", Button, "Configure printer", true, false);
    row("Frame14", Group, "Communication", true, true);
    row("LabelCom", Label, "No chipset found, please", true, true);
    row("LabelBauds", Label, "perform a chipset detection", true, true);
    row("Wakeup", Button, "Wake up", true, false);
    row("SleepButton", Button, "Sleep", true, false);
    row("Reset", Button, "Reset", true, false);
    // Status bar.
    row("StatusBar", "QStatusBar", "", true, true);
}

void TestMainWindow::startStateOfEveryControl()
{
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QFETCH(bool, visible);
    QFETCH(bool, enabled);
    QFETCH(bool, checked);

    showWindow();
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const QList<QWidget *> found = m_window->findChildren<QWidget *>(name);
    QCOMPARE(found.size(), 1);
    QWidget *w = found.constFirst();
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), kind);

    QString text;
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        text = b->text();
    else if (auto *g = qobject_cast<QGroupBox *>(w))
        text = g->title();
    else if (auto *l = qobject_cast<QLabel *>(w))
        text = l->text();
    else if (auto *e = qobject_cast<QLineEdit *>(w))
        text = e->text();
    else if (auto *list = qobject_cast<QListWidget *>(w))
        QCOMPARE(list->count(), 0);
    QCOMPARE(text, caption);

    QCOMPARE(w->isVisible(), visible);
    QCOMPARE(w->isEnabled(), enabled);
    auto *b = qobject_cast<QAbstractButton *>(w);
    QCOMPARE(b && b->isChecked(), checked);
    if (auto *list = qobject_cast<QListWidget *>(w))
        QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
}

void TestMainWindow::formLoadSetsProgramWideState()
{
    m_harness->state.link.printerFound = false;
    m_window->formLoad();
    const AppState &state = m_harness->state;
    // The current directory at load, not the program's own.
    QCOMPARE(state.AppDirectory, QDir(m_currentDir.path()).canonicalPath() + QLatin1Char('/'));
    QVERIFY(!m_window->database().isModified());
    QVERIFY(m_window->dbOpsMenu()->isHidden());
}

void TestMainWindow::formLoadRestoresStartStateAfterChanges()
{
    showWindow();
    const QStringList printerButtons = {"GetSettings", "ConfigPrinter", "Wakeup", "SleepButton", "Reset"};
    for (const QString &name : printerButtons)
        m_window->findChild<QPushButton *>(name)->setEnabled(true);
    control<QPushButton>("GetID")->setEnabled(false);
    for (const char *name : {"HW576", "MechaKEL", "Steps2", "StepperInverted", "HeadLV", "StrobeKyo", "HupInverted",
                             "Voltage3", "ModeMRS"})
        control<QRadioButton>(name)->setChecked(true);
    control<QLabel>("LabelCom")->setText(QStringLiteral("Port : COM 1"));
    m_window->database().append(QStringLiteral("Mechanism 01"), QStringLiteral("1111000101000000"));
    m_window->database().setModified(true);

    m_window->formLoad();

    for (const QString &name : printerButtons)
        QVERIFY2(!m_window->findChild<QPushButton *>(name)->isEnabled(), qPrintable(name));
    QVERIFY(control<QPushButton>("GetID")->isEnabled());
    QCOMPARE(control<QLabel>("LabelCom")->text(), QStringLiteral("No chipset found, please"));
    QVERIFY(!m_window->database().isModified());
    QStringList checked;
    for (QRadioButton *r : m_window->findChildren<QRadioButton *>())
        if (r->isChecked())
            checked << r->objectName();
    QCOMPARE(checked, QStringList{QStringLiteral("Voltage5")});
}

void TestMainWindow::windowIsFixedSizeWithTitleAndBoldColumnCaptions()
{
    showWindow();
    QCOMPARE(m_window->objectName(), QStringLiteral("MainFrm"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Tessary Configurator "));
    QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
    QVERIFY(!(m_window->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(m_window->centralWidget()->width() >= 700);
    QVERIFY(m_window->centralWidget()->height() >= 490);
    for (const char *name : {"Frame9", "Frame8", "Frame10"}) {
        auto *column = control<QGroupBox>(name);
        QVERIFY2(column->font().bold(), name);
        // The columns fill the client area's height.
        QVERIFY(column->height() >= m_window->centralWidget()->height() - 20);
    }
    QVERIFY(!control<QGroupBox>("Frame2")->font().bold());
    QVERIFY(!control<QPushButton>("GetID")->font().bold());
}

void TestMainWindow::demoModeTitleNamesTheSimulatedBoard()
{
    Harness demo(true);
    MainFrm window(demo.services);
    QVERIFY(window.windowTitle().startsWith(QStringLiteral("Tessary Configurator ")));
    QVERIFY(window.windowTitle().contains(QStringLiteral("demo")));
    QVERIFY(window.windowTitle().contains(QStringLiteral("COM1")));
}

void TestMainWindow::modeSelectorCaptionsAreRedAndGreen()
{
    auto hue = [this](const char *name) {
        const QColor c = control<QRadioButton>(name)->palette().color(QPalette::Active, QPalette::WindowText);
        return c.red() > 2 * c.green() ? QStringLiteral("red") : c.green() > 2 * c.red() ? QStringLiteral("green") : QString();
    };
    QCOMPARE(hue("ConfRes"), QStringLiteral("red"));
    QCOMPARE(hue("IdAuto"), QStringLiteral("red"));
    QCOMPARE(hue("ConfUser"), QStringLiteral("green"));
    QCOMPARE(hue("IdUser"), QStringLiteral("green"));
}

void TestMainWindow::groupBoxesCarryTheirCaptionAsAccessibleName()
{
    const QList<QGroupBox *> boxes = m_window->findChildren<QGroupBox *>();
    QCOMPARE(boxes.size(), 17);
    for (QGroupBox *box : boxes)
        QCOMPARE(box->accessibleName(), box->title());
    QVERIFY(!control<QListWidget>("List1")->accessibleName().isEmpty());
    QVERIFY(!control<QLineEdit>("ConfigName")->accessibleName().isEmpty());
    // A label whose text changes is read by its text.
    QVERIFY(control<QLabel>("Identity")->accessibleName().isEmpty());
}

void TestMainWindow::tabOrderFollowsTheColumns()
{
    showWindow();
    const QStringList expected = {"List1",       "DbbAnalyse", "DbbDelete", "DbUp",   "DbDown",
                                  "ConfigName",  "MechaStd",   "HupNormal", "Step1",  "StepperNormal",
                                  "HW384",       "HeadST",     "StrobeRohm", "NewConfig", "GetID",
                                  "ConfRes",     "IdAuto",     "GetSettings", "ConfigPrinter", "Wakeup",
                                  "SleepButton", "Reset"};
    QStringList chain;
    QWidget *w = control<QWidget>("List1");
    for (int i = 0; i < 200 && (chain.isEmpty() || w->objectName() != QLatin1String("List1")); ++i) {
        if (expected.contains(w->objectName()))
            chain << w->objectName();
        w = w->nextInFocusChain();
    }
    QCOMPARE(chain, expected);
}

void TestMainWindow::menuBarShowsExactlyThreeMenus()
{
    showWindow();
    QStringList shown;
    for (QAction *a : m_window->menuBar()->actions())
        if (a->isVisible())
            shown << a->text();
    QCOMPARE(shown, (QStringList{"Database", "Communication", "Help"}));
    QVERIFY(!m_window->menuBar()->actions().contains(m_window->dbOpsMenu()->menuAction()));
    QCOMPARE(m_window->findChild<QMenu *>(QStringLiteral("File"))->title(), QStringLiteral("Database"));
    QCOMPARE(m_window->findChild<QMenu *>(QStringLiteral("Comm"))->title(), QStringLiteral("Communication"));
    QCOMPARE(m_window->findChild<QMenu *>(QStringLiteral("Help"))->title(), QStringLiteral("Help"));
}

void TestMainWindow::f10ReachesTheMenuBarFromTheKeyboard()
{
    showWindow();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QCOMPARE(m_window->menuBar()->activeAction(), nullptr);
    QTest::keyClick(control<QWidget>("List1"), Qt::Key_F10);
    QVERIFY(m_window->menuBar()->activeAction());
    QCOMPARE(m_window->menuBar()->activeAction()->text(), QStringLiteral("Database"));
}

void TestMainWindow::menuItemsHaveCaptionsAndNoShortcuts_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QStringList>("items"); // name:caption, "-" for a separator
    QTest::newRow("File") << "File"
                          << QStringList{"Ndb:New database", "Od:Open database", "sep2:-", "sd:Save database",
                                         "Sda:Save database as...", "sep1:-", "Exit:Exit"};
    QTest::newRow("Comm") << "Comm"
                          << QStringList{"DetectPrinter:Detect a Printer", "Commsep:-",
                                         "TrafficMonitor:Traffic monitor"};
    QTest::newRow("Help") << "Help" << QStringList{"Helphelp:Contents", "Helpsep:-", "About:About"};
    QTest::newRow("dbOps") << "dbOps"
                           << QStringList{"dbAnalyse:Analyse", "dbDelete:Delete", "dbMoveup:Move up",
                                          "dbMovedown:Move down"};
}

void TestMainWindow::menuItemsHaveCaptionsAndNoShortcuts()
{
    QFETCH(QString, menu);
    QFETCH(QStringList, items);
    QMenu *m = m_window->findChild<QMenu *>(menu);
    QVERIFY(m);
    QStringList actual;
    for (QAction *a : m->actions()) {
        actual << a->objectName() + QLatin1Char(':') + (a->isSeparator() ? QStringLiteral("-") : a->text());
        QVERIFY(a->shortcut().isEmpty());
        QVERIFY(!a->isCheckable());
        // Found by name from the window, as the other parts look them up.
        QCOMPARE(m_window->findChild<QAction *>(a->objectName()), a);
    }
    QCOMPARE(actual, items);
}

void TestMainWindow::dbOpsMenuHoldsTheFourEditionItems()
{
    QMenu *dbOps = m_window->dbOpsMenu();
    QCOMPARE(dbOps->objectName(), QStringLiteral("dbOps"));
    QCOMPARE(dbOps->title(), QStringLiteral("Database Edition"));
    QCOMPARE(dbOps->actions().size(), 4);
    showWindow();
    QVERIFY(!dbOps->isVisible());
}

void TestMainWindow::statusLineShowsTextInLabel()
{
    QCOMPARE(m_window->statusText(), QStringLiteral("Status bar"));
    m_window->showStatus(QStringLiteral("Database file loaded."));
    QCOMPARE(m_window->statusText(), QStringLiteral("Database file loaded."));
    auto *bar = control<QStatusBar>("StatusBar");
    QCOMPARE(m_window->statusBar(), bar);
    const QList<QLabel *> labels = bar->findChildren<QLabel *>();
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels.constFirst()->text(), QStringLiteral("Database file loaded."));
}

void TestMainWindow::databaseReportsToTheStatusBar()
{
    MechanismDatabase &db = m_window->database();
    db.append(QStringLiteral("Mechanism 01"), QStringLiteral("1111000101000000"));
    db.select(0);
    QCOMPARE(m_window->statusText(), QStringLiteral("Configuration selected : Mechanism 01"));
}

void TestMainWindow::exitAndCloseGuards_data()
{
    QTest::addColumn<bool>("byExit");
    QTest::addColumn<bool>("modified");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("ends");

    QTest::newRow("exit, unmodified") << true << false << false << false << true;
    QTest::newRow("exit, modified, OK") << true << true << true << true << true;
    QTest::newRow("exit, modified, Cancel") << true << true << false << true << false;
    QTest::newRow("close, unmodified") << false << false << false << false << true;
    QTest::newRow("close, modified, OK") << false << true << true << true << true;
    QTest::newRow("close, modified, Cancel") << false << true << false << true << false;
}

void TestMainWindow::exitAndCloseGuards()
{
    QFETCH(bool, byExit);
    QFETCH(bool, modified);
    QFETCH(bool, answer);
    QFETCH(bool, asked);
    QFETCH(bool, ends);

    showWindow();
    MechanismDatabase &db = m_window->database();
    db.append(QStringLiteral("Mechanism 01"), QStringLiteral("1111000101000000"));
    db.setModified(modified);
    m_harness->prompts.answer({answer});
    QSignalSpy quit(m_window.get(), &MainFrm::quitRequested);

    if (byExit)
        control<QAction>("Exit")->trigger();
    else
        m_window->close();

    QCOMPARE(m_harness->prompts.texts(), asked ? QStringList{Question} : QStringList{});
    QCOMPARE(quit.count(), ends ? 1 : 0);
    QCOMPARE(m_window->isVisible(), !ends);
    // Cancel changes nothing.
    QCOMPARE(db.count(), 1);
    QCOMPARE(db.isModified(), modified);
}

void TestMainWindow::guardQuestionIsAWarningWithOkAndCancel()
{
    showWindow();
    m_window->database().setModified(true);
    m_harness->prompts.answer({false});
    QVERIFY(!m_window->close());
    QCOMPARE(m_harness->prompts.shown.size(), 1);
    const auto &shown = m_harness->prompts.shown.constFirst();
    QCOMPARE(shown.text, QStringLiteral("Database has been modified ! Quit anyway ?"));
    QCOMPARE(shown.icon, MessageIcon::Warning);
    QCOMPARE(shown.buttons, MessageButtons::OkCancel);
    // Asked again on the next attempt: a Cancel is not remembered.
    m_harness->prompts.answer({true});
    QVERIFY(m_window->close());
    QCOMPARE(m_harness->prompts.shown.size(), 2);
}

void TestMainWindow::exitWithOkDoesNotAskAgainWhenClosing()
{
    showWindow();
    m_window->database().setModified(true);
    m_harness->prompts.answer({true, false});
    QSignalSpy quit(m_window.get(), &MainFrm::quitRequested);
    m_window->exitProgram();
    QCOMPARE(m_harness->prompts.shown.size(), 1);
    // Whatever closes the window afterwards (the application quitting) asks nothing.
    m_window->close();
    QCOMPARE(m_harness->prompts.shown.size(), 1);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(quit.count(), 1);
}

void TestMainWindow::printerColumnDisabledWhileCommandRuns()
{
    showWindow();
    auto *column = control<QGroupBox>("Frame10");
    auto *detect = control<QAction>("DetectPrinter");
    control<QPushButton>("Wakeup")->setEnabled(true);
    bool columnEnabledDuring = true;
    bool detectEnabledDuring = true;
    bool getIdEnabledDuring = true;
    const bool completed = m_harness->gate.run([&] {
        m_harness->link.delay(100);
        columnEnabledDuring = column->isEnabled();
        detectEnabledDuring = detect->isEnabled();
        getIdEnabledDuring = control<QPushButton>("GetID")->isEnabled();
    });
    QVERIFY(completed);
    QVERIFY(!columnEnabledDuring);
    QVERIFY(!detectEnabledDuring);
    QVERIFY(!getIdEnabledDuring);
    // Afterwards each button is back to its own state.
    QVERIFY(column->isEnabled());
    QVERIFY(detect->isEnabled());
    QVERIFY(control<QPushButton>("GetID")->isEnabled());
    QVERIFY(control<QPushButton>("Wakeup")->isEnabled());
    QVERIFY(!control<QPushButton>("Reset")->isEnabled());
    // The database column stays usable.
    QVERIFY(control<QGroupBox>("Frame9")->isEnabled());
}

void TestMainWindow::closeDuringCommandStopsItThenCloses()
{
    showWindow();
    m_window->database().setModified(true);
    m_harness->prompts.answer({true});
    QSignalSpy quit(m_window.get(), &MainFrm::quitRequested);
    int waitsAfterClose = 0;
    bool stillShownDuringCommand = false;
    const bool completed = m_harness->gate.run([&] {
        QVERIFY(m_harness->link.openPort(1, QStringLiteral("9600"), HandshakeHardware));
        m_harness->link.delay(10);
        // The user closes the window while the command waits.
        m_window->close();
        stillShownDuringCommand = m_window->isVisible();
        for (int i = 0; i < 100; ++i) {
            m_harness->link.delay(10);
            ++waitsAfterClose;
        }
    });
    QVERIFY(!completed);
    QCOMPARE(waitsAfterClose, 0);
    QVERIFY(stillShownDuringCommand);
    QVERIFY(!m_harness->line.isOpen());
    QTRY_VERIFY(!m_window->isVisible());
    QCOMPARE(quit.count(), 1);
    QCOMPARE(m_harness->prompts.shown.size(), 1);
}

void TestMainWindow::closeDuringCommandCancelledLetsItFinish()
{
    showWindow();
    m_window->database().setModified(true);
    m_harness->prompts.answer({false});
    int waits = 0;
    const bool completed = m_harness->gate.run([&] {
        m_harness->link.delay(10);
        m_window->close();
        for (int i = 0; i < 5; ++i) {
            m_harness->link.delay(10);
            ++waits;
        }
    });
    QVERIFY(completed);
    QCOMPARE(waits, 5);
    QTest::qWait(0);
    QVERIFY(m_window->isVisible());
}

void TestMainWindow::closeDuringRealTimeWaitStopsTheWait()
{
    // The program's own clock: the close arrives through the event loop
    // while the command sits in a long wait, as when the user clicks the
    // close box.
    EventLoopClock clock;
    ScriptedLine line(clock);
    SerialLink link(line, clock);
    CommandGate gate(link);
    AppState state;
    ScriptedPrompts prompts;
    ScriptedFileChooser files;
    AppServices services{state, link, gate, prompts, files};
    MainFrm window(services);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy quit(&window, &MainFrm::quitRequested);

    QTimer::singleShot(20, &window, [&window] { window.close(); });
    QElapsedTimer elapsed;
    elapsed.start();
    const bool completed = gate.run([&] { link.delay(30000); });
    QVERIFY(!completed);
    QVERIFY(elapsed.elapsed() < 25000);
    QTRY_VERIFY(!window.isVisible());
    QCOMPARE(quit.count(), 1);
    QVERIFY(prompts.shown.isEmpty());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
