#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include <functional>
#include <memory>

class QIODevice;

namespace tessary {

// Fault injection: the save writes through the device this returns, given
// the temporary file (a test stands a failing disk in between).
using SaveFilter = std::function<std::unique_ptr<QIODevice>(QIODevice &file)>;

// Every save of the program: the bytes go to a temporary file that replaces
// the target only once it is completely written, so a failed save leaves the
// old file as it was. The replacing is a rename over whatever has the name, so
// a target that exists and is not a regular file (a FIFO, a device, a socket,
// a folder) is refused before anything is written; a symbolic link to a
// regular file is written through. Returns why the save failed, or nothing.
[[nodiscard]] QString saveAtomically(const QString &path, const QByteArray &bytes, const SaveFilter &filter = {});

// Why an existing path is not a file to read or replace, in words ("it is a
// named pipe (FIFO), not a file"); nothing for a regular file (also through
// a link) or a name that is free.
[[nodiscard]] QString notARegularFile(const QString &path);

// The file a symbolic link leads to (its whole path); any other path as it is.
[[nodiscard]] QString followLink(const QString &path);

// Whether two paths name one file: through links (symbolic, and hard ones
// where the system tells), and for names not yet there by the folder they
// would be made in.
[[nodiscard]] bool sameFile(const QString &first, const QString &second);

// For a named pipe, its write end, opened without waiting for a reader (a
// pipe nobody reads would hold the open for ever) and then left to block as
// writes do; -1 with the reason in *reason ("no program reads the named
// pipe") when it cannot be opened. Nothing for anything else. The descriptor
// is kept for the writing: closing it would tell the reader the end.
[[nodiscard]] std::optional<int> openPipeForWriting(const QString &path, QString *reason);

#ifdef Q_OS_UNIX
// Appends a line (or several) whole or not at all, for a file that many runs
// append to under their own lock: a disk that fills up half-way through is
// given back the part written, so the file still ends with its last whole
// line; a file whose last line lost its end (an editor, a crash of another
// program) gets it back first, so the new line does not run on from it. The
// descriptor is opened for reading too when regular is true (a pipe or a
// device just takes the bytes). Returns why the bytes did not go in, or
// nothing.
[[nodiscard]] QString appendWhole(int descriptor, const QByteArray &bytes, bool regular);
#endif

} // namespace tessary
