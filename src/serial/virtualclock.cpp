#include "serial/virtualclock.h"

#include "serial/serialline.h"

namespace tessary {

void VirtualClock::delay(int ms)
{
    if (ms > 0)
        m_now += ms;
}

bool VirtualClock::waitForInput(SerialLine &line, int ms)
{
    if (line.bytesAvailable() > 0)
        return true;
    if (ms <= 0)
        return false;
    const qint64 deadline = m_now + ms;
    // A simulated line knows when its next byte becomes readable.
    if (const auto next = line.nextInputAt(); next && *next <= deadline) {
        m_now = qMax(m_now, *next);
        if (line.bytesAvailable() > 0)
            return true;
    }
    m_now = deadline;
    return line.bytesAvailable() > 0;
}

} // namespace tessary
