#include "configuration/configurationeditor.h"
#include "database/mechanismdatabase.h"
#include "scriptedprompts.h"

#include <QSignalSpy>
#include <QTest>

using namespace tessary;
using tessary::test::ScriptedPrompts;

namespace {

QStringList checkedButtons(const ConfigurationEditor &editor)
{
    QStringList on;
    for (const QString &name : ConfigurationEditor::buttonNames())
        if (editor.isChecked(name))
            on << name;
    return on;
}

// Chooses every group but the voltage and the head-up polarity.
void chooseMechanism(ConfigurationEditor &editor)
{
    for (const char *button : {"MechaStd", "Step1", "StepperNormal", "HeadLV", "StrobeKyo", "HW432"})
        QVERIFY(editor.click(button));
}

const QStringList TwentyMechanismOptions = {
    "MechaStd", "MechaKEL", "HupNormal", "HupInverted", "Step1", "Steps2", "StepperNormal",
    "StepperInverted", "HW384", "HW432", "HW448", "HW576", "HW640", "HW832", "HW864",
    "HeadST", "HeadHS", "HeadLV", "StrobeRohm", "StrobeKyo"};

// An editor (with every group chosen but the voltage and head-up) saving into an in-memory database.
struct SaveBench {
    ConfigurationEditor editor;
    ScriptedPrompts prompts;
    PlainStatusLine status;
    MechanismDatabase db{&status};

    explicit SaveBench(bool chosen = true)
    {
        editor.resetToStartState();
        if (chosen)
            chooseMechanism(editor);
    }
    bool save() { return editor.saveConfigurationToDatabase(db, prompts, status); }
};

} // namespace

class TestConfigurationEditor : public QObject {
    Q_OBJECT
private slots:
    void startStateHasOnlyFiveVoltsOn();
    void clickSetsItsGroupValueAndTurnsTheOthersOff_data();
    void clickSetsItsGroupValueAndTurnsTheOthersOff();
    void refusedClicksChangeNothing();
    void clickEmitsChanged();

    void applyingACodeSetsSettingsAndButtons();
    void applyingForcesFiveVoltsWithoutTouchingVoltageButtons();
    void shortTextReadsAsZeros();

    void modeSelectionEnablesControls_data();
    void modeSelectionEnablesControls();
    void setModesActAsClicks();

    void checkSettingsCompleteReportsFieldsInOrder();
    void saveReportsMissingFieldsInOrder();
    void saveAtStartUpWritesFiveVoltsAndUnsetHeadUpAsOne();
    void longNameIsCutBeforeTheSearch();
    void overwriteAnsweredOkReplacesTheFirstMatch();
    void overwriteCancelledStillMarksModified();
    void fullDatabaseRefusesANewEntryButOverwrites();

    void nameKeepsPrintableLatin1Only_data();
    void nameKeepsPrintableLatin1Only();
};

void TestConfigurationEditor::startStateHasOnlyFiveVoltsOn()
{
    ConfigurationEditor editor;
    editor.setConfigurationMode(true);
    editor.applyConfigurationCode("1111000101000000");
    editor.resetToStartState();

    QCOMPARE(checkedButtons(editor), QStringList({"Voltage5", "ConfUser"}));
    MechanismSettings expected;
    expected.printerMode = 1; // left as the code set it
    expected.logicVoltage = 1;
    QCOMPARE(editor.settings(), expected);
    QVERIFY(!editor.isEnabled("ModeMRS"));
    QVERIFY(!editor.isEnabled("ModeChipset"));
    QVERIFY(editor.isEnabled("HW384"));
    QVERIFY(editor.isNameEnabled());
}

void TestConfigurationEditor::clickSetsItsGroupValueAndTurnsTheOthersOff_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("otherInGroup");
    QTest::addColumn<int>("fieldIndex");
    QTest::addColumn<int>("value");

    // fieldIndex: 1 voltage, 2 mechanism, 3 steps, 4 rotation, 5 head type,
    // 6 strobe, 7 head width, 8 head-up.
    QTest::newRow("Voltage5") << "Voltage5" << "Voltage3" << 1 << 1;
    QTest::newRow("Voltage3") << "Voltage3" << "Voltage5" << 1 << 0;
    QTest::newRow("MechaStd") << "MechaStd" << "MechaKEL" << 2 << 1;
    QTest::newRow("MechaKEL") << "MechaKEL" << "MechaStd" << 2 << 0;
    QTest::newRow("Step1") << "Step1" << "Steps2" << 3 << 1;
    QTest::newRow("Steps2") << "Steps2" << "Step1" << 3 << 0;
    QTest::newRow("StepperNormal") << "StepperNormal" << "StepperInverted" << 4 << 0;
    QTest::newRow("StepperInverted") << "StepperInverted" << "StepperNormal" << 4 << 1;
    QTest::newRow("HeadLV") << "HeadLV" << "HeadST" << 5 << 0;
    QTest::newRow("HeadHS") << "HeadHS" << "HeadLV" << 5 << 1;
    QTest::newRow("HeadST") << "HeadST" << "HeadHS" << 5 << 2;
    QTest::newRow("StrobeRohm") << "StrobeRohm" << "StrobeKyo" << 6 << 0;
    QTest::newRow("StrobeKyo") << "StrobeKyo" << "StrobeRohm" << 6 << 1;
    QTest::newRow("HW384") << "HW384" << "HW832" << 7 << 1;
    QTest::newRow("HW432") << "HW432" << "HW384" << 7 << 2;
    QTest::newRow("HW576") << "HW576" << "HW384" << 7 << 3;
    QTest::newRow("HW864") << "HW864" << "HW384" << 7 << 4;
    QTest::newRow("HW448") << "HW448" << "HW384" << 7 << 5;
    QTest::newRow("HW640") << "HW640" << "HW384" << 7 << 6;
    QTest::newRow("HW832") << "HW832" << "HW384" << 7 << 7;
    QTest::newRow("HupNormal") << "HupNormal" << "HupInverted" << 8 << 0;
    QTest::newRow("HupInverted") << "HupInverted" << "HupNormal" << 8 << 1;
}

void TestConfigurationEditor::clickSetsItsGroupValueAndTurnsTheOthersOff()
{
    QFETCH(QString, button);
    QFETCH(QString, otherInGroup);
    QFETCH(int, fieldIndex);
    QFETCH(int, value);

    ConfigurationEditor editor;
    editor.resetToStartState();
    QVERIFY(editor.click(otherInGroup));
    QVERIFY(editor.click(button));
    QVERIFY(editor.isChecked(button));
    QVERIFY(!editor.isChecked(otherInGroup));
    for (const QString &member : ConfigurationEditor::groupOf(button))
        QCOMPARE(editor.isChecked(member), member == button);

    const MechanismSettings &s = editor.settings();
    const qint16 fields[] = {s.printerMode, s.logicVoltage, s.mechanismType, s.motorSteps,
                             s.motorRotation, s.headType, s.strobePolarity, s.headWidth,
                             s.headUpPolarity};
    QCOMPARE(int(fields[fieldIndex]), value);
    // Nothing else moved: the other unset groups are still unset.
    for (int i = 2; i <= 8; ++i)
        if (i != fieldIndex)
            QCOMPARE(int(fields[i]), -1);
}

void TestConfigurationEditor::refusedClicksChangeNothing()
{
    ConfigurationEditor editor;
    editor.resetToStartState();
    QVERIFY(!editor.click("ModeChipset")); // printer-mode buttons only show the code
    QVERIFY(!editor.isChecked("ModeChipset"));
    QCOMPARE(editor.settings().printerMode, qint16(0));
    QVERIFY(!editor.click("NoSuchButton"));
    QVERIFY(editor.click("ConfRes"));
    QVERIFY(!editor.isEnabled("HW384"));
    QVERIFY(!editor.click("HW384"));
    QCOMPARE(editor.settings().headWidth, qint16(-1));
}

void TestConfigurationEditor::clickEmitsChanged()
{
    ConfigurationEditor editor;
    QSignalSpy spy(&editor, &ConfigurationEditor::changed);
    QVERIFY(editor.click("HW640"));
    QVERIFY(spy.count() >= 1);
    spy.clear();
    editor.setName("abc");
    QCOMPARE(spy.count(), 1);
    editor.setName("abc"); // unchanged text: no signal
    QCOMPARE(spy.count(), 1);
}

void TestConfigurationEditor::applyingACodeSetsSettingsAndButtons()
{
    ConfigurationEditor editor;
    editor.resetToStartState();
    editor.applyConfigurationCode("1111000101000000");
    QCOMPARE(checkedButtons(editor),
             QStringList({"ModeChipset", "Voltage5", "MechaStd", "Step1", "StepperNormal", "HeadLV",
                          "StrobeKyo", "HW432", "HupNormal"}));
    QCOMPARE(editor.buildConfigurationCode(), QString("1111000101000000"));
    QCOMPARE(int(editor.configurationByte1()), 0xF1);
    QCOMPARE(int(editor.configurationByte2()), 0x40);

    editor.applyConfigurationCode("0100110011110000");
    QCOMPARE(checkedButtons(editor),
             QStringList({"ModeMRS", "Voltage5", "MechaKEL", "Steps2", "StepperInverted", "HeadST",
                          "StrobeRohm", "HW832", "HupInverted"}));
    QCOMPARE(editor.settings().printerMode, qint16(0));
    // The printer-mode position is always written as "1".
    QCOMPARE(editor.buildConfigurationCode(), QString("1100110011110000"));
}

void TestConfigurationEditor::applyingForcesFiveVoltsWithoutTouchingVoltageButtons()
{
    ConfigurationEditor editor;
    editor.resetToStartState();
    QVERIFY(editor.click("Voltage3"));
    QCOMPARE(editor.settings().logicVoltage, qint16(0));
    editor.applyConfigurationCode("1011000101000000"); // position 2 says 3.3 V
    QCOMPARE(editor.settings().logicVoltage, qint16(1));
    QVERIFY(editor.isChecked("Voltage3"));
    QVERIFY(!editor.isChecked("Voltage5"));
    QCOMPARE(editor.buildConfigurationCode().mid(1, 1), QString("1"));
}

void TestConfigurationEditor::shortTextReadsAsZeros()
{
    ConfigurationEditor editor;
    editor.resetToStartState();
    editor.applyConfigurationCode("1");
    MechanismSettings expected;
    expected.printerMode = 1;
    expected.logicVoltage = 1;
    expected.mechanismType = expected.motorSteps = expected.motorRotation = 0;
    expected.headType = expected.strobePolarity = 0;
    expected.headWidth = -1; // "000" names no width
    expected.headUpPolarity = 0;
    QCOMPARE(editor.settings(), expected);
    QCOMPARE(checkedButtons(editor),
             QStringList({"ModeChipset", "Voltage5", "MechaKEL", "Steps2", "StepperNormal", "HeadLV",
                          "StrobeRohm", "HupNormal"}));
}

void TestConfigurationEditor::modeSelectionEnablesControls_data()
{
    QTest::addColumn<QString>("configurationMode"); // "", "ConfRes", "ConfUser"
    QTest::addColumn<QString>("identityMode");      // "", "IdAuto", "IdUser"
    QTest::addColumn<bool>("optionsEnabled");
    QTest::addColumn<bool>("nameEnabled");

    // A selector with neither option on leaves its controls as they were:
    // enabled, as at start-up.
    QTest::newRow("none, none") << "" << "" << true << true;
    QTest::newRow("none, Automatic") << "" << "IdAuto" << true << false;
    QTest::newRow("Resistors, none") << "ConfRes" << "" << false << true;
    QTest::newRow("Resistors, Automatic") << "ConfRes" << "IdAuto" << false << false;
    QTest::newRow("Resistors, User") << "ConfRes" << "IdUser" << false << true;
    QTest::newRow("User, Automatic") << "ConfUser" << "IdAuto" << true << false;
    QTest::newRow("User, User") << "ConfUser" << "IdUser" << true << true;
}

void TestConfigurationEditor::modeSelectionEnablesControls()
{
    QFETCH(QString, configurationMode);
    QFETCH(QString, identityMode);
    QFETCH(bool, optionsEnabled);
    QFETCH(bool, nameEnabled);

    ConfigurationEditor editor;
    editor.resetToStartState();
    // Go through the opposite choice first, so each state is reached by a change.
    if (configurationMode == "ConfUser")
        QVERIFY(editor.click("ConfRes"));
    if (identityMode == "IdUser")
        QVERIFY(editor.click("IdAuto"));
    if (!configurationMode.isEmpty())
        QVERIFY(editor.click(configurationMode));
    if (!identityMode.isEmpty())
        QVERIFY(editor.click(identityMode));
    editor.applyModeSelection();

    for (const QString &button : TwentyMechanismOptions)
        QCOMPARE(editor.isEnabled(button), optionsEnabled);
    QCOMPARE(editor.isNameEnabled(), nameEnabled);
    // Voltage and printer-mode buttons are never touched.
    QVERIFY(editor.isEnabled("Voltage5"));
    QVERIFY(editor.isEnabled("Voltage3"));
    QVERIFY(editor.isChecked("Voltage5"));
    QVERIFY(!editor.isEnabled("ModeMRS"));
    QVERIFY(!editor.isEnabled("ModeChipset"));
    QCOMPARE(ConfigurationEditor::mechanismOptionNames(), TwentyMechanismOptions);
}

void TestConfigurationEditor::setModesActAsClicks()
{
    ConfigurationEditor editor;
    editor.resetToStartState();
    editor.setConfigurationMode(false);
    editor.setIdentityMode(false);
    QVERIFY(editor.configurationModeResistors());
    QVERIFY(editor.identityAuto());
    QVERIFY(!editor.isEnabled("StrobeKyo"));
    QVERIFY(!editor.isNameEnabled());
    // A code applied in Resistors mode still shows on the disabled options.
    editor.applyConfigurationCode("1111000101000000");
    QVERIFY(editor.isChecked("HW432"));

    editor.setConfigurationMode(true);
    editor.setIdentityMode(true);
    QVERIFY(editor.configurationModeUser() && !editor.configurationModeResistors());
    QVERIFY(editor.identityUser() && !editor.identityAuto());
    QVERIFY(editor.isEnabled("StrobeKyo"));
    QVERIFY(editor.isNameEnabled());
    // Applying a code leaves the selectors alone.
    editor.applyConfigurationCode("1101001100100000");
    QVERIFY(editor.configurationModeUser() && editor.identityUser());
}

void TestConfigurationEditor::checkSettingsCompleteReportsFieldsInOrder()
{
    ConfigurationEditor editor; // nothing chosen, not even the voltage
    ScriptedPrompts prompts;
    const char *const clicks[] = {"Voltage5", "MechaKEL", "Steps2", "StepperInverted",
                                  "HupInverted", "HW864", "HeadHS", "StrobeRohm"};
    for (const char *button : clicks) {
        QVERIFY(!editor.checkSettingsComplete(prompts));
        QVERIFY(editor.click(button));
    }
    QVERIFY(editor.checkSettingsComplete(prompts));
    QCOMPARE(prompts.texts(),
             QStringList({"Logic voltage is not defined !", "Mechanism (Standard/KEL) is not defined !",
                          "Motor steps is not defined !", "Motor rotation is not defined !",
                          "Head-up polarity is not defined !", "Head width is not defined !",
                          "Head type is not defined !", "Strobe polarity is not defined !"}));
    for (const auto &shown : prompts.shown) {
        QCOMPARE(shown.icon, MessageIcon::Warning);
        QCOMPARE(shown.buttons, MessageButtons::Ok);
    }
}

void TestConfigurationEditor::saveReportsMissingFieldsInOrder()
{
    ConfigurationEditor editor;
    ScriptedPrompts prompts;
    PlainStatusLine status;
    MechanismDatabase db(&status);
    editor.setName("Mine");
    const char *const clicks[] = {"Voltage5", "MechaStd", "Step1", "StepperNormal",
                                  "HeadST", "StrobeKyo", "HW576"};
    for (const char *button : clicks) {
        status.showStatus("before");
        QVERIFY(!editor.saveConfigurationToDatabase(db, prompts, status));
        QCOMPARE(status.statusText(), QString("New configuration not created !"));
        QVERIFY(editor.click(button));
    }
    QCOMPARE(prompts.texts(),
             QStringList({"Voltage is not defined !", "Mechanism type is not defined !",
                          "Steps per dotline is not defined !", "Stepper sense is not defined !",
                          "Head type is not defined !", "Strobe polarity is not defined !",
                          "Head width is not defined !"}));
    QCOMPARE(db.count(), 0);
    QVERIFY(!db.isModified());

    // Complete but unnamed: a warning, the status line left alone.
    prompts.clear();
    editor.setName("");
    status.showStatus("before");
    QVERIFY(!editor.saveConfigurationToDatabase(db, prompts, status));
    QCOMPARE(prompts.texts(), QStringList({"Please enter a configuration name !"}));
    QCOMPARE(prompts.shown.first().icon, MessageIcon::Warning);
    QCOMPARE(status.statusText(), QString("before"));
    QCOMPARE(db.count(), 0);
    QVERIFY(!db.isModified());
}

void TestConfigurationEditor::saveAtStartUpWritesFiveVoltsAndUnsetHeadUpAsOne()
{
    SaveBench b;
    b.editor.setName("New one");
    b.db.append("Other", "1101001100100000");
    QVERIFY(b.save());
    QVERIFY(b.prompts.shown.isEmpty());
    QCOMPARE(b.db.count(), 2);
    QCOMPARE(b.db.name(1), QString("New one"));
    QCOMPARE(b.db.code(1), QString("1111000101010000"));
    QCOMPARE(b.db.selectedIndex(), 1);
    QCOMPARE(b.status.statusText(), QString("Configuration selected : New one"));
    QVERIFY(b.db.isModified());

    // Names differing only in case are two entries.
    b.editor.setName("new ONE");
    QVERIFY(b.save());
    QVERIFY(b.prompts.shown.isEmpty());
    QCOMPARE(b.db.count(), 3);
    QCOMPARE(b.db.name(2), QString("new ONE"));
}

void TestConfigurationEditor::longNameIsCutBeforeTheSearch()
{
    SaveBench b;
    b.db.append("ABCDEFGHIJKLMNOP", "1101001100100000");
    b.editor.setName("ABCDEFGHIJKLMNOPQ");
    b.prompts.answer({true});
    QVERIFY(b.save());
    QCOMPARE(b.editor.name(), QString("ABCDEFGHIJKLMNOP"));
    QCOMPARE(b.prompts.texts(), QStringList({"Overwrite existing configuration <ABCDEFGHIJKLMNOP> ?"}));
    QCOMPARE(b.prompts.shown.first().buttons, MessageButtons::OkCancel);
    QCOMPARE(b.prompts.shown.first().icon, MessageIcon::Warning);
    QCOMPARE(b.db.count(), 1);
    QCOMPARE(b.db.code(0), QString("1111000101010000"));
}

void TestConfigurationEditor::overwriteAnsweredOkReplacesTheFirstMatch()
{
    SaveBench b(false);
    b.editor.applyConfigurationCode("1100110011100000");
    b.editor.setName("Twin");
    b.prompts.answer({true});
    b.db.append("Twin", "1111000101000000");
    b.db.append("Other", "1101001100100000");
    b.db.append("Twin", "1101001100100000");
    QVERIFY(b.save());
    QCOMPARE(b.db.count(), 3);
    QCOMPARE(b.db.code(0), QString("1100110011100000"));
    QCOMPARE(b.db.code(2), QString("1101001100100000"));
    QCOMPARE(b.db.selectedIndex(), 0);
    QVERIFY(b.db.isModified());
}

void TestConfigurationEditor::overwriteCancelledStillMarksModified()
{
    SaveBench b;
    b.editor.setName("Kept");
    b.prompts.answer({false});
    b.db.append("First", "1101001100100000");
    b.db.append("Kept", "1100110011100000");
    QVERIFY(!b.save());
    QCOMPARE(b.prompts.texts(), QStringList({"Overwrite existing configuration <Kept> ?"}));
    QCOMPARE(b.db.count(), 2);
    QCOMPARE(b.db.code(1), QString("1100110011100000"));
    QCOMPARE(b.db.selectedIndex(), 1);
    QCOMPARE(b.status.statusText(), QString("Configuration selected : Kept"));
    QVERIFY(b.db.isModified());
}

void TestConfigurationEditor::fullDatabaseRefusesANewEntryButOverwrites()
{
    SaveBench b;
    for (int i = 0; i < 255; ++i)
        b.db.append(QString("Entry %1").arg(i), "1101001100100000");
    b.editor.setName("One too many");
    QVERIFY(!b.save());
    QCOMPARE(b.db.count(), 255);
    QCOMPARE(b.prompts.texts(), QStringList({"The database is full (255 entries): delete an entry first."}));
    QCOMPARE(b.prompts.shown.first().icon, MessageIcon::Warning);
    QCOMPARE(b.status.statusText(), QString("New configuration not created !"));
    QVERIFY(!b.db.isModified());

    b.prompts.clear();
    b.prompts.answer({true});
    b.editor.setName("Entry 254");
    QVERIFY(b.save());
    QCOMPARE(b.db.count(), 255);
    QCOMPARE(b.db.code(254), QString("1111000101010000"));
    QVERIFY(b.db.isModified());
}

void TestConfigurationEditor::nameKeepsPrintableLatin1Only_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("plain") << "Mechanism 01" << "Mechanism 01";
    QTest::newRow("latin-1 letters") << QString::fromUtf8("Kühl ½ é") << QString::fromUtf8("Kühl ½ é");
    QTest::newRow("control characters") << QString("A\tB\nC\x01") << "ABC";
    QTest::newRow("DEL and C1") << QString("A") + QChar(0x7F) + QChar(0x85) + "B" << "AB";
    QTest::newRow("beyond latin-1") << QString::fromUtf8("€uro ✓") << "uro ";
    QTest::newRow("no-break space kept") << QString("a") + QChar(0xA0) + "b" << QString("a") + QChar(0xA0) + "b";
}

void TestConfigurationEditor::nameKeepsPrintableLatin1Only()
{
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    QCOMPARE(ConfigurationEditor::sanitiseName(typed), kept);
    ConfigurationEditor editor;
    editor.setName(typed);
    QCOMPARE(editor.name(), kept);
}

QTEST_APPLESS_MAIN(TestConfigurationEditor)
#include "tst_configurationeditor.moc"
