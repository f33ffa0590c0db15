#pragma once

#include "serial/portnames.h"

#include <QStringList>

#include <memory>

namespace tessary {

class Clock;
class EventLoopClock;
class QtSerialLine;
class SerialLine;

// What the command-line tool runs on: the serial ports the system lists, a
// serial line over a port table, and the clock of the waits. The program uses
// QSerialPort and the event-loop clock; tests the simulated board and the
// virtual clock.
class CliEnvironment {
public:
    virtual ~CliEnvironment() = default;
    // The devices the system lists as serial ports.
    [[nodiscard]] virtual QStringList systemDevices() const = 0;
    // A serial line whose COM1 to COM6 are the devices of the table. The
    // environment owns it; a later call may replace it.
    virtual SerialLine &line(const PortNames &table) = 0;
    virtual Clock &clock() = 0;
};

// The real machine: QSerialPortInfo, QSerialPort and the event loop.
class SystemEnvironment : public CliEnvironment {
public:
    SystemEnvironment();
    ~SystemEnvironment() override;
    QStringList systemDevices() const override;
    SerialLine &line(const PortNames &table) override;
    Clock &clock() override;

private:
    std::unique_ptr<EventLoopClock> m_clock;
    std::unique_ptr<QtSerialLine> m_line;
};

} // namespace tessary
