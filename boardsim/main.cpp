// tessary-boardsim: the controller board on a pseudo-terminal.
//
// Prints the path of the program's end on stdout (one line) and answers
// there until SIGTERM or SIGINT, or until a hang-up fault closes the line.
// Every byte each way is logged in hex with a millisecond timestamp.

#include "boardsim/ptyboard.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

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
    parser.setApplicationDescription(QStringLiteral(
        "The Tessary controller board on a pseudo-terminal. Prints the device path on stdout and "
        "answers there at its own speed until SIGTERM or SIGINT."));
    parser.addHelpOption();
    const QCommandLineOption link(QStringLiteral("link"), QStringLiteral("Also make a symbolic link PATH to the device."), QStringLiteral("PATH"));
    const QCommandLineOption identity(QStringLiteral("identity"), QStringLiteral("User identity (up to 16 characters); default: derived from the configuration."), QStringLiteral("TEXT"));
    const QCommandLineOption firmware(QStringLiteral("firmware"), QStringLiteral("Firmware text after the identity (default \" FW 4.12\")."), QStringLiteral("TEXT"));
    const QCommandLineOption speed(QStringLiteral("speed"), QStringLiteral("Line speed: 1200, 2400, 4800, 9600, 19200, 28800, 38400, 57600 or 115200 (default)."), QStringLiteral("N"));
    const QCommandLineOption handshake(QStringLiteral("handshake"), QStringLiteral("xon or hw (default)."), QStringLiteral("MODE"));
    const QCommandLineOption polarity(QStringLiteral("polarity"), QStringLiteral("Strobe polarity the hardware detects, 0 or 1 (default 1)."), QStringLiteral("P"));
    const QCommandLineOption mrs(QStringLiteral("mrs"), QStringLiteral("MRS printer mode (clears the printer-mode bit of the configuration and straps)."));
    const QCommandLineOption config(QStringLiteral("config"), QStringLiteral("Configuration code, 16 binary digits (default 1111000101000000)."), QStringLiteral("CODE16"));
    const QCommandLineOption straps(QStringLiteral("straps"), QStringLiteral("Resistor straps for resistors mode, 16 binary digits (default 1110000101100000)."), QStringLiteral("CODE16"));
    const QCommandLineOption mode(QStringLiteral("mode"), QStringLiteral("Configuration mode: user (default) or resistors."), QStringLiteral("MODE"));
    const QCommandLineOption silent(QStringLiteral("silent"), QStringLiteral("Fault: never reply."));
    const QCommandLineOption noEcho(QStringLiteral("no-echo"), QStringLiteral("Fault: no echo to parameter writes."));
    const QCommandLineOption wrongEcho(QStringLiteral("wrong-echo"), QStringLiteral("Fault: parameter writes to ADDRESS (or all) are corrupted and echoed wrong."), QStringLiteral("ADDRESS"));
    const QCommandLineOption lateEcho(QStringLiteral("late-echo"), QStringLiteral("Fault: echoes come after 700 ms."));
    const QCommandLineOption threeByte(QStringLiteral("three-byte-config"), QStringLiteral("Fault: the configuration reply has three bytes."));
    const QCommandLineOption fourByte(QStringLiteral("four-byte-config"), QStringLiteral("Variant: the configuration reply is \"SC\" and the two bytes."));
    const QCommandLineOption stream(QStringLiteral("endless-stream"), QStringLiteral("Fault: once a command arrives, send without pause."));
    const QCommandLineOption hangUp(QStringLiteral("hang-up-after"), QStringLiteral("Fault: close the line after N received bytes."), QStringLiteral("N"));
    const QCommandLineOption hangUpReset(QStringLiteral("hang-up-after-reset"), QStringLiteral("Fault: close the line once ESC \"@\" has been taken."));
    const QCommandLineOption garbage(QStringLiteral("garbage"), QStringLiteral("Answer bytes sent at another speed with noise instead of silence."));
    const QCommandLineOption logFile(QStringLiteral("log"), QStringLiteral("Write the traffic log to FILE (default: stderr)."), QStringLiteral("FILE"));
    parser.addOptions({link, identity, firmware, speed, handshake, polarity, mrs, config, straps, mode, silent,
                       noEcho, wrongEcho, lateEcho, threeByte, fourByte, stream, hangUp, hangUpReset, garbage, logFile});
    parser.process(app);
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
    board.close();
    return status;
}
