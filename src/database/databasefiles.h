#pragma once

#include "app/atomicsave.h"
#include "app/prompts.h"
#include "database/mechanismdatabase.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

class QIODevice;

namespace tessary {

class MechanismDatabase;

// The database file commands of the "Database" menu and the start-up load.
// Every save goes through a temporary file that replaces the target only once
// it is completely written, so a failed save leaves the old file intact.
class DatabaseFiles {
public:
    DatabaseFiles(MechanismDatabase &database, Prompts &prompts, FileChooser &files,
                  StatusLine &status);

    // Loads "default.cdb" from the current directory, or the factory list
    // when that file is missing, unreadable or not a complete database.
    void loadDefaultDatabase();
    void newDatabase();
    void openDatabase();
    void saveDatabase();
    void saveDatabaseAs();

    // A .cdb file read or written without a word to the user, for the
    // commands above and for callers that say it their own way (the command
    // line): what went wrong, in the words the window shows.
    struct Loaded {
        enum class Problem { None, CannotOpen, NotADatabase, Unreadable };
        Problem problem = Problem::None;
        QString error; // empty when read
        QList<DatabaseEntry> entries;
    };
    [[nodiscard]] static Loaded load(const QString &path);
    struct Saved {
        enum class Problem { None, TooManyEntries, ReadOnly, WriteFailed };
        Problem problem = Problem::None;
        QString error; // empty when written
    };
    // The whole file or nothing, through a temporary file that replaces the
    // target only once it is complete; an existing read-only file is refused.
    [[nodiscard]] static Saved save(const QString &path, const QList<DatabaseEntry> &entries,
                                    const SaveFilter &filter = {});

    // The file dialog settings of each command.
    [[nodiscard]] static FileDialogOptions newDatabaseDialog();
    [[nodiscard]] static FileDialogOptions openDatabaseDialog();
    [[nodiscard]] static FileDialogOptions saveDatabaseAsDialog();

    // A file is read-only when its mode has no write bit at all. The bits are
    // tested rather than access(), which says "writable" to root.
    [[nodiscard]] static bool isReadOnly(const QString &path);

    // Fault injection: every save writes through the device this returns,
    // given the temporary file (a test stands a failing disk in between).
    using OutputFilter = SaveFilter;
    void setOutputFilter(OutputFilter filter) { m_outputFilter = std::move(filter); }

    static inline const QString DefaultFileName = QStringLiteral("default.cdb");
    static inline const QString Filter = QStringLiteral("Configuration databases (*.cdb)|*.cdb");

private:
    // The guard of "New database" and "Open database": true to go on.
    [[nodiscard]] bool mayDiscardChanges();
    [[nodiscard]] static Saved saveBytes(const QString &path, const QByteArray &bytes, const SaveFilter &filter);
    [[nodiscard]] static QString tooManyEntries(qsizetype count);
    // True when the save succeeded; otherwise tells the user why.
    [[nodiscard]] bool succeeded(const Saved &saved);

    MechanismDatabase &m_database;
    Prompts &m_prompts;
    FileChooser &m_files;
    StatusLine &m_status;
    OutputFilter m_outputFilter;
};

} // namespace tessary
