#include "recordingenvironment.h"

#include "serial/recordingline.h"

namespace tessary {

namespace {

// The clock of a port session that also holds the session it wraps: the
// session's own line and clock outlive the recording line, which the port
// session destroys first.
struct WrappedSession {
    CliEnvironment::PortSession inner;
};

class SessionClock : private WrappedSession, public RecordingClock {
public:
    SessionClock(CliEnvironment::PortSession session, RecordingLine &line)
        : WrappedSession{std::move(session)}, RecordingClock(*inner.clock, line)
    {
    }
};

} // namespace

RecordingEnvironment::RecordingEnvironment(CliEnvironment &inner, TrafficRecord &record, QString command)
    : m_inner(inner), m_record(record), m_command(std::move(command))
{
}

RecordingEnvironment::~RecordingEnvironment()
{
    // The clock waits on the line: it goes first.
    m_clock.reset();
    m_line.reset();
}

SerialLine &RecordingEnvironment::line(const PortNames &table)
{
    m_clock.reset();
    m_line.reset();
    SerialLine &inner = m_inner.line(table);
    m_line = std::make_unique<RecordingLine>(inner, m_inner.clock(), m_record);
    m_clock = std::make_unique<RecordingClock>(m_inner.clock(), *m_line);
    m_line->beginCommand(m_command);
    return *m_line;
}

Clock &RecordingEnvironment::clock()
{
    if (m_clock)
        return *m_clock;
    return m_inner.clock();
}

CliEnvironment::PortSession RecordingEnvironment::portSession(const PortNames &table, int port)
{
    PortSession session = m_inner.portSession(table, port);
    auto line = std::make_unique<RecordingLine>(*session.line, *session.clock, m_record);
    line->beginCommand(QStringLiteral("%1: COM%2 of the scan").arg(m_command).arg(port));
    // Moving the session keeps its line and clock where they are.
    auto clock = std::make_unique<SessionClock>(std::move(session), *line);
    return {std::move(clock), std::move(line)};
}

} // namespace tessary
