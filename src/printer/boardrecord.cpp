#include "printer/boardrecord.h"

#include <array>
#include <utility>

namespace tessary {

namespace {

constexpr std::array<std::pair<BoardOutcome, const char *>, 11> Words{{
    {BoardOutcome::Ok, "ok"},
    {BoardOutcome::Found, "found"},
    {BoardOutcome::EchoError, "echo-error"},
    {BoardOutcome::VerifyFailed, "verify-failed"},
    {BoardOutcome::Cancelled, "cancelled"},
    {BoardOutcome::ResetNotSent, "reset-not-sent"},
    {BoardOutcome::Interrupted, "interrupted"},
    {BoardOutcome::NoBoard, "no-board"},
    {BoardOutcome::PortError, "port-error"},
    {BoardOutcome::Drift, "drift"},
    {BoardOutcome::ReadFailed, "read-failed"},
}};

QString utcText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

} // namespace

QString outcomeWord(BoardOutcome outcome)
{
    for (const auto &[value, word] : Words) {
        if (value == outcome)
            return QLatin1String(word);
    }
    return {};
}

std::optional<BoardOutcome> outcomeFromWord(const QString &word)
{
    for (const auto &[value, text] : Words) {
        if (word == QLatin1String(text))
            return value;
    }
    return std::nullopt;
}

bool outcomeFails(BoardOutcome outcome)
{
    // An empty socket of a fixture is no failure by itself.
    return outcome != BoardOutcome::Ok && outcome != BoardOutcome::Found && outcome != BoardOutcome::NoBoard;
}

QStringList BoardRow::columns()
{
    return {QStringLiteral("started"),  QStringLiteral("ended"),           QStringLiteral("station"),
            QStringLiteral("tool"),     QStringLiteral("command"),         QStringLiteral("port"),
            QStringLiteral("device"),   QStringLiteral("adapter_serial"),  QStringLiteral("speed"),
            QStringLiteral("handshake"), QStringLiteral("firmware"),       QStringLiteral("identity_before"),
            QStringLiteral("identity_after"), QStringLiteral("database"),  QStringLiteral("entry"),
            QStringLiteral("code"),     QStringLiteral("mode"),            QStringLiteral("verified"),
            QStringLiteral("result"),   QStringLiteral("reason"),          QStringLiteral("writes")};
}

QStringList BoardRow::fields() const
{
    return {utcText(started),
            utcText(ended),
            station,
            tool,
            command,
            port,
            device,
            adapterSerial,
            speed,
            handshake,
            firmware,
            identityBefore,
            identityAfter,
            database,
            entry,
            code,
            mode,
            verified ? (*verified ? QStringLiteral("yes") : QStringLiteral("no")) : QString(),
            outcomeWord(result),
            reason,
            QStringLiteral("%1/%2").arg(writes).arg(plannedWrites)};
}

void BoardRecorders::add(BoardRecorder &recorder, const QString &failure) { m_recorders.append({&recorder, failure}); }

bool BoardRecorders::record(const BoardRow &row, QString *reason)
{
    QStringList failed;
    for (const auto &[recorder, failure] : std::as_const(m_recorders)) {
        QString why;
        if (!recorder->record(row, &why))
            failed << failure + QStringLiteral(": ") + why;
    }
    if (!failed.isEmpty())
        *reason = failed.join(QStringLiteral("; "));
    return failed.isEmpty();
}

} // namespace tessary
