#pragma once

#include "boardsim/simulatedline.h"
#include "clienvironment.h"
#include "hookedclock.h"
#include "scriptedports.h"

#include <QSettings>
#include <QTemporaryDir>

#include <condition_variable>
#include <mutex>

namespace tessary::test {

// A port's own line in a scan of every port at once; says when it ends.
class PortLine : public sim::SimulatedLine {
public:
    PortLine(const Clock &clock, std::function<void(const QList<Write> &)> ended)
        : sim::SimulatedLine(clock), m_ended(std::move(ended))
    {
    }
    ~PortLine() override { m_ended(writes()); }

private:
    std::function<void(const QList<Write> &)> m_ended;
};

// Six serial devices the system lists, the simulated line behind them and a
// clock that costs no time. A scan of every port at once gets a line and a
// clock per port, sharing the port's device with the main line.
class SimEnvironment : public CliEnvironment {
public:
    SimEnvironment() { ports.setDevices({"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3", "/dev/ttyS4", "/dev/ttyS5"}); }
    SerialPorts &serialPorts() override { return ports; }
    QSettings *settings() override { return &memory; }
    QString settingsProblem() const override { return {}; }
    SerialLine &line(const PortNames &table) override
    {
        QSet<int> existing;
        for (int port = 1; port <= 6; ++port)
            if (!table.device(port).isEmpty() && present.contains(port))
                existing.insert(port);
        simLine.setExistingPorts(existing);
        return simLine;
    }
    Clock &clock() override { return virtualClock; }
    PortSession portSession(const PortNames &table, int port) override
    {
        auto clock = std::make_unique<HookedClock>();
        clock->advance(virtualClock.now());
        clock->onWait = [this, port](int) {
            if (portWait)
                portWait(port);
        };
        auto line = std::make_unique<PortLine>(*clock, [this, port](const QList<sim::SimulatedLine::Write> &writes) {
            const std::lock_guard lock(mutex);
            portLines.remove(port);
            portWrites += writes;
            ended.insert(port);
            portEnded.notify_all();
        });
        line->setWakeups(false);
        line->setExistingPorts({});
        std::unique_lock lock(mutex);
        portLines.insert(port, line.get());
        simLine.sharePort(port, *line);
        line->setPortExists(port, !table.device(port).isEmpty() && present.contains(port));
        // The threads run as fast as they can: let them end from the highest
        // port down, the order a wrong merge would trip on.
        for (int higher = port + 1; lowestPortLast && higher <= 6; ++higher)
            if (!portEnded.wait_for(lock, std::chrono::seconds(10),
                                    [&] { return !simLine.portExists(higher) || ended.contains(higher); }))
                qFatal("COM%d waited for COM%d for ever", port, higher);
        return {std::move(clock), std::move(line)};
    }
    void portSessionsEnded(qint64 time) override { virtualClock.advance(qMax<qint64>(0, time - virtualClock.now())); }

    ScriptedPorts ports;
    QTemporaryDir settingsFolder; // the COM slots' memory, of this environment alone
    QSettings memory{settingsFolder.filePath("slots.ini"), QSettings::IniFormat};
    QSet<int> present = {1, 2, 3, 4, 5, 6};
    HookedClock virtualClock; // its hand: a signal, flow control, as the command waits
    sim::SimulatedLine simLine{virtualClock};
    std::mutex mutex;
    QList<sim::SimulatedLine::Write> portWrites;
    QHash<int, sim::SimulatedLine *> portLines; // each port's own line while its thread runs
    bool lowestPortLast = false;
    std::function<void(int port)> portWait; // on a port's own thread, at each of its waits
    QSet<int> ended;
    std::condition_variable portEnded;
};

} // namespace tessary::test
