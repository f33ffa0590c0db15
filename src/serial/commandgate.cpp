#include "serial/commandgate.h"

namespace tessary {

CommandGate::CommandGate(SerialLink &link, QObject *parent) : QObject(parent), m_link(link) {}

bool CommandGate::run(const QString &name, const std::function<void()> &command)
{
    if (m_busy)
        return false;
    m_busy = true;
    m_link.clearStop();
    emit busyChanged(true);
    emit started(name);
    bool completed = true;
    try {
        command();
    } catch (const CommandStopped &) {
        completed = false;
    }
    m_link.closePort();
    m_link.clearStop();
    m_busy = false;
    emit busyChanged(false);
    emit finished();
    return completed;
}

void CommandGate::requestStop()
{
    if (m_busy)
        m_link.requestStop();
}

} // namespace tessary
