// tessary-boardsim: the controller board on a pseudo-terminal.
//
// Prints the path of the program's end on stdout (one line) and answers
// there until SIGTERM or SIGINT, or until a hang-up fault closes the line.
// Every byte each way is logged in hex with a millisecond timestamp.

#include "app/commandlinehelp.h"
#include "app/version.h"
#include "boardsim/ptyboard.h"
#include "boardsim/simcommandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace tessary;
using namespace tessary::sim;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &byte, 1);
}

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "tessary-boardsim: %s\n", qPrintable(message));
    std::exit(2);
}

int parseNumber(const QString &text, const QString &option, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high)
        fail(QStringLiteral("--%1 takes a number from %2 to %3, not \"%4\"").arg(option).arg(low).arg(high).arg(text));
    return value;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessary-boardsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(simulatorDescription());
    const QList<QCommandLineOption> all = helpAndVersionOptions() + simulatorOptions();
    parser.addOptions(all);
    const auto named = [&all](const char *name) -> const QCommandLineOption & {
        return *std::find_if(all.cbegin(), all.cend(),
                             [name](const QCommandLineOption &option) { return option.names().contains(QLatin1String(name)); });
    };
    const QCommandLineOption &link = named("link");
    const QCommandLineOption &identity = named("identity");
    const QCommandLineOption &firmware = named("firmware");
    const QCommandLineOption &speed = named("speed");
    const QCommandLineOption &handshake = named("handshake");
    const QCommandLineOption &polarity = named("polarity");
    const QCommandLineOption &mrs = named("mrs");
    const QCommandLineOption &config = named("config");
    const QCommandLineOption &straps = named("straps");
    const QCommandLineOption &mode = named("mode");
    const QCommandLineOption &silent = named("silent");
    const QCommandLineOption &noEcho = named("no-echo");
    const QCommandLineOption &wrongEcho = named("wrong-echo");
    const QCommandLineOption &lateEcho = named("late-echo");
    const QCommandLineOption &threeByte = named("three-byte-config");
    const QCommandLineOption &fourByte = named("four-byte-config");
    const QCommandLineOption &stream = named("endless-stream");
    const QCommandLineOption &hangUp = named("hang-up-after");
    const QCommandLineOption &hangUpReset = named("hang-up-after-reset");
    const QCommandLineOption &garbage = named("garbage");
    const QCommandLineOption &logFile = named("log");
    const bool parsed = parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("help"))) {
        return printAnswer(helpTextFor(parser, QStringLiteral("tessary-boardsim")), "tessary-boardsim") ? 0 : 1;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        return printAnswer(versionText(QStringLiteral("tessary-boardsim")), "tessary-boardsim") ? 0 : 1;
    }
    if (!parsed)
        fail(parseErrorLine(parser, all));
    if (!parser.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument \"%1\" (see --help)").arg(parser.positionalArguments().first()));

    BoardOptions options;
    if (parser.isSet(speed)) {
        options.baud = parser.value(speed).toInt();
        if (Board::speedCode(options.baud) < 0)
            fail(QStringLiteral("--speed must be one of 1200 2400 4800 9600 19200 28800 38400 57600 115200"));
    }
    if (parser.isSet(handshake)) {
        const QString value = parser.value(handshake);
        if (value == QLatin1String("xon"))
            options.handshake = BoardHandshake::XonXoff;
        else if (value == QLatin1String("hw"))
            options.handshake = BoardHandshake::Hardware;
        else
            fail(QStringLiteral("--handshake takes xon or hw"));
    }
    if (parser.isSet(polarity))
        options.strobePolarity = parseNumber(parser.value(polarity), QStringLiteral("polarity"), 0, 1);
    if (parser.isSet(config)) {
        const auto bytes = Board::parseCode(parser.value(config));
        if (!bytes)
            fail(QStringLiteral("--config takes 16 binary digits"));
        std::tie(options.configuration1, options.configuration2) = *bytes;
    }
    if (parser.isSet(straps)) {
        const auto bytes = Board::parseCode(parser.value(straps));
        if (!bytes)
            fail(QStringLiteral("--straps takes 16 binary digits"));
        std::tie(options.straps1, options.straps2) = *bytes;
    }
    if (parser.isSet(mrs)) {
        options.configuration1 &= 0x7F;
        options.straps1 &= 0x7F;
    }
    if (parser.isSet(mode)) {
        const QString value = parser.value(mode);
        if (value != QLatin1String("user") && value != QLatin1String("resistors"))
            fail(QStringLiteral("--mode takes user or resistors"));
        options.userMode = value == QLatin1String("user");
    }
    if (parser.isSet(identity)) {
        options.identity = parser.value(identity).toLatin1();
        if (options.identity.size() > 16 || options.identity.contains('\0'))
            fail(QStringLiteral("--identity takes up to 16 characters"));
    }
    if (parser.isSet(firmware))
        options.firmware = parser.value(firmware).toLatin1();
    options.faults.silent = parser.isSet(silent);
    options.faults.noEcho = parser.isSet(noEcho);
    if (parser.isSet(wrongEcho)) {
        const QString value = parser.value(wrongEcho);
        options.faults.wrongEchoAddress = value == QLatin1String("all")
                                              ? BoardFaults::EveryAddress
                                              : parseNumber(value, QStringLiteral("wrong-echo"), 0, 255);
    }
    options.faults.lateEcho = parser.isSet(lateEcho);
    options.faults.threeByteConfiguration = parser.isSet(threeByte);
    options.fourByteConfiguration = parser.isSet(fourByte);
    options.faults.endlessStream = parser.isSet(stream);
    options.faults.hangUpAfterReset = parser.isSet(hangUpReset);
    if (parser.isSet(hangUp))
        options.faults.hangUpAfter = parseNumber(parser.value(hangUp), QStringLiteral("hang-up-after"), 1, 1 << 30);

    FILE *log = stderr;
    if (parser.isSet(logFile)) {
        log = std::fopen(QFile::encodeName(parser.value(logFile)).constData(), "a");
        if (!log)
            fail(QStringLiteral("cannot write the log file %1").arg(parser.value(logFile)));
    }

    PtyBoard board(options);
    board.setGarbageAtOtherSpeeds(parser.isSet(garbage));
    board.setLog([log](const QString &line) {
        std::fprintf(log, "%s\n", line.toLocal8Bit().constData());
        std::fflush(log);
    });
    if (!board.open())
        fail(board.errorString());
    if (parser.isSet(link) && !board.makeLink(parser.value(link)))
        fail(board.errorString());

    if (::pipe(signalPipe) != 0)
        fail(QStringLiteral("cannot create a pipe"));
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    // After a hang-up there is no line left to serve.
    QObject::connect(&board, &PtyBoard::hungUp, &app, &QCoreApplication::quit);

    std::printf("%s\n", qPrintable(board.path()));
    std::fflush(stdout);
    board.start();
    const int status = app.exec();
    board.takeWaiting();
    board.close();
    return status;
}
