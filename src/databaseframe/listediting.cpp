#include "databaseframe/listediting.h"

#include "app/prompts.h"
#include "configuration/configurationeditor.h"
#include "database/mechanismdatabase.h"

namespace tessary {

ListEditing::ListEditing(MechanismDatabase &database, Prompts &prompts, ConfigurationEditor &editor)
    : m_database(database), m_prompts(prompts), m_editor(editor)
{
}

int ListEditing::selectedRow(CommandSource source)
{
    const int row = m_database.selectedIndex();
    if (row >= 0 && row < m_database.count())
        return row;
    // The pop-up menu never opens without a selection; should it be invoked
    // anyway there is nothing to act on and nothing to say.
    if (source == CommandSource::Button)
        m_prompts.warning(QStringLiteral("Please select a database entry first !"));
    return -1;
}

void ListEditing::analyse(CommandSource source)
{
    const int row = selectedRow(source);
    if (row < 0)
        return;
    m_editor.setName(m_database.name(row));
    m_editor.applyConfigurationCode(m_database.code(row));
    if (source == CommandSource::Button) {
        m_editor.setConfigurationMode(true);
        m_editor.setIdentityMode(true);
        m_editor.applyModeSelection();
    }
}

void ListEditing::deleteEntry(CommandSource source)
{
    const int row = selectedRow(source);
    if (row < 0)
        return;
    const bool ok = m_prompts.confirm(QStringLiteral("This will delete configuration <")
                                      + m_database.name(row)
                                      + QStringLiteral("> form the database !"));
    if (ok) {
        m_database.remove(row);
        m_database.clearSelection();
    }
    m_database.setModified(true);
}

void ListEditing::moveUp(CommandSource source) { move(source, -1); }

void ListEditing::moveDown(CommandSource source) { move(source, +1); }

void ListEditing::move(CommandSource source, int step)
{
    const int row = selectedRow(source);
    if (row < 0)
        return;
    const int target = row + step;
    if (target >= 0 && target < m_database.count()) {
        m_database.exchange(row, target);
        // Selecting again shows the moved entry's name on the status line.
        m_database.select(target);
    }
    m_database.setModified(true);
}

} // namespace tessary
