#include "serial/comslots.h"

#include "serial/recordedpath.h"

#include "app/atomicsave.h"

#include <QPointer>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

namespace tessary {

namespace {

const QString Group = QStringLiteral("ComSlots");

QString slotGroup(int port) { return Group + QStringLiteral("/COM%1/").arg(port); }

} // namespace

QString SlotEvent::text() const
{
    return QStringLiteral("COM%1: %2 %3")
        .arg(port)
        .arg(name, plugged ? QStringLiteral("plugged in") : QStringLiteral("unplugged"));
}

ComSlots::ComSlots(SerialPorts &system, QSettings *settings, const QMap<int, QString> &mappings, bool keep,
                   QObject *parent)
    : QObject(parent), m_system(system), m_settings(settings), m_mappings(mappings), m_keep(keep && settings)
{
    m_system.setWatchedPaths(mappings.values());
    connect(&m_system, &SerialPorts::changed, this, &ComSlots::refresh);
    refresh();
}

ComSlots::~ComSlots()
{
    while (m_watching > 0)
        unwatch();
}

std::unique_ptr<QSettings> ComSlots::userSettings(QString *problem)
{
    // Where QSettings keeps the user's file on this system; made before the
    // file is touched, for a device or a FIFO must not be read (it may never
    // end) nor replaced (QSettings saves by renaming a new file over it).
#ifdef Q_OS_UNIX
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                       + QStringLiteral("/Tessary/Tessary Configurator.conf");
    if (const QString what = notARegularFile(path); !what.isEmpty()) {
        *problem = QStringLiteral("the COM slots cannot be kept in %1: %2; they are not remembered beyond "
                                  "this run")
                       .arg(path, what);
        return nullptr;
    }
#else
    Q_UNUSED(problem);
#endif
    return std::make_unique<QSettings>(QStringLiteral("Tessary"), QStringLiteral("Tessary Configurator"));
}

void ComSlots::load()
{
    if (!m_settings)
        return;
    m_settings->sync(); // what another program wrote meanwhile
    m_uses = m_settings->value(Group + QStringLiteral("/uses")).toLongLong();
    for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port) {
        const QString group = slotGroup(port);
        Memory &memory = m_memory[port];
        memory = {};
        SerialPortInfo &adapter = memory.adapter;
        adapter.device = m_settings->value(group + QStringLiteral("device")).toString();
        adapter.description = m_settings->value(group + QStringLiteral("description")).toString();
        adapter.manufacturer = m_settings->value(group + QStringLiteral("manufacturer")).toString();
        adapter.serialNumber = m_settings->value(group + QStringLiteral("serialNumber")).toString();
        adapter.byId = m_settings->value(group + QStringLiteral("byId")).toString();
        for (auto [name, id] : {std::pair{"vendorId", &adapter.vendorId}, std::pair{"productId", &adapter.productId}}) {
            bool ok = false;
            const uint value = m_settings->value(group + QLatin1String(name)).toUInt(&ok);
            if (ok && value <= 0xFFFF)
                *id = quint16(value);
        }
        memory.used = m_settings->value(group + QStringLiteral("used")).toLongLong();
    }
}

void ComSlots::save(int port)
{
    if (!m_keep)
        return;
    const QString group = slotGroup(port);
    const Memory &memory = m_memory[port];
    const SerialPortInfo &adapter = memory.adapter;
    m_settings->remove(group.chopped(1));
    if (!adapter.device.isEmpty()) {
        m_settings->setValue(group + QStringLiteral("device"), adapter.device);
        m_settings->setValue(group + QStringLiteral("description"), adapter.description);
        m_settings->setValue(group + QStringLiteral("manufacturer"), adapter.manufacturer);
        m_settings->setValue(group + QStringLiteral("serialNumber"), adapter.serialNumber);
        m_settings->setValue(group + QStringLiteral("byId"), adapter.byId);
        if (adapter.vendorId)
            m_settings->setValue(group + QStringLiteral("vendorId"), *adapter.vendorId);
        if (adapter.productId)
            m_settings->setValue(group + QStringLiteral("productId"), *adapter.productId);
        m_settings->setValue(group + QStringLiteral("used"), memory.used);
    }
    m_settings->setValue(Group + QStringLiteral("/uses"), m_uses);
}

void ComSlots::remember(int port, const SerialPortInfo &adapter)
{
    // An adapter is kept for one slot.
    for (int other = PortNames::FirstPort; other <= PortNames::LastPort; ++other) {
        if (other != port && !m_memory[other].adapter.device.isEmpty()
            && m_memory[other].adapter.key() == adapter.key()) {
            m_memory[other] = {};
            save(other);
        }
    }
    m_memory[port] = {adapter, ++m_uses};
    save(port);
}

void ComSlots::refresh()
{
    load();
    const QList<SerialPortInfo> listed = m_system.list();
    std::array<ComSlot, PortNames::LastPort + 1> next{};

    QStringList mapped; // the devices themselves, however the mappings reach them
    for (auto it = m_mappings.cbegin(); it != m_mappings.cend(); ++it) {
        ComSlot &slot = next[it.key()];
        slot.device = it.value();
        slot.mapped = true;
        slot.present = m_system.exists(slot.device);
        slot.adapter.device = slot.device;
        const QString real = PortNames::realDevice(slot.device);
        for (const SerialPortInfo &info : listed) {
            if (PortNames::realDevice(info.device) == real) {
                slot.adapter = info; // a link to a listed device tells of its adapter
                slot.adapter.device = slot.device;
            }
        }
        mapped << real;
    }
    QList<SerialPortInfo> waiting; // listed and in no slot yet
    for (const SerialPortInfo &info : listed) {
        const bool seen = std::any_of(waiting.cbegin(), waiting.cend(),
                                      [&](const SerialPortInfo &w) { return w.device == info.device; });
        if (!seen && !mapped.contains(PortNames::realDevice(info.device)))
            waiting << info;
    }
    std::sort(waiting.begin(), waiting.end(),
              [](const SerialPortInfo &a, const SerialPortInfo &b) { return PortNames::naturalLess(a.device, b.device); });

    auto isFree = [&](int port) { return !next[port].mapped && next[port].device.isEmpty(); };
    auto take = [&](int port, const SerialPortInfo &info) {
        next[port].device = info.device;
        next[port].present = true;
        next[port].adapter = info;
    };
    // A present device keeps its slot (udev may have told more of it since).
    for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port) {
        const ComSlot &was = m_slots[port];
        if (was.mapped || !was.present || !isFree(port))
            continue;
        const auto it = std::find_if(waiting.begin(), waiting.end(),
                                     [&](const SerialPortInfo &info) { return info.device == was.device; });
        if (it == waiting.end())
            continue;
        take(port, *it);
        if (!(m_memory[port].adapter == *it))
            remember(port, *it);
        waiting.erase(it);
    }
    // An adapter that comes back takes its slot when that is free.
    for (auto it = waiting.begin(); it != waiting.end();) {
        int port = PortNames::FirstPort;
        while (port <= PortNames::LastPort
               && (m_memory[port].adapter.device.isEmpty() || m_memory[port].adapter.key() != it->key()))
            ++port;
        if (port <= PortNames::LastPort && isFree(port)) {
            take(port, *it);
            remember(port, *it);
            it = waiting.erase(it);
        } else {
            ++it;
        }
    }
    // The others: the lowest free slot no adapter is kept for, else the
    // free slot whose adapter was seen longest ago.
    auto freeSlot = [&] {
        int oldest = 0;
        for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port) {
            if (!isFree(port))
                continue;
            if (m_memory[port].adapter.device.isEmpty())
                return port;
            if (oldest == 0 || m_memory[port].used < m_memory[oldest].used)
                oldest = port;
        }
        return oldest;
    };
    // A device whose own slot a --port mapping holds for this run is lent another and keeps its own.
    auto lent = [&](const SerialPortInfo &info) {
        for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port)
            if (next[port].mapped && !m_memory[port].adapter.device.isEmpty() && m_memory[port].adapter.key() == info.key())
                return true;
        return false;
    };
    for (const SerialPortInfo &info : std::as_const(waiting)) {
        const int port = freeSlot();
        if (port == 0)
            break; // six slots, all taken: the rest wait for one
        take(port, info);
        if (!lent(info))
            remember(port, info);
    }

    QList<SlotEvent> events;
    for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port) {
        const ComSlot &was = m_slots[port];
        ComSlot &now = next[port];
        const QString before = was.present ? was.device : QString();
        const QString after = now.present ? now.device : QString();
        // A link that is gone no longer says where it led: the name it had stays.
        if (!now.device.isEmpty())
            now.name = now.present || now.device != was.device ? PortNames::shownName(now.device) : was.name;
        if (before != after) {
            if (!before.isEmpty()) {
                events.append({port, before, false, was.adapter, was.name});
                // The adapter was last seen now: the age of its memory counts from here.
                if (!was.mapped && m_memory[port].adapter.key() == was.adapter.key()) {
                    m_memory[port].used = ++m_uses;
                    save(port);
                }
            }
            if (!after.isEmpty())
                events.append({port, after, true, now.adapter, now.name});
        }
        if (isFree(port))
            now.remembered = m_memory[port].adapter;
    }
    m_slots = next;
    if (m_keep)
        m_settings->sync();
    if (!events.isEmpty())
        emit changed(events);
}

void ComSlots::watch()
{
    // Read first, then the system takes the state its polls compare with: a
    // device that comes while this reads and goes again is still seen to go.
    refresh();
    if (m_watching++ == 0)
        m_system.watch();
}

void ComSlots::unwatch()
{
    if (m_watching > 0 && --m_watching == 0)
        m_system.unwatch();
}

ComSlot ComSlots::slot(int port) const
{
    return port >= PortNames::FirstPort && port <= PortNames::LastPort ? m_slots[port] : ComSlot{};
}

PortNames ComSlots::table() const
{
    QMap<int, QString> devices;
    for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port) {
        if (!m_slots[port].device.isEmpty())
            devices.insert(port, m_slots[port].device);
    }
    return PortNames(devices);
}

QString ComSlots::goneMessage(int port) const
{
    const ComSlot s = slot(port);
    if (s.present)
        return {};
    const QString device = s.mapped ? s.device : s.remembered.device;
    if (device.isEmpty())
        return {};
    return QStringLiteral("The adapter of COM%1 (%2) is gone: plug it back in or run a detection")
        .arg(port)
        .arg(s.mapped ? s.name : PortNames::shownName(device));
}

void ComSlots::serve(RecordedPath &path)
{
    connect(&path.gate, &CommandGate::started, this, [this] { refresh(); });
    connect(this, &ComSlots::changed, &path.line, [&line = path.line](const QList<SlotEvent> &events) {
        for (const SlotEvent &event : events)
            line.noteDevice(event.text());
    });
    path.link.setOpenFailureNote([self = QPointer<ComSlots>(this)](int port) {
        return self ? self->goneMessage(port) : QString();
    });
}

} // namespace tessary
