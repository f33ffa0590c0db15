#include "printer/csvlog.h"

#include "app/atomicsave.h"
#include "protocol/replytext.h"

#include <QFileInfo>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace tessary {

#ifdef Q_OS_UNIX
namespace {

// The lock the stations appending to one file share, held while it lives
// (a device or a pipe is not locked).
class FileLock {
public:
    FileLock(int descriptor, bool regular) : m_descriptor(descriptor), m_locked(regular && ::flock(descriptor, LOCK_EX) == 0) {}
    ~FileLock()
    {
        if (m_locked)
            ::flock(m_descriptor, LOCK_UN);
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

private:
    int m_descriptor;
    bool m_locked;
};

} // namespace
#endif

CsvLog::CsvLog(const QString &path) : m_file(path) {}

CsvLog::Opened CsvLog::open(QString *reason)
{
    const QFileInfo info(m_file.fileName());
    const bool regular = !info.exists() || info.isFile();
    m_regular = regular;
    if (regular && info.exists() && info.size() > 0) {
        // Rows of another shape (the log of an older version included) are
        // never appended to: the file would no longer read as one table.
        QFile existing(m_file.fileName());
        if (!existing.open(QIODevice::ReadOnly)) {
            *reason = existing.errorString();
            return Opened::Failed;
        }
        const QByteArray first = existing.readLine(4096).trimmed();
        if (first != header().toUtf8()) {
            *reason = QStringLiteral("holds rows under another header (\"%1\"); give a new file")
                          .arg(printableText(QString::fromUtf8(first)));
            return Opened::OtherHeader;
        }
    }
    // A device or a pipe takes the rows as they come (appending would seek,
    // which it cannot, and Qt would warn).
    const std::optional<int> pipe = openPipeForWriting(m_file.fileName(), reason);
    if (pipe && *pipe < 0)
        return Opened::Failed;
    if (!(pipe ? m_file.open(*pipe, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)
               : m_file.open(regular ? QIODevice::WriteOnly | QIODevice::Append : QIODevice::WriteOnly))) {
        *reason = m_file.errorString();
        return Opened::Failed;
    }
#ifdef Q_OS_UNIX
    // Two stations starting on one new file at once: the header is written
    // once, by whichever looks first under the lock.
    const FileLock lock(m_file.handle(), regular);
#endif
    if (m_file.size() == 0 && !put(header().toUtf8() + '\n', reason))
        return Opened::Failed;
    return Opened::Ok;
}

bool CsvLog::record(const BoardRow &row, QString *reason) { return put(line(row).toUtf8() + '\n', reason); }

bool CsvLog::put(const QByteArray &bytes, QString *reason)
{
#ifdef Q_OS_UNIX
    // A row goes in whole or not at all: a disk that fills up half-way
    // through it is given back the part written, so the file still ends with
    // its last whole row and the next run's row starts a line of its own.
    // Under the lock, as the stations beside this one append too.
    const int descriptor = m_file.handle();
    const FileLock lock(descriptor, m_regular);
    const off_t before = m_regular ? ::lseek(descriptor, 0, SEEK_END) : -1;
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(descriptor, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            if (before >= 0 && ::ftruncate(descriptor, before) != 0)
                *reason = QStringLiteral("%1; a part of the row stays in the file").arg(QString::fromLocal8Bit(std::strerror(error)));
            else
                *reason = QString::fromLocal8Bit(std::strerror(error));
            return false;
        }
        done += n;
    }
#else
    if (m_file.write(bytes) != bytes.size() || !m_file.flush()) {
        *reason = m_file.errorString();
        return false;
    }
#endif
#ifdef Q_OS_UNIX
    // On the disk before the next board's row; a pipe or a terminal has no
    // disk to sync to.
    if (::fdatasync(m_file.handle()) != 0 && errno != EINVAL && errno != EROFS) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
#endif
    return true;
}

QString CsvLog::header() { return BoardRow::columns().join(u','); }

QString CsvLog::field(const QString &text)
{
    const QString clean = printableText(text);
    const bool quote = clean.contains(u',') || clean.contains(u'"') || clean != clean.trimmed();
    if (!quote)
        return clean;
    QString quoted = clean;
    quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString CsvLog::line(const BoardRow &row)
{
    QStringList out;
    for (const QString &f : row.fields())
        out << field(f);
    return out.join(u',');
}

} // namespace tessary
