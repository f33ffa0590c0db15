#include "startup/commandline.h"

#include "app/commandlinehelp.h"
#include "app/version.h"
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

QString commandLineDescription()
{
    return QStringLiteral("Configures the controller board of a thermal printer over a serial port.");
}

QList<QCommandLineOption> commandLineOptions()
{
    return helpAndVersionOptions() + QList<QCommandLineOption>{
        {QStringLiteral("port"),
         QStringLiteral("Puts the serial device PATH in slot COMn (n from 1 to 6); may be given once per slot."),
         QStringLiteral("COMn=PATH")},
        {QStringLiteral("demo"), QStringLiteral("Puts a simulated printer board behind COM1.")},
    };
}

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(commandLineDescription());
    const QList<QCommandLineOption> options = commandLineOptions();
    parser.addOptions(options);
    const bool parsed = parser.parse(arguments);
    // Asked for help or the version, the program answers whatever else is there.
    if (parser.isSet(QStringLiteral("help"))) {
        CommandLine result;
        result.exit = true;
        result.output = helpTextFor(parser, QStringLiteral("tessary-configurator"));
        return result;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        CommandLine result;
        result.exit = true;
        result.output = versionText(QCoreApplication::applicationName());
        return result;
    }
    if (!parsed) {
        CommandLine result = usageError(parseErrorLine(parser, options));
        result.askAgainWithApplication = !parser.unknownOptionNames().isEmpty();
        return result;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().constFirst()));

    CommandLine result;
    const QString port = QStringLiteral("port");
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
    result.demo = parser.isSet(QStringLiteral("demo"));
    if (result.demo && result.portMappings.contains(1))
        return usageError(QStringLiteral("--demo puts the simulated board on COM1: map other slots with --port"));
    return result;
}

} // namespace tessary
