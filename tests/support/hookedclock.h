#pragma once

#include "serial/virtualclock.h"

#include <functional>

namespace tessary::test {

// The virtual clock with a hand on it: onWait(n) runs at the n-th wait, where
// the user's clicks land while a command waits for the board.
struct HookedClock : VirtualClock {
    void delay(int ms) override
    {
        tick();
        VirtualClock::delay(ms);
    }
    bool waitForInput(SerialLine &line, int ms) override
    {
        tick();
        return VirtualClock::waitForInput(line, ms);
    }
    int waits = 0;
    std::function<void(int)> onWait;

private:
    void tick()
    {
        ++waits;
        if (onWait)
            onWait(waits);
    }
};

} // namespace tessary::test
