#pragma once

#include "configuration/configurationcode.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

namespace tessary {

class MechanismDatabase;
class Prompts;
class StatusLine;

// The configuration editor of the main window without its widgets: which
// option buttons are on and enabled, the settings they stand for, and the
// name text. Option buttons are named as the window's controls (HW384,
// MechaStd, ConfUser...). The widget binding mirrors this state both ways.
class ConfigurationEditor : public QObject {
    Q_OBJECT
public:
    explicit ConfigurationEditor(QObject *parent = nullptr);

    // Every option button the editor knows, and the 20 mechanism options whose
    // enabled state follows the configuration mode, in that order.
    [[nodiscard]] static const QStringList &buttonNames();
    [[nodiscard]] static const QStringList &mechanismOptionNames();

    [[nodiscard]] bool isChecked(const QString &button) const;
    [[nodiscard]] bool isEnabled(const QString &button) const;
    [[nodiscard]] const MechanismSettings &settings() const { return m_settings; }

    [[nodiscard]] bool configurationModeUser() const { return isChecked(QStringLiteral("ConfUser")); }
    [[nodiscard]] bool configurationModeResistors() const { return isChecked(QStringLiteral("ConfRes")); }
    [[nodiscard]] bool identityUser() const { return isChecked(QStringLiteral("IdUser")); }
    [[nodiscard]] bool identityAuto() const { return isChecked(QStringLiteral("IdAuto")); }

    // The user's click on an option button: turns it on and the others of its
    // group off, and sets the group's value; a mode selector then re-decides
    // which controls are enabled. A disabled button takes no click (the
    // printer-mode buttons are always disabled). Returns whether it was taken.
    bool click(const QString &button);

    // The state the main window starts in: 5 V chosen, every other field -1,
    // every other option of the nine groups off. The printer mode value and
    // the two mode selectors are left as they are.
    void resetToStartState();

    // Loads a code into the settings and the buttons. The logic voltage is
    // set to 5 V whatever position 2 says, without touching its buttons. A
    // field whose digits name no option (head type "11", head width "000", a
    // head-up polarity digit other than 0 and 1) is left not defined: -1 and
    // no option of its group on, so saving and programming refuse it.
    void applyConfigurationCode(const QString &code);

    // Enables the 20 mechanism options when "User" configuration mode is on
    // and disables them when "Resistors" is; enables the name text when "User"
    // identity is on and disables it when "Automatic" is. A selector with
    // neither option on changes nothing.
    void applyModeSelection();
    // Turns on ConfUser (true) or ConfRes (false) as a click would, so the
    // enabled states follow.
    void setConfigurationMode(bool user);
    // Turns on IdUser (true) or IdAuto (false) as a click would.
    void setIdentityMode(bool user);

    // The name text keeps printable Latin-1 characters only (it is written
    // one byte per character to files and to the board).
    void setName(const QString &name);
    [[nodiscard]] QString name() const { return m_name; }
    [[nodiscard]] bool isNameEnabled() const { return m_nameEnabled; }
    // Drops every character other than 0x20-0x7E and 0xA0-0xFF.
    [[nodiscard]] static QString sanitiseName(const QString &text);

    [[nodiscard]] QString buildConfigurationCode() const { return BuildConfigurationCode(m_settings); }
    [[nodiscard]] quint8 configurationByte1() const { return tessary::configurationByte1(m_settings); }
    [[nodiscard]] quint8 configurationByte2() const { return tessary::configurationByte2(m_settings); }

    // Before programming: the first unset field, in the order the board's
    // programming checks them, is reported as a warning and gives false.
    [[nodiscard]] bool checkSettingsComplete(Prompts &prompts) const;

    // The "Save configuration to database" command: stores the settings under
    // the name (cut to 16 characters, the name text included), overwriting an
    // entry of exactly that name after a question, or appending and selecting
    // a new one.
    void saveConfigurationToDatabase(MechanismDatabase &db, Prompts &prompts, StatusLine &status);

    static constexpr int MaxNameLength = 16;

signals:
    // Any change of checked or enabled states, settings or name.
    void changed();

private:
    struct ButtonState {
        bool checked = false;
        bool enabled = true;
    };

    // Turns a button on by program, with the effect of the user's click on
    // the settings but no mode re-decision.
    void turnOn(const QString &button);
    void turnOff(const QString &button);
    void setEnabled(const QString &button, bool enabled);

    QHash<QString, ButtonState> m_buttons;
    MechanismSettings m_settings;
    QString m_name;
    bool m_nameEnabled = true;
};

} // namespace tessary
