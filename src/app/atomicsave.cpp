#include "app/atomicsave.h"

#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tessary {

QString notARegularFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return {};
    if (info.isDir())
        return QStringLiteral("it is a folder, not a file");
#ifdef Q_OS_UNIX
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) == 0) {
        if (S_ISFIFO(status.st_mode))
            return QStringLiteral("it is a named pipe (FIFO), not a file");
        if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
            return QStringLiteral("it is a device, not a file");
        if (S_ISSOCK(status.st_mode))
            return QStringLiteral("it is a socket, not a file");
    }
#endif
    return QStringLiteral("it is not a regular file");
}

QString followLink(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() && info.exists() ? info.canonicalFilePath() : path;
}

bool sameFile(const QString &first, const QString &second)
{
    // A link to a file not made yet names the file it will make.
    const auto target = [](const QString &path) {
        const QFileInfo info(path);
        return info.isSymLink() && !info.exists() ? info.symLinkTarget() : path;
    };
    const QFileInfo one(target(first)), other(target(second));
    if (one.exists() != other.exists())
        return false;
    if (!one.exists()) {
        const auto made = [](const QFileInfo &info) {
            const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
            return folder.isEmpty() ? info.absoluteFilePath() : folder + u'/' + info.fileName();
        };
        return made(one) == made(other);
    }
#ifdef Q_OS_UNIX
    struct stat a = {}, b = {};
    if (::stat(QFile::encodeName(first).constData(), &a) == 0 && ::stat(QFile::encodeName(second).constData(), &b) == 0)
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
#endif
    return one.canonicalFilePath() == other.canonicalFilePath();
}

std::optional<int> openPipeForWriting(const QString &path, QString *reason)
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    struct stat status = {};
    if (::stat(name.constData(), &status) != 0 || !S_ISFIFO(status.st_mode))
        return std::nullopt;
    // Without waiting: a pipe nobody reads refuses a writer at once.
    const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        *reason = errno == ENXIO ? QStringLiteral("no program reads the named pipe")
                                 : QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
#else
    Q_UNUSED(path);
    Q_UNUSED(reason);
    return std::nullopt;
#endif
}

#ifdef Q_OS_UNIX
QString appendWhole(int descriptor, const QByteArray &bytes, bool regular)
{
    const off_t before = regular ? ::lseek(descriptor, 0, SEEK_END) : -1;
    char last = '\n';
    const QByteArray out =
        before > 0 && ::pread(descriptor, &last, 1, before - 1) == 1 && last != '\n' ? '\n' + bytes : bytes;
    for (qsizetype done = 0; done < out.size();) {
        const ssize_t n = ::write(descriptor, out.constData() + done, size_t(out.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const QString reason = QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENOSPC));
            if (before >= 0 && ::ftruncate(descriptor, before) != 0)
                return reason + QStringLiteral("; a part of the line stays in the file");
            return reason;
        }
        done += n;
    }
    return {};
}
#endif

QString saveAtomically(const QString &path, const QByteArray &bytes, const SaveFilter &filter)
{
    if (QString reason = notARegularFile(path); !reason.isEmpty())
        return reason;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QString reason;
    std::unique_ptr<QIODevice> filtered = filter ? filter(file) : nullptr;
    QIODevice &out = filtered ? *filtered : file;
    const qint64 written = out.write(bytes);
    if (written != bytes.size())
        reason = written < 0 ? out.errorString()
                             : QStringLiteral("only %1 of %2 bytes could be written").arg(written).arg(bytes.size());
    filtered.reset();
    // Push the bytes to the disk before committing: a full disk must be met
    // here. Qt 6.4's commit() would otherwise put the short (even empty)
    // temporary file in place of the old one and report success.
    if (reason.isEmpty() && (!file.flush() || !file.isOpen()))
        reason = file.errorString();
    if (!reason.isEmpty())
        file.cancelWriting();
    // After cancelWriting() commit() only removes the temporary file.
    if (!file.commit() && reason.isEmpty())
        reason = file.errorString();
    return reason;
}

} // namespace tessary
