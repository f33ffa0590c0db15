#pragma once

#include "database/mechanismdatabase.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace tessary {

// A configuration database as JSON, for scripts and version control:
//   {"format": "tessary-cdb", "version": 1,
//    "entries": [{"name": "Mechanism 01", "code": "1111000101000000"}, ...]}
// Import takes every entry a .cdb file can hold (a name of up to 16 Latin-1
// characters, neither blank nor ending in a space, without NUL, CR or LF; a
// code of 16 Latin-1 characters), so what a stored file holds comes back from
// its export byte for byte, and refuses a name that repeats an earlier one.
namespace databasejson {

inline constexpr char Format[] = "tessary-cdb";
inline constexpr int Version = 1;

[[nodiscard]] QByteArray exportEntries(const QList<DatabaseEntry> &entries);

struct ImportResult {
    bool ok = false;
    QList<DatabaseEntry> entries;
    QString reason; // a plain sentence when not ok
};
[[nodiscard]] ImportResult importEntries(const QByteArray &json);

} // namespace databasejson
} // namespace tessary
