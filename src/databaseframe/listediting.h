#pragma once

namespace tessary {

class ConfigurationEditor;
class MechanismDatabase;
class Prompts;

// Where an editing command was given: a button of the database frame checks
// the selection first (and Analyse from a button also switches the editor to
// user mode); the pop-up menu only opens with an entry selected.
enum class CommandSource { Button, PopupMenu };

// The four commands on the selected database entry: Analyse, Delete, Move up
// and Move down.
class ListEditing {
public:
    ListEditing(MechanismDatabase &database, Prompts &prompts, ConfigurationEditor &editor);

    // Loads the entry's name and code into the configuration editor; the
    // database is not changed.
    void analyse(CommandSource source);
    // Asks, then removes the entry; the database counts as modified either way.
    void deleteEntry(CommandSource source);
    // Exchange the entry with its neighbour, the selection following it. The
    // database counts as modified even when the entry is already at the end.
    void moveUp(CommandSource source);
    void moveDown(CommandSource source);

private:
    // The selected row, or -1 after telling a button's user to select one.
    [[nodiscard]] int selectedRow(CommandSource source);
    void move(CommandSource source, int step);

    MechanismDatabase &m_database;
    Prompts &m_prompts;
    ConfigurationEditor &m_editor;
};

} // namespace tessary
