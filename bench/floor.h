#pragma once

#include <QtGlobal>

#include <algorithm>

namespace tessary::bench {

// The least time a command can take: every wait the exchange prescribes, and
// the bytes' time on the line (10 bits a byte) wherever the program has to
// wait for them. Bytes that travel during a fixed pause cost nothing more
// unless they take longer than the pause.
class Floor {
public:
    [[nodiscard]] static double byteMs(int bytes, qint32 baud) { return bytes * 10.0 * 1000.0 / baud; }

    // A fixed pause with bytes travelling during it.
    Floor &pause(double ms, int bytes = 0, qint32 baud = 115200)
    {
        m_ms += std::max(ms, byteMs(bytes, baud));
        return *this;
    }
    // An exchange the program waits on: the command out, the reply back.
    Floor &exchange(int bytes, qint32 baud = 115200)
    {
        m_ms += byteMs(bytes, baud);
        return *this;
    }
    // Time the board itself takes before it answers an exchange the program
    // waits on (the simulator's modelled latency): not the program's to save.
    Floor &board(double ms)
    {
        m_boardMs += ms;
        return *this;
    }
    [[nodiscard]] double ms() const { return m_ms; }
    [[nodiscard]] double boardMs() const { return m_boardMs; }

private:
    double m_ms = 0;
    double m_boardMs = 0;
};

} // namespace tessary::bench
