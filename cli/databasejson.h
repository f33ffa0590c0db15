#pragma once

#include "database/mechanismdatabase.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace tessary {

// A configuration database as JSON, for scripts and version control:
//   {"format": "tessary-cdb", "version": 1,
//    "entries": [{"name": "Mechanism 01", "code": "1111000101000000"}, ...]}
// Import accepts only what the window itself would write into a .cdb file
// (printable Latin-1 names of up to 16 characters, codes of 16 binary
// digits), so writing the imported entries and exporting them again gives
// the same JSON.
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
