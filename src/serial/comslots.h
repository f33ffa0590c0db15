#pragma once

#include "serial/portnames.h"
#include "serial/serialports.h"

#include <QList>
#include <QMap>
#include <QObject>

#include <array>
#include <memory>

class QSettings;

namespace tessary {

struct RecordedPath;

// A device that came into a COM slot or left it.
struct SlotEvent {
    int port = 0;
    QString device;
    bool plugged = false; // came; false: went
    SerialPortInfo adapter;
    QString name; // as shown while it was there: "ttyUSB0", "pts/3"
    // "COM3: ttyUSB0 plugged in", "COM3: ttyUSB0 unplugged".
    [[nodiscard]] QString text() const;
};

// One COM slot as it stands.
struct ComSlot {
    QString device;         // in the slot now, or given with --port; empty: the slot is free
    bool present = false;   // the device is there
    bool mapped = false;    // given with --port
    SerialPortInfo adapter; // what the system says of the device
    QString name;           // the device as shown while it was there ("pts/3" for a link to it)
    // The adapter a free slot is kept for; empty when none.
    SerialPortInfo remembered;
};

// COM1 to COM6 as they follow the system's serial ports while the program
// runs. A --port mapping holds its slot. A present device keeps its slot.
// A device that appears takes the slot its adapter had before (by
// SerialPortInfo::key: serial number and USB ids, by-id name, path) when
// that slot is free, else the lowest free slot no adapter is kept for, else
// the free slot whose adapter was seen longest ago: a slot's memory gives
// way only when the slots are full. The memory is kept in the settings, so
// the desktop program and `tessary` share it, across runs.
class ComSlots : public QObject {
    Q_OBJECT
public:
    // Reads the system's list once. Settings: the user's own in the
    // programs (userSettings()), a file of their own in tests; null: nothing
    // is remembered beyond this run. keep false: a look that keeps nothing
    // for later (a name to resolve).
    ComSlots(SerialPorts &system, QSettings *settings, const QMap<int, QString> &mappings = {}, bool keep = true,
             QObject *parent = nullptr);
    ~ComSlots() override;

    // Where the programs keep the memory: the user's settings file. Null
    // when that file is something else than a regular file (a link to a
    // device, a FIFO, a socket): it is never read nor replaced, and the
    // problem says so in words.
    [[nodiscard]] static std::unique_ptr<QSettings> userSettings(QString *problem);

    // Follows the system's list now; changed() says what came and went.
    void refresh();
    // Follows the system's word of changes from the first watch() to the
    // last unwatch() (the port selection window is open), after a refresh.
    void watch();
    void unwatch();

    [[nodiscard]] ComSlot slot(int port) const;
    // The devices as the serial lines take them.
    [[nodiscard]] PortNames table() const;
    // "The adapter of COM3 (ttyUSB0) is gone: ..." when a device stood in
    // the slot (or was given for it) and is not there now; empty otherwise.
    [[nodiscard]] QString goneMessage(int port) const;

    // The windows' serial path: refreshed before every command, a device
    // that comes or goes noted in its record, and a failed opening of a slot
    // whose adapter is gone said as such.
    void serve(RecordedPath &path);

signals:
    void changed(const QList<SlotEvent> &events);

private:
    struct Memory {
        SerialPortInfo adapter; // key() names it; empty device: nothing kept
        qint64 used = 0;        // when it was last in or out
    };
    void load();
    void save(int port);
    void remember(int port, const SerialPortInfo &adapter);

    SerialPorts &m_system;
    QSettings *m_settings = nullptr;
    QMap<int, QString> m_mappings;
    std::array<ComSlot, PortNames::LastPort + 1> m_slots{};
    std::array<Memory, PortNames::LastPort + 1> m_memory{};
    qint64 m_uses = 0;
    int m_watching = 0;
    bool m_keep = true;
};

} // namespace tessary
