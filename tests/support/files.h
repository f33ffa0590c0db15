#pragma once

#include <QFile>

namespace tessary::test {

// The bytes of a file; `missing` when it cannot be read.
inline QByteArray fileBytes(const QString &path, const QByteArray &missing = {})
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : missing;
}

// Writes the bytes (or, with Append, adds them); whether all of them went.
inline bool writeFile(const QString &path, const QByteArray &bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    return file.open(mode) && file.write(bytes) == bytes.size() && file.flush();
}

// A record of a .cdb file: the name filled to 16 characters with spaces, the code, CR LF.
inline QByteArray record(const QByteArray &name, const QByteArray &code) { return name.leftJustified(16, ' ') + code + "\r\n"; }

} // namespace tessary::test
