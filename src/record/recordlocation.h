#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QSettings;

namespace tessary {

// Where the production record is kept: an SQLite file (one station), or a
// PostgreSQL database that several stations write to at once.
struct RecordLocation {
    enum class Kind { Sqlite, Postgres };
    Kind kind = Kind::Sqlite;
    QString path; // SQLite: the file, absolute
    // PostgreSQL. An empty field is left to libpq: its environment (PGHOST,
    // PGUSER, ...), ~/.pgpass and the service file fill it in.
    QString host; // a host name, an address, or the folder of the server's Unix socket
    int port = -1;
    QString user;
    QString password;
    QString database;
    QString service;            // a name of the PostgreSQL service file (PGSERVICE)
    QStringList parameters;     // further libpq settings of the URL, "sslmode=require"

    // What --record and `tessary record use` take:
    //   sqlite:PATH                 an SQLite file (a relative PATH is the current folder's)
    //   postgresql://[user[:password]@]host[:port]/dbname[?setting=value&...]
    //                               (also postgres://; host may be a socket folder, percent-encoded)
    //   NAME or service=NAME        a service of the PostgreSQL service file
    // Nothing, with the reason in *error, for anything else.
    [[nodiscard]] static std::optional<RecordLocation> parse(const QString &text, QString *error);
    // The record that needs nothing: record.sqlite in the user's data folder.
    [[nodiscard]] static RecordLocation builtIn();

    // The record the user's settings name (`tessary record use`), else the
    // built-in one; nothing, with the reason, when the setting cannot be read.
    [[nodiscard]] static std::optional<RecordLocation> configured(const QSettings &settings, QString *error);
    // Keeps the text in the settings (empty: back to the built-in record).
    // False when the settings could not be written.
    [[nodiscard]] static bool keep(QSettings &settings, const QString &text);
    // The settings' key that holds it.
    [[nodiscard]] static QString settingsKey();

    // As the user reads it in messages, the password masked.
    [[nodiscard]] QString shown() const;
    // A name for this record's spool file, readable and distinct:
    // "sqlite-record-1a2b3c4d.jsonl", "postgresql-factory-5e6f7a8b.jsonl".
    [[nodiscard]] QString spoolName() const;
};

// The user's data folder, shared by the desktop program and tessary: where
// the built-in record and the spools live.
[[nodiscard]] QString recordDataFolder();

// A command line as text, a password in a PostgreSQL URL masked: the options
// a run keeps in the record.
[[nodiscard]] QString maskedOptions(const QStringList &arguments);

} // namespace tessary
