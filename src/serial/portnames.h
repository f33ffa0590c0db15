#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace tessary {

// Which device is COM1 to COM6: a slot's device path, or none. ComSlots fills
// the table from the system's serial ports and the --port mappings.
class PortNames {
public:
    static constexpr int FirstPort = 1;
    static constexpr int LastPort = 6;

    PortNames() = default;
    explicit PortNames(const QMap<int, QString> &devices) : m_devices(devices) {}

    // The device path of COMn, empty when the slot is free.
    [[nodiscard]] QString device(int port) const;
    // Whether COMn names a device that is there now.
    [[nodiscard]] bool exists(int port) const;
    // Whether a device path names a device that is there now: a file on
    // Unix, a port the system lists elsewhere.
    [[nodiscard]] static bool deviceExists(const QString &path);
    // "COM 1 (ttyUSB0)", or "COM 1" when the slot is free.
    [[nodiscard]] QString caption(int port) const;
    // The same for a device path (empty: the slot is free).
    [[nodiscard]] static QString caption(int port, const QString &device);
    // How a device is shown: "ttyUSB0", "pts/3"; a link shows where it leads.
    [[nodiscard]] static QString shownName(const QString &device);
    // The device itself, however the path reaches it (a link, a roundabout path).
    [[nodiscard]] static QString realDevice(const QString &path);
    // Natural order: runs of digits compare by value, so ttyUSB2 < ttyUSB10.
    [[nodiscard]] static bool naturalLess(const QString &a, const QString &b);

    // Parses one --port value, "COMn=PATH" with n from 1 to 6, the path made
    // absolute (absoluteDevice). On failure returns nothing and sets *error
    // to a one-line reason.
    static std::optional<std::pair<int, QString>> parseMapping(const QString &text, QString *error);
    // A device path as typed, made absolute against the current folder; a
    // relative name found only under /dev ("ttyUSB0", "pts/3") is the one
    // there. Unchanged where ports are no files.
    [[nodiscard]] static QString absoluteDevice(const QString &path);
    // The first two of these slots (or places) that name one device: the
    // same path, or a link and its target; nothing when each names its own.
    [[nodiscard]] static std::optional<std::pair<int, int>> sameDevice(const QMap<int, QString> &devices);
    // Why two of these slots name one device, naming both; empty when each
    // names its own.
    [[nodiscard]] static QString sharedDevice(const QMap<int, QString> &devices);

private:
    QMap<int, QString> m_devices;
};

} // namespace tessary
