// The configuration code's arithmetic, over every combination the editor can make. What the window does
// with it (options, saving, programming) is tested through the window in tst_database.
#include "configuration/configurationcode.h"

#include <QTest>

using namespace tessary;

class TestConfigurationCode : public QObject {
    Q_OBJECT
private slots:
    void eachFieldWritesItsOwnBitsOnly()
    {
        // From every field 0 (3.3 V, KEL, 2 steps, Normal, 1500 Ohms, Positive, no width, Normal), one field
        // changed: unset one-bit fields write 1, and values no option has never carry into a neighbour.
        using S = MechanismSettings;
        const struct { qint16 S::*field; int value; const char *code; int byte1, byte2; } rows[] = {
            {nullptr, 0, "1000000000000000", 0x80, 0x00}, {&S::motorSteps, 9, "1001000000000000", 0x90, 0x00},
            {&S::headType, -1, "1000011000000000", 0x86, 0x00}, {&S::headType, 27, "1000011000000000", 0x86, 0x00},
            {&S::headWidth, -1, "1000000000000000", 0x80, 0x00},
            {&S::headUpPolarity, -1, "1000000000010000", 0x80, 0x10}};
        for (const auto &r : rows) {
            S s{0, 0, 0, 0, 0, 0, 0, 0, 0};
            if (r.field)
                s.*r.field = qint16(r.value);
            QCOMPARE(BuildConfigurationCode(s), QString::fromLatin1(r.code));
            QCOMPARE(configurationByte1(s) * 256 + configurationByte2(s), r.byte1 * 256 + r.byte2);
        }
    }

    void bytesAndCodeAgreeForEveryCombination()
    {
        // A field is read by weighing each digit by its place (any other character counts 0); a long or odd
        // text saturates rather than pass for a small value.
        const struct { const char *digits; int value; } rows[] = {{"", 0}, {"1", 1}, {"10", 2}, {"101", 5}, {"0011", 3},
            {"1x1", 5}, {"21", 5}, {"11111111", 255}, {"111111111", 255}, {"99999", 255}};
        for (const auto &r : rows)
            QCOMPARE(int(BinaryDigitsToValue(QString::fromLatin1(r.digits))), r.value);
        // Every value an option can set, and "11" / "000": the bits of n spread over the fields.
        for (int n = 0; n < (1 << 11); ++n) {
            const MechanismSettings s{1, qint16(n & 1), qint16(n >> 1 & 1), qint16(n >> 2 & 1), qint16(n >> 3 & 1),
                                      qint16(n >> 4 & 3), qint16(n >> 6 & 7), qint16(n >> 9 & 1), qint16(n >> 10 & 1)};
            const QString code = BuildConfigurationCode(s);
            QCOMPARE(codeFromBytes(configurationByte1(s), configurationByte2(s)), code);
            QCOMPARE(decodeConfigurationCode(code), s);
        }
        // Any two bytes the board may send back, most significant bit first.
        QCOMPARE(codeFromBytes(0xA5, 0x0F), QString("1010010100001111"));
    }

    void codesReadBackInWords()
    {
        // What a read-back shows (a whole code of every field: tessary code decode, whose test in tst_cli also
        // has the head type and width no digits name); a short text reads its missing positions as 0, a cut
        // field from what remains.
        const struct { const char *code, *words; } rows[] = {
            {"0000101010110000", "MRS|3.3 V|KEL|2 steps/dotline|Inverted|3000 Ohms|Positive|448 dots|Inverted"},
            {"111101", "Chipset|5 V|Standard|1 step/dotline|Normal|3000 Ohms|Positive|not defined|Normal"}};
        const auto words = [](const MechanismSettings &s) {
            QStringList out;
            for (const FieldDescription &field : describe(s))
                out << field.value;
            return out.join(u'|');
        };
        for (const auto &r : rows)
            QCOMPARE(words(decodeConfigurationCode(QString::fromLatin1(r.code))), QString::fromLatin1(r.words));
        QCOMPARE(words(MechanismSettings{}), "MRS" + QString("|not defined").repeated(8));
        QString widths;
        for (int value = 0; value <= 8; ++value)
            widths += headWidthText(value) + u'|';
        QCOMPARE(widths, "not defined|384 dots|432 dots|576 dots|864 dots|448 dots|640 dots|832 dots|not defined|");
    }
};

QTEST_APPLESS_MAIN(TestConfigurationCode)
#include "tst_configurationcode.moc"
