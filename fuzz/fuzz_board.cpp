// The board simulator's command parser on arbitrary bytes at arbitrary times:
// it must never crash, and its replies must stay bounded and in time order.
#include "boardsim/board.h"

#include <cstdint>
#include <cstdlib>

using namespace tessary::sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    BoardOptions options;
    options.fourByteConfiguration = data[0] & 1;
    options.userMode = data[0] & 2;
    options.faults.lateEcho = data[0] & 4;
    options.faults.threeByteConfiguration = data[0] & 8;
    Board board(options);
    qint64 now = 0;
    size_t i = 1;
    while (i < size) {
        // A control byte: how long the next burst is, how far time moves,
        // and whether it comes at another speed.
        const uint8_t control = data[i++];
        const size_t length = std::min<size_t>(control & 0x0f, size - i);
        const QByteArray burst(reinterpret_cast<const char *>(data + i), qsizetype(length));
        i += length;
        if (control & 0x80)
            board.receiveAtOtherSpeed(burst, now);
        else
            board.receive(burst, now, board.byteTimeUs());
        now += qint64(control >> 4) * 40'000;
        const auto next = board.nextOutputAtUs();
        if (next && *next < 0)
            std::abort();
        const QByteArray out = board.takeDue(now);
        if (out.size() > 4096)
            std::abort();
    }
    return 0;
}
