#include "serial/serialports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <linux/netlink.h>
#include <sys/socket.h>
#endif
#endif

namespace tessary {

namespace {

QString hex4(quint16 value) { return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')); }

#ifdef Q_OS_UNIX
const QString ByIdFolder = QStringLiteral("/dev/serial/by-id");

// A file's identity; "" when it is not there. For a folder also its size (on
// tmpfs it counts the entries) and its time stamp, which change as entries
// come and go. A device's own time stamp changes as it is used: left out.
QString stamp(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    QString text = QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino);
    if (S_ISDIR(st.st_mode)) {
        text += QStringLiteral(":%1:%2").arg(qint64(st.st_size)).arg(qint64(st.st_mtime));
#ifdef Q_OS_LINUX
        text += QStringLiteral(".%1").arg(qint64(st.st_mtim.tv_nsec));
#endif
    }
    return text;
}
#endif

} // namespace

QString SerialPortInfo::key() const
{
    if (!serialNumber.isEmpty())
        return QStringLiteral("serial:%1:%2:%3")
            .arg(vendorId ? hex4(*vendorId) : QString(), productId ? hex4(*productId) : QString(), serialNumber);
    if (!byId.isEmpty())
        return QStringLiteral("by-id:") + byId;
    return QStringLiteral("path:") + device;
}

QString SerialPortInfo::details() const
{
    QStringList parts;
    if (!description.isEmpty())
        parts << description;
    if (!manufacturer.isEmpty() && manufacturer != description)
        parts << manufacturer;
    if (!serialNumber.isEmpty())
        parts << QStringLiteral("serial ") + serialNumber;
    if (vendorId && productId)
        parts << QStringLiteral("USB %1:%2").arg(hex4(*vendorId), hex4(*productId));
    return parts.join(QStringLiteral(", "));
}

void SerialPorts::watch()
{
    if (m_watchers++ == 0)
        startWatching();
}

void SerialPorts::unwatch()
{
    if (m_watchers > 0 && --m_watchers == 0)
        stopWatching();
}

SystemSerialPorts::SystemSerialPorts(QObject *parent) : SerialPorts(parent)
{
    m_poll.setInterval(PollMs);
    connect(&m_poll, &QTimer::timeout, this, &SystemSerialPorts::poll);
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, &SerialPorts::changed);
}

SystemSerialPorts::~SystemSerialPorts() { stopWatching(); }

QList<SerialPortInfo> SystemSerialPorts::list() const
{
    // Looked at before the listing: a change meanwhile is told by the next poll.
    if (watchers() > 0)
        for (const QString &thing : lookedAt())
            if (!watchedPaths().contains(thing))
                m_seen.insert(thing, look(thing));
    return systemPorts();
}

QList<SerialPortInfo> SystemSerialPorts::systemPorts() const
{
    QHash<QString, QString> byId; // the device a by-id link leads to: the link's name
#ifdef Q_OS_UNIX
    const QFileInfoList links = QDir(ByIdFolder).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &link : links)
        byId.insert(link.canonicalFilePath(), link.fileName());
#endif
    QList<SerialPortInfo> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        SerialPortInfo port;
        port.device = info.systemLocation();
        port.description = info.description();
        port.manufacturer = info.manufacturer();
        port.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier())
            port.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            port.productId = info.productIdentifier();
        port.byId = byId.value(QFileInfo(port.device).canonicalFilePath());
        ports << port;
    }
    return ports;
}

bool SystemSerialPorts::exists(const QString &device) const
{
    // One look, which the watch takes as what the program saw of a watched path.
    const QString now = look(device);
    if (watchers() > 0 && watchedPaths().contains(device))
        m_seen.insert(device, now);
#ifdef Q_OS_UNIX
    return !now.startsWith(u'>');
#else
    return now.endsWith(u'+');
#endif
}

QString SystemSerialPorts::watchFacility() const
{
#ifdef Q_OS_LINUX
    // udevd's control socket: udev runs and announces its devices.
    if (QFileInfo::exists(QStringLiteral("/run/udev/control")))
        return QStringLiteral("udev");
#endif
    return QStringLiteral("poll");
}

int SystemSerialPorts::openUdevSocket() const
{
#ifdef Q_OS_LINUX
    if (watchFacility() == QLatin1String("udev")) {
        // udev's own group: its word comes once the device node, its
        // permissions and its by-id link are in place.
        const int socket = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
        sockaddr_nl address{};
        address.nl_family = AF_NETLINK;
        address.nl_groups = 2;
        if (socket >= 0 && ::bind(socket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
            return socket;
        if (socket >= 0)
            ::close(socket);
    }
#endif
    return -1;
}

void SystemSerialPorts::startWatching()
{
    m_socket = openUdevSocket();
    if (m_socket >= 0) {
        m_notifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &SystemSerialPorts::onUevent);
    }
    // Each thing looked at now takes its look anew (what an earlier watch
    // saw of something no longer looked at is never read).
    for (const QString &thing : lookedAt())
        m_seen.insert(thing, look(thing));
    // udev tells of its devices; the watched paths (and, without udev, the
    // device folder) are looked at on the beat.
    if (m_socket < 0 || !watchedPaths().isEmpty())
        m_poll.start();
}

void SystemSerialPorts::stopWatching()
{
    m_poll.stop();
    m_settle.stop();
    delete m_notifier;
    m_notifier = nullptr;
#ifdef Q_OS_UNIX
    if (m_socket >= 0)
        ::close(m_socket);
#endif
    m_socket = -1;
}

QStringList SystemSerialPorts::lookedAt() const
{
    QStringList things;
    if (m_socket < 0) {
#ifdef Q_OS_UNIX
        // A device node comes and goes in /dev, its by-id link in its folder:
        // each changes the folder's time stamp. One stat each.
        things << QStringLiteral("/dev") << ByIdFolder;
#else
        things << QString(); // the system's list of ports
#endif
    }
    return things + watchedPaths();
}

QString SystemSerialPorts::look(const QString &path)
{
#ifdef Q_OS_UNIX
    return stamp(path) + u'>' + QFileInfo(path).canonicalFilePath();
#else
    // A COM port is no file here: the system's list of ports knows it.
    if (!path.isEmpty())
        return path + (QSerialPortInfo(path).isNull() ? u'-' : u'+');
    QStringList ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        ports << info.systemLocation() + u'/' + info.serialNumber();
    return ports.join(u'|');
#endif
}

void SystemSerialPorts::poll()
{
    bool changed = false;
    for (const QString &thing : lookedAt()) {
        QString now = look(thing);
        if (m_seen.value(thing) != now) {
            m_seen.insert(thing, std::move(now));
            changed = true;
        }
    }
    if (changed)
        emit SerialPorts::changed();
}

void SystemSerialPorts::onUevent()
{
#ifdef Q_OS_LINUX
    char buffer[8192];
    bool tty = false;
    for (;;) {
        const ssize_t n = ::recv(m_socket, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        // Both udev's and the kernel's messages hold "SUBSYSTEM=tty" as one
        // of their NUL-separated properties.
        const QByteArray message = QByteArray::fromRawData(buffer, n);
        if (message.contains(QByteArrayView("SUBSYSTEM=tty\0", 14)))
            tty = true;
    }
    if (tty)
        m_settle.start();
#endif
}

} // namespace tessary
