#pragma once

#include <QtGlobal>

namespace tessary {

class SerialLine;

// The program's only way of pausing. Waits never busy-wait: the program's
// clock runs the event loop, the virtual clock of the tests moves time at once.
class Clock {
public:
    virtual ~Clock() = default;
    virtual void delay(int ms) = 0;
    // Waits until bytes are waiting on the line or ms have passed; returns
    // whether bytes are waiting.
    virtual bool waitForInput(SerialLine &line, int ms) = 0;
    // Milliseconds since an arbitrary start.
    [[nodiscard]] virtual qint64 now() const = 0;
    // Ends the wait in progress at once (a window is closing).
    virtual void interrupt() = 0;
};

} // namespace tessary
