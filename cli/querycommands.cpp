// tessary identity and tessary read: what the board says of itself and the
// configuration it holds.
#include "cliapp.h"

#include "configuration/configurationcode.h"
#include "fieldoptions.h"
#include "printer/printerqueries.h"
#include "protocol/replytext.h"

#include <QTextStream>

namespace tessary {

int CliApp::identity(const Invocation &call)
{
    const Common &common = call.common;
    Location location;
    if (const auto exit = findBoard(common, location))
        return *exit;
    const QByteArray identity = PrinterQueries(*m_session.link, m_session.printer).identity();
    if (identity.isEmpty())
        return fail(common, QStringLiteral("the board did not answer the identity query"));
    QJsonObject json = locationJson();
    json.insert(QStringLiteral("ok"), true);
    json.insert(QStringLiteral("identity"), replyText(identity));
    print(common, json, boardtext::shown(identity) + u'\n');
    return Success;
}

int CliApp::read(const Invocation &call)
{
    const Common &common = call.common;
    Location location;
    if (const auto exit = findBoard(common, location))
        return *exit;

    const ReadBackResult result = PrinterQueries(*m_session.link, m_session.printer).readSettings();
    if (result.answeredNothing())
        return fail(common, QStringLiteral("the board did not answer the read-back"), locationJson());

    // The name comes with the identity: a board that gave the configuration but not that (a line that
    // hung up between the two) was not read whole.
    const bool named = !result.identityReply.isEmpty();
    const QString unnamed = QStringLiteral("the board did not answer the identity query");
    if (!result.code)
        m_prompts.error(PrinterQueries::readErrorMessage());
    else if (!named)
        m_prompts.error(unnamed);
    // A mode the board did not answer is not guessed.
    const auto modeJson = [](const std::optional<quint8> &mode, const char *nonzero, const char *zero) {
        return mode ? QJsonValue(QLatin1String(*mode ? nonzero : zero)) : QJsonValue(QJsonValue::Null);
    };
    const auto modeText = [](const std::optional<quint8> &mode, const char *nonzero, const char *zero) {
        return mode ? QString::fromLatin1(*mode ? nonzero : zero) : QStringLiteral("no reply");
    };
    QJsonObject json = locationJson();
    json.insert(QStringLiteral("ok"), result.code && named);
    json.insert(QStringLiteral("configurationMode"), modeJson(result.configurationMode, "user", "resistors"));
    json.insert(QStringLiteral("identityMode"), modeJson(result.identityMode, "user", "automatic"));
    json.insert(QStringLiteral("name"), result.name);
    json.insert(QStringLiteral("identity"), replyText(result.identityReply));
    QString text = locationText();
    text += QStringLiteral("Configuration mode: %1\n").arg(modeText(result.configurationMode, "User", "Resistors"));
    text += QStringLiteral("Identity determination: %1\n").arg(modeText(result.identityMode, "User", "Automatic"));
    if (result.code) {
        json.insert(QStringLiteral("code"), *result.code);
        json.insert(QStringLiteral("fields"), describeJson(decodeConfigurationCode(*result.code)));
        text += QStringLiteral("Configuration code: %1\n").arg(*result.code);
        text += describeText(decodeConfigurationCode(*result.code), QStringLiteral("  "));
        if (!named)
            json.insert(QStringLiteral("error"), unnamed);
    } else {
        json.insert(QStringLiteral("code"), QJsonValue::Null);
        json.insert(QStringLiteral("error"), PrinterQueries::readErrorMessage());
        text += QStringLiteral("Configuration code: unreadable (%1 bytes answered)\n")
                    .arg(result.configurationReply.size());
    }
    text += named ? QStringLiteral("Name: %1\n").arg(printableText(result.name)) : QStringLiteral("Name: no reply\n");
    print(common, json, text);
    return result.code && named ? Success : Failure;
}

} // namespace tessary
