#pragma once

#include <QList>
#include <QObject>
#include <QString>

namespace tessary {

class StatusLine;

// One named mechanism configuration: the name shown in the list and its
// 16-character configuration code, kept together.
struct DatabaseEntry {
    QString name;
    QString code;
    bool operator==(const DatabaseEntry &) const = default;
};

// The in-memory database of named configurations shown in the list of the
// main window: the entries in order, the selection, the file it belongs to
// and whether it holds unsaved changes.
class MechanismDatabase : public QObject {
    Q_OBJECT
public:
    // The file's entry count is one byte.
    static constexpr int MaxEntries = 255;

    explicit MechanismDatabase(StatusLine *status = nullptr, QObject *parent = nullptr);

    [[nodiscard]] int count() const { return int(m_entries.size()); }
    [[nodiscard]] bool isFull() const { return count() >= MaxEntries; }
    [[nodiscard]] QString name(int row) const;
    [[nodiscard]] QString code(int row) const;
    [[nodiscard]] const QList<DatabaseEntry> &entries() const { return m_entries; }

    void append(const QString &name, const QString &code);
    void remove(int row);
    void clear();
    // Exchanges two rows, names and codes together.
    void exchange(int a, int b);
    // The first row from 0 on whose name equals `name` exactly, or -1.
    [[nodiscard]] int find(const QString &name) const;
    void replaceCode(int row, const QString &code);
    // Replaces every entry at once (a file was loaded).
    void setEntries(const QList<DatabaseEntry> &entries);

    [[nodiscard]] int selectedIndex() const { return m_selected; }
    // Selecting an entry shows "Configuration selected : " and its name on
    // the status line; clearing the selection leaves the status line alone.
    void select(int row);
    void clearSelection() { select(-1); }

    [[nodiscard]] QString fileName() const { return m_fileName; }
    void setFileName(const QString &fileName) { m_fileName = fileName; }
    [[nodiscard]] bool isModified() const { return m_modified; }
    void setModified(bool modified);

signals:
    // The rows changed (any add, write, remove, exchange or reload).
    void rowsChanged();
    void selectionChanged(int row);
    void modifiedChanged(bool modified);

private:
    StatusLine *m_status = nullptr;
    QList<DatabaseEntry> m_entries;
    int m_selected = -1;
    QString m_fileName;
    bool m_modified = false;
};

} // namespace tessary
