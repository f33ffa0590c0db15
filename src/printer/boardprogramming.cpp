#include "printer/boardprogramming.h"

#include "configuration/configurationeditor.h"
#include "printer/printerqueries.h"
#include "protocol/replytext.h"
#include "serial/seriallink.h"

namespace tessary {

namespace {

QString modeWord(bool user) { return user ? QStringLiteral("User") : QStringLiteral("Resistors"); }
QString identityWord(bool user) { return user ? QStringLiteral("User") : QStringLiteral("Automatic"); }

// The identity the board reports after its reset, where it is not the one written.
std::optional<QString> identityDifference(const ProgramOrder &order, const QByteArray &identityAfter)
{
    const QString wrote = trimBlanks(order.plan.name.left(ConfigurationEditor::MaxNameLength));
    const QString reports = trimBlanks(replyText(identityAfter.left(ConfigurationEditor::MaxNameLength)));
    if (!order.userId || reports == wrote)
        return std::nullopt;
    return QStringLiteral("identity: wrote \"%1\", the board reports \"%2\"").arg(wrote, printableText(reports));
}

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
    if (const auto identity = identityDifference(order, identityAfter))
        differences << *identity;
    return differences;
}

} // namespace

ProgramOrder ProgramOrder::fromEditor(const ConfigurationEditor &editor, const std::optional<MechanismSettings> &exact)
{
    ProgramOrder order;
    order.plan = ProgrammingPlan::fromEditor(editor);
    if (exact)
        order.plan.settings = *exact;
    order.userMode = order.plan.mode == ProgrammingPlan::Mode::User;
    order.userId = order.plan.identity == ProgrammingPlan::Identity::User;
    if (order.userMode)
        order.planCode = codeFromBytes(configurationByte1(order.plan.settings), configurationByte2(order.plan.settings));
    return order;
}

ProgramOrder ProgramOrder::forBoard(const QString &identity) const
{
    ProgramOrder own = *this;
    if (!identity.isEmpty()) {
        own.plan.name = identity;
        own.plan.identity = ProgrammingPlan::Identity::User;
        own.userId = true;
    }
    return own;
}

QString ProgramOrder::recordCode() const { return userMode ? planCode : QStringLiteral("resistors"); }

int ProgramOrder::writeCount() const
{
    return int(plan.configurationWrites().size() + plan.identityWrites().size());
}

int echoedWrites(const ProgrammingResult &result)
{
    int echoed = 0;
    for (const ProgrammingResult::Write &w : result.writes)
        echoed += w.echo ? 1 : 0;
    return echoed;
}

int BoardProgram::echoed() const { return echoedWrites(result); }

void programBoard(SerialLink &link, const PrinterLink &printer, Programmer &programmer,
                  const ProgramOrder &order, BoardProgram &done)
{
    done.planned = order.writeCount();
    PrinterQueries queries(link, printer);
    if (order.identityBefore)
        done.before = queries.identity();
    try {
        done.result = programmer.program(order.plan);
    } catch (const CommandStopped &) {
        done.result = programmer.progress(); // what went out before the stop
        throw;
    }
    if (done.result.outcome == ProgrammingResult::Outcome::NotReset)
        done.lineProblem = link.lastProblem();

    if (done.result.completed() && order.verify) {
        done.differences = readBackDifferences(queries.readSettings(), order, done.result.identity);
        done.verified = done.differences.isEmpty();
    } else if (done.result.completed() && done.result.identityRead) {
        // Without the read-back, the identity the board answers after its
        // reset is still its word on what it took: silence on a line that is
        // still there, or another name than the one written (a reset the
        // board never took, say), is no success.
        if (const auto identity = done.result.identity.isEmpty()
                                      ? std::optional(QStringLiteral("identity: the board did not answer"))
                                      : identityDifference(order, done.result.identity)) {
            done.differences = {*identity};
            done.verified = false;
        }
    }
}

} // namespace tessary
