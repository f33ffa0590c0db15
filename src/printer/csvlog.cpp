#include "printer/csvlog.h"

#include "protocol/replytext.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace tessary {

CsvLog::CsvLog(const QString &path) : m_file(path) {}

CsvLog::Opened CsvLog::open(QString *reason)
{
    const QFileInfo info(m_file.fileName());
    const bool regular = !info.exists() || info.isFile();
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
    if (!m_file.open(regular ? QIODevice::WriteOnly | QIODevice::Append : QIODevice::WriteOnly)) {
        *reason = m_file.errorString();
        return Opened::Failed;
    }
#ifdef Q_OS_UNIX
    // Two stations starting on one new file at once: the header is written
    // once, by whichever looks first under the lock.
    const int descriptor = m_file.handle();
    const bool locked = regular && ::flock(descriptor, LOCK_EX) == 0;
    const auto unlock = qScopeGuard([&] {
        if (locked)
            ::flock(descriptor, LOCK_UN);
    });
#endif
    if (m_file.size() == 0 && !put(header().toUtf8() + '\n', reason))
        return Opened::Failed;
    return Opened::Ok;
}

bool CsvLog::record(const BoardRow &row, QString *reason) { return put(line(row).toUtf8() + '\n', reason); }

bool CsvLog::put(const QByteArray &bytes, QString *reason)
{
    if (m_file.write(bytes) != bytes.size() || !m_file.flush()) {
        *reason = m_file.errorString();
        return false;
    }
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
