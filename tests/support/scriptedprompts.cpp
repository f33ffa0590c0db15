#include "scriptedprompts.h"

namespace tessary::test {

bool ScriptedPrompts::message(const QString &text, MessageIcon icon, MessageButtons buttons,
                              DefaultButton defaultButton)
{
    shown.append({text, icon, buttons, defaultButton});
    if (buttons == MessageButtons::Ok)
        return true;
    if (m_answers.isEmpty())
        return defaultAnswer;
    return m_answers.takeFirst();
}

void ScriptedPrompts::answer(std::initializer_list<bool> answers)
{
    for (bool a : answers)
        m_answers.append(a);
}

QStringList ScriptedPrompts::texts() const
{
    QStringList list;
    for (const auto &s : shown)
        list << s.text;
    return list;
}

QString ScriptedFileChooser::openFile(const FileDialogOptions &options)
{
    asked.append(options);
    askedWasSave.append(false);
    return paths.isEmpty() ? QString() : paths.takeFirst();
}

QString ScriptedFileChooser::saveFile(const FileDialogOptions &options)
{
    asked.append(options);
    askedWasSave.append(true);
    return paths.isEmpty() ? QString() : paths.takeFirst();
}

} // namespace tessary::test
