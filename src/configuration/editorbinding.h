#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>

class QAbstractButton;
class QLineEdit;
class QWidget;

namespace tessary {

class ConfigurationEditor;
class MechanismDatabase;
class Prompts;
class StatusLine;

// Keeps the editor's widgets in step with the ConfigurationEditor both ways.
// The widgets are found under `root` by object name (HW384, ConfigName,
// NewConfig...); any that is missing is simply not bound. Clicks and any
// change of the name text go to the model; every change of the model is
// shown on the widgets.
class EditorBinding : public QObject {
    Q_OBJECT
public:
    EditorBinding(QWidget *root, ConfigurationEditor &editor, MechanismDatabase &db, Prompts &prompts,
                  StatusLine &status, QObject *parent = nullptr);

    // Shows the model's checked and enabled states and the name text.
    void refresh();

private:
    void nameChanged(const QString &text);
    static void setCheckedForced(QAbstractButton *button, bool checked);

    ConfigurationEditor &m_editor;
    MechanismDatabase &m_db;
    Prompts &m_prompts;
    StatusLine &m_status;
    QHash<QString, QPointer<QAbstractButton>> m_buttons;
    QPointer<QLineEdit> m_name;
};

} // namespace tessary
