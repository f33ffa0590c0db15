#pragma once

#include "serial/clock.h"

#include <QElapsedTimer>
#include <QPointer>

class QEventLoop;

namespace tessary {

// Waits by running a local event loop until a precise single-shot timer
// fires, so the windows repaint and take input meanwhile at no CPU cost.
class EventLoopClock : public Clock {
public:
    EventLoopClock();
    void delay(int ms) override;
    bool waitForInput(SerialLine &line, int ms) override;
    qint64 now() const override;
    void interrupt() override;

private:
    QElapsedTimer m_elapsed;
    QPointer<QEventLoop> m_loop;
};

} // namespace tessary
