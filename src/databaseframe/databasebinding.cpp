#include "databaseframe/databasebinding.h"

#include "database/mechanismdatabase.h"

#include <QAbstractButton>
#include <QAction>
#include <QContextMenuEvent>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QScopedValueRollback>

namespace tessary {

DatabaseBinding::DatabaseBinding(QWidget *root, MechanismDatabase &database, ConfigurationEditor &editor,
                                 Prompts &prompts, FileChooser &files, StatusLine &status, QMenu *dbOps,
                                 QObject *parent)
    : QObject(parent),
      m_database(database),
      m_files(database, prompts, files, status),
      m_editing(database, prompts, editor),
      m_list(root->findChild<QListWidget *>(QStringLiteral("List1"))),
      m_codes(root->findChild<QListWidget *>(QStringLiteral("List2"))),
      m_dbOps(dbOps)
{
    connect(&m_database, &MechanismDatabase::rowsChanged, this, &DatabaseBinding::showRows);
    connect(&m_database, &MechanismDatabase::selectionChanged, this, &DatabaseBinding::showSelection);

    if (m_list) {
        m_list->setSelectionMode(QAbstractItemView::SingleSelection);
        connect(m_list, &QListWidget::itemSelectionChanged, this, &DatabaseBinding::listSelectionChanged);
        // A click on the entry already selected shows its name again.
        connect(m_list, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
            if (!m_syncing && item)
                m_database.select(m_list->row(item));
        });
        m_filtered = {m_list, m_list->viewport()};
        for (QObject *object : m_filtered)
            object->installEventFilter(this);
    }

    const auto onButton = [this, root](const char *name, auto command) {
        if (auto *button = root->findChild<QAbstractButton *>(QLatin1String(name)))
            connect(button, &QAbstractButton::clicked, this,
                    [this, command] { (m_editing.*command)(CommandSource::Button); });
    };
    onButton("DbbAnalyse", &ListEditing::analyse);
    onButton("DbbDelete", &ListEditing::deleteEntry);
    onButton("DbUp", &ListEditing::moveUp);
    onButton("DbDown", &ListEditing::moveDown);

    const auto onMenuItem = [this, root](const char *name, auto command) {
        if (auto *action = root->findChild<QAction *>(QLatin1String(name)))
            connect(action, &QAction::triggered, this,
                    [this, command] { (m_editing.*command)(CommandSource::PopupMenu); });
    };
    onMenuItem("dbAnalyse", &ListEditing::analyse);
    onMenuItem("dbDelete", &ListEditing::deleteEntry);
    onMenuItem("dbMoveup", &ListEditing::moveUp);
    onMenuItem("dbMovedown", &ListEditing::moveDown);

    const auto onFileItem = [this, root](const char *name, void (DatabaseFiles::*command)()) {
        if (auto *action = root->findChild<QAction *>(QLatin1String(name)))
            connect(action, &QAction::triggered, this, [this, command] { (m_files.*command)(); });
    };
    onFileItem("Ndb", &DatabaseFiles::newDatabase);
    onFileItem("Od", &DatabaseFiles::openDatabase);
    onFileItem("sd", &DatabaseFiles::saveDatabase);
    onFileItem("Sda", &DatabaseFiles::saveDatabaseAs);

    showRows();
}

void DatabaseBinding::showRows()
{
    const QScopedValueRollback<bool> syncing(m_syncing, true);
    QStringList names;
    QStringList codes;
    for (const DatabaseEntry &entry : m_database.entries()) {
        names << entry.name;
        codes << entry.code;
    }
    if (m_list) {
        m_list->clear();
        m_list->addItems(names);
    }
    if (m_codes) {
        m_codes->clear();
        m_codes->addItems(codes);
    }
    showSelection(m_database.selectedIndex());
}

void DatabaseBinding::showSelection(int row)
{
    if (!m_list)
        return;
    const QScopedValueRollback<bool> syncing(m_syncing, true);
    if (row < 0 || row >= m_list->count()) {
        m_list->clearSelection();
        m_list->setCurrentRow(-1);
        return;
    }
    m_list->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    m_list->scrollToItem(m_list->item(row));
}

void DatabaseBinding::listSelectionChanged()
{
    if (m_syncing)
        return;
    const QList<QListWidgetItem *> selected = m_list->selectedItems();
    const int row = selected.isEmpty() ? -1 : m_list->row(selected.constFirst());
    if (row != m_database.selectedIndex() || row >= 0)
        m_database.select(row);
}

bool DatabaseBinding::openMenu(const QPoint &globalPos)
{
    if (!m_dbOps || m_database.selectedIndex() < 0)
        return false;
    m_dbOps->popup(globalPos);
    return true;
}

bool DatabaseBinding::eventFilter(QObject *watched, QEvent *event)
{
    // Compared as plain objects: the list may be in its destructor here.
    if (watched != m_filtered[0] && watched != m_filtered[1])
        return QObject::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
        // The view would move the selection to the row under a right click.
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const bool right = event->type() == QEvent::MouseMove ? bool(mouse->buttons() & Qt::RightButton)
                                                               : mouse->button() == Qt::RightButton;
        return right;
    }
    case QEvent::MouseButtonRelease: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::RightButton)
            return false;
        openMenu(mouse->globalPosition().toPoint());
        return true;
    }
    case QEvent::ContextMenu: {
        // The mouse's own context-menu event is answered by the release above.
        const auto *menuEvent = static_cast<QContextMenuEvent *>(event);
        if (menuEvent->reason() == QContextMenuEvent::Keyboard) {
            const int row = m_database.selectedIndex();
            QListWidgetItem *item = m_list->item(row);
            const QRect rect = item ? m_list->visualItemRect(item) : QRect();
            openMenu(m_list->viewport()->mapToGlobal(rect.isValid() ? rect.bottomLeft() : QPoint()));
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace tessary
