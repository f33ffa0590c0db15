#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

class QSocketNotifier;

namespace tessary {

// One serial port the system lists, with what is known of its adapter.
struct SerialPortInfo {
    QString device; // "/dev/ttyUSB0"
    QString description;
    QString manufacturer;
    QString serialNumber;
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
    QString byId; // its name under /dev/serial/by-id, empty when none

    // What stays the same when the adapter is plugged in again, as another
    // device too: its serial number with its USB ids, else its by-id name,
    // else (a port that tells nothing of itself) its device path.
    [[nodiscard]] QString key() const;
    // "FT232R USB UART, FTDI, serial A10K3Z2Q, USB 0403:6001": what is known.
    [[nodiscard]] QString details() const;
    bool operator==(const SerialPortInfo &) const = default;
};

// The system's list of serial ports, and word of its changes. While somebody
// watches, changed() comes within a second of a listed device, or one of the
// watched paths (the --port devices), appearing or going; nobody watching,
// nothing runs. The program asks the system (SystemSerialPorts); tests
// script the list.
class SerialPorts : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The serial ports there now.
    [[nodiscard]] virtual QList<SerialPortInfo> list() const = 0;
    // Whether a device path is there now.
    [[nodiscard]] virtual bool exists(const QString &device) const = 0;

    // Counted: the watch runs from the first watch() to the last unwatch().
    void watch();
    void unwatch();
    [[nodiscard]] int watchers() const { return m_watchers; }
    // The paths whose coming and going is told too.
    void setWatchedPaths(const QStringList &paths) { m_paths = paths; }
    [[nodiscard]] const QStringList &watchedPaths() const { return m_paths; }

signals:
    void changed();

protected:
    virtual void startWatching() = 0;
    virtual void stopWatching() = 0;

private:
    int m_watchers = 0;
    QStringList m_paths;
};

// The machine's serial ports: QSerialPortInfo, with the by-id names. Where
// udev runs, its notifications (a netlink socket) say when a tty comes or
// goes, at no cost in between; elsewhere a light poll looks at the device
// folder's time stamps every 500 ms. The watched paths are looked at on the
// same beat (one stat each), as pseudo-terminals and links are no udev
// devices.
class SystemSerialPorts : public SerialPorts {
    Q_OBJECT
public:
    static constexpr int PollMs = 500;
    // How long after udev's word the list is read again (a burst of events).
    static constexpr int SettleMs = 50;

    explicit SystemSerialPorts(QObject *parent = nullptr);
    ~SystemSerialPorts() override;

    QList<SerialPortInfo> list() const override;
    bool exists(const QString &device) const override;
    // "udev" or "poll": how the watch runs (or would run) here.
    [[nodiscard]] QString watchFacility() const;

protected:
    void startWatching() override;
    void stopWatching() override;
    // The system's own answers, which tests script: its serial ports, and
    // udev's notification socket (-1 where udev does not run).
    [[nodiscard]] virtual QList<SerialPortInfo> systemPorts() const;
    [[nodiscard]] virtual int openUdevSocket() const;

private:
    // What the poll looks at: the device folders (where udev does not tell)
    // and the watched paths; and how each looks now.
    [[nodiscard]] QStringList lookedAt() const;
    [[nodiscard]] static QString look(const QString &path);
    void poll();
    void onUevent();

    int m_socket = -1; // the udev netlink socket while watching
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_poll;
    QTimer m_settle;
    // How each thing looked when the program last looked at it (a listing,
    // an exists(), a poll): a poll tells of a change against what the
    // program saw, so a device that came and went between a listing and the
    // next poll is told as gone.
    mutable QHash<QString, QString> m_seen;
};

} // namespace tessary
