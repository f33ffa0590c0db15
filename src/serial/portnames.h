#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace tessary {

// Which device is COM1 to COM6. Explicit mappings ("COM3=/dev/ttyUSB0") take
// their slot; the free slots are filled with the serial ports the system
// lists, in natural order of device name, skipping those already mapped.
class PortNames {
public:
    static constexpr int FirstPort = 1;
    static constexpr int LastPort = 6;

    PortNames() = default;
    // Builds the table from explicit mappings and the system's device list.
    PortNames(const QMap<int, QString> &explicitMappings, const QStringList &systemDevices);
    // The table for this machine: the mappings plus what QSerialPortInfo lists.
    static PortNames fromSystem(const QMap<int, QString> &explicitMappings = {});

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

    // Parses one --port value, "COMn=PATH" with n from 1 to 6, the path made
    // absolute (absoluteDevice). On failure returns nothing and sets *error
    // to a one-line reason.
    static std::optional<std::pair<int, QString>> parseMapping(const QString &text, QString *error);
    // A device path as typed, made absolute against the current folder; a
    // relative name found only under /dev ("ttyUSB0", "pts/3") is the one
    // there. Unchanged where ports are no files.
    [[nodiscard]] static QString absoluteDevice(const QString &path);
    // Why two of these slots name one device (the same path, or a link and
    // its target), naming both; empty when each names its own.
    [[nodiscard]] static QString sharedDevice(const QMap<int, QString> &devices);

private:
    QMap<int, QString> m_devices;
};

} // namespace tessary
