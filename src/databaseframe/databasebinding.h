#pragma once

#include "database/databasefiles.h"
#include "databaseframe/listediting.h"

#include <QObject>
#include <QPointer>

#include <array>

class QListWidget;
class QMenu;
class QPoint;
class QWidget;

namespace tessary {

class ConfigurationEditor;
class MechanismDatabase;

// Ties the database frame of the main window to the MechanismDatabase: the
// entry list (List1, with the hidden code list List2), the four editing
// buttons, the file menu items and the list's pop-up menu. The controls are
// found by object name under `root`; any that is missing is not bound.
class DatabaseBinding : public QObject {
    Q_OBJECT
public:
    DatabaseBinding(QWidget *root, MechanismDatabase &database, ConfigurationEditor &editor,
                    Prompts &prompts, FileChooser &files, StatusLine &status, QMenu *dbOps,
                    QObject *parent = nullptr);

    // The start-up load: default.cdb, or the factory list.
    void loadDefaultDatabase() { m_files.loadDefaultDatabase(); }

    [[nodiscard]] DatabaseFiles &files() { return m_files; }
    [[nodiscard]] ListEditing &editing() { return m_editing; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showRows();
    void showSelection(int row);
    void listSelectionChanged();
    // Opens the pop-up menu when an entry is selected; the right click itself
    // never changes the selection, so the menu acts on the selected entry.
    bool openMenu(const QPoint &globalPos);

    MechanismDatabase &m_database;
    DatabaseFiles m_files;
    ListEditing m_editing;
    QPointer<QListWidget> m_list;
    QPointer<QListWidget> m_codes;
    QPointer<QMenu> m_dbOps;
    // The list and its viewport, whose mouse and context-menu events are filtered.
    std::array<QObject *, 2> m_filtered{};
    // Set while the list is being filled from the model, so that the list's
    // own signals are not taken for the user's.
    bool m_syncing = false;
};

} // namespace tessary
