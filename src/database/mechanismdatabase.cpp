#include "database/mechanismdatabase.h"

#include "app/prompts.h"

namespace tessary {

MechanismDatabase::MechanismDatabase(StatusLine *status, QObject *parent)
    : QObject(parent), m_status(status)
{
}

QString MechanismDatabase::name(int row) const
{
    return row >= 0 && row < count() ? m_entries.at(row).name : QString();
}

QString MechanismDatabase::code(int row) const
{
    return row >= 0 && row < count() ? m_entries.at(row).code : QString();
}

void MechanismDatabase::append(const QString &name, const QString &code)
{
    m_entries.append({name, code});
    emit rowsChanged();
}

void MechanismDatabase::remove(int row)
{
    if (row < 0 || row >= count())
        return;
    m_entries.removeAt(row);
    if (m_selected >= count() || m_selected == row) {
        m_selected = -1;
        emit rowsChanged();
        emit selectionChanged(-1);
        return;
    }
    if (m_selected > row)
        --m_selected;
    emit rowsChanged();
    emit selectionChanged(m_selected);
}

void MechanismDatabase::clear()
{
    const bool hadSelection = m_selected >= 0;
    m_entries.clear();
    m_selected = -1;
    emit rowsChanged();
    if (hadSelection)
        emit selectionChanged(-1);
}

void MechanismDatabase::exchange(int a, int b)
{
    if (a < 0 || b < 0 || a >= count() || b >= count() || a == b)
        return;
    m_entries.swapItemsAt(a, b);
    emit rowsChanged();
}

int MechanismDatabase::find(const QString &name) const
{
    for (int row = 0; row < count(); ++row)
        if (m_entries.at(row).name == name)
            return row;
    return -1;
}

void MechanismDatabase::replaceCode(int row, const QString &code)
{
    if (row < 0 || row >= count())
        return;
    m_entries[row].code = code;
    emit rowsChanged();
}

void MechanismDatabase::setEntries(const QList<DatabaseEntry> &entries)
{
    m_entries = entries;
    if (m_selected >= count()) {
        m_selected = -1;
        emit selectionChanged(-1);
    }
    emit rowsChanged();
}

void MechanismDatabase::select(int row)
{
    if (row < -1 || row >= count())
        row = -1;
    m_selected = row;
    if (row >= 0 && m_status)
        m_status->showStatus(QStringLiteral("Configuration selected : ") + m_entries.at(row).name);
    emit selectionChanged(row);
}

void MechanismDatabase::setModified(bool modified)
{
    if (m_modified == modified)
        return;
    m_modified = modified;
    emit modifiedChanged(modified);
}

} // namespace tessary
