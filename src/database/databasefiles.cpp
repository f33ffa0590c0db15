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
    const Loaded loaded = load(DefaultFileName);
    if (loaded.problem != Loaded::Problem::None) {
        // Whatever is wrong with the file, the user starts with a usable
        // list; the file on disk is left as it is. The list is empty at
        // start; emptying it first keeps a repeated load from doubling it.
        m_database.clear();
        FillFactoryList(m_database);
        m_status.showStatus(QStringLiteral("default.cdb file error, default list created."));
        return;
    }
    m_database.setEntries(loaded.entries);
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

DatabaseFiles::Loaded DatabaseFiles::load(const QString &path)
{
    Loaded loaded;
    // A pipe or a device could hold the read for ever, or never end.
    const QString notAFile = notARegularFile(path);
    QFile file(path);
    if (!notAFile.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        loaded.problem = Loaded::Problem::CannotOpen;
        loaded.error = QStringLiteral("Couldn't open the database file %1 : %2")
                           .arg(shown(path), notAFile.isEmpty() ? file.errorString() : notAFile);
        return loaded;
    }
    cdb::ReadResult result = cdb::read(file);
    switch (result.status) {
    case cdb::ReadResult::Status::Ok:
        loaded.entries = std::move(result.entries);
        break;
    case cdb::ReadResult::Status::NotADatabase:
        loaded.problem = Loaded::Problem::NotADatabase;
        loaded.error = QStringLiteral("This is not a valid Z.E.L configuration database !");
        break;
    case cdb::ReadResult::Status::Truncated:
    case cdb::ReadResult::Status::ReadError:
        loaded.problem = Loaded::Problem::Unreadable;
        loaded.error = QStringLiteral("Couldn't load the database file %1 : %2").arg(shown(path), result.reason);
        break;
    }
    return loaded;
}

DatabaseFiles::Saved DatabaseFiles::save(const QString &path, const QList<DatabaseEntry> &entries,
                                         const SaveFilter &filter)
{
    if (!cdb::encodable(entries))
        return {Saved::Problem::TooManyEntries, tooManyEntries(entries.size())};
    return saveBytes(path, cdb::encode(entries), filter);
}

QString DatabaseFiles::tooManyEntries(qsizetype count)
{
    return QStringLiteral("The database holds %1 entries, but a database file can hold "
                          "at most %2. Delete some entries, then save again.")
        .arg(count)
        .arg(cdb::MaxEntries);
}

DatabaseFiles::Saved DatabaseFiles::saveBytes(const QString &path, const QByteArray &bytes, const SaveFilter &filter)
{
    Saved saved;
    if (isReadOnly(path)) {
        saved.problem = Saved::Problem::ReadOnly;
        saved.error = QStringLiteral("This file is Read-Only !");
    } else if (const QString reason = saveAtomically(path, bytes, filter); !reason.isEmpty()) {
        saved.problem = Saved::Problem::WriteFailed;
        saved.error = QStringLiteral("Couldn't write the database file %1 : %2").arg(shown(path), reason);
    }
    return saved;
}

bool DatabaseFiles::succeeded(const Saved &saved)
{
    switch (saved.problem) {
    case Saved::Problem::None:
        return true;
    case Saved::Problem::ReadOnly:
        m_prompts.warning(saved.error);
        m_status.showStatus(QStringLiteral("Couldn't write file (was read_only)."));
        return false;
    case Saved::Problem::WriteFailed:
        m_prompts.warning(saved.error + QStringLiteral("\nThe file on disk was not changed."));
        return false;
    case Saved::Problem::TooManyEntries:
        m_prompts.warning(saved.error);
        return false;
    }
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
    if (!succeeded(saveBytes(path, cdb::newDatabaseBytes(), m_outputFilter)))
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
    const Loaded loaded = load(path);
    if (loaded.problem != Loaded::Problem::None) {
        m_prompts.warning(loaded.problem == Loaded::Problem::Unreadable
                              ? loaded.error + QStringLiteral("\nThe current database was kept.")
                              : loaded.error);
        return;
    }
    m_database.setEntries(loaded.entries);
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
    if (!succeeded(save(m_database.fileName(), m_database.entries(), m_outputFilter)))
        return;
    m_database.setModified(false);
}

void DatabaseFiles::saveDatabaseAs()
{
    m_status.showStatus(QString());
    // Too many entries for a file: said before the dialog asks where.
    if (!cdb::encodable(m_database.entries())) {
        m_prompts.warning(tooManyEntries(m_database.count()));
        return;
    }
    const QString path = m_files.saveFile(saveDatabaseAsDialog());
    if (path.isEmpty()) {
        m_status.showStatus(QStringLiteral("Save database canceled"));
        return;
    }
    if (!succeeded(save(path, m_database.entries(), m_outputFilter)))
        return;
    m_database.setModified(false);
    m_database.setFileName(path);
}

} // namespace tessary
