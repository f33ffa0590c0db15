#pragma once

#include "boardsim/ptyboard.h"

#include <QThread>

namespace tessary::sim {

// A PtyBoard on a thread of its own, so that nothing the program's thread
// does (nested event loops, long handlers) delays the board's replies.
// Created ready to answer; stopped and cleaned up on destruction.
class PtyBoardThread {
public:
    // The log sink, if any, is called on the board's thread.
    explicit PtyBoardThread(const BoardOptions &options = {}, bool garbageAtOtherSpeeds = false,
                            PtyBoard::LogSink log = {});
    ~PtyBoardThread();
    PtyBoardThread(const PtyBoardThread &) = delete;
    PtyBoardThread &operator=(const PtyBoardThread &) = delete;

    [[nodiscard]] bool isRunning() const { return m_running; }
    // The program's end of the pseudo-terminal.
    [[nodiscard]] QString path() const { return m_path; }
    [[nodiscard]] QString errorString() const { return m_error; }
    // Runs f with the board on the board's thread and waits for it (read the
    // state, switch faults on). The board reschedules its replies afterwards.
    void withBoard(const std::function<void(Board &)> &f);

private:
    QThread m_thread;
    PtyBoard *m_board = nullptr;
    QString m_path;
    QString m_error;
    bool m_running = false;
};

} // namespace tessary::sim
