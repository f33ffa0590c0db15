#include "boardsim/ptyboardthread.h"

namespace tessary::sim {

PtyBoardThread::PtyBoardThread(const BoardOptions &options, bool garbageAtOtherSpeeds, PtyBoard::LogSink log)
{
    m_thread.setObjectName(QStringLiteral("tessary-board"));
    m_board = new PtyBoard(options);
    m_board->setGarbageAtOtherSpeeds(garbageAtOtherSpeeds);
    m_board->setLog(std::move(log));
    if (!m_board->open()) {
        m_error = m_board->errorString();
        delete m_board;
        m_board = nullptr;
        return;
    }
    m_path = m_board->path();
    m_board->moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(m_board, &PtyBoard::start, Qt::BlockingQueuedConnection);
    m_running = true;
}

PtyBoardThread::~PtyBoardThread()
{
    if (!m_board)
        return;
    // The pseudo-terminal's notifier and timer belong to the board's thread:
    // close them there, then end the thread.
    QMetaObject::invokeMethod(m_board, &PtyBoard::close, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_board;
}

void PtyBoardThread::withBoard(const std::function<void(Board &)> &f)
{
    if (!m_board)
        return;
    PtyBoard *board = m_board;
    QMetaObject::invokeMethod(
        m_board,
        [board, &f] {
            f(board->board());
            board->boardChanged();
        },
        Qt::BlockingQueuedConnection);
}

} // namespace tessary::sim
