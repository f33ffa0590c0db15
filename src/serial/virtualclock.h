#pragma once

#include "serial/clock.h"

namespace tessary {

// A clock for tests: time moves only when the code waits, and at once. A wait
// for input jumps to the moment the line says its next byte arrives.
class VirtualClock : public Clock {
public:
    void delay(int ms) override;
    bool waitForInput(SerialLine &line, int ms) override;
    qint64 now() const override { return m_now; }
    void interrupt() override {} // its waits take no time: there is none to cut short
    void advance(qint64 ms) { m_now += ms; }

private:
    qint64 m_now = 0;
};

} // namespace tessary
