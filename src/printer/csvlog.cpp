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
    // which it cannot, and Qt would warn); a file is read too, for its last
    // line's end.
    const std::optional<int> pipe = openPipeForWriting(m_file.fileName(), reason);
    if (pipe && *pipe < 0)
        return Opened::Failed;
    if (!(pipe ? m_file.open(*pipe, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)
               : m_file.open(regular ? QIODevice::ReadWrite | QIODevice::Append : QIODevice::WriteOnly))) {
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
    // Under the lock, as the stations beside this one append too.
    const FileLock lock(m_file.handle(), m_regular);
    if (const QString failed = appendWhole(m_file.handle(), bytes, m_regular); !failed.isEmpty()) {
        *reason = failed;
        return false;
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
