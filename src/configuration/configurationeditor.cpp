#include "configuration/configurationeditor.h"

#include "app/prompts.h"
#include "database/mechanismdatabase.h"

#include <array>

namespace tessary {

namespace {

enum class Group {
    PrinterMode,
    LogicVoltage,
    MechanismType,
    MotorSteps,
    MotorRotation,
    HeadType,
    StrobePolarity,
    HeadWidth,
    HeadUpPolarity,
    ConfigurationMode,
    IdentityMode,
};

struct Option {
    const char *name;
    Group group;
    qint16 MechanismSettings::*field; // null: the option sets no value
    qint16 value;
};

// clang-format off
const auto Options = std::to_array<Option>({
    {"ModeMRS",         Group::PrinterMode,       nullptr, 0},
    {"ModeChipset",     Group::PrinterMode,       nullptr, 0},
    {"Voltage5",        Group::LogicVoltage,      &MechanismSettings::logicVoltage, 1},
    {"Voltage3",        Group::LogicVoltage,      &MechanismSettings::logicVoltage, 0},
    {"MechaStd",        Group::MechanismType,     &MechanismSettings::mechanismType, 1},
    {"MechaKEL",        Group::MechanismType,     &MechanismSettings::mechanismType, 0},
    {"Step1",           Group::MotorSteps,        &MechanismSettings::motorSteps, 1},
    {"Steps2",          Group::MotorSteps,        &MechanismSettings::motorSteps, 0},
    {"StepperNormal",   Group::MotorRotation,     &MechanismSettings::motorRotation, 0},
    {"StepperInverted", Group::MotorRotation,     &MechanismSettings::motorRotation, 1},
    {"HeadLV",          Group::HeadType,          &MechanismSettings::headType, 0},
    {"HeadHS",          Group::HeadType,          &MechanismSettings::headType, 1},
    {"HeadST",          Group::HeadType,          &MechanismSettings::headType, 2},
    {"StrobeRohm",      Group::StrobePolarity,    &MechanismSettings::strobePolarity, 0},
    {"StrobeKyo",       Group::StrobePolarity,    &MechanismSettings::strobePolarity, 1},
    {"HW384",           Group::HeadWidth,         &MechanismSettings::headWidth, 1},
    {"HW432",           Group::HeadWidth,         &MechanismSettings::headWidth, 2},
    {"HW576",           Group::HeadWidth,         &MechanismSettings::headWidth, 3},
    {"HW864",           Group::HeadWidth,         &MechanismSettings::headWidth, 4},
    {"HW448",           Group::HeadWidth,         &MechanismSettings::headWidth, 5},
    {"HW640",           Group::HeadWidth,         &MechanismSettings::headWidth, 6},
    {"HW832",           Group::HeadWidth,         &MechanismSettings::headWidth, 7},
    {"HupNormal",       Group::HeadUpPolarity,    &MechanismSettings::headUpPolarity, 0},
    {"HupInverted",     Group::HeadUpPolarity,    &MechanismSettings::headUpPolarity, 1},
    {"ConfRes",         Group::ConfigurationMode, nullptr, 0},
    {"ConfUser",        Group::ConfigurationMode, nullptr, 1},
    {"IdAuto",          Group::IdentityMode,      nullptr, 0},
    {"IdUser",          Group::IdentityMode,      nullptr, 1},
});
// clang-format on

const Option *findOption(const QString &name)
{
    for (const Option &option : Options)
        if (name == QLatin1String(option.name))
            return &option;
    return nullptr;
}

bool isModeSelector(Group group)
{
    return group == Group::ConfigurationMode || group == Group::IdentityMode;
}

// The button of a group that shows `value`, or null when none does.
const char *buttonFor(Group group, int value)
{
    for (const Option &option : Options)
        if (option.group == group && option.field && option.value == value)
            return option.name;
    return nullptr;
}

} // namespace

ConfigurationEditor::ConfigurationEditor(QObject *parent) : QObject(parent)
{
    for (const Option &option : Options)
        m_buttons.insert(QLatin1String(option.name), ButtonState{});
    // The printer mode is shown, never chosen.
    m_buttons[QStringLiteral("ModeMRS")].enabled = false;
    m_buttons[QStringLiteral("ModeChipset")].enabled = false;
}

const QStringList &ConfigurationEditor::buttonNames()
{
    static const QStringList names = [] {
        QStringList list;
        for (const Option &option : Options)
            list << QLatin1String(option.name);
        return list;
    }();
    return names;
}

const QStringList &ConfigurationEditor::mechanismOptionNames()
{
    static const QStringList names = {
        QStringLiteral("MechaStd"),   QStringLiteral("MechaKEL"),      QStringLiteral("HupNormal"),
        QStringLiteral("HupInverted"), QStringLiteral("Step1"),        QStringLiteral("Steps2"),
        QStringLiteral("StepperNormal"), QStringLiteral("StepperInverted"), QStringLiteral("HW384"),
        QStringLiteral("HW432"),      QStringLiteral("HW448"),         QStringLiteral("HW576"),
        QStringLiteral("HW640"),      QStringLiteral("HW832"),         QStringLiteral("HW864"),
        QStringLiteral("HeadST"),     QStringLiteral("HeadHS"),        QStringLiteral("HeadLV"),
        QStringLiteral("StrobeRohm"), QStringLiteral("StrobeKyo"),
    };
    return names;
}

bool ConfigurationEditor::isChecked(const QString &button) const
{
    return m_buttons.value(button).checked;
}

bool ConfigurationEditor::isEnabled(const QString &button) const
{
    const auto it = m_buttons.constFind(button);
    return it != m_buttons.cend() && it->enabled;
}

void ConfigurationEditor::turnOn(const QString &button)
{
    const Option *option = findOption(button);
    if (!option)
        return;
    for (const Option &other : Options)
        if (other.group == option->group)
            m_buttons[QLatin1String(other.name)].checked = (&other == option);
    if (option->field)
        m_settings.*(option->field) = option->value;
}

void ConfigurationEditor::turnOff(const QString &button)
{
    m_buttons[button].checked = false;
}

void ConfigurationEditor::setEnabled(const QString &button, bool enabled)
{
    m_buttons[button].enabled = enabled;
}

bool ConfigurationEditor::click(const QString &button)
{
    const Option *option = findOption(button);
    if (!option || !isEnabled(button))
        return false;
    turnOn(button);
    if (isModeSelector(option->group))
        applyModeSelection();
    emit changed();
    return true;
}

void ConfigurationEditor::resetToStartState()
{
    // The printer mode value is left alone: only applying a code writes it.
    m_settings.logicVoltage = 1;
    m_settings.mechanismType = -1;
    m_settings.motorSteps = -1;
    m_settings.motorRotation = -1;
    m_settings.headType = -1;
    m_settings.headWidth = -1;
    m_settings.strobePolarity = -1;
    m_settings.headUpPolarity = -1;
    for (const Option &option : Options)
        if (!isModeSelector(option.group))
            turnOff(QLatin1String(option.name));
    m_buttons[QStringLiteral("Voltage5")].checked = true;
    emit changed();
}

void ConfigurationEditor::applyConfigurationCode(const QString &code)
{
    const MechanismSettings read = decodeConfigurationCode(code);

    m_settings.printerMode = read.printerMode;
    turnOn(read.printerMode != 0 ? QStringLiteral("ModeChipset") : QStringLiteral("ModeMRS"));

    // The board's logic voltage is not taken from the code: 5 V always.
    m_settings.logicVoltage = 1;

    // A one-bit field: any digit but 0 shows (and so sets) the "1" option.
    const auto applyBit = [this](qint16 MechanismSettings::*field, qint16 value, Group group) {
        m_settings.*field = value;
        if (const char *button = buttonFor(group, value != 0 ? 1 : 0))
            turnOn(QLatin1String(button));
    };
    // A field whose digits name no option (head type "11", head width "000",
    // a head-up digit other than 0 and 1) is not defined: no option of its
    // group on and the value of an untouched group, so that saving and
    // programming refuse it rather than write bits the board cannot use.
    const auto applyValue = [this](qint16 MechanismSettings::*field, qint16 value, Group group) {
        if (const char *button = buttonFor(group, value)) {
            turnOn(QLatin1String(button));
            return;
        }
        m_settings.*field = -1;
        for (const Option &option : Options)
            if (option.group == group)
                turnOff(QLatin1String(option.name));
    };

    applyBit(&MechanismSettings::mechanismType, read.mechanismType, Group::MechanismType);
    applyBit(&MechanismSettings::motorSteps, read.motorSteps, Group::MotorSteps);
    applyBit(&MechanismSettings::motorRotation, read.motorRotation, Group::MotorRotation);
    applyValue(&MechanismSettings::headType, read.headType, Group::HeadType);
    applyBit(&MechanismSettings::strobePolarity, read.strobePolarity, Group::StrobePolarity);
    applyValue(&MechanismSettings::headWidth, read.headWidth, Group::HeadWidth);
    applyValue(&MechanismSettings::headUpPolarity, read.headUpPolarity, Group::HeadUpPolarity);
    emit changed();
}

void ConfigurationEditor::applyModeSelection()
{
    if (configurationModeResistors() || configurationModeUser()) {
        const bool user = configurationModeUser();
        for (const QString &button : mechanismOptionNames())
            setEnabled(button, user);
    }
    if (identityAuto() || identityUser())
        m_nameEnabled = identityUser();
    emit changed();
}

void ConfigurationEditor::setConfigurationMode(bool user)
{
    turnOn(user ? QStringLiteral("ConfUser") : QStringLiteral("ConfRes"));
    applyModeSelection();
}

void ConfigurationEditor::setIdentityMode(bool user)
{
    turnOn(user ? QStringLiteral("IdUser") : QStringLiteral("IdAuto"));
    applyModeSelection();
}

QString ConfigurationEditor::sanitiseName(const QString &text)
{
    QString kept;
    kept.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x20 && u <= 0x7E) || (u >= 0xA0 && u <= 0xFF))
            kept += c;
    }
    return kept;
}

void ConfigurationEditor::setName(const QString &name)
{
    const QString kept = sanitiseName(name);
    if (kept == m_name)
        return;
    m_name = kept;
    emit changed();
}

bool ConfigurationEditor::checkSettingsComplete(Prompts &prompts) const
{
    const std::array<std::pair<qint16, const char *>, 8> checks = {{
        {m_settings.logicVoltage, "Logic voltage is not defined !"},
        {m_settings.mechanismType, "Mechanism (Standard/KEL) is not defined !"},
        {m_settings.motorSteps, "Motor steps is not defined !"},
        {m_settings.motorRotation, "Motor rotation is not defined !"},
        {m_settings.headUpPolarity, "Head-up polarity is not defined !"},
        {m_settings.headWidth, "Head width is not defined !"},
        {m_settings.headType, "Head type is not defined !"},
        {m_settings.strobePolarity, "Strobe polarity is not defined !"},
    }};
    for (const auto &[value, message] : checks) {
        if (value == -1) {
            prompts.warning(QString::fromLatin1(message));
            return false;
        }
    }
    return true;
}

void ConfigurationEditor::saveConfigurationToDatabase(MechanismDatabase &db, Prompts &prompts,
                                                      StatusLine &status)
{
    const QString notCreated = QStringLiteral("New configuration not created !");
    // The head-up polarity is not checked: unset, it is saved as "1".
    const std::array<std::pair<qint16, const char *>, 7> checks = {{
        {m_settings.logicVoltage, "Voltage is not defined !"},
        {m_settings.mechanismType, "Mechanism type is not defined !"},
        {m_settings.motorSteps, "Steps per dotline is not defined !"},
        {m_settings.motorRotation, "Stepper sense is not defined !"},
        {m_settings.headType, "Head type is not defined !"},
        {m_settings.strobePolarity, "Strobe polarity is not defined !"},
        {m_settings.headWidth, "Head width is not defined !"},
    }};
    for (const auto &[value, message] : checks) {
        if (value == -1) {
            prompts.warning(QString::fromLatin1(message));
            status.showStatus(notCreated);
            return;
        }
    }

    const QString code = buildConfigurationCode();

    if (m_name.isEmpty()) {
        prompts.warning(QStringLiteral("Please enter a configuration name !"));
        return;
    }
    if (m_name.size() > MaxNameLength) {
        m_name.truncate(MaxNameLength);
        emit changed();
    }
    const QString name = m_name;

    const int row = db.find(name);
    if (row >= 0) {
        db.select(row);
        if (prompts.confirm(QStringLiteral("Overwrite existing configuration <") + db.name(row)
                            + QStringLiteral("> ?"))) {
            db.replaceCode(row, code);
        }
    } else {
        // The file keeps its entry count in one byte.
        if (db.isFull()) {
            prompts.warning(QStringLiteral("The database is full (%1 entries): delete an entry first.")
                                .arg(MechanismDatabase::MaxEntries));
            status.showStatus(notCreated);
            return;
        }
        db.append(name, code);
        db.select(db.count() - 1);
    }
    // Also after Cancel: the user went through the overwrite question.
    db.setModified(true);
}

} // namespace tessary
