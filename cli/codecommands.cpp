// tessary code decode and code encode: a configuration code in words, and the
// code of field options.
#include "cliapp.h"

#include "configuration/configurationcode.h"
#include "configuration/configurationeditor.h"
#include "fieldoptions.h"

#include <QCommandLineParser>
#include <QTextStream>

namespace tessary {


namespace {

QString bytesText(const QString &code)
{
    return QStringLiteral("%1 %2")
        .arg(BinaryDigitsToValue(code.left(8)), 2, 16, QChar(u'0'))
        .arg(BinaryDigitsToValue(code.mid(8)), 2, 16, QChar(u'0'))
        .toUpper();
}

} // namespace

int CliApp::codeDecode(const Invocation &call)
{
    const QString codeText = call.arguments.first().trimmed();
    if (!isConfigurationCode(codeText))
        return usage(QStringLiteral("a configuration code is 16 characters 0 or 1, not \"%1\"").arg(codeText));

    QJsonObject json = codeJson(codeText);
    json.insert(QStringLiteral("ok"), true);
    QString text = QStringLiteral("Configuration code: %1 (bytes %2)\n").arg(codeText, bytesText(codeText));
    text += describeText(decodeConfigurationCode(codeText), QStringLiteral("  "));
    if (codeText.mid(12) != QLatin1String("0000"))
        text += QStringLiteral("Note: positions 13 to 16 are reserved and should be 0000.\n");
    print(call.common, json, text);
    return Success;
}

int CliApp::codeEncode(const Invocation &call)
{
    ConfigurationEditor editor;
    if (const auto error = fieldoptions::apply(call.parser, editor))
        return usage(*error);
    if (!editor.checkSettingsComplete(m_prompts))
        return UsageError;
    const QString codeText = editor.buildConfigurationCode();
    QJsonObject json = codeJson(codeText);
    json.insert(QStringLiteral("ok"), true);
    print(call.common, json, codeText + u'\n');
    return Success;
}

} // namespace tessary
