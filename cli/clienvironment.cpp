#include "clienvironment.h"

#include "serial/comslots.h"
#include "serial/eventloopclock.h"
#include "serial/qtserialline.h"
#include "serial/serialports.h"

#include <QSettings>

namespace tessary {

SystemEnvironment::SystemEnvironment()
    : m_ports(std::make_unique<SystemSerialPorts>()),
      m_settings(ComSlots::userSettings(&m_settingsProblem)),
      m_clock(std::make_unique<EventLoopClock>())
{
}

SystemEnvironment::~SystemEnvironment() = default;

SerialPorts &SystemEnvironment::serialPorts() { return *m_ports; }

QSettings *SystemEnvironment::settings() { return m_settings.get(); }

SerialLine &SystemEnvironment::line(const PortNames &table)
{
    m_line = std::make_unique<QtSerialLine>(table);
    return *m_line;
}

Clock &SystemEnvironment::clock() { return *m_clock; }

CliEnvironment::PortSession SystemEnvironment::portSession(const PortNames &table, int /*port: the table names it*/)
{
    // Made on the port's thread: QSerialPort and the clock's event loop work
    // with that thread's event dispatcher.
    PortSession session;
    session.clock = std::make_unique<EventLoopClock>();
    session.line = std::make_unique<QtSerialLine>(table);
    return session;
}

} // namespace tessary
