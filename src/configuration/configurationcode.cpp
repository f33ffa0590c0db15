#include "configuration/configurationcode.h"

#include <array>

namespace tessary {

namespace {

constexpr int HeadTypeNone = 3;  // "11"
constexpr int HeadWidthNone = 0; // "000"

constexpr std::array<int, 8> WidthDots = {0, 384, 432, 576, 864, 448, 640, 832};

int digitValue(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9') ? c.unicode() - '0' : 0;
}

// The characters from 1-based `position`, at most `length` of them; empty
// beyond the end of the text.
QString positions(const QString &code, int position, int length)
{
    return code.mid(position - 1, length);
}

int bit(int value)
{
    return value == 0 ? 0 : 1;
}

int headTypeBits(int value)
{
    return value >= 0 && value <= 3 ? value : HeadTypeNone;
}

int headWidthBits(int value)
{
    return value >= 0 && value <= 7 ? value : HeadWidthNone;
}

QString bits(int value, int count)
{
    QString text(count, QLatin1Char('0'));
    for (int i = 0; i < count; ++i)
        if (value & (1 << (count - 1 - i)))
            text[i] = QLatin1Char('1');
    return text;
}

const QString NotDefined = QStringLiteral("not defined");

QString pick(int value, const char *zero, const char *other)
{
    if (value < 0)
        return NotDefined;
    return QString::fromLatin1(value == 0 ? zero : other);
}

} // namespace

quint8 BinaryDigitsToValue(const QString &digits)
{
    int value = 0;
    for (QChar c : digits) {
        value = value * 2 + digitValue(c);
        if (value > 255)
            return 255;
    }
    return quint8(value);
}

QString BuildConfigurationCode(const MechanismSettings &s)
{
    QString code;
    code.reserve(ConfigurationCodeLength);
    code += QLatin1Char('1');
    code += bits(bit(s.logicVoltage), 1);
    code += bits(bit(s.mechanismType), 1);
    code += bits(bit(s.motorSteps), 1);
    code += bits(bit(s.motorRotation), 1);
    code += bits(headTypeBits(s.headType), 2);
    code += bits(bit(s.strobePolarity), 1);
    code += bits(headWidthBits(s.headWidth), 3);
    code += bits(bit(s.headUpPolarity), 1);
    code += QLatin1String("0000");
    return code;
}

quint8 configurationByte1(const MechanismSettings &s)
{
    return quint8(128 + 64 * bit(s.logicVoltage) + 32 * bit(s.mechanismType)
                  + 16 * bit(s.motorSteps) + 8 * bit(s.motorRotation)
                  + 2 * headTypeBits(s.headType) + bit(s.strobePolarity));
}

quint8 configurationByte2(const MechanismSettings &s)
{
    return quint8(32 * headWidthBits(s.headWidth) + 16 * bit(s.headUpPolarity));
}

QString binary(quint8 value)
{
    return bits(value, 8);
}

QString codeFromBytes(quint8 byte1, quint8 byte2)
{
    return binary(byte1) + binary(byte2);
}

MechanismSettings decodeConfigurationCode(const QString &code)
{
    MechanismSettings s;
    s.printerMode = BinaryDigitsToValue(positions(code, 1, 1));
    s.logicVoltage = BinaryDigitsToValue(positions(code, 2, 1));
    s.mechanismType = BinaryDigitsToValue(positions(code, 3, 1));
    s.motorSteps = BinaryDigitsToValue(positions(code, 4, 1));
    s.motorRotation = BinaryDigitsToValue(positions(code, 5, 1));
    s.headType = BinaryDigitsToValue(positions(code, 6, 2));
    s.strobePolarity = BinaryDigitsToValue(positions(code, 8, 1));
    s.headWidth = BinaryDigitsToValue(positions(code, 9, 3));
    s.headUpPolarity = BinaryDigitsToValue(positions(code, 12, 1));
    return s;
}

int headWidthDots(int headWidth)
{
    return headWidth >= 1 && headWidth <= 7 ? WidthDots[std::size_t(headWidth)] : 0;
}

QString printerModeText(int value)
{
    return pick(value, "MRS", "Chipset");
}

QString logicVoltageText(int value)
{
    return pick(value, "3.3 V", "5 V");
}

QString mechanismTypeText(int value)
{
    return pick(value, "KEL", "Standard");
}

QString motorStepsText(int value)
{
    return pick(value, "2 steps/dotline", "1 step/dotline");
}

QString motorRotationText(int value)
{
    return pick(value, "Normal", "Inverted");
}

QString headTypeText(int value)
{
    switch (value) {
    case 0: return QStringLiteral("1500 Ohms");
    case 1: return QStringLiteral("3000 Ohms");
    case 2: return QStringLiteral("800 Ohms");
    default: return NotDefined;
    }
}

QString strobePolarityText(int value)
{
    return pick(value, "Positive", "Negative");
}

QString headWidthText(int value)
{
    const int dots = headWidthDots(value);
    return dots ? QStringLiteral("%1 dots").arg(dots) : NotDefined;
}

QString headUpPolarityText(int value)
{
    return pick(value, "Normal", "Inverted");
}

QList<FieldDescription> describe(const MechanismSettings &s)
{
    return {
        {QStringLiteral("Printer mode"), printerModeText(s.printerMode)},
        {QStringLiteral("Logic voltage"), logicVoltageText(s.logicVoltage)},
        {QStringLiteral("Mechanism"), mechanismTypeText(s.mechanismType)},
        {QStringLiteral("Motor steps"), motorStepsText(s.motorSteps)},
        {QStringLiteral("Motor rotation"), motorRotationText(s.motorRotation)},
        {QStringLiteral("Head type"), headTypeText(s.headType)},
        {QStringLiteral("Strobe polarity"), strobePolarityText(s.strobePolarity)},
        {QStringLiteral("Head width"), headWidthText(s.headWidth)},
        {QStringLiteral("Head-up polarity"), headUpPolarityText(s.headUpPolarity)},
    };
}

bool isConfigurationCode(const QString &text)
{
    if (text.size() != ConfigurationCodeLength)
        return false;
    for (QChar c : text)
        if (c != u'0' && c != u'1')
            return false;
    return true;
}

} // namespace tessary
