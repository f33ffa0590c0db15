#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

namespace tessary {

// The configuration editor's record: one value per option group, -1 when no
// option of the group has been chosen.
//
// Values: printerMode 0 = MRS, other = Chipset; logicVoltage 1 = 5 V,
// 0 = 3.3 V; mechanismType 1 = Standard, 0 = KEL; motorSteps 1 = one step
// per dot line, 0 = two; motorRotation 0 = Normal, 1 = Inverted; headType
// 0 = 1500 Ohms, 1 = 3000 Ohms, 2 = 800 Ohms (3 names none); strobePolarity
// 0 = Positive, 1 = Negative; headWidth 1..7 (see headWidthDots(), 0 names
// none); headUpPolarity 0 = Normal, 1 = Inverted.
struct MechanismSettings {
    qint16 printerMode = 0;
    qint16 logicVoltage = -1;
    qint16 mechanismType = -1;
    qint16 motorSteps = -1;
    qint16 motorRotation = -1;
    qint16 headType = -1;
    qint16 headWidth = -1;
    qint16 strobePolarity = -1;
    qint16 headUpPolarity = -1;

    bool operator==(const MechanismSettings &) const = default;
};

// Length of a configuration code: two bytes written as bits.
inline constexpr int ConfigurationCodeLength = 16;

// Whether the text is a configuration code: 16 characters, each "0" or "1".
[[nodiscard]] bool isConfigurationCode(const QString &text);

// The value of a text of digits read as base 2: each character's digit value
// ("0".."9" give 0..9, anything else 0) times 2 to the number of characters to
// its right. Saturates at 255 instead of wrapping, so a long or odd text can
// never pass for a small value.
[[nodiscard]] quint8 BinaryDigitsToValue(const QString &digits);

// The 16-character code of the settings. Position 1 is always "1"; a one-bit
// field writes "0" for 0 and "1" for anything else (so an unset head-up
// polarity gives "1"). An unset or out-of-range head type writes "11" and an
// unset or out-of-range head width "000": the two patterns that name no option.
[[nodiscard]] QString BuildConfigurationCode(const MechanismSettings &settings);

// The two configuration bytes as the board stores them, computed as numbers:
// byte 1 = 128 + 64 voltage + 32 mechanism + 16 steps + 8 rotation
// + 2 head type + strobe; byte 2 = 32 head width + 16 head-up polarity.
// Each field enters with the same normalisation as in BuildConfigurationCode,
// so a field that is unset (or out of range after reading an odd code) can
// never carry into a neighbouring bit, and the bytes always equal the two
// halves of the code. Programming checks that every field is set first.
[[nodiscard]] quint8 configurationByte1(const MechanismSettings &settings);
[[nodiscard]] quint8 configurationByte2(const MechanismSettings &settings);

// Bit text of a byte, most significant bit first: 0xA5 gives "10100101".
[[nodiscard]] QString binary(quint8 value);
// The configuration code of the two bytes read back from the board.
[[nodiscard]] QString codeFromBytes(quint8 byte1, quint8 byte2);

// Reads every field of a code as stored, including the logic voltage of
// position 2 (which the editor does not take over). A position beyond the end
// of a short text reads as empty, i.e. as 0; a field cut by the end of the
// text is valued from the digits that remain.
[[nodiscard]] MechanismSettings decodeConfigurationCode(const QString &code);

// Head width value (1..7) to dots: 384, 432, 576, 864, 448, 640, 832; 0 for a
// value that names no width.
[[nodiscard]] int headWidthDots(int headWidth);

// Words for each field's value, as the editor's options caption them; "not
// defined" for -1 and for values that name no option.
[[nodiscard]] QString printerModeText(int value);
[[nodiscard]] QString logicVoltageText(int value);
[[nodiscard]] QString mechanismTypeText(int value);
[[nodiscard]] QString motorStepsText(int value);
[[nodiscard]] QString motorRotationText(int value);
[[nodiscard]] QString headTypeText(int value);
[[nodiscard]] QString strobePolarityText(int value);
[[nodiscard]] QString headWidthText(int value);
[[nodiscard]] QString headUpPolarityText(int value);

struct FieldDescription {
    QString caption; // the option group's caption, e.g. "Head width"
    QString value;   // e.g. "432 dots"
};
// The nine fields in words, in the order of the code.
[[nodiscard]] QList<FieldDescription> describe(const MechanismSettings &settings);

} // namespace tessary
