#include "boardsim/simcommandline.h"

namespace tessary::sim {

QString simulatorDescription()
{
    return QStringLiteral(
        "The Tessary controller board on a pseudo-terminal. Prints the device path on stdout and "
        "answers there at its own speed until SIGTERM or SIGINT.");
}

QList<QCommandLineOption> simulatorOptions()
{
    return {
        {QStringLiteral("link"),
         QStringLiteral("Also make a symbolic link PATH to the device."), QStringLiteral("PATH")},
        {QStringLiteral("identity"),
         QStringLiteral("User identity (up to 16 characters); default: derived from the configuration."),
         QStringLiteral("TEXT")},
        {QStringLiteral("firmware"),
         QStringLiteral("Firmware text after the identity (default \" FW 4.12\")."), QStringLiteral("TEXT")},
        {QStringLiteral("speed"),
         QStringLiteral("Line speed: 1200, 2400, 4800, 9600, 19200, 28800, 38400, 57600 or 115200 (default)."),
         QStringLiteral("N")},
        {QStringLiteral("handshake"), QStringLiteral("xon or hw (default)."), QStringLiteral("MODE")},
        {QStringLiteral("polarity"),
         QStringLiteral("Strobe polarity the hardware detects, 0 or 1 (default 1)."), QStringLiteral("P")},
        {QStringLiteral("mrs"),
         QStringLiteral("MRS printer mode (clears the printer-mode bit of the configuration and straps).")},
        {QStringLiteral("config"),
         QStringLiteral("Configuration code, 16 binary digits (default 1111000101000000)."), QStringLiteral("CODE16")},
        {QStringLiteral("straps"),
         QStringLiteral("Resistor straps for resistors mode, 16 binary digits (default 1110000101100000)."),
         QStringLiteral("CODE16")},
        {QStringLiteral("mode"),
         QStringLiteral("Configuration mode: user (default) or resistors."), QStringLiteral("MODE")},
        {QStringLiteral("silent"), QStringLiteral("Fault: never reply.")},
        {QStringLiteral("no-echo"), QStringLiteral("Fault: no echo to parameter writes.")},
        {QStringLiteral("wrong-echo"),
         QStringLiteral("Fault: parameter writes to ADDRESS (or all) are corrupted and echoed wrong."),
         QStringLiteral("ADDRESS")},
        {QStringLiteral("late-echo"), QStringLiteral("Fault: echoes come after 700 ms.")},
        {QStringLiteral("three-byte-config"), QStringLiteral("Fault: the configuration reply has three bytes.")},
        {QStringLiteral("four-byte-config"),
         QStringLiteral("Variant: the configuration reply is \"SC\" and the two bytes.")},
        {QStringLiteral("endless-stream"), QStringLiteral("Fault: once a command arrives, send without pause.")},
        {QStringLiteral("hang-up-after"),
         QStringLiteral("Fault: close the line after N received bytes."), QStringLiteral("N")},
        {QStringLiteral("hang-up-after-reset"), QStringLiteral("Fault: close the line once ESC \"@\" has been taken.")},
        {QStringLiteral("garbage"),
         QStringLiteral("Answer bytes sent at another speed with noise instead of silence.")},
        {QStringLiteral("log"),
         QStringLiteral("Write the traffic log to FILE (default: stderr)."), QStringLiteral("FILE")},
    };
}

} // namespace tessary::sim
