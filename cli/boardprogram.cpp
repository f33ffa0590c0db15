#include "boardprogram.h"

#include "app/prompts.h"
#include "configuration/configurationeditor.h"
#include "printer/printerqueries.h"
#include "protocol/replytext.h"

#include <QJsonArray>

namespace tessary {

namespace {

QString shown(const QByteArray &reply) { return printableText(replyText(reply)); }

QString hexByte(quint8 value) { return QStringLiteral("%1").arg(value, 2, 16, QChar(u'0')).toUpper(); }

QString modeWord(bool user) { return user ? QStringLiteral("User") : QStringLiteral("Resistors"); }
QString identityWord(bool user) { return user ? QStringLiteral("User") : QStringLiteral("Automatic"); }

// What the read-back found other than written; only what it read is named.
QStringList readBackDifferences(const ReadBackResult &back, const ProgramOrder &order, const QByteArray &identityAfter)
{
    if (back.answeredNothing())
        return {QStringLiteral("the board did not answer the read-back")};
    QStringList differences;
    const auto mode = [&differences](const char *what, const std::optional<quint8> &held, bool wrote,
                                     QString (*word)(bool)) {
        if (!held)
            differences << QStringLiteral("%1: the board did not answer").arg(QLatin1String(what));
        else if ((*held != 0) != wrote)
            differences << QStringLiteral("%1: wrote %2, the board holds %3")
                               .arg(QLatin1String(what), word(wrote), word(*held != 0));
    };
    mode("configuration mode", back.configurationMode, order.userMode, modeWord);
    if (back.configurationReply.isEmpty())
        differences << QStringLiteral("configuration bytes: the board did not answer");
    else if (!back.code)
        differences << QStringLiteral("configuration bytes: the board's reply was unusable (%1 bytes)")
                           .arg(back.configurationReply.size());
    else if (order.userMode && *back.code != order.planCode)
        differences << QStringLiteral("configuration bytes: wrote %1, the board holds %2").arg(order.planCode, *back.code);
    mode("identity mode", back.identityMode, order.userId, identityWord);
    // The name the board reports after its reset is the one it holds.
    const QString wrote = trimBlanks(order.plan.name.left(ConfigurationEditor::MaxNameLength));
    const QString reports = trimBlanks(replyText(identityAfter.left(ConfigurationEditor::MaxNameLength)));
    if (order.userId && reports != wrote)
        differences << QStringLiteral("identity: wrote \"%1\", the board reports \"%2\"").arg(wrote, printableText(reports));
    return differences;
}

} // namespace

QString ProgramOrder::logCode() const { return userMode ? planCode : QStringLiteral("resistors"); }

int ProgramOrder::writeCount() const
{
    return int(plan.configurationWrites().size() + plan.identityWrites().size());
}

void programBoard(SerialLink &link, const PrinterLink &printer, Programmer &programmer,
                  const ProgramOrder &order, BoardProgram &done)
{
    PrinterQueries queries(link, printer);
    done.before = queries.identity();
    done.result = programmer.program(order.plan);

    if (done.result.completed() && order.verify) {
        done.differences = readBackDifferences(queries.readSettings(), order, done.result.identity);
        done.verified = done.differences.isEmpty();
    }

    const ProgrammingResult &result = done.result;
    if (result.outcome == ProgrammingResult::Outcome::Cancelled)
        done.outcome = QStringLiteral("cancelled");
    else if (result.outcome == ProgrammingResult::Outcome::NotReset)
        done.outcome = QStringLiteral("reset-not-sent");
    else if (!result.completed())
        done.outcome = QStringLiteral("stopped");
    else if (result.echoFailures() > 0)
        done.outcome = QStringLiteral("echo-error");
    else if (done.verified == false)
        done.outcome = QStringLiteral("verify-failed");
    else
        done.outcome = QStringLiteral("ok");
}

QJsonObject programJson(QJsonObject json, const ProgramOrder &order, const BoardProgram &done)
{
    const ProgrammingResult &result = done.result;
    json.insert(QStringLiteral("ok"), done.ok());
    json.insert(QStringLiteral("result"), done.outcome);
    json.insert(QStringLiteral("mode"), order.userMode ? QStringLiteral("user") : QStringLiteral("resistors"));
    json.insert(QStringLiteral("code"), order.userMode ? QJsonValue(order.planCode) : QJsonValue(QJsonValue::Null));
    json.insert(QStringLiteral("identityMode"), order.userId ? QStringLiteral("user") : QStringLiteral("automatic"));
    if (order.userId)
        json.insert(QStringLiteral("id"), order.plan.name.left(ConfigurationEditor::MaxNameLength));
    json.insert(QStringLiteral("identityBefore"), replyText(done.before));
    json.insert(QStringLiteral("identityAfter"), replyText(result.identity));
    json.insert(QStringLiteral("detectedPolarity"), result.detectedPolarity ? QJsonValue(int(*result.detectedPolarity))
                                                                            : QJsonValue(QJsonValue::Null));
    QJsonArray writes;
    for (const ProgrammingResult::Write &w : result.writes)
        writes.append(QJsonObject{{QStringLiteral("address"), w.address},
                                  {QStringLiteral("value"), w.value},
                                  {QStringLiteral("echo"), w.echo ? QJsonValue(int(*w.echo)) : QJsonValue(QJsonValue::Null)}});
    json.insert(QStringLiteral("writes"), writes);
    json.insert(QStringLiteral("echoFailures"), result.echoFailures());
    json.insert(QStringLiteral("verified"), done.verified ? QJsonValue(*done.verified) : QJsonValue(QJsonValue::Null));
    json.insert(QStringLiteral("differences"), QJsonArray::fromStringList(done.differences));
    return json;
}

QString programText(const ProgramOrder &order, const BoardProgram &done)
{
    const ProgrammingResult &result = done.result;
    const MechanismSettings &settings = order.plan.settings;
    QString text = QStringLiteral("Identity before: %1\n").arg(shown(done.before));
    if (order.userMode)
        text += QStringLiteral("Configuration mode: User, code %1 (bytes %2 %3)\n")
                    .arg(order.planCode, hexByte(configurationByte1(settings)), hexByte(configurationByte2(settings)));
    else
        text += QStringLiteral("Configuration mode: Resistors\n");
    text += order.userId ? QStringLiteral("Identity determination: User, \"%1\"\n")
                               .arg(order.plan.name.left(ConfigurationEditor::MaxNameLength))
                         : QStringLiteral("Identity determination: Automatic\n");
    if (result.completed()) {
        text += QStringLiteral("Parameters written: %1, echo errors: %2\n")
                    .arg(result.writes.size())
                    .arg(result.echoFailures());
        text += QStringLiteral("Identity after: %1\n").arg(shown(result.identity));
        if (done.verified)
            text += *done.verified ? QStringLiteral("Verified: the board holds what was written.\n")
                                   : QStringLiteral("Verification failed.\n");
    } else if (result.outcome == ProgrammingResult::Outcome::Cancelled) {
        text += QStringLiteral("Not programmed: the board's strobe polarity differs (give --yes to "
                               "program anyway).\n");
    } else if (result.outcome == ProgrammingResult::Outcome::NotReset) {
        text += QStringLiteral("Parameters sent: %1; the board was not reset.\n").arg(result.writes.size());
    }
    text += QStringLiteral("Result: %1\n").arg(done.outcome);
    return text;
}

} // namespace tessary
