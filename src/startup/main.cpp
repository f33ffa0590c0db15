#include "app/appservices.h"
#include "app/appstate.h"
#include "app/prompts.h"
#include "app/version.h"
#ifdef Q_OS_UNIX
#include "boardsim/demoboard.h"
#endif
#include "mainwindow/mainfrm.h"
#include "record/windowrecord.h"
#include "serial/comslots.h"
#include "serial/eventloopclock.h"
#include "serial/portnames.h"
#include "serial/qtserialline.h"
#include "serial/recordedpath.h"
#include "serial/serialports.h"
#include "app/commandlinehelp.h"
#include "startup/commandline.h"
#include "startup/dialogprompts.h"
#include "startup/splashscreen.h"

#include <QApplication>
#include <QSettings>

#include <cstdio>
#include <memory>

using namespace tessary;

namespace {

// Says what the command line asked for, or why it is refused; true when the program ends here
// (with status 1 when the answer could not be written).
bool answered(CommandLine &options)
{
    if (!options.output.isEmpty() && !printAnswer(options.output, "tessary-configurator"))
        options.exitCode = 1;
    if (!options.error.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(options.error));
    return options.exit;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication::setApplicationName(QStringLiteral("Tessary Configurator"));
    QApplication::setApplicationVersion(programVersion());
    QApplication::setDesktopFileName(QStringLiteral("tessary-configurator"));

    // Read before the application object, which needs a display: --help,
    // --version and a wrong command line are answered on any terminal.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    CommandLine options = parseCommandLine(arguments);
    if (!options.askAgainWithApplication && answered(options))
        return options.exitCode;

    QApplication app(argc, argv);
    if (options.askAgainWithApplication && answered(options = parseCommandLine(QApplication::arguments())))
        return options.exitCode;

    QMap<int, QString> mappings = options.portMappings;
    // The demo board: a simulated board on a pseudo-terminal behind COM1,
    // answering from its own thread; it goes away when the program ends.
#ifdef Q_OS_UNIX
    std::unique_ptr<sim::DemoBoard> demoBoard;
    if (options.demo) {
        demoBoard = std::make_unique<sim::DemoBoard>(qEnvironmentVariable("TESSARY_DEMO_LOG"));
        if (!demoBoard->isRunning()) {
            std::fprintf(stderr, "The demo board could not start: %s\n", qPrintable(demoBoard->errorString()));
            return 1;
        }
        mappings.insert(1, demoBoard->devicePath());
    }
#else
    if (options.demo) {
        std::fprintf(stderr, "The demo board needs a pseudo-terminal, which this system does not have.\n");
        return 1;
    }
#endif

    AppState state;
    EventLoopClock clock;
    // COM1 to COM6 follow the system's serial ports; an adapter keeps its
    // number across runs in the user's settings.
    SystemSerialPorts systemPorts;
    QString settingsProblem;
    const std::unique_ptr<QSettings> settings = ComSlots::userSettings(&settingsProblem);
    if (!settings)
        std::fprintf(stderr, "%s\n", qPrintable(settingsProblem));
    ComSlots comSlots(systemPorts, settings.get(), mappings);
    QtSerialLine serialPort(comSlots.table());
    QObject::connect(&comSlots, &ComSlots::changed, &serialPort, [&] { serialPort.setPortNames(comSlots.table()); });
    // Every exchange goes through the recording wrappers; they only pass
    // calls on until the traffic monitor is opened.
    RecordedPath path(serialPort, clock);
    comSlots.serve(path);
    MessageBoxPrompts prompts;
    DialogFileChooser files;
    // The printer commands record their boards when the settings name a record.
    WindowRecord record(settings.get());
    AppServices services{state, path.link, path.gate, prompts, files, options.demo, &path.record, &comSlots, &record};

    MainFrm window(services);
    prompts.setParent(&window);
    path.link.setStatusLine(&window);
    record.setStatusLine(&window);
    // Other windows (About, Help) may be open: leaving ends them all.
    QObject::connect(&window, &MainFrm::quitRequested, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    // The splash stands for 1500 ms, then shows the main window (whose first
    // show runs its start-up) and closes itself.
    auto *splash = new SplashScreen([&window] { window.show(); });
    splash->show();
    const int status = app.exec();
    path.link.setStatusLine(nullptr);
    record.waitForDone(); // the last rows into the record or the spool
    record.setStatusLine(nullptr);
    return status;
}
