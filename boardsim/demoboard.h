#pragma once

#include "boardsim/ptyboardthread.h"

#include <memory>

namespace tessary::sim {

// The board behind "--demo": a plausible board (115200 bauds, hardware
// handshake, user mode with the factory configuration "1111000101000000",
// identity derived from it) on a pseudo-terminal, answering from its own
// thread. Map its path to COM1; it goes away with the object.
class DemoBoard {
public:
    // With a log file, every byte each way is logged there in hex.
    explicit DemoBoard(const QString &logFile = {});
    ~DemoBoard();
    DemoBoard(const DemoBoard &) = delete;
    DemoBoard &operator=(const DemoBoard &) = delete;

    [[nodiscard]] static BoardOptions defaultOptions();

    [[nodiscard]] bool isRunning() const { return m_board && m_board->isRunning(); }
    // The device to map to COM1, e.g. "/dev/pts/4".
    [[nodiscard]] QString devicePath() const { return m_board ? m_board->path() : QString(); }
    [[nodiscard]] QString errorString() const { return m_board ? m_board->errorString() : QString(); }
    [[nodiscard]] PtyBoardThread &board() { return *m_board; }

private:
    std::unique_ptr<PtyBoardThread> m_board;
};

} // namespace tessary::sim
