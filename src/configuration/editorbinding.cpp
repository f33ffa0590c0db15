#include "configuration/editorbinding.h"

#include "configuration/configurationeditor.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLineEdit>
#include <QWidget>

namespace tessary {

EditorBinding::EditorBinding(QWidget *root, ConfigurationEditor &editor, MechanismDatabase &db,
                             Prompts &prompts, StatusLine &status, QObject *parent)
    : QObject(parent), m_editor(editor), m_db(db), m_prompts(prompts), m_status(status)
{
    for (const QString &name : ConfigurationEditor::buttonNames()) {
        auto *button = root->findChild<QAbstractButton *>(name);
        if (!button)
            continue;
        m_buttons.insert(name, button);
        connect(button, &QAbstractButton::clicked, this, [this, name] {
            m_editor.click(name);
            // A click the model refused must not stay shown.
            refresh();
        });
    }

    m_name = root->findChild<QLineEdit *>(QStringLiteral("ConfigName"));
    // Whatever the field shows is the name, however the text got there:
    // typing, paste, undo, or an assistive tool setting it (screen readers
    // and voice control set the text without an edit signal).
    if (m_name)
        connect(m_name, &QLineEdit::textChanged, this, &EditorBinding::nameChanged);

    if (auto *save = root->findChild<QAbstractButton *>(QStringLiteral("NewConfig")))
        connect(save, &QAbstractButton::clicked, this,
                [this] { m_editor.saveConfigurationToDatabase(m_db, m_prompts, m_status); });

    connect(&m_editor, &ConfigurationEditor::changed, this, &EditorBinding::refresh);
    refresh();
}

void EditorBinding::nameChanged(const QString &text)
{
    if (text == m_editor.name())
        return; // the model's own name, shown by refresh()
    // Keep the cursor after the same characters once others are dropped.
    const int cursor = ConfigurationEditor::sanitiseName(text.left(m_name->cursorPosition())).size();
    m_editor.setName(text);
    refresh();
    if (m_name && m_name->text() != text)
        m_name->setCursorPosition(cursor);
}

void EditorBinding::setCheckedForced(QAbstractButton *button, bool checked)
{
    if (button->isChecked() == checked)
        return;
    if (checked) {
        button->setChecked(true);
        return;
    }
    // An exclusive group refuses to lose its checked button: lift the
    // exclusivity for the moment of unchecking. (Every option of the editor
    // is in the exclusive group of its frame.)
    if (QButtonGroup *group = button->group(); group && group->exclusive()) {
        group->setExclusive(false);
        button->setChecked(false);
        group->setExclusive(true);
    } else {
        button->setChecked(false);
    }
}

void EditorBinding::refresh()
{
    for (auto it = m_buttons.cbegin(); it != m_buttons.cend(); ++it) {
        QAbstractButton *button = it.value();
        if (!button)
            continue;
        setCheckedForced(button, m_editor.isChecked(it.key()));
        button->setEnabled(m_editor.isEnabled(it.key()));
    }
    if (m_name) {
        if (m_name->text() != m_editor.name())
            m_name->setText(m_editor.name());
        m_name->setEnabled(m_editor.isNameEnabled());
    }
}

} // namespace tessary
