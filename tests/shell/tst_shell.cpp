// The shell around the main window: the splash, About and Help as the main
// window's menus open them, the help pages delivered with the program, and
// the desktop program's command line.
#include "configuration/configurationeditor.h"
#include "detection/detector.h"
#include "detection/portselection.h"
#include "files.h"
#include "help/aboutfrm.h"
#include "help/helpfrm.h"
#include "printer/printerqueries.h"
#include "printer/programmer.h"
#include "serial/trafficmonitorwindow.h"
#include "startup/commandline.h"
#include "startup/dialogprompts.h"
#include "startup/splashscreen.h"
#include "windowrig.h"

#include <QAccessible>
#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QComboBox>
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>

#include <algorithm>

using namespace tessary;
using namespace tessary::test;

namespace {

// What a user reads and hears of a window: its title, then for each named control, menu and menu item
// inside it (not in windows of their own) "name: caption | tip: tooltip | heard: accessible name", the
// tooltip only when there is one, the name only when it is not the caption, with the labels that name it
// (other than its group's title); "[off]" when disabled, "[hidden]", "[on]" when checked. The names of
// the containers and controls with nothing to read or show follow in one row.
QStringList fixedTexts(QWidget *window)
{
    QStringList rows, silent; // silent: the names of the containers and controls with nothing to read
    const auto add = [&](QObject *o, const QString &caption) {
        QString row = o->objectName() + u':' + (caption.isEmpty() ? "" : " " + caption), heard = caption;
        auto *w = qobject_cast<QWidget *>(o);
        if (w && w != window && !qobject_cast<QMenu *>(w)) // a menu shows when it is opened
            row += QString(w->isEnabled() ? "" : " [off]") + (w->isVisibleTo(window) ? "" : " [hidden]")
                 + (o->property("checked").toBool() ? " [on]" : "");
        if (w && !w->toolTip().isEmpty())
            row += " | tip: " + w->toolTip();
        if (w && !qobject_cast<QMenu *>(w)) { // a menu is heard through its item in the menu bar: by its title
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
            heard = a->text(QAccessible::Name);
            for (const auto &[label, relation] : a->relations(QAccessible::Label))
                if (label->object() != o->parent())
                    heard += " (labelled " + label->text(QAccessible::Name) + ')';
        }
        if (heard != caption)
            row += " | heard: " + heard;
        if (w && !w->accessibleName().isEmpty() && !heard.startsWith(w->accessibleName())) // elsewhere than on Linux
            row += " | named: " + w->accessibleName();
        if (row != o->objectName() + u':')
            rows << row;
        else
            silent << o->objectName();
    };
    const std::function<void(QObject *)> walk = [&](QObject *parent) {
        for (QObject *o : parent->children()) {
            auto *w = qobject_cast<QWidget *>(o);
            if (w && w->isWindow() && !qobject_cast<QMenu *>(w))
                continue;
            QString caption = o->property(qobject_cast<QGroupBox *>(o) ? "title" : "text").toString();
            if (auto *menu = qobject_cast<QMenu *>(o))
                caption = menu->title();
            if (auto *item = qobject_cast<QAction *>(o); item && item->isSeparator())
                caption = "-";
            if (auto *choice = qobject_cast<QComboBox *>(o))
                for (int i = 0; i < choice->count(); ++i)
                    caption += (i ? "/" : "") + choice->itemText(i);
            if (!o->objectName().isEmpty() && !o->objectName().startsWith("qt_") && !o->objectName().startsWith(u'_'))
                add(o, caption);
            walk(o);
        }
    };
    add(window, window->windowTitle());
    walk(window);
    return silent.isEmpty() ? rows : rows << "names: " + silent.join(u' ');
}


// A window as a user sees it, pixel for pixel, against its picture in tests/data/windows. The pictures are drawn
// with DejaVu Sans on the offscreen platform. After an intended change of a window, TESSARY_UPDATE_PICTURES=1
// writes the new pictures there: look at them before committing them. Empty when they are alike; else which
// named controls differ, with the window as drawn kept in the temporary folder.
QString differenceFromPicture(QWidget *window, const QString &name)
{
    if (QWidget *focused = window->focusWidget()) // a caret blinks on its own time
        focused->clearFocus();
    const QImage shown = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QString picture = qEnvironmentVariable("TESSARY_TEST_DATA") + "/windows/" + name + ".png";
    if (qEnvironmentVariableIsSet("TESSARY_UPDATE_PICTURES"))
        return shown.save(picture) ? QString() : "cannot write " + picture;
    const QImage expected = QImage(picture).convertToFormat(QImage::Format_RGB32);
    QStringList where;
    qsizetype differing = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if (expected.size() != shown.size() || shown.pixel(x, y) != expected.pixel(x, y)) {
                ++differing;
                QWidget *w = window->childAt(x, y);
                while (w && w != window && (w->objectName().isEmpty() || w->objectName().startsWith("qt_")))
                    w = w->parentWidget();
                const QString part = w && w != window ? w->objectName() : QStringLiteral("its frame");
                if (!where.contains(part))
                    where << part;
            }
    if (!differing)
        return {};
    const QString kept = QDir::temp().filePath("tessary-" + name + ".png");
    shown.save(kept);
    return QString("%1 differs from its picture (%2x%3 against %4x%5) in %6 pixels: %7; drawn in %8")
        .arg(name).arg(shown.width()).arg(shown.height()).arg(expected.width()).arg(expected.height())
        .arg(differing).arg(where.join(", "), kept);
}

} // namespace

class TestShell : public QObject {
    Q_OBJECT

private slots:
    // Every fixed text of the windows as they open: titles, captions, tooltips and accessible names; and
    // which controls are off or hidden: until a printer is found only "Check identity" reaches it, the
    // printer mode is shown, not chosen, the logic voltage (5 V, the one option on) and the codes never show.
    void everyWindowReadsAsWritten()
    {
        WindowRig rig, demo(WindowRig::emptyDatabase(), true);
        rig.click("TrafficMonitor Helphelp About");
        rig.line.setExistingPorts({1, 2});
        rig.state.link = {true, 1, QStringLiteral("115200"), HandshakeHardware, true}; // an earlier finding, forgotten
        PortSelection ports(rig.services);
        SplashScreen splash([] {});
        QStringList texts = fixedTexts(rig.window.get()) + fixedTexts(demo.window.get()).mid(0, 1);
        for (QWidget *window : std::initializer_list<QWidget *>{&ports, rig.window->findChild<AboutFrm *>(),
                                                                 rig.window->findChild<Helpfrm *>(), &splash,
                                                                 rig.window->findChild<TrafficMonitorWindow *>()})
            texts += fixedTexts(window);
        const QStringList written = {
            // The main window: its menus, the database column, the editor, the printer column, the status bar.
            "MainFrm: Tessary Configurator ", "File: Database", "Ndb: New database", "Od: Open database", "sep2: -",
            "sd: Save database", "Sda: Save database as...", "sep1: -", "Exit: Exit", "Comm: Communication",
            "DetectPrinter: Detect a Printer", "Commsep: -", "TrafficMonitor: Traffic monitor", "Help: Help",
            "Helphelp: Contents", "Helpsep: -", "About: About", "dbOps: Database Edition", "dbAnalyse: Analyse", "dbDelete: Delete", "dbMoveup: Move up",
            "dbMovedown: Move down", "Frame9: Mechanism database", "List1: | heard: Database entries",
            "DbbAnalyse: Analyse current entry", "DbbDelete: Delete current entry", "DbUp: Move up", "DbDown: Move down",
            "List2: [hidden] | heard: Configuration codes", "Frame8: Configuration editor",
            "IdEditor: Mechanism identity | tip: The name the board reports as its identity (User identity determination)",
            "ConfigName: | heard: Mechanism identity", "Frame1: Logic voltage [hidden]", "Voltage5: 5     Volts [hidden] [on]",
            "Voltage3: 3.3  Volts [hidden]",
            "Printermode: Printer mode | tip: The printer mode of a configuration read from the board: shown, not chosen",
            "ModeMRS: MRS [off]", "ModeChipset: Chipset [off]", "Frame2: Mechanism | tip: The mechanism type: Standard or KEL",
            "MechaStd: Standard", "MechaKEL: KEL",
            "Frame11: Head-up polarity | tip: The level of the head-up sensor's signal that means the head is up",
            "HupNormal: Normal", "HupInverted: Inverted",
            "Frame3: Motor steps | tip: How many motor steps advance the paper by one dot line", "Step1: 1 step/dotline",
            "Steps2: 2 steps/dotline", "Frame4: Motor rotation | tip: The direction the stepper motor turns to feed the paper",
            "StepperNormal: Normal", "StepperInverted: Inverted", "Frame7: Head width | tip: The width of the print head, in dots",
            "HW384: 2''               384 pixels", "HW432: 2''               432 pixels", "HW448: 2''               448 pixels",
            "HW576: 3''               576 pixels", "HW640: 3''               640 pixels", "HW832: 4 ''              832 pixels",
            "HW864: 4 ''              864 pixels", "Frame5: Head type | tip: The resistance of the print head's dots",
            "HeadST: 800 Ohms", "HeadHS: 3000 Ohms", "HeadLV: 1500 Ohms",
            "Frame6: Strobe polarity | tip: The polarity of the head's strobe signal (the board detects it too)",
            "StrobeRohm: Positive", "StrobeKyo: Negative", "NewConfig: Save configuration to database", "Frame10: Printer",
            "Identityf: Firmware Identity", "Identity: Please, run chipset detection",
            "GetID: Check identity | tip: Finds the board on a serial port and shows its firmware identity",
            "Frame12: Configuration mode | tip: Resistors: the board takes its configuration from its straps; User: from the editor",
            "ConfRes: Resistors", "ConfUser: User",
            "Frame13: Identity determination | tip: Automatic: the board names itself after its configuration; User: the identity given",
            "IdAuto: Automatic", "IdUser: User",
            "GetSettings: Check configuration [off] | tip: Reads the configuration the board holds into the editor",
            "ConfigPrinter: Configure printer [off] | tip: Writes the editor's configuration and identity into the board, then resets it",
            "Frame14: Communication", "LabelCom: No chipset found, please", "LabelBauds: perform a chipset detection",
            "Wakeup: Wake up [off] | tip: Wakes a sleeping board: a wake-up byte on every port",
            "SleepButton: Sleep [off] | tip: Puts the board to sleep until it is woken",
            "Reset: Reset [off] | tip: Restarts the board, which then works with the configuration it holds",
            "StatusText: Default database file loaded",
            "names: MenuBar ClientScroll ClientArea Frame1Options PrintermodeOptions Frame2Options Frame11Options Frame3Options "
            "Frame4Options Frame7Options Frame5Options Frame6Options Frame12Options Frame13Options StatusBar",
            "MainFrm: Tessary Configurator - demo board on COM1",
            // The port selection, with COM1 and COM2 there: no port chosen, 9600 bauds and hardware handshake; a
            // drop-down list is named by its entry, its caption is its label.
            "PortSelection: Communication Port Selection", "Frame1: Serial Port", "COM1: COM 1", "COM2: COM 2", "COM3: COM 3 [off]",
            "COM4: COM 4 [off]", "COM5: COM 5 [off]", "COM6: COM 6 [off]", "label: Baudrate:",
            "serialspeed: 1200/2400/4800/9600/19200/28800/38400/57600/115200 | heard: 9600 (labelled Baudrate:) | named: Baudrate",
            "Label1: Handshake:", "serialhandshakeconf: Xon-Xoff/DSR/DTR Mode | tip: Hardware flow control: the RTS and CTS lines | heard: DSR/DTR Mode (labelled Handshake:) | named: Handshake",
            "DetectSerialPrinter: Detect Chipset | tip: Asks for the board on the chosen port, at the chosen speed and handshake",
            "Frame2: Current Chipset", "DetectedPrinter: No printer found yet, please start detection.",
            "Autodetect: Autodetect Chipset | tip: Wakes the board, then tries every port at every speed, the fastest first",
            "OKButton: OK | tip: Closes this window and keeps what the detection found", "names: PortOptions",
            // About, Help, the splash and the traffic monitor.
            "AboutFrm: About", "Label1: Tessary Configurator    Rev: 2.3", "Label2: Web:",
            "Label4: www.tessary.example.com | heard: www.tessary.example.com (labelled Web:)", "Label3: Support:",
            "Label5: support@tessary.example.com | heard: support@tessary.example.com (labelled Support:)",
            "Image1: | heard: Tessary", "names: Picture1", "Helpfrm: Tessary Configurator Help", "Index: Index", "WebBrowser: | heard: Help page",
            "SplashScreen: | heard: Tessary Configurator", "Picture1: | heard: Tessary Configurator", "Rev: Rev: 2.3",
            "TrafficMonitor: Traffic monitor", "TrafficView: | heard: Serial traffic", "CopyTraffic: Copy", "ClearTraffic: Clear",
            "SaveTraffic: Save as...",
            "TrafficNote: Recorded also while this window is closed; the newest 20,000 lines are kept."};
        for (qsizetype row = 0; row < qMax(texts.size(), written.size()); ++row) // the first row that differs
            QCOMPARE(texts.value(row), written.value(row));
    }

    // Every window at its own size, as it opens: each control inside its frame, clear of its neighbours,
    // with room for its whole caption; each caption of a field leads to that field; and the window drawn
    // as its picture shows it (with the fonts the pictures were drawn with).
    void everyWindowIsLaidOutSoundly()
    {
        WindowRig rig;
        rig.click("TrafficMonitor Helphelp About");
        PortSelection ports(rig.services);
        SplashScreen splash([] {});
        QStringList faults;
        const std::function<void(QWidget *)> walk = [&](QWidget *parent) {
            QList<QWidget *> shown; // the named controls; a container without a name is walked through
            for (QWidget *w : parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
                if (!w->isVisible() || w->isWindow())
                    continue;
                if (w->objectName().isEmpty() || w->objectName().startsWith("qt_"))
                    walk(w);
                else
                    shown << w;
            }
            for (qsizetype i = 0; i < shown.size(); ++i) {
                QWidget *w = shown[i];
                const QString name = parent->objectName() + '/' + w->objectName();
                const bool scrolls = parent->objectName() == "qt_scrollarea_viewport"; // its content may be larger
                if (w->width() < 4 || w->height() < 4 || (!scrolls && !parent->rect().contains(w->geometry())))
                    faults << name + " is outside its frame";
                for (qsizetype j = i + 1; j < shown.size(); ++j)
                    if (w->geometry().intersects(shown[j]->geometry()))
                        faults << name + " lies over " + shown[j]->objectName();
                auto *label = qobject_cast<QLabel *>(w);
                const bool wraps = label && label->wordWrap();
                if ((label || qobject_cast<QAbstractButton *>(w)) && !w->property("text").toString().isEmpty()
                    && (wraps ? label->heightForWidth(label->width()) > label->height()
                              : w->sizeHint().width() > w->width()))
                    faults << name + " cuts its text";
                if (label && label->buddy() && label->buddy()->parentWidget() != parent)
                    faults << name + " leads to a field elsewhere";
                walk(w);
            }
        };
        for (QWidget *window : std::initializer_list<QWidget *>{rig.window.get(), &ports, rig.window->findChild<AboutFrm *>(),
                                                                 rig.window->findChild<Helpfrm *>(), &splash,
                                                                 rig.window->findChild<TrafficMonitorWindow *>()}) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            walk(window);
            if (QFontInfo(QApplication::font()).family() == "DejaVu Sans")
                faults << differenceFromPicture(window, window->objectName());
        }
        faults.removeAll(QString());
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join("; ")));
    }

    // The splash shows the main window exactly once: after
    // its 1.5 s, or at once when it is closed early.
    void splashShowsTheMainWindowOnce()
    {
        int shown = 0;
        QPointer<SplashScreen> splash = new SplashScreen([&shown] { ++shown; });
        splash->show();
        QCOMPARE(splash->frameGeometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());
        QTest::qWait(1000); // a timer never fires early
        QCOMPARE(shown, 0);
        QTRY_COMPARE_WITH_TIMEOUT(shown, 1, 10000);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(splash.isNull());
        splash = new SplashScreen([&shown] { ++shown; }, 20);
        splash->show();
        splash->close();
        QCOMPARE(shown, 2);
        QTest::qWait(60); // past the shortened delay: no second call from a stale tick
        QCOMPARE(shown, 2);
    }

    // The program's message boxes: the application's title, the text as it
    // is (never markup), the icon, and OK or OK/Cancel with Escape as Cancel;
    // Return presses the default button, Cancel for a question that loses
    // work or writes to the board. And its file dialogs.
    void messageBoxesShowTheTextAsItIs()
    {
        MessageBoxPrompts prompts;
        QString shown;
        const auto answer = [&](int key) {
            QTimer::singleShot(0, [&, key] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                QVERIFY(box);
                shown = QStringLiteral("%1|%2|%3|%4|%5|%6").arg(box->windowTitle(), box->text()).arg(box->textFormat())
                            .arg(box->icon()).arg(int(box->standardButtons())).arg(box->standardButton(box->defaultButton()));
                QTest::keyClick(box, Qt::Key(key));
            });
        };
        answer(Qt::Key_Return);
        QVERIFY(prompts.message("<b>COM1</b> & more", MessageIcon::Error, MessageButtons::Ok, DefaultButton::Ok));
        QCOMPARE(shown, QStringLiteral("Tessary Configurator 2.3|<b>COM1</b> & more|0|3|%1|%1").arg(int(QMessageBox::Ok)));
        answer(Qt::Key_Return);
        QVERIFY(!prompts.confirm("Program anyway ?"));
        QCOMPARE(shown.section(u'|', 3), QStringLiteral("2|%1|%2").arg(int(QMessageBox::Ok | QMessageBox::Cancel))
                                             .arg(int(QMessageBox::Cancel)));
        answer(Qt::Key_Escape);
        QVERIFY(!prompts.message("Go on ?", MessageIcon::Warning, MessageButtons::OkCancel, DefaultButton::Ok));
        // The file dialogs as asked; cancelled, nothing, whatever was chosen in them.
        DialogFileChooser files;
        QTemporaryDir folder;
        const QString chosen = folder.filePath("chosen.cdb");
        for (const int key : {Qt::Key_Escape, Qt::Key_Return}) {
            QTimer::singleShot(0, [&, key] {
                auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                shown = QStringLiteral("%1|%2|%3|%4").arg(dialog->windowTitle(), dialog->nameFilters().join(u'/'), dialog->defaultSuffix())
                            .arg(dialog->acceptMode() == QFileDialog::AcceptSave && !dialog->testOption(QFileDialog::DontConfirmOverwrite));
                dialog->selectFile(chosen);
                QTest::keyClick(dialog, Qt::Key(key));
            });
            QCOMPARE(files.saveFile({"Save configuration database as...", "Configuration databases (*.cdb)|*.cdb", "cdb", true, false}),
                     key == Qt::Key_Escape ? "" : chosen);
            QCOMPARE(shown, "Save configuration database as...|Configuration databases (*.cdb)|cdb|1");
        }
    }

    // Tab walks each window's controls in reading order and comes back round, Backtab walks back; Return and
    // Enter press the focused button, in every window. In the main window, with an entry analysed into the
    // editor (an option checked in each group, the first of its group or not), Tab stops once in each group,
    // on its checked option.
    void keyboardWalksAndPressesEachWindow()
    {
        WindowRig rig(QByteArray("ZELPRINTERSCDB0\x01\r\nKEL             1100110011110000\r\n"));
        rig.window->database().select(0);
        rig.click("DbbAnalyse");
        rig.line.setExistingPorts({1, 2});
        rig.click("TrafficMonitor Helphelp About");
        PortSelection ports(rig.services);
        ports.selectPort(2);
        const struct { QWidget *window; QString chain, pressed; } table[] = {
            {&ports, "COM2 serialspeed serialhandshakeconf DetectSerialPrinter Autodetect OKButton COM2", "DetectSerialPrinter"},
            {rig.window->findChild<TrafficMonitorWindow *>(), "CopyTraffic ClearTraffic SaveTraffic TrafficView CopyTraffic",
             "CopyTraffic"},
            {rig.window.get(), "List1 DbbAnalyse DbbDelete DbUp DbDown ConfigName MechaKEL HupInverted Steps2 StepperInverted HW832 "
                               "HeadST StrobeRohm NewConfig GetID ConfUser IdUser List1", "DbbAnalyse NewConfig"},
            {rig.window->findChild<Helpfrm *>(), "", "Index"},
            {rig.window->findChild<AboutFrm *>(), "Label4 Label5 Label4", ""}}; // its links: Return opens them
        for (const auto &row : table) {
            row.window->show();
            row.window->activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), row.window); // the main window counts as active while one of its own is
            QStringList names = row.chain.split(u' ', Qt::SkipEmptyParts), backwards = names;
            std::reverse(backwards.begin(), backwards.end());
            for (const auto &[key, chain] : {std::pair(Qt::Key_Tab, names), std::pair(Qt::Key_Backtab, backwards)}) {
                if (chain.isEmpty())
                    continue;
                row.window->findChild<QWidget *>(chain.first())->setFocus(Qt::TabFocusReason);
                QStringList visited{QApplication::focusWidget()->objectName()};
                while (visited.size() < chain.size()) {
                    QTest::keyClick(QApplication::focusWidget(), key);
                    visited << QApplication::focusWidget()->objectName();
                }
                QCOMPARE(visited, chain);
            }
            for (const QString &name : row.pressed.split(u' ', Qt::SkipEmptyParts)) {
                auto *button = row.window->findChild<QPushButton *>(name);
                QSignalSpy clicked(button, &QAbstractButton::clicked);
                button->setFocus();
                QTest::keyClick(button, Qt::Key_Return);
                QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
                QVERIFY2(clicked.count() == 2, qPrintable(name));
            }
        }
    }

    void aboutOpensOnceAndHandsItsLinksToTheDesktop()
    {
        WindowRig rig;
        rig.click("About");
        QPointer<AboutFrm> about = rig.window->findChild<AboutFrm *>();
        QVERIFY(about && about->isVisible() && !about->isModal());
        QList<QUrl> opened;
        about->setUrlOpener([&opened](const QUrl &url) { opened << url; });
        auto *mail = about->findChild<LinkLabel *>("Label5");
        QTest::mouseClick(about->findChild<LinkLabel *>("Label4"), Qt::LeftButton);
        QTest::keyClick(mail, Qt::Key_Return); // reached with Tab: keyboardWalksAndPressesEachWindow
        QVERIFY(QTest::qWaitForWindowActive(about));
        const QImage plain = mail->grab().toImage(); // the link Return opens is framed when reached with the keyboard
        while (!mail->hasFocus())
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(mail->grab().toImage() != plain);
        // Not clicks: the right button, a press let go beside the link, a release without a press on it.
        auto *web = about->findChild<LinkLabel *>("Label4");
        QTest::mouseClick(web, Qt::RightButton);
        QTest::mousePress(web, Qt::LeftButton);
        QTest::mouseRelease(web, Qt::LeftButton, {}, QPoint(-5, -5));
        QTest::mouseRelease(web, Qt::LeftButton);
        QCOMPARE(opened, QList<QUrl>({QUrl("https://www.tessary.example.com"), QUrl("mailto:support@tessary.example.com")}));
        rig.click("About");
        QCOMPARE(rig.window->findChildren<AboutFrm *>(), QList<AboutFrm *>{about});
        QTest::keyClick(mail, Qt::Key_Escape); // other keys go on to the window: Escape closes it, and it is gone
        QTRY_VERIFY(!about);
        // Over the main window (within its frame's width: how wide the system draws it is known once it is
        // shown), and whole on the screen when the main window reaches past the screen's corner.
        rig.click("About");
        QVERIFY((rig.window->findChild<AboutFrm *>()->frameGeometry().center() - rig.window->frameGeometry().center()).manhattanLength() <= 4);
        rig.window->findChild<AboutFrm *>()->close();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        rig.window->move(screen.topLeft() - QPoint(500, 400));
        QTRY_VERIFY(!rig.window->findChild<AboutFrm *>());
        rig.click("About");
        QVERIFY(screen.contains(rig.window->findChild<AboutFrm *>()->frameGeometry()));
    }

    // The pages in the program's folder come first; local links stay in the
    // view, web links go to the desktop; Index and Contents go back to the
    // index page of the one Help window.
    void helpFollowsLinksAndReturnsToTheIndex()
    {
        WindowRig rig;
        const QString folder = rig.folder.filePath("Help/");
        QDir().mkpath(folder);
        for (const char *page : {"index", "options"})
            QVERIFY(writeFile(folder + page + ".html", QByteArray("<html><head><title>") + page
                                                           + "</title></head><body><a href=\"https://example.org/\">web</a></body></html>"));
        rig.click("Helphelp");
        auto *help = rig.window->findChild<Helpfrm *>();
        QVERIFY(help && help->isVisible() && !help->isModal());
        QCOMPARE(help->frameGeometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());
        auto *browser = help->findChild<QTextBrowser *>("WebBrowser");
        QCOMPARE(browser->documentTitle(), "index");
        QList<QUrl> opened;
        help->setUrlOpener([&opened](const QUrl &url) { opened << url; });
        browser->setFocus(); // a link out, taken with the keyboard: opened outside, the page stays
        QTest::keyClick(browser, Qt::Key_Tab);
        QTest::keyClick(browser, Qt::Key_Return);
        QCOMPARE(browser->documentTitle(), "index");
        QTest::keyClick(browser, Qt::Key_End, Qt::ControlModifier); // read to its end: Index shows it from its top
        QVERIFY(browser->textCursor().position() > 0);
        QTest::mouseClick(help->findChild<QPushButton *>("Index"), Qt::LeftButton);
        QCOMPARE(std::pair(browser->textCursor().position(), browser->textCursor().hasSelection()), std::pair(0, false));
        emit browser->anchorClicked(QUrl("options.html"));
        QCOMPARE(help->currentPage(), QUrl::fromLocalFile(folder + "options.html"));
        QCOMPARE(opened, QList<QUrl>{QUrl("https://example.org/")});
        QTest::mouseClick(help->findChild<QPushButton *>("Index"), Qt::LeftButton);
        QCOMPARE(browser->documentTitle(), "index");
        emit browser->anchorClicked(QUrl("options.html"));
        rig.click("Helphelp");
        QCOMPARE(rig.window->findChildren<Helpfrm *>(), QList<Helpfrm *>{help});
        QCOMPARE(help->currentPage(), QUrl::fromLocalFile(folder + "index.html"));
        // Elsewhere the installed pages; none at all: the view says where it looked.
        QCOMPARE(HelpLocator(rig.folder.filePath("none"), {rig.folder.filePath("gone"), folder}).indexPath(),
                 folder + "index.html");
        Helpfrm::showHelp(rig.window.get(), HelpLocator(rig.folder.filePath("none"), {}));
        QVERIFY(browser->toPlainText().startsWith("Help pages not found"));
        QVERIFY(browser->toPlainText().contains(rig.folder.filePath("none/Help/index.html")));
    }

    // Every page delivered has a title, every link leads to a page (and
    // anchor) that is there or out to the web, and the index reaches every page.
    void helpPagesHoldTogether()
    {
        const QDir help(QStringLiteral(TESSARY_HELP_SOURCE));
        const auto read = [&help](const QString &page) { return QString::fromUtf8(fileBytes(help.filePath(page))); };
        QStringList reached{"index.html"};
        for (qsizetype i = 0; i < reached.size(); ++i) {
            const QString page = reached.at(i), html = read(page);
            QVERIFY2(html.contains(QRegularExpression("<title>[^<]+</title>")), qPrintable(page));
            const QRegularExpression localLink("href=\"(?!https:|mailto:)([^\"#]*)#?([^\"]*)\"");
            for (auto it = localLink.globalMatch(html); it.hasNext();) {
                const QRegularExpressionMatch link = it.next();
                const QString target = link.captured(1).isEmpty() ? page : link.captured(1), anchor = link.captured(2);
                QVERIFY2(!read(target).isEmpty()
                             && (anchor.isEmpty() || read(target).contains(QRegularExpression("(id|name)=\"" + anchor + '"'))),
                         qPrintable(page + ": broken link " + link.captured(0)));
                if (target.endsWith(".html") && !reached.contains(target))
                    reached << target;
            }
        }
        reached.sort();
        QCOMPARE(reached, help.entryList({"*.html"}, QDir::Files, QDir::Name));
    }

    // Each excerpt on the help page about the traffic monitor, its lines in order ("..." leaves some out), is
    // what the program records against the simulated board in that state.
    void monitorExcerptsAreWhatTheProgramRecords()
    {
        const QString page = QString::fromUtf8(fileBytes(QStringLiteral(TESSARY_HELP_SOURCE "/monitor.html")));
        for (const QString state : {"healthy", "silent", "speed", "handshake", "echo"}) {
            WindowRig rig;
            PrinterLink printer{true, 1, "9600", HandshakeHardware, true};
            Detector detector(rig.link, printer, rig.prompts);
            if (state == "healthy") {
                rig.board(1);
                printer.baudRate = "115200";
                rig.gate.run("Check identity", [&] { (void)PrinterQueries(rig.link, printer).identity(); });
            } else if (state == "silent") {
                rig.board(1, {.baud = 9600, .faults = {.silent = true}});
                rig.gate.run("Autodetect Chipset", [&] { detector.autodetect(); });
            } else if (state == "speed") {
                rig.line.attachBoard(1, {.baud = 9600}, sim::OtherSpeeds::Garbage);
                rig.gate.run("Detect Chipset", [&] { detector.detectSerialPrinter(1, "19200", 1); });
            } else if (state == "handshake") {
                rig.board(1, {.baud = 9600, .configuration2 = 0x13}); // the byte the line takes for XOFF
                printer.handshake = HandshakeXonXoff;
                rig.gate.run("Check configuration", [&] { (void)PrinterQueries(rig.link, printer).readSettings(); });
            } else {
                rig.board(1, {.baud = 9600, .faults = {.noEcho = true}});
                Programmer programmer(rig.link, printer, rig.prompts, *rig.window);
                const ProgrammingPlan plan{.mode = ProgrammingPlan::Mode::Resistors, .identity = ProgrammingPlan::Identity::Automatic};
                rig.gate.run("Configure printer", [&] { (void)programmer.program(plan); });
            }
            const QRegularExpression pre("<pre class=\"traffic\" id=\"" + state + "\">(.*?)</pre>",
                                         QRegularExpression::DotMatchesEverythingOption);
            QTextDocument excerpt;
            excerpt.setHtml("<pre>" + pre.match(page).captured(1) + "</pre>");
            QStringList shown = excerpt.toPlainText().replace(QChar::Nbsp, u' ').split(u'\n', Qt::SkipEmptyParts);
            shown.removeAll("...");
            QVERIFY2(shown.size() >= 5, qPrintable(state));
            QCOMPARE(missingInOrder(rig.record.lines(), shown), QString()); // every line recorded, in order
        }
    }

    void commandLineMapsPortsOrEndsWithOneLine()
    {
        const QList<QPair<QStringList, QString>> refused = {
            {{"--port", "COM7=/dev/ttyUSB0"}, "COM7=/dev/ttyUSB0"}, {{"--port=COM0=/dev/ttyS0"}, "COM0"},
            {{"--port", "COM3="}, "COM3="},  {{"--port", "/dev/ttyUSB0"}, "/dev/ttyUSB0"},
            {{"--port", "COM2=/dev/a", "--port", "com2=/dev/b"}, "COM2 is given twice"}, {{"default.cdb"}, "unexpected argument \"default.cdb\""},
            {{"--port", "COM2=/dev/null", "--port", "COM5=/dev/null"}, "--port: COM2 (/dev/null) and COM5 (/dev/null) are one device; give each device one slot"},
            {{"--demo", "--port", "COM1=/dev/ttyUSB0"}, "--demo puts the simulated board on COM1"}};
        for (const auto &[arguments, reason] : refused) {
            const CommandLine result = parseCommandLine(QStringList{"tessary-configurator"} + arguments);
            QVERIFY2(result.exit && result.exitCode == 2 && result.output.isEmpty() && result.error.contains(reason)
                         && result.error.startsWith("tessary-configurator: ") && !result.error.contains(u'\n'),
                     qPrintable(result.error));
        }
        // A relative path is the current folder's, a bare name found only in /dev the one there.
        const CommandLine ports = parseCommandLine({"tessary-configurator", "--port", "COM3=/dev/ttyUSB0", "--port=com6=/tmp/board link",
                                                    "--port", "COM4=./board", "--port", "COM5=null", "--demo"});
        QVERIFY(!ports.exit && ports.error.isEmpty() && ports.demo);
        QCOMPARE(ports.portMappings, (QMap<int, QString>{{3, "/dev/ttyUSB0"}, {4, QDir::current().filePath("board")},
                                                          {5, "/dev/null"}, {6, "/tmp/board link"}}));
        QVERIFY(!parseCommandLine({"tessary-configurator"}).exit); // (--help: tst_cli_usage, the program itself)
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
