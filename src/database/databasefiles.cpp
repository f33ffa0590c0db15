#include "database/databasefiles.h"

#include "database/cdbfile.h"
#include "database/factorylist.h"
#include "database/mechanismdatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tessary {

namespace {

QString shown(const QString &path) { return QDir::toNativeSeparators(path); }

} // namespace

DatabaseFiles::DatabaseFiles(MechanismDatabase &database, Prompts &prompts, FileChooser &files,
                             StatusLine &status)
    : m_database(database), m_prompts(prompts), m_files(files), m_status(status)
{
}

FileDialogOptions DatabaseFiles::newDatabaseDialog()
{
    return {QStringLiteral("New configuration database"), Filter, QStringLiteral("cdb"), true, false};
}

FileDialogOptions DatabaseFiles::openDatabaseDialog()
{
    return {QStringLiteral("Open configuration database"), Filter, QStringLiteral("cdb"), false, true};
}

FileDialogOptions DatabaseFiles::saveDatabaseAsDialog()
{
    return {QStringLiteral("Save configuration database as..."), Filter, QStringLiteral("cdb"), true,
            false};
}

bool DatabaseFiles::isReadOnly(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    // WriteUser is left out: Qt derives it from the running user's rights.
    constexpr auto anyWriteBit = QFileDevice::WriteOwner | QFileDevice::WriteGroup
                                 | QFileDevice::WriteOther;
    return !(info.permissions() & anyWriteBit);
}

void DatabaseFiles::loadDefaultDatabase()
{
    QFile file(DefaultFileName);
    cdb::ReadResult result;
    if (file.open(QIODevice::ReadOnly))
        result = cdb::read(file);
    else
        result.status = cdb::ReadResult::Status::ReadError;
    file.close();

    if (!result.ok()) {
        // Whatever is wrong with the file, the user starts with a usable
        // list; the file on disk is left as it is. The list is empty at
        // start; emptying it first keeps a repeated load from doubling it.
        m_database.clear();
        FillFactoryList(m_database);
        m_status.showStatus(QStringLiteral("default.cdb file error, default list created."));
        return;
    }
    m_database.setEntries(result.entries);
    m_database.clearSelection();
    m_database.setModified(false);
    m_database.setFileName(DefaultFileName);
    m_status.showStatus(QStringLiteral("Default database file loaded"));
}

bool DatabaseFiles::mayDiscardChanges()
{
    return !m_database.isModified()
           || m_prompts.confirm(QStringLiteral("Database has been modified ! Continue anyway ?"));
}

bool DatabaseFiles::fitsInAFile()
{
    if (cdb::encodable(m_database.entries()))
        return true;
    m_prompts.warning(QStringLiteral("The database holds %1 entries, but a database file can hold "
                                     "at most %2. Delete some entries, then save again.")
                          .arg(m_database.count())
                          .arg(cdb::MaxEntries));
    return false;
}

bool DatabaseFiles::targetIsWritable(const QString &path)
{
    if (!isReadOnly(path))
        return true;
    m_prompts.warning(QStringLiteral("This file is Read-Only !"));
    m_status.showStatus(QStringLiteral("Couldn't write file (was read_only)."));
    return false;
}

bool DatabaseFiles::writeFile(const QString &path, const QByteArray &bytes)
{
    const QString reason = saveAtomically(path, bytes, m_outputFilter);
    if (reason.isEmpty())
        return true;
    m_prompts.warning(QStringLiteral("Couldn't write the database file %1 : %2\n"
                                     "The file on disk was not changed.")
                          .arg(shown(path), reason));
    return false;
}

void DatabaseFiles::newDatabase()
{
    if (!mayDiscardChanges())
        return;
    // The lists are emptied only once the new file is there: a cancelled
    // dialog or a failed write leaves the database, its file name and its
    // unsaved changes as they were, so a later "Save database" cannot write
    // an empty list over the old file.
    const QString path = m_files.saveFile(newDatabaseDialog());
    if (path.isEmpty())
        return;
    if (!targetIsWritable(path) || !writeFile(path, cdb::newDatabaseBytes()))
        return;
    m_database.clear();
    m_database.setModified(false);
    m_database.setFileName(path);
}

void DatabaseFiles::openDatabase()
{
    if (!mayDiscardChanges())
        return;
    const QString path = m_files.openFile(openDatabaseDialog());
    if (path.isEmpty())
        return;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_prompts.warning(QStringLiteral("Couldn't open the database file %1 : %2")
                              .arg(shown(path), file.errorString()));
        return;
    }
    const cdb::ReadResult result = cdb::read(file);
    file.close();

    switch (result.status) {
    case cdb::ReadResult::Status::Ok:
        break;
    case cdb::ReadResult::Status::NotADatabase:
        m_prompts.warning(QStringLiteral("This is not a valid Z.E.L configuration database !"));
        return;
    case cdb::ReadResult::Status::Truncated:
    case cdb::ReadResult::Status::ReadError:
        m_prompts.warning(QStringLiteral("Couldn't load the database file %1 : %2\n"
                                         "The current database was kept.")
                              .arg(shown(path), result.reason));
        return;
    }

    m_database.setEntries(result.entries);
    m_database.clearSelection();
    m_database.setModified(false);
    m_database.setFileName(path);
    m_status.showStatus(QStringLiteral("Database file loaded."));
}

void DatabaseFiles::saveDatabase()
{
    if (m_database.fileName().isEmpty()) {
        m_prompts.warning(QStringLiteral("Current database has no name ! Please use 'Save as' instead."));
        return;
    }
    if (!fitsInAFile() || !targetIsWritable(m_database.fileName()))
        return;
    if (!writeFile(m_database.fileName(), cdb::encode(m_database.entries())))
        return;
    m_database.setModified(false);
}

void DatabaseFiles::saveDatabaseAs()
{
    m_status.showStatus(QString());
    if (!fitsInAFile())
        return;
    const QString path = m_files.saveFile(saveDatabaseAsDialog());
    if (path.isEmpty()) {
        m_status.showStatus(QStringLiteral("Save database canceled"));
        return;
    }
    if (!targetIsWritable(path))
        return;
    if (!writeFile(path, cdb::encode(m_database.entries())))
        return;
    m_database.setModified(false);
    m_database.setFileName(path);
}

} // namespace tessary
