#include "printer/serialfile.h"

#include "app/atomicsave.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QLockFile>
#endif


namespace tessary {

namespace {

// The largest number a file may hold: its identities never need more digits.
constexpr qint64 Largest = 9'999'999'999'999'999;

// The next number from the file's bytes; empty bytes: none yet.
std::optional<std::optional<qint64>> parse(const QString &path, const QByteArray &bytes, QString *error)
{
    const QByteArray text = bytes.trimmed();
    if (text.isEmpty())
        return std::optional<qint64>();
    bool digits = text.size() <= 16;
    for (const char c : text)
        digits = digits && c >= '0' && c <= '9';
    if (!digits) {
        *error = QStringLiteral("the serial file %1 holds \"%2\", not the next number")
                     .arg(path, QString::fromLatin1(text.left(40)));
        return std::nullopt;
    }
    return std::optional<qint64>(text.toLongLong());
}

QByteArray numberBytes(qint64 next) { return QByteArray::number(next) + '\n'; }

// Why the numbers first ... first + count - 1 cannot be handed out: beyond
// what a file may hold, or refused by the run's check; empty when they can.
QString refusal(const QString &path, qint64 first, qint64 count, const NumberCheck &check)
{
    if (first > Largest - count)
        return QStringLiteral("the serial file %1 holds %2: no more numbers").arg(path).arg(first);
    return check ? check(first, count) : QString();
}

QList<qint64> numbersFrom(qint64 first, qint64 count)
{
    QList<qint64> numbers;
    for (qint64 n = first; n < first + count; ++n)
        numbers << n;
    return numbers;
}

} // namespace

SerialFile::SerialFile(QString path, std::optional<qint64> start) : m_path(std::move(path)), m_start(start) {}

std::optional<std::optional<qint64>> SerialFile::peek(const QString &path, QString *error)
{
    if (const QString reason = notARegularFile(path); !reason.isEmpty()) {
        *error = QStringLiteral("the serial file %1: %2").arg(path, reason);
        return std::nullopt;
    }
#ifdef Q_OS_UNIX
    // The next number replaces the file: any other name of it would keep the old one and hand it out again.
    if (struct stat status = {}; ::stat(QFile::encodeName(path).constData(), &status) == 0 && status.st_nlink > 1) {
        *error = QStringLiteral("the serial file %1 has %2 names (hard links), which would keep numbers already given; "
                                "give a file of one name")
                     .arg(path)
                     .arg(qulonglong(status.st_nlink));
        return std::nullopt;
    }
#endif
    QFile file(path);
    if (!file.exists())
        return std::optional<qint64>();
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the serial file %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return parse(path, file.read(64), error);
}

#ifdef Q_OS_UNIX

std::optional<QList<qint64>> SerialFile::take(const QStringList &boards, const NumberCheck &check, QString *error)
{
    if (boards.isEmpty())
        return QList<qint64>();
    // A link is followed: the number lives in the file it names.
    const QFileInfo info(m_path);
    const QString path = info.isSymLink() ? info.symLinkTarget() : m_path;
    const QByteArray name = QFile::encodeName(path);
    const auto failed = [&](const QString &what) {
        *error = QStringLiteral("%1 the serial file %2: %3").arg(what, m_path, QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    };
    if (const QString reason = notARegularFile(path); !reason.isEmpty()) {
        *error = QStringLiteral("the serial file %1: %2").arg(m_path, reason);
        return std::nullopt;
    }

    // The lock is the file's own. A run that renamed a new file over it lets
    // go of the old one: a run that waited on that one locks the new file.
    int fd = -1;
    const QDeadlineTimer deadline(LockWaitMs);
    for (;;) {
        fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | (m_start ? O_CREAT : 0), 0644);
        if (fd < 0) {
            if (errno == ENOENT && !m_start)
                *error = QStringLiteral("the serial file %1 does not exist; give --serial-start N to begin it at N")
                             .arg(m_path);
            else
                failed(m_start ? QStringLiteral("cannot open or create") : QStringLiteral("cannot open"));
            return std::nullopt;
        }
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired()) {
                const bool busy = errno == EWOULDBLOCK;
                ::close(fd);
                if (busy)
                    *error = QStringLiteral("another run has held the serial file %1 for %2 s; nothing was taken")
                                 .arg(m_path)
                                 .arg(LockWaitMs / 1000);
                else
                    failed(QStringLiteral("cannot lock"));
                return std::nullopt;
            }
            QThread::msleep(5);
        }
        struct stat held = {}, now = {};
        if (::fstat(fd, &held) == 0 && ::stat(name.constData(), &now) == 0 && held.st_dev == now.st_dev
            && held.st_ino == now.st_ino)
            break;
        ::close(fd);
    }
    struct stat held = {};
    ::fstat(fd, &held);
    // Closing lets go of the lock: after the new file is in place.
    const auto unlock = [fd] { ::close(fd); };

    QByteArray bytes(64, '\0');
    const ssize_t got = ::pread(fd, bytes.data(), size_t(bytes.size()), 0);
    if (got < 0) {
        failed(QStringLiteral("cannot read"));
        unlock();
        return std::nullopt;
    }
    bytes.truncate(got);
    std::optional<std::optional<qint64>> heldNumber = parse(m_path, bytes, error);
    if (!heldNumber || (!*heldNumber && !m_start)) {
        if (heldNumber)
            *error = QStringLiteral("the serial file %1 is empty; give --serial-start N to begin it at N").arg(m_path);
        unlock();
        return std::nullopt;
    }
    const qint64 first = heldNumber->value_or(*m_start);
    const qint64 count = boards.size();
    if (QString refused = refusal(m_path, first, count, check); !refused.isEmpty()) {
        *error = refused;
        // A file this run's opening made, still empty, goes again: a refused run leaves nothing behind.
        if (!*heldNumber && held.st_size == 0)
            ::unlink(name.constData());
        unlock();
        return std::nullopt;
    }

    // The number after the last one taken: a new file beside it, synced, renamed over it, the folder synced.
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    QByteArray temporary = name + ".XXXXXX";
    const int out = ::mkstemp(temporary.data());
    if (out < 0) {
        failed(QStringLiteral("cannot write beside"));
        unlock();
        return std::nullopt;
    }
    const QByteArray next = numberBytes(first + count);
    bool written = ::fchmod(out, held.st_mode & 07777) == 0 && ::write(out, next.constData(), size_t(next.size())) == next.size()
                   && ::fsync(out) == 0;
    written = ::close(out) == 0 && written;
    if (!written || ::rename(temporary.constData(), name.constData()) != 0) {
        failed(QStringLiteral("cannot write"));
        ::unlink(temporary.constData());
        unlock();
        return std::nullopt;
    }
    const int directory = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = directory >= 0 && ::fsync(directory) == 0;
    if (directory >= 0)
        ::close(directory);
    unlock();
    if (!synced) { // in place, perhaps not on the disk yet: spent, but no board is written
        failed(QStringLiteral("cannot sync the folder of"));
        return std::nullopt;
    }
    return numbersFrom(first, count);
}

#else

// Without POSIX locks: a lock file beside it, and the save's own rename.
std::optional<QList<qint64>> SerialFile::take(const QStringList &boards, const NumberCheck &check, QString *error)
{
    if (boards.isEmpty())
        return QList<qint64>();
    QLockFile lock(m_path + QStringLiteral(".lock"));
    if (!lock.tryLock(LockWaitMs)) {
        *error = QStringLiteral("cannot lock the serial file %1; nothing was taken").arg(m_path);
        return std::nullopt;
    }
    const auto held = peek(m_path, error);
    if (!held)
        return std::nullopt;
    if (!*held && !m_start) {
        *error = QStringLiteral("the serial file %1 does not exist; give --serial-start N to begin it at N").arg(m_path);
        return std::nullopt;
    }
    const qint64 first = held->value_or(*m_start);
    const qint64 count = boards.size();
    if (QString refused = refusal(m_path, first, count, check); !refused.isEmpty()) {
        *error = refused;
        return std::nullopt;
    }
    if (const QString reason = saveAtomically(m_path, numberBytes(first + count)); !reason.isEmpty()) {
        *error = QStringLiteral("cannot write the serial file %1: %2").arg(m_path, reason);
        return std::nullopt;
    }
    return numbersFrom(first, count);
}

#endif

} // namespace tessary
