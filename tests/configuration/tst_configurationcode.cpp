#include "configuration/configurationcode.h"

#include <QTest>

using namespace tessary;

class TestConfigurationCode : public QObject {
    Q_OBJECT
private slots:
    void binaryDigitsToValueWeighsEachDigitByItsPlace_data();
    void binaryDigitsToValueWeighsEachDigitByItsPlace();

    void eachFieldValueLandsInItsCodePositionsAndBytes_data();
    void eachFieldValueLandsInItsCodePositionsAndBytes();

    void workedExampleGivesF1And40();
    void unsetFieldsCannotCarryIntoNeighbouringBits_data();
    void unsetFieldsCannotCarryIntoNeighbouringBits();
    void bytesEqualTheCodeHalvesForEveryEditorCombination();

    void binaryWritesMostSignificantBitFirst_data();
    void binaryWritesMostSignificantBitFirst();
    void codeFromBytesRoundTripsEveryByte();

    void shortTextReadsMissingPositionsAsEmpty_data();
    void shortTextReadsMissingPositionsAsEmpty();

    void factoryCodesDecodeToTheirMechanisms_data();
    void factoryCodesDecodeToTheirMechanisms();

    void headWidthValuesMapToDotsInTheirOddOrder();
    void describeNamesUnsetAndNamelessValues();
};

void TestConfigurationCode::binaryDigitsToValueWeighsEachDigitByItsPlace_data()
{
    QTest::addColumn<QString>("digits");
    QTest::addColumn<int>("value");
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("1") << "1" << 1;
    QTest::newRow("10") << "10" << 2;
    QTest::newRow("101") << "101" << 5;
    QTest::newRow("111") << "111" << 7;
    QTest::newRow("leading zeros") << "0011" << 3;
    QTest::newRow("non-digit counts 0") << "1x1" << 5;
    QTest::newRow("decimal digit keeps its value") << "21" << 5;
    QTest::newRow("eight ones") << "11111111" << 255;
    QTest::newRow("too long saturates") << "111111111" << 255;
    QTest::newRow("large digits saturate") << "99999" << 255;
}

void TestConfigurationCode::binaryDigitsToValueWeighsEachDigitByItsPlace()
{
    QFETCH(QString, digits);
    QFETCH(int, value);
    QCOMPARE(int(BinaryDigitsToValue(digits)), value);
}

// Start from a complete configuration whose code is all zeros in the field
// positions (except the fixed leading "1"), change one field, and check both
// the code and the bytes.
void TestConfigurationCode::eachFieldValueLandsInItsCodePositionsAndBytes_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("byte1");
    QTest::addColumn<int>("byte2");

    // Base: 3.3 V, KEL, 2 steps, Normal, 1500 Ohms, Positive, no width, Normal.
    QTest::newRow("base") << "" << 0 << "1000000000000000" << 0x80 << 0x00;
    QTest::newRow("5 V") << "logicVoltage" << 1 << "1100000000000000" << 0xC0 << 0x00;
    QTest::newRow("Standard") << "mechanismType" << 1 << "1010000000000000" << 0xA0 << 0x00;
    QTest::newRow("1 step") << "motorSteps" << 1 << "1001000000000000" << 0x90 << 0x00;
    QTest::newRow("Inverted rotation") << "motorRotation" << 1 << "1000100000000000" << 0x88 << 0x00;
    QTest::newRow("3000 Ohms") << "headType" << 1 << "1000001000000000" << 0x82 << 0x00;
    QTest::newRow("800 Ohms") << "headType" << 2 << "1000010000000000" << 0x84 << 0x00;
    QTest::newRow("head type 11") << "headType" << 3 << "1000011000000000" << 0x86 << 0x00;
    QTest::newRow("Negative strobe") << "strobePolarity" << 1 << "1000000100000000" << 0x81 << 0x00;
    QTest::newRow("384") << "headWidth" << 1 << "1000000000100000" << 0x80 << 0x20;
    QTest::newRow("432") << "headWidth" << 2 << "1000000001000000" << 0x80 << 0x40;
    QTest::newRow("576") << "headWidth" << 3 << "1000000001100000" << 0x80 << 0x60;
    QTest::newRow("864") << "headWidth" << 4 << "1000000010000000" << 0x80 << 0x80;
    QTest::newRow("448") << "headWidth" << 5 << "1000000010100000" << 0x80 << 0xA0;
    QTest::newRow("640") << "headWidth" << 6 << "1000000011000000" << 0x80 << 0xC0;
    QTest::newRow("832") << "headWidth" << 7 << "1000000011100000" << 0x80 << 0xE0;
    QTest::newRow("head-up Inverted") << "headUpPolarity" << 1 << "1000000000010000" << 0x80 << 0x10;
    QTest::newRow("unset head-up is 1") << "headUpPolarity" << -1 << "1000000000010000" << 0x80 << 0x10;
}

static qint16 MechanismSettings::*fieldNamed(const QString &name)
{
    if (name == "logicVoltage") return &MechanismSettings::logicVoltage;
    if (name == "mechanismType") return &MechanismSettings::mechanismType;
    if (name == "motorSteps") return &MechanismSettings::motorSteps;
    if (name == "motorRotation") return &MechanismSettings::motorRotation;
    if (name == "headType") return &MechanismSettings::headType;
    if (name == "strobePolarity") return &MechanismSettings::strobePolarity;
    if (name == "headWidth") return &MechanismSettings::headWidth;
    if (name == "headUpPolarity") return &MechanismSettings::headUpPolarity;
    return nullptr;
}

void TestConfigurationCode::eachFieldValueLandsInItsCodePositionsAndBytes()
{
    QFETCH(QString, field);
    QFETCH(int, value);
    QFETCH(QString, code);
    QFETCH(int, byte1);
    QFETCH(int, byte2);

    MechanismSettings s;
    s.logicVoltage = s.mechanismType = s.motorSteps = s.motorRotation = 0;
    s.headType = s.strobePolarity = s.headWidth = s.headUpPolarity = 0;
    if (auto member = fieldNamed(field))
        s.*member = qint16(value);

    QCOMPARE(BuildConfigurationCode(s), code);
    QCOMPARE(int(configurationByte1(s)), byte1);
    QCOMPARE(int(configurationByte2(s)), byte2);

    // And back: the code read again gives the same field value.
    if (value >= 0) {
        const MechanismSettings read = decodeConfigurationCode(code);
        QCOMPARE(read.*fieldNamed(field.isEmpty() ? "headWidth" : field), qint16(value));
        QCOMPARE(read.printerMode, qint16(1));
    }
}

void TestConfigurationCode::workedExampleGivesF1And40()
{
    // The fields of this code are checked by the factory table below.
    const MechanismSettings read = decodeConfigurationCode("1111000101000000");
    QCOMPARE(int(configurationByte1(read)), 0xF1);
    QCOMPARE(int(configurationByte2(read)), 0x40);
    QCOMPARE(codeFromBytes(0xF1, 0x40), QString("1111000101000000"));
}

void TestConfigurationCode::unsetFieldsCannotCarryIntoNeighbouringBits_data()
{
    QTest::addColumn<int>("headType");
    QTest::addColumn<int>("headWidth");
    QTest::addColumn<int>("oneBitValue");
    QTest::addColumn<QString>("code");

    // Nothing chosen: one-bit fields write 1, head type "11", head width "000".
    QTest::newRow("all unset") << -1 << -1 << -1 << "1111111100010000";
    // Digits other than 0/1 read from an odd code.
    QTest::newRow("out of range") << 27 << 63 << 9 << "1111111100010000";
}

void TestConfigurationCode::unsetFieldsCannotCarryIntoNeighbouringBits()
{
    QFETCH(int, headType);
    QFETCH(int, headWidth);
    QFETCH(int, oneBitValue);
    QFETCH(QString, code);

    MechanismSettings s;
    s.logicVoltage = s.mechanismType = s.motorSteps = s.motorRotation = qint16(oneBitValue);
    s.strobePolarity = s.headUpPolarity = qint16(oneBitValue);
    s.headType = qint16(headType);
    s.headWidth = qint16(headWidth);

    QCOMPARE(BuildConfigurationCode(s), code);
    QCOMPARE(int(configurationByte1(s)), 0xFF);
    QCOMPARE(int(configurationByte2(s)), 0x10);
}

void TestConfigurationCode::bytesEqualTheCodeHalvesForEveryEditorCombination()
{
    // Every value the editor's options can set (and "11" / "000"): 2^11 combinations,
    // the bits of n spread over the fields (head type 2 bits, head width 3 bits).
    for (int n = 0; n < (1 << 11); ++n) {
        MechanismSettings s;
        s.logicVoltage = qint16(n & 1);
        s.mechanismType = qint16(n >> 1 & 1);
        s.motorSteps = qint16(n >> 2 & 1);
        s.motorRotation = qint16(n >> 3 & 1);
        s.headType = qint16(n >> 4 & 3);
        s.strobePolarity = qint16(n >> 6 & 1);
        s.headWidth = qint16(n >> 7 & 7);
        s.headUpPolarity = qint16(n >> 10 & 1);
        const QString code = BuildConfigurationCode(s);
        QCOMPARE(code.size(), 16);
        QCOMPARE(codeFromBytes(configurationByte1(s), configurationByte2(s)), code);
        MechanismSettings back = decodeConfigurationCode(code);
        back.printerMode = s.printerMode;
        QCOMPARE(back, s);
    }
}

void TestConfigurationCode::binaryWritesMostSignificantBitFirst_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("A5") << 0xA5 << "10100101";
    QTest::newRow("00") << 0x00 << "00000000";
    QTest::newRow("FF") << 0xFF << "11111111";
    QTest::newRow("80") << 0x80 << "10000000";
    QTest::newRow("01") << 0x01 << "00000001";
}

void TestConfigurationCode::binaryWritesMostSignificantBitFirst()
{
    QFETCH(int, value);
    QFETCH(QString, text);
    QCOMPARE(binary(quint8(value)), text);
}

void TestConfigurationCode::codeFromBytesRoundTripsEveryByte()
{
    for (int b = 0; b < 256; ++b) {
        const QString code = codeFromBytes(quint8(b), quint8(255 - b));
        QCOMPARE(code.size(), 16);
        QCOMPARE(int(BinaryDigitsToValue(code.left(8))), b);
        QCOMPARE(int(BinaryDigitsToValue(code.mid(8))), 255 - b);
    }
}

void TestConfigurationCode::shortTextReadsMissingPositionsAsEmpty_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("headType");
    QTest::addColumn<int>("headWidth");
    QTest::addColumn<int>("headUp");
    QTest::addColumn<int>("mechanism");

    QTest::newRow("empty") << "" << 0 << 0 << 0 << 0;
    QTest::newRow("three chars") << "111" << 0 << 0 << 0 << 1;
    QTest::newRow("ends after strobe") << "11110101" << 2 << 0 << 0 << 1;
    QTest::newRow("ends after width") << "11110101111" << 2 << 7 << 0 << 1;
    // A field cut by the end is valued from the digits that remain.
    QTest::newRow("head type cut") << "111101" << 1 << 0 << 0 << 1;
    QTest::newRow("head width cut") << "1111010111" << 2 << 3 << 0 << 1;
}

void TestConfigurationCode::shortTextReadsMissingPositionsAsEmpty()
{
    QFETCH(QString, code);
    QFETCH(int, headType);
    QFETCH(int, headWidth);
    QFETCH(int, headUp);
    QFETCH(int, mechanism);
    const MechanismSettings s = decodeConfigurationCode(code);
    QCOMPARE(int(s.headType), headType);
    QCOMPARE(int(s.headWidth), headWidth);
    QCOMPARE(int(s.headUpPolarity), headUp);
    QCOMPARE(int(s.mechanismType), mechanism);
}

void TestConfigurationCode::factoryCodesDecodeToTheirMechanisms_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("mechanism");
    QTest::addColumn<int>("steps");
    QTest::addColumn<QString>("rotation");
    QTest::addColumn<QString>("headType");
    QTest::addColumn<QString>("strobe");
    QTest::addColumn<int>("dots");
    QTest::addColumn<QString>("headUp");

    // Each distinct code of the factory list (the list itself is pinned by tst_factorylist).
    const struct {
        const char *code, *mechanism;
        int steps;
        const char *rotation, *headType, *strobe;
        int dots;
        const char *headUp;
    } rows[] = {
        {"1111000101000000", "Standard", 1, "Normal", "1500 Ohms", "Negative", 432, "Normal"},
        {"1101001100100000", "KEL", 1, "Normal", "3000 Ohms", "Negative", 384, "Normal"},
        {"1111100110000000", "Standard", 1, "Inverted", "1500 Ohms", "Negative", 864, "Normal"},
        {"1101000110000000", "KEL", 1, "Normal", "1500 Ohms", "Negative", 864, "Normal"},
        {"1101000101100000", "KEL", 1, "Normal", "1500 Ohms", "Negative", 576, "Normal"},
        {"1111100101100000", "Standard", 1, "Inverted", "1500 Ohms", "Negative", 576, "Normal"},
        {"1101100101000000", "KEL", 1, "Inverted", "1500 Ohms", "Negative", 432, "Normal"},
        {"1100100101000000", "KEL", 2, "Inverted", "1500 Ohms", "Negative", 432, "Normal"},
        {"1111010010100000", "Standard", 1, "Normal", "800 Ohms", "Positive", 448, "Normal"},
        {"1101110010100000", "KEL", 1, "Inverted", "800 Ohms", "Positive", 448, "Normal"},
        {"1100110010100000", "KEL", 2, "Inverted", "800 Ohms", "Positive", 448, "Normal"},
        {"1101100101100000", "KEL", 1, "Inverted", "1500 Ohms", "Negative", 576, "Normal"},
        {"1100100101100000", "KEL", 2, "Inverted", "1500 Ohms", "Negative", 576, "Normal"},
        {"1111110011000000", "Standard", 1, "Inverted", "800 Ohms", "Positive", 640, "Normal"},
        {"1101110011000000", "KEL", 1, "Inverted", "800 Ohms", "Positive", 640, "Normal"},
        {"1100110011000000", "KEL", 2, "Inverted", "800 Ohms", "Positive", 640, "Normal"},
        {"1111110011100000", "Standard", 1, "Inverted", "800 Ohms", "Positive", 832, "Normal"},
        {"1101110011100000", "KEL", 1, "Inverted", "800 Ohms", "Positive", 832, "Normal"},
        {"1100110011100000", "KEL", 2, "Inverted", "800 Ohms", "Positive", 832, "Normal"},
        {"1101100110000000", "KEL", 1, "Inverted", "1500 Ohms", "Negative", 864, "Normal"},
        {"1100100110000000", "KEL", 2, "Inverted", "1500 Ohms", "Negative", 864, "Normal"},
        {"1111010010110000", "Standard", 1, "Normal", "800 Ohms", "Positive", 448, "Inverted"},
    };
    for (const auto &r : rows)
        QTest::newRow(r.code) << QString(r.code) << QString(r.mechanism) << r.steps
                              << QString(r.rotation) << QString(r.headType)
                              << QString(r.strobe) << r.dots << QString(r.headUp);
}

void TestConfigurationCode::factoryCodesDecodeToTheirMechanisms()
{
    QFETCH(QString, code);
    QFETCH(QString, mechanism);
    QFETCH(int, steps);
    QFETCH(QString, rotation);
    QFETCH(QString, headType);
    QFETCH(QString, strobe);
    QFETCH(int, dots);
    QFETCH(QString, headUp);

    const MechanismSettings s = decodeConfigurationCode(code);
    QCOMPARE(printerModeText(s.printerMode), QString("Chipset"));
    QCOMPARE(logicVoltageText(s.logicVoltage), QString("5 V"));
    QCOMPARE(mechanismTypeText(s.mechanismType), mechanism);
    QCOMPARE(motorStepsText(s.motorSteps), steps == 1 ? QString("1 step/dotline") : QString("2 steps/dotline"));
    QCOMPARE(motorRotationText(s.motorRotation), rotation);
    QCOMPARE(headTypeText(s.headType), headType);
    QCOMPARE(strobePolarityText(s.strobePolarity), strobe);
    QCOMPARE(headWidthDots(s.headWidth), dots);
    QCOMPARE(headUpPolarityText(s.headUpPolarity), headUp);
    // Re-encoding gives the same code, and the bytes are its two halves.
    QCOMPARE(BuildConfigurationCode(s), code);
    QCOMPARE(codeFromBytes(configurationByte1(s), configurationByte2(s)), code);
}

void TestConfigurationCode::headWidthValuesMapToDotsInTheirOddOrder()
{
    const int dots[] = {0, 384, 432, 576, 864, 448, 640, 832};
    for (int value = 0; value < 8; ++value) {
        QCOMPARE(headWidthDots(value), dots[value]);
        if (value)
            QCOMPARE(headWidthFromDots(dots[value]), value);
    }
    QCOMPARE(headWidthDots(-1), 0);
    QCOMPARE(headWidthDots(8), 0);
    QCOMPARE(headWidthFromDots(500), 0);
}

void TestConfigurationCode::describeNamesUnsetAndNamelessValues()
{
    MechanismSettings s; // nothing chosen
    s.headType = 3;      // "11"
    const QList<FieldDescription> words = describe(s);
    QCOMPARE(words.size(), 9);
    QCOMPARE(words.at(0).caption, QString("Printer mode"));
    QCOMPARE(words.at(0).value, QString("MRS"));
    for (int i = 1; i < words.size(); ++i)
        QCOMPARE(words.at(i).value, QString("not defined"));
    QCOMPARE(words.at(7).caption, QString("Head width"));
    QCOMPARE(headWidthText(0), QString("not defined"));
    QCOMPARE(headWidthText(2), QString("432 dots"));
}

QTEST_APPLESS_MAIN(TestConfigurationCode)
#include "tst_configurationcode.moc"
