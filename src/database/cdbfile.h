#pragma once

#include "database/mechanismdatabase.h"

#include <QByteArray>
#include <QList>
#include <QString>

class QIODevice;

namespace tessary {

// The configuration database file (.cdb), byte for byte:
//   "ZELPRINTERSCDB0" (15 bytes), the entry count (1 byte), 0D 0A,
//   then per entry: name (16 bytes, space-filled), code (16 bytes), 0D 0A.
// Text is one byte per character (Latin-1). There is no length field and no
// checksum, and files written over longer ones carry stale bytes after the
// last record, so the reader never looks at the file's length.
namespace cdb {

inline constexpr char Magic[] = "ZELPRINTERSCDB0";
inline constexpr int MagicSize = 15;
inline constexpr int HeaderSize = 18;
inline constexpr int NameSize = 16;
inline constexpr int CodeSize = 16;
inline constexpr int RecordSize = 34;
inline constexpr int MaxEntries = 255;

struct ReadResult {
    enum class Status {
        Ok,
        NotADatabase, // the first 15 bytes are not the magic (also: a shorter file)
        Truncated,    // the file ends before its records are complete
        ReadError,    // the device reported an error
    };
    Status status = Status::Ok;
    QList<DatabaseEntry> entries;
    QString reason; // a plain sentence when status is not Ok

    [[nodiscard]] bool ok() const { return status == Status::Ok; }
};

// Reads a database from the device's current position.
[[nodiscard]] ReadResult read(QIODevice &device);
[[nodiscard]] ReadResult read(const QByteArray &bytes);

// The bytes of a database holding these entries; nothing when there are more
// entries than the one-byte count can express (see encodable()).
[[nodiscard]] bool encodable(const QList<DatabaseEntry> &entries);
[[nodiscard]] QByteArray encode(const QList<DatabaseEntry> &entries);

// The empty database written by "New database": the count is written as two
// bytes, so the file is 19 bytes long; it reads back as an empty database.
[[nodiscard]] QByteArray newDatabaseBytes();

} // namespace cdb
} // namespace tessary
