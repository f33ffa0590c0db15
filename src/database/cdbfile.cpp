#include "database/cdbfile.h"

#include <QBuffer>
#include <QIODevice>

namespace tessary::cdb {

namespace {

enum class Got { All, Short, Error };

// Reads exactly `size` bytes; read() gives 0 at the end and -1 on an error.
Got readExactly(QIODevice &device, qint64 size, QByteArray &out)
{
    out.resize(size);
    qint64 done = 0;
    while (done < size) {
        const qint64 n = device.read(out.data() + done, size - done);
        if (n < 0)
            return Got::Error;
        if (n == 0)
            return Got::Short;
        done += n;
    }
    return Got::All;
}

QString trimTrailingSpaces(const QByteArray &field)
{
    qsizetype end = field.size();
    while (end > 0 && field.at(end - 1) == ' ')
        --end;
    return QString::fromLatin1(field.constData(), end);
}

ReadResult failure(ReadResult::Status status, const QString &reason)
{
    ReadResult result;
    result.status = status;
    result.reason = reason;
    return result;
}

ReadResult readError(QIODevice &device)
{
    return failure(ReadResult::Status::ReadError,
                   QStringLiteral("The file could not be read (%1).").arg(device.errorString()));
}

ReadResult truncated(int expected, int complete)
{
    return failure(ReadResult::Status::Truncated,
                   QStringLiteral("The file ends before its %1 entries are complete "
                                  "(only %2 complete).")
                       .arg(expected)
                       .arg(complete));
}

} // namespace

ReadResult read(QIODevice &device)
{
    QByteArray bytes;
    Got got = readExactly(device, MagicSize, bytes);
    if (got == Got::Error)
        return readError(device);
    if (got == Got::Short || bytes != QByteArray(Magic, MagicSize))
        return failure(ReadResult::Status::NotADatabase,
                       QStringLiteral("The file does not begin with the database file mark."));

    // The count, then two bytes that are never looked at.
    got = readExactly(device, 3, bytes);
    if (got == Got::Error)
        return readError(device);
    if (got == Got::Short)
        return failure(ReadResult::Status::Truncated,
                       QStringLiteral("The file ends inside its header."));
    const int count = static_cast<unsigned char>(bytes.at(0));

    ReadResult result;
    result.entries.reserve(count);
    for (int i = 0; i < count; ++i) {
        got = readExactly(device, RecordSize, bytes);
        if (got == Got::Error)
            return readError(device);
        if (got == Got::Short)
            return truncated(count, i);
        // The record's last two bytes (its line end) are skipped unseen.
        result.entries.append({trimTrailingSpaces(bytes.left(NameSize)),
                               QString::fromLatin1(bytes.mid(NameSize, CodeSize))});
    }
    return result;
}

ReadResult read(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return read(buffer);
}

bool encodable(const QList<DatabaseEntry> &entries) { return entries.size() <= MaxEntries; }

QByteArray encode(const QList<DatabaseEntry> &entries)
{
    if (!encodable(entries))
        return {};
    QByteArray bytes(Magic, MagicSize);
    bytes += char(entries.size());
    bytes += "\r\n";
    for (const DatabaseEntry &entry : entries) {
        // Cut to 16 characters first, then fill: a longer name keeps its start.
        bytes += entry.name.left(NameSize).toLatin1().leftJustified(NameSize, ' ');
        // The code goes out exactly as held: neither filled nor checked.
        bytes += entry.code.toLatin1();
        bytes += "\r\n";
    }
    return bytes;
}

QByteArray newDatabaseBytes()
{
    return QByteArray(Magic, MagicSize) + QByteArray("\0\0\r\n", 4);
}

} // namespace tessary::cdb
