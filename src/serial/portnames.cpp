#include "serial/portnames.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>

namespace tessary {

// Natural order: runs of digits compare by value, so ttyUSB2 < ttyUSB10.
bool PortNames::naturalLess(const QString &a, const QString &b)
{
    int i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            int ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            const qulonglong x = a.mid(i, ei - i).toULongLong();
            const qulonglong y = b.mid(j, ej - j).toULongLong();
            if (x != y)
                return x < y;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

// The device itself, however the path reaches it: a symbolic link (a udev
// name, the simulator's --link) or a roundabout path.
QString PortNames::realDevice(const QString &path)
{
#ifdef Q_OS_UNIX
    const QFileInfo info(path);
    const QString real = info.canonicalFilePath();
    return real.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : real; // not there now
#else
    return path.toUpper(); // "COM3"
#endif
}

QString PortNames::device(int port) const { return m_devices.value(port); }

bool PortNames::exists(int port) const
{
    const QString path = device(port);
    return !path.isEmpty() && deviceExists(path);
}

bool PortNames::deviceExists(const QString &path)
{
#ifdef Q_OS_UNIX
    return QFileInfo::exists(path);
#else
    // A COM port is no file here: the system's list of ports knows it.
    return !QSerialPortInfo(path).isNull();
#endif
}

QString PortNames::caption(int port) const { return caption(port, device(port)); }

QString PortNames::caption(int port, const QString &path)
{
    const QString base = QStringLiteral("COM %1").arg(port);
    if (path.isEmpty())
        return base;
    return QStringLiteral("%1 (%2)").arg(base, shownName(path));
}

QString PortNames::shownName(const QString &path)
{
#ifdef Q_OS_UNIX
    const QString real = realDevice(path);
    // Devices under /dev keep their sub-folder (a pseudo-terminal is "pts/3").
    return real.startsWith(QLatin1String("/dev/")) ? real.mid(5) : QFileInfo(real).fileName();
#else
    return QFileInfo(path).fileName(); // "COM3"
#endif
}

std::optional<std::pair<int, QString>> PortNames::parseMapping(const QString &text, QString *error)
{
    static const QRegularExpression pattern(QStringLiteral("^COM([1-6])=(.+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const auto match = pattern.match(text);
    if (!match.hasMatch()) {
        if (error)
            *error = QStringLiteral("--port takes COMn=DEVICE with n from 1 to 6 (got \"%1\")").arg(text);
        return std::nullopt;
    }
    return std::make_pair(match.captured(1).toInt(), absoluteDevice(match.captured(2)));
}

QString PortNames::absoluteDevice(const QString &path)
{
#ifdef Q_OS_UNIX
    // QSerialPort would open a relative name under /dev, whatever the
    // current folder holds: the path is settled here, once.
    if (path.isEmpty() || QDir::isAbsolutePath(path))
        return path;
    const QString here = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    const QString underDev = QDir::cleanPath(QStringLiteral("/dev/") + path);
    if (!QFileInfo::exists(here) && underDev.startsWith(QLatin1String("/dev/")) && QFileInfo::exists(underDev))
        return underDev;
    return here;
#else
    return path;
#endif
}

std::optional<std::pair<int, int>> PortNames::sameDevice(const QMap<int, QString> &devices)
{
    QMap<QString, int> seen; // the device itself: its first slot
    for (auto it = devices.cbegin(); it != devices.cend(); ++it) {
        if (it.value().isEmpty())
            continue; // a slot without a device
        const QString real = realDevice(it.value());
        if (const auto first = seen.constFind(real); first != seen.cend())
            return std::make_pair(*first, it.key());
        seen.insert(real, it.key());
    }
    return std::nullopt;
}

QString PortNames::sharedDevice(const QMap<int, QString> &devices)
{
    const auto same = sameDevice(devices);
    if (!same)
        return {};
    return QStringLiteral("COM%1 (%2) and COM%3 (%4) are one device")
        .arg(same->first)
        .arg(devices.value(same->first))
        .arg(same->second)
        .arg(devices.value(same->second));
}

} // namespace tessary
