#include "cliapp.h"
#include "clienvironment.h"

#include <QCoreApplication>
#include <QTextStream>

#include <memory>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

// SIGINT, SIGTERM and SIGHUP (the terminal closed) reach the command through
// the event loop its waits run.
// A second one ends the program at once, as without the handler.
void onSignal(int signal)
{
    const char number = char(signal);
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &number, 1);
    std::signal(signal, SIG_DFL);
}

// First thing: a signal from the start on waits in the pipe for the command.
bool catchSignals()
{
    // A closed pipe (| head) is a write that fails, reported once, not a death.
    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGHUP, onSignal);
    return true;
}

// The command stops at its next wait, closes the port and says so.
std::unique_ptr<QSocketNotifier> handSignalsTo(tessary::CliApp &cli)
{
    auto notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [&cli] {
        char number = 0;
        if (::read(signalPipe[0], &number, 1) == 1)
            cli.interrupt(number);
    });
    return notifier;
}

} // namespace
#endif

// The waits run the event loop, so the application object must exist; the
// command runs to its end before main() returns.
int main(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    const bool caught = catchSignals();
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessary"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.3"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    tessary::SystemEnvironment environment;
    tessary::CliApp cli(environment, out, err);
#ifdef Q_OS_UNIX
    const auto signalNotifier = caught ? handSignalsTo(cli) : nullptr;
#endif
    // A signal that no wait saw came after the command's last step: the
    // command's own result stands.
    const int status = cli.run(QCoreApplication::arguments());
    out.flush();
    err.flush();
    return status;
}
