#include "scriptedprompts.h"

namespace tessary::test {

bool ScriptedPrompts::message(const QString &text, MessageIcon icon, MessageButtons buttons,
                              DefaultButton defaultButton)
{
    shown.append({text, icon, buttons, defaultButton});
    return buttons == MessageButtons::Ok || m_answers.isEmpty() || m_answers.takeFirst();
}

QStringList ScriptedPrompts::texts() const
{
    QStringList list;
    for (const auto &s : shown)
        list << s.text;
    return list;
}

QStringList ScriptedPrompts::described() const
{
    QStringList list;
    for (const auto &s : shown)
        list << (s.icon == MessageIcon::Warning ? u'W' : s.icon == MessageIcon::Error ? u'E' : u'N')
                    + QLatin1String(s.buttons == MessageButtons::Ok              ? " "
                                    : s.defaultButton == DefaultButton::Cancel ? "? "
                                                                               : "?OK ")
                    + s.text;
    return list;
}

} // namespace tessary::test
