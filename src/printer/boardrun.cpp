#include "printer/boardrun.h"

#include "protocol/replytext.h"
#include "serial/portnames.h"
#include "serial/serialline.h"

#include <QFileInfo>

namespace tessary {

namespace {

constexpr int IdentityWidth = 16;

QString hexByte(quint8 value) { return QStringLiteral("%1").arg(value, 2, 16, QChar(u'0')).toUpper(); }

// The writes the board did not echo as written, in words: the first three.
QString echoReason(const ProgrammingResult &result)
{
    QStringList failed;
    int more = 0;
    for (const ProgrammingResult::Write &w : result.writes) {
        if (w.verified())
            continue;
        if (failed.size() == 3) {
            ++more;
            continue;
        }
        failed << (w.echo ? QStringLiteral("parameter %1: wrote %2, the board echoed %3")
                                .arg(w.address).arg(hexByte(w.value), hexByte(*w.echo))
                          : QStringLiteral("parameter %1: wrote %2, no echo").arg(w.address).arg(hexByte(w.value)));
    }
    if (more > 0)
        failed << QStringLiteral("%1 more").arg(more);
    return failed.join(QStringLiteral("; "));
}

QString interruptedReason(const BoardRun &run)
{
    const std::optional<BoardProgram> &program = run.program;
    const bool found = run.found();
    if (run.audit)
        return QStringLiteral("stopped during the read-back; nothing was written to the board");
    if (!program)
        return found ? QStringLiteral("stopped before the board's steps ended")
                     : QStringLiteral("stopped during the scan");
    if (program->result.completed())
        return QStringLiteral("stopped during the read-back; the board was programmed and reset");
    return QStringLiteral("stopped after %1 of %2 parameter writes were echoed; the board may hold a partial "
                          "configuration and should be programmed again")
        .arg(program->echoed())
        .arg(program->planned);
}

} // namespace

void BoardRun::decide()
{
    // A board that fails keeps the identity it took: the number is spent, and the record says which board took it.
    const auto set = [this](BoardOutcome decided, const QString &why) {
        outcome = decided;
        reason = why;
        if (outcomeFails(decided) && !takenIdentity.isEmpty())
            reason += QStringLiteral("; it took the identity \"%1\"").arg(takenIdentity);
    };
    if (!portError.isEmpty())
        return set(BoardOutcome::PortError, portError);
    if (stopped)
        return set(BoardOutcome::Interrupted, interruptedReason(*this));
    if (!found())
        return set(BoardOutcome::NoBoard, QStringLiteral("no board answered at any speed, after a wake-up"));
    if (!refusal.isEmpty())
        return set(BoardOutcome::Cancelled, refusal);
    if (audit) {
        const QString differences = audit->differences.join(QStringLiteral("; "));
        if (!audit->unanswered.isEmpty())
            return set(BoardOutcome::ReadFailed, (audit->unanswered + audit->differences).join(QStringLiteral("; ")));
        return set(differences.isEmpty() ? BoardOutcome::Ok : BoardOutcome::Drift, differences);
    }
    if (!program)
        return set(BoardOutcome::Found, {});
    const ProgrammingResult &result = program->result;
    switch (result.outcome) {
    case ProgrammingResult::Outcome::Refused:
        return set(BoardOutcome::Cancelled, QStringLiteral("the configuration's checks failed; nothing was written"));
    case ProgrammingResult::Outcome::Cancelled:
        return set(BoardOutcome::Cancelled,
                   Programmer::cancelledStatus() + QStringLiteral(" (the board detects the other strobe polarity)"));
    case ProgrammingResult::Outcome::NotReset:
        return set(BoardOutcome::ResetNotSent,
                   (program->lineProblem.isEmpty() ? QStringLiteral("the serial line failed") : program->lineProblem)
                       + (result.writes.isEmpty() ? QStringLiteral("; nothing was written to the board and it was not reset")
                                                  : QStringLiteral("; the board was not reset and may hold part of the configuration")));
    case ProgrammingResult::Outcome::Stopped:
        return set(BoardOutcome::Interrupted, interruptedReason(*this));
    case ProgrammingResult::Outcome::Completed:
        break;
    }
    if (result.echoFailures() > 0)
        return set(BoardOutcome::EchoError, echoReason(result));
    if (program->verified == false)
        return set(BoardOutcome::VerifyFailed, program->differences.join(QStringLiteral("; ")));
    set(BoardOutcome::Ok, {});
}

QString BoardRun::portName() const
{
    if (com)
        return QStringLiteral("COM%1").arg(com);
    return device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : QFileInfo(device).fileName();
}

QString BoardRun::name() const
{
    const QString shown = device.startsWith(QLatin1String("/dev/")) ? PortNames::shownName(device) : device;
    return com ? QStringLiteral("COM%1 (%2)").arg(com).arg(shown) : shown;
}

QString identityPart(const QByteArray &reply) { return trimBlanks(replyText(reply.left(IdentityWidth))); }

QString firmwarePart(const QByteArray &reply) { return trimBlanks(replyText(reply.mid(IdentityWidth))); }

BoardRow recordRow(const BoardRun &run, const RecordContext &context)
{
    BoardRow row;
    row.started = run.started;
    row.ended = run.ended;
    row.station = context.station;
    row.tool = context.tool;
    row.command = context.command;
    row.port = run.com ? QStringLiteral("COM%1").arg(run.com) : QString();
    row.device = run.device;
    row.adapterSerial = context.adapterSerials.value(run.device);
    if (run.found()) {
        row.speed = run.printer.baudRate;
        row.handshake = run.printer.handshake == HandshakeXonXoff ? QStringLiteral("xon") : QStringLiteral("hw");
    }
    const QByteArray before = run.identityBefore();
    row.firmware = firmwarePart(before);
    row.identityBefore = identityPart(before);
    if (run.program)
        row.identityAfter = identityPart(run.program->result.identity);
    if (run.audit) {
        // What the board holds, and the entry it was compared with.
        const ReadBackResult &back = run.audit->back;
        row.identityAfter = identityPart(back.identityReply);
        row.code = back.code.value_or(QString());
        if (back.configurationMode)
            row.mode = *back.configurationMode ? QStringLiteral("user") : QStringLiteral("resistors");
    }
    if (const AuditOrder *audit = context.audit) {
        row.database = audit->database;
        row.entry = audit->entry;
    }
    if (context.order) {
        const ProgramOrder own = context.order->forBoard(run.takenIdentity);
        const ProgramOrder *order = &own;
        row.database = order->database;
        row.entry = order->entry;
        row.code = order->recordCode();
        row.mode = order->userMode ? QStringLiteral("user") : QStringLiteral("resistors");
        if (order->verify)
            row.verified = run.program && run.program->verified.value_or(false);
        row.plannedWrites = order->writeCount();
    }
    row.result = run.outcome;
    row.reason = run.reason;
    row.writes = run.program ? run.program->echoed() : 0;
    return row;
}

} // namespace tessary
