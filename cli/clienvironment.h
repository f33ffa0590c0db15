#pragma once

#include "serial/portnames.h"

#include <QStringList>

#include <memory>

class QSettings;

namespace tessary {

class Clock;
class EventLoopClock;
class QtSerialLine;
class SerialLine;
class SerialPorts;

// What the command-line tool runs on: the serial ports the system lists, the
// serial lines over a port table, and the clocks of the waits. The program
// uses QSerialPort and the event-loop clock; tests the simulated board and the
// virtual clock. Every line the tool talks over comes from here.
class CliEnvironment {
public:
    // A line and a clock of their own for one port of a scan that tries every
    // port at once. Made, used and destroyed on that port's thread.
    struct PortSession {
        std::unique_ptr<Clock> clock;
        std::unique_ptr<SerialLine> line; // destroyed before its clock
    };

    virtual ~CliEnvironment() = default;
    // The serial ports the system lists.
    [[nodiscard]] virtual SerialPorts &serialPorts() = 0;
    // Where the COM slots are remembered, shared with the desktop program;
    // null when they cannot be kept (settingsProblem() says why).
    [[nodiscard]] virtual QSettings *settings() = 0;
    [[nodiscard]] virtual QString settingsProblem() const = 0;
    // A serial line whose COM1 to COM6 are the devices of the table. The
    // environment owns it; a later call may replace it.
    virtual SerialLine &line(const PortNames &table) = 0;
    virtual Clock &clock() = 0;

    // A line over the table and a clock for COMn alone, for a thread of its
    // own. May be called from several threads at once.
    [[nodiscard]] virtual PortSession portSession(const PortNames &table, int port) = 0;
    // The port sessions have ended, their clocks at `time` at the latest:
    // clock() goes on from there. Real time needs nothing; a virtual clock
    // jumps.
    virtual void portSessionsEnded(qint64 time) = 0;
};

// The real machine: QSerialPortInfo, the user's settings, QSerialPort and the event loop.
class SystemEnvironment : public CliEnvironment {
public:
    SystemEnvironment();
    ~SystemEnvironment() override;
    SerialPorts &serialPorts() override;
    QSettings *settings() override;
    QString settingsProblem() const override { return m_settingsProblem; }
    SerialLine &line(const PortNames &table) override;
    Clock &clock() override;
    PortSession portSession(const PortNames &table, int port) override;
    void portSessionsEnded(qint64) override {} // real time goes on by itself

private:
    std::unique_ptr<SerialPorts> m_ports;
    QString m_settingsProblem;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<EventLoopClock> m_clock;
    std::unique_ptr<QtSerialLine> m_line;
};

} // namespace tessary
