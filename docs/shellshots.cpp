// Saves pictures of the splash, About and Help windows, and of the traffic
// monitor after a scan against the demo board, for the docs:
//   xvfb-run -a -s "-screen 0 1280x800x24" build/tests/shell/shellshots docs [help page]
// Not a test: built beside the tests (tests/shell) so the pictures can be made again.
#include "app/appstate.h"
#include "boardsim/demoboard.h"
#include "detection/detector.h"
#include "help/aboutfrm.h"
#include "help/helpfrm.h"
#include "printer/printerqueries.h"
#include "serial/eventloopclock.h"
#include "serial/qtserialline.h"
#include "serial/recordedpath.h"
#include "serial/trafficmonitorwindow.h"
#include "startup/dialogprompts.h"
#include "startup/splashscreen.h"

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QTextBrowser>

using namespace tessary;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString folder = args.value(1, QStringLiteral("."));
    const QString page = args.value(2);

    QWidget owner;
    owner.resize(800, 600);
    owner.show();

    auto *splash = new SplashScreen([] {}, 60000);
    splash->show();
    QTest::qWait(300);
    splash->grab().save(folder + QStringLiteral("/splash.png"));
    splash->close();

    AboutFrm *about = AboutFrm::showAbout(&owner);
    QTest::qWait(300);
    about->grab().save(folder + QStringLiteral("/about.png"));

    Helpfrm *help = Helpfrm::showHelp(&owner, HelpLocator(QStringLiteral(TESSARY_HELP_SOURCE_PARENT)));
    if (!page.isEmpty())
        help->findChild<QTextBrowser *>(QStringLiteral("WebBrowser"))->setSource(
            QUrl::fromLocalFile(QStringLiteral(TESSARY_HELP_SOURCE_PARENT "/Help/") + page));
    QTest::qWait(300);
    help->grab().save(folder + QStringLiteral("/help.png"));
    help->close();

    // The program's serial path, recorded, to the demo board on COM1.
    sim::DemoBoard board;
    EventLoopClock clock;
    QtSerialLine port(PortNames({{1, board.devicePath()}}));
    RecordedPath path(port, clock);
    MessageBoxPrompts prompts;
    DialogFileChooser files;
    TrafficMonitorWindow *monitor = TrafficMonitorWindow::showMonitor(&owner, path.record, prompts, files);
    AppState state;
    Detector detector(path.link, state.link, prompts);
    path.gate.run(QStringLiteral("Autodetect Chipset"), [&] { detector.autodetect(); });
    path.gate.run(QStringLiteral("Check identity"), [&] { (void)PrinterQueries(path.link, state.link).identity(); });
    QTest::qWait(300);
    monitor->grab().save(folder + QStringLiteral("/trafficmonitor.png"));
    return 0;
}
