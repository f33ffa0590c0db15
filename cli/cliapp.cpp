#include "cliapp.h"

#include "clienvironment.h"
#include "configuration/configurationcode.h"
#include "configuration/configurationeditor.h"
#include "fieldoptions.h"
#include "serial/seriallink.h"
#include "serial/serialline.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTextStream>

namespace tessary {

namespace {

const QString Version = QStringLiteral("2.3");

QString overview()
{
    return QStringLiteral(
        "Usage: tessary <command> [options]\n"
        "Configures the controller board of a Tessary thermal printer from scripts and production lines.\n"
        "\n"
        "Commands:\n"
        "  ports              COM1 to COM6 with their devices and whether they exist\n"
        "  detect             find the board, its identity and its line settings\n"
        "  identity           the board's firmware identity\n"
        "  read               the configuration the board holds, in words\n"
        "  wake, sleep, reset control the board\n"
        "  program            write a configuration and an identity into the board\n"
        "  db <action>        list, show, add, remove, move, factory, export, import on .cdb files\n"
        "  code <action>      decode a configuration code, or encode one from field options\n"
        "\n"
        "Every command takes --help, --port COMn|PATH, --speed, --handshake xon|hw, --json and --quiet.\n"
        "Without --port, a command that talks to the board scans for it first.\n"
        "Exit status: 0 success; 1 the board did not answer, an echo or a check failed, or a file was\n"
        "refused; 2 a usage error.\n");
}

} // namespace

CliApp::CliApp(CliEnvironment &environment, QTextStream &out, QTextStream &err)
    : m_environment(environment), m_out(out), m_err(err), m_prompts(err, false), m_status(err)
{
}

CliApp::~CliApp() = default;

int CliApp::run(const QStringList &arguments)
{
    const QStringList rest = arguments.mid(1);
    const QString command = rest.value(0);
    if (command.isEmpty()) {
        m_err << overview();
        return UsageError;
    }
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        m_out << overview();
        return Success;
    }
    if (command == QLatin1String("--version")) {
        m_out << "tessary " << Version << '\n';
        return Success;
    }
    m_command = command;
    // The parsers see the command in the place of the program's name.
    const QStringList args = rest;
    if (command == QLatin1String("ports"))
        return ports(args);
    if (command == QLatin1String("detect"))
        return detect(args);
    if (command == QLatin1String("identity"))
        return identity(args);
    if (command == QLatin1String("read"))
        return read(args);
    if (command == QLatin1String("wake") || command == QLatin1String("sleep") || command == QLatin1String("reset"))
        return boardControl(command, args);
    if (command == QLatin1String("program"))
        return program(args);
    if (command == QLatin1String("db"))
        return db(args);
    if (command == QLatin1String("code"))
        return code(args);
    return usage(QStringLiteral("unknown command \"%1\"; see tessary --help").arg(command));
}

// ---- parsing ---------------------------------------------------------------

void CliApp::setUp(QCommandLineParser &parser, const QString &command, const QString &description,
                   const QString &syntax)
{
    m_command = command;
    parser.setApplicationDescription(description);
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help.")});
    parser.addOption({QStringLiteral("port"),
                      QStringLiteral("The board's port: COM1 to COM6, COMn=PATH, or a device PATH."),
                      QStringLiteral("port")});
    parser.addOption({QStringLiteral("speed"),
                      QStringLiteral("With --port: probe at this speed only (1200 ... 115200)."),
                      QStringLiteral("bauds")});
    parser.addOption({QStringLiteral("handshake"),
                      QStringLiteral("With --speed: xon or hw (the default) for the probe."),
                      QStringLiteral("xon|hw")});
    parser.addOption({QStringLiteral("json"), QStringLiteral("Machine-readable output on standard output.")});
    parser.addOption({{QStringLiteral("q"), QStringLiteral("quiet")},
                      QStringLiteral("No progress, and no output beyond what was asked for.")});
    if (!syntax.isEmpty())
        parser.addPositionalArgument(QStringLiteral("arguments"), QString(), syntax);
}

std::optional<int> CliApp::parse(QCommandLineParser &parser, const QStringList &arguments, Common &common)
{
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        QString help = parser.helpText();
        // Qt names the executable in the first line; name the command instead.
        const qsizetype end = help.indexOf(u'\n');
        QString first = end < 0 ? help : help.left(end);
        first.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                      QStringLiteral("Usage: tessary ") + m_command);
        m_out << first << help.mid(end);
        return int(Success);
    }
    common.json = parser.isSet(QStringLiteral("json"));
    common.quiet = parser.isSet(QStringLiteral("quiet"));
    m_progress = std::make_unique<ProgressView>(m_err, common.quiet);

    if (parser.isSet(QStringLiteral("port"))) {
        QString error;
        common.port = parsePort(parser.value(QStringLiteral("port")), &error);
        if (!common.port)
            return usage(error);
    }
    if (parser.isSet(QStringLiteral("speed"))) {
        common.speed = parser.value(QStringLiteral("speed")).trimmed();
        if (!speedTexts().contains(common.speed))
            return usage(QStringLiteral("--speed takes one of %1, not \"%2\"")
                             .arg(speedTexts().join(QStringLiteral(", ")), common.speed));
        if (!common.port)
            return usage(QStringLiteral("--speed needs --port: the scan without a port tries every speed"));
    }
    if (parser.isSet(QStringLiteral("handshake"))) {
        const QString value = parser.value(QStringLiteral("handshake")).trimmed().toLower();
        if (value == QLatin1String("xon"))
            common.handshakeIndex = 0;
        else if (value == QLatin1String("hw"))
            common.handshakeIndex = 1;
        else
            return usage(QStringLiteral("--handshake takes xon or hw, not \"%1\"").arg(value));
        if (common.speed.isEmpty())
            return usage(QStringLiteral("--handshake needs --speed: the scan finds the handshake itself"));
    }
    return std::nullopt;
}

std::optional<CliApp::PortChoice> CliApp::parsePort(const QString &text, QString *error) const
{
    const QString value = text.trimmed();
    static const QRegularExpression comName(QStringLiteral("^COM(\\d+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comName.match(value);
    const PortNames system({}, m_environment.systemDevices());
    if (match.hasMatch()) {
        const int port = match.captured(1).toInt();
        if (port < PortNames::FirstPort || port > PortNames::LastPort) {
            *error = QStringLiteral("--port: the ports are COM1 to COM6, not %1").arg(value);
            return std::nullopt;
        }
        return PortChoice{port, system.device(port)};
    }
    if (value.contains(u'=')) {
        const auto mapping = PortNames::parseMapping(value, error);
        if (!mapping)
            return std::nullopt;
        return PortChoice{mapping->first, mapping->second};
    }
    if (value.isEmpty()) {
        *error = QStringLiteral("--port needs a port: COM1 to COM6, COMn=PATH or a device path");
        return std::nullopt;
    }
    // A device path keeps the COM number the system gives it, so the texts
    // match `tessary ports`; a device the system does not list becomes COM1.
    const QString canonical = QFileInfo(value).canonicalFilePath();
    for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port) {
        const QString device = system.device(port);
        if (!device.isEmpty() && (device == value || (!canonical.isEmpty()
                                                      && QFileInfo(device).canonicalFilePath() == canonical)))
            return PortChoice{port, value};
    }
    return PortChoice{PortNames::FirstPort, value};
}

int CliApp::usage(const QString &message)
{
    m_err << "tessary " << m_command << ": " << message << '\n';
    m_err.flush();
    return UsageError;
}

int CliApp::fail(const Common &common, const QString &message)
{
    m_err << "tessary: " << message << '\n';
    m_err.flush();
    if (common.json) {
        m_out << QJsonDocument(QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}})
                     .toJson(QJsonDocument::Indented);
        m_out.flush();
    }
    return Failure;
}

void CliApp::print(const Common &common, const QJsonObject &json, const QString &text)
{
    if (common.json)
        m_out << QJsonDocument(json).toJson(QJsonDocument::Indented);
    else
        m_out << text;
    m_out.flush();
}

// ---- ports -----------------------------------------------------------------

int CliApp::ports(const QStringList &arguments)
{
    QCommandLineParser parser;
    setUp(parser, QStringLiteral("ports"),
          QStringLiteral("Lists COM1 to COM6 with their devices and whether they exist. "
                         "--port COMn=PATH (or a PATH) shows the table with that mapping."),
          QString());
    Common common;
    if (const auto exit = parse(parser, arguments, common))
        return *exit;
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("takes no arguments"));

    QMap<int, QString> mappings;
    if (common.port && !common.port->device.isEmpty())
        mappings.insert(common.port->port, common.port->device);
    m_table = PortNames(mappings, m_environment.systemDevices());
    SerialLine &line = m_environment.line(m_table);

    QJsonArray array;
    QString text;
    for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port) {
        const QString device = m_table.device(port);
        const bool exists = line.portExists(port);
        array.append(QJsonObject{{QStringLiteral("port"), QStringLiteral("COM%1").arg(port)},
                                 {QStringLiteral("device"), device},
                                 {QStringLiteral("exists"), exists}});
        text += QStringLiteral("COM%1  %2  %3\n")
                    .arg(port)
                    .arg(device.isEmpty() ? QStringLiteral("-") : device, -20)
                    .arg(device.isEmpty() ? QStringLiteral("no device")
                                          : exists ? QStringLiteral("exists") : QStringLiteral("missing"));
    }
    print(common, QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("ports"), array}}, text);
    return Success;
}

// ---- code ------------------------------------------------------------------

int CliApp::code(const QStringList &arguments)
{
    const QString action = arguments.value(1);
    const QStringList rest = arguments.mid(1);
    if (action == QLatin1String("decode"))
        return codeDecode(rest);
    if (action == QLatin1String("encode"))
        return codeEncode(rest);
    if (action == QLatin1String("--help") || action == QLatin1String("-h")) {
        m_out << "Usage: tessary code decode CODE | tessary code encode <field options>\n"
                 "See tessary code decode --help and tessary code encode --help.\n";
        return Success;
    }
    m_command = QStringLiteral("code");
    return usage(action.isEmpty() ? QStringLiteral("needs decode or encode")
                                  : QStringLiteral("unknown action \"%1\"; use decode or encode").arg(action));
}

namespace {

QString bytesText(const QString &code)
{
    return QStringLiteral("%1 %2")
        .arg(BinaryDigitsToValue(code.left(8)), 2, 16, QChar(u'0'))
        .arg(BinaryDigitsToValue(code.mid(8)), 2, 16, QChar(u'0'))
        .toUpper();
}

} // namespace

int CliApp::codeDecode(const QStringList &arguments)
{
    QCommandLineParser parser;
    setUp(parser, QStringLiteral("code decode"),
          QStringLiteral("Shows every field of a 16-character configuration code in words."),
          QStringLiteral("CODE"));
    Common common;
    if (const auto exit = parse(parser, arguments, common))
        return *exit;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return usage(QStringLiteral("needs one CODE"));
    const QString codeText = positional.first().trimmed();
    if (!isBinaryCode(codeText))
        return usage(QStringLiteral("a configuration code is 16 characters 0 or 1, not \"%1\"").arg(codeText));

    QJsonObject json = codeJson(codeText);
    json.insert(QStringLiteral("ok"), true);
    QString text = QStringLiteral("Configuration code: %1 (bytes %2)\n").arg(codeText, bytesText(codeText));
    text += describeText(decodeConfigurationCode(codeText), QStringLiteral("  "));
    if (codeText.mid(12) != QLatin1String("0000"))
        text += QStringLiteral("Note: positions 13 to 16 are reserved and should be 0000.\n");
    print(common, json, text);
    return Success;
}

int CliApp::codeEncode(const QStringList &arguments)
{
    QCommandLineParser parser;
    setUp(parser, QStringLiteral("code encode"),
          QStringLiteral("Builds the 16-character configuration code from field options; every field "
                         "but the voltage (5 V unless --voltage 3.3) must be given."),
          QString());
    fieldoptions::add(parser);
    Common common;
    if (const auto exit = parse(parser, arguments, common))
        return *exit;
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("takes field options, not arguments"));
    ConfigurationEditor editor;
    if (const auto error = fieldoptions::apply(parser, editor))
        return usage(*error);
    if (!editor.checkSettingsComplete(m_prompts))
        return UsageError;
    const QString codeText = editor.buildConfigurationCode();
    QJsonObject json = codeJson(codeText);
    json.insert(QStringLiteral("ok"), true);
    print(common, json, codeText + u'\n');
    return Success;
}

} // namespace tessary
