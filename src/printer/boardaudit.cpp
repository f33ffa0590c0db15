#include "printer/boardaudit.h"

#include <array>

namespace tessary {

namespace {

// The expected value in words, without the unit the board's value has
// already said: "576 dots, expected 384".
QString expectedWords(const QString &held, const QString &expected)
{
    const QString unit = expected.section(u' ', -1);
    if (expected.contains(u' ') && held.contains(u' ') && held.section(u' ', -1) == unit)
        return expected.section(u' ', 0, -2);
    return expected;
}

// A value no option names ("11" as head type, "000" as head width).
QString valueWords(const QString &text) { return text == QLatin1String("not defined") ? QStringLiteral("none") : text; }

} // namespace

QString AuditOrder::heldCode(const QString &code)
{
    if (!isConfigurationCode(code))
        return {};
    const MechanismSettings settings = decodeConfigurationCode(code);
    return codeFromBytes(configurationByte1(settings), configurationByte2(settings));
}

QStringList AuditOrder::entriesHolding(const QString &code) const
{
    QStringList names;
    for (const Entry &entry : entries)
        if (!entry.code.isEmpty() && entry.code == code)
            names << entry.name;
    return names;
}

QStringList readBackGaps(const ReadBackResult &back)
{
    if (back.answeredNothing())
        return {QStringLiteral("the board did not answer the read-back")};
    QStringList gaps;
    if (!back.configurationMode)
        gaps << QStringLiteral("configuration mode: the board did not answer");
    if (!back.identityMode)
        gaps << QStringLiteral("identity mode: the board did not answer");
    if (back.configurationReply.isEmpty())
        gaps << QStringLiteral("configuration bytes: the board did not answer");
    else if (!back.code)
        gaps << QStringLiteral("configuration bytes: the board's reply was unusable (%1 bytes)")
                    .arg(back.configurationReply.size());
    if (back.identityReply.isEmpty())
        gaps << QStringLiteral("identity: the board did not answer");
    return gaps;
}

QStringList configurationDrift(bool userMode, const QString &held, const AuditOrder &order)
{
    if (!order.expected)
        return {};
    QStringList drift;
    // The bytes it holds drive the head only in User mode; in Resistors mode
    // its straps do.
    if (!userMode)
        drift << QStringLiteral("configuration mode: the board holds Resistors, expected User");
    const MechanismSettings &expected = *order.expected;
    const MechanismSettings holds = decodeConfigurationCode(held);
    // In the order describe() names them.
    static constexpr std::array<qint16 MechanismSettings::*, 9> Fields = {
        &MechanismSettings::printerMode,   &MechanismSettings::logicVoltage, &MechanismSettings::mechanismType,
        &MechanismSettings::motorSteps,    &MechanismSettings::motorRotation, &MechanismSettings::headType,
        &MechanismSettings::strobePolarity, &MechanismSettings::headWidth,   &MechanismSettings::headUpPolarity};
    const QList<FieldDescription> heldWords = describe(holds), expectedWordList = describe(expected);
    for (std::size_t i = 0; i < Fields.size(); ++i) {
        const qint16 want = expected.*Fields[i];
        if (want < 0 || holds.*Fields[i] == want)
            continue;
        const QString has = valueWords(heldWords[qsizetype(i)].value);
        drift << QStringLiteral("%1: the board holds %2, expected %3")
                     .arg(heldWords[qsizetype(i)].caption.toLower(), has,
                          expectedWords(has, valueWords(expectedWordList[qsizetype(i)].value)));
    }
    if (!order.expectedCode.isEmpty() && held.mid(12) != order.expectedCode.mid(12))
        drift << QStringLiteral("reserved bits: the board holds %1, expected %2")
                     .arg(held.mid(12), order.expectedCode.mid(12));
    return drift;
}

void auditBoard(SerialLink &link, const PrinterLink &printer, const AuditOrder &order, BoardAudit &done)
{
    done.back = PrinterQueries(link, printer).readSettings();
    done.unanswered = readBackGaps(done.back);
    if (!done.back.code)
        return;
    done.entries = order.entriesHolding(*done.back.code);
    // A mode the board did not answer is not guessed: the fields alone.
    done.differences = configurationDrift(done.back.configurationMode.value_or(1) != 0, *done.back.code, order);
}

} // namespace tessary
