#pragma once

#include "serial/serialports.h"

#include <QFileInfo>

namespace tessary::test {

// The system's serial ports as a test scripts them: devices appear and go,
// telling the watchers at once (as udev does) or unseen (between two looks
// of a poll). A path not listed exists when the file does.
class ScriptedPorts : public SerialPorts {
public:
    QList<SerialPortInfo> list() const override { return ports; }
    bool exists(const QString &device) const override
    {
        return std::any_of(ports.cbegin(), ports.cend(), [&](const auto &p) { return p.device == device; })
            || QFileInfo::exists(device);
    }
    // Devices that tell nothing but their paths.
    void setDevices(const QStringList &devices)
    {
        ports.clear();
        for (const QString &device : devices)
            ports.append({device, {}, {}, {}, {}, {}, {}});
    }
    void plug(const SerialPortInfo &port) { ports.append(port), tell(); }
    void unplug(const QString &device, bool told = true)
    {
        ports.removeIf([&](const SerialPortInfo &p) { return p.device == device; });
        if (told)
            tell();
    }
    // The word of a change, while somebody watches.
    void tell()
    {
        if (watchers() > 0)
            emit changed();
    }

    QList<SerialPortInfo> ports;

protected:
    void startWatching() override {}
    void stopWatching() override {}
};

} // namespace tessary::test
