#pragma once

#include "clienvironment.h"

#include <QString>

#include <memory>

namespace tessary {

class RecordingClock;
class RecordingLine;
class TrafficRecord;

// The environment of --trace: every line and clock of another environment,
// the per-port ones of a scan included, wrapped so that their traffic goes
// into one record. What goes over the wire stays the same.
class RecordingEnvironment : public CliEnvironment {
public:
    // command: the name the traffic is headed with ("tessary detect").
    RecordingEnvironment(CliEnvironment &inner, TrafficRecord &record, QString command);
    ~RecordingEnvironment() override;

    SerialPorts &serialPorts() override { return m_inner.serialPorts(); }
    QSettings *settings() override { return m_inner.settings(); }
    QString settingsProblem() const override { return m_inner.settingsProblem(); }
    SerialLine &line(const PortNames &table) override;
    Clock &clock() override;
    PortSession portSession(const PortNames &table, int port) override;
    void portSessionsEnded(qint64 time) override { m_inner.portSessionsEnded(time); }

private:
    CliEnvironment &m_inner;
    TrafficRecord &m_record;
    QString m_command;
    std::unique_ptr<RecordingLine> m_line;
    std::unique_ptr<RecordingClock> m_clock;
};

} // namespace tessary
