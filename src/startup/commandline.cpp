#include "startup/commandline.h"

#include "serial/portnames.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace tessary {

namespace {

CommandLine usageError(const QString &reason)
{
    CommandLine result;
    result.exit = true;
    result.exitCode = CommandLine::UsageError;
    // One line, so a script's log shows the whole reason.
    QString line = reason;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    result.error = QStringLiteral("tessary-configurator: %1").arg(line.trimmed());
    return result;
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Configures the controller board of a thermal printer over a serial port."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Puts the serial device PATH in slot COMn (n from 1 to 6); "
                                                 "may be given once per slot."),
                                  QStringLiteral("COMn=PATH"));
    parser.addOption(port);
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Puts a simulated printer board behind COM1."));
    parser.addOption(demo);

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().constFirst()));

    CommandLine result;
    if (parser.isSet(help)) {
        result.exit = true;
        result.output = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.exit = true;
        result.output = QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                      QCoreApplication::applicationVersion());
        return result;
    }

    for (const QString &value : parser.values(port)) {
        QString reason;
        const auto mapping = PortNames::parseMapping(value, &reason);
        if (!mapping)
            return usageError(reason);
        // Two devices for one slot: which one was meant cannot be guessed.
        if (result.portMappings.contains(mapping->first))
            return usageError(QStringLiteral("COM%1 is given twice with --port").arg(mapping->first));
        result.portMappings.insert(mapping->first, mapping->second);
    }
    if (const QString shared = PortNames::sharedDevice(result.portMappings); !shared.isEmpty())
        return usageError(QStringLiteral("--port: %1; give each device one slot").arg(shared));
    result.demo = parser.isSet(demo);
    if (result.demo && result.portMappings.contains(1))
        return usageError(QStringLiteral("--demo puts the simulated board on COM1: map other slots with --port"));
    return result;
}

} // namespace tessary
