#pragma once

#include "printer/boardrun.h"
#include "portthreads.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tessary {

class BoardLines;
class CliEnvironment;
class Prompts;
class SerialLink;
class StatusLine;

// What a command does with each board that answered, after the scan of every
// port: program it (and later audit it). A task of its own per board, run on
// that board's thread with its link; a stop throws CommandStopped.
class BoardTask {
public:
    virtual ~BoardTask() = default;
    // The task's steps; what they find goes into the board's run.
    virtual void run(BoardRun &board, SerialLink &link, Prompts &prompts, StatusLine &status) = 0;
    // The task's step for the board's live line ("writing 3/9"); asked on
    // the board's thread while the task runs.
    [[nodiscard]] virtual QString step() const = 0;
};

// Every board on every port at once, for a production line: one thread per
// port (PortThreads), each on its own line, clock and link, runs the steps of
// a scan of that port alone (its wake-up, every speed from the fastest down,
// the probe). Once every port's scan has ended (the moment before the first
// write, where a run can still refuse or hand each board something of its
// own), each board found runs its task. What fails on one port stops no
// other. Each board's progress is its live line; its messages are lines of
// their own, headed by its name.
class AllBoards {
public:
    static constexpr int MaxPorts = 32;

    struct Port {
        int com = 0; // its COM number, 0: none
        QString device;
    };
    struct Hooks {
        // The task of each board found; null (or no maker): the scan alone.
        std::function<std::unique_ptr<BoardTask>()> makeTask;
        // On the calling thread once every port's scan has ended, before
        // any task begins, with the boards found in port order; false: no
        // task runs (each board found ends as found).
        std::function<bool(const std::vector<BoardRun *> &found)> beforeTasks;
        // On the calling thread as each board ends, its outcome decided (the
        // record's row); what it returns, if anything, is shown as a message.
        std::function<QString(const BoardRun &board)> ended;
        // The time of each board's start and end.
        std::function<QDateTime()> now = [] { return QDateTime::currentDateTimeUtc(); };
    };

    // command: the name the trace heads each board's exchanges with.
    AllBoards(CliEnvironment &environment, BoardLines &lines, QString command, bool assumeYes);
    ~AllBoards();

    // Runs every port at once; returns each port's run, in the order given,
    // each with its outcome.
    [[nodiscard]] std::vector<BoardRun> run(const QList<Port> &ports, const Hooks &hooks);
    // Stops every board at its next wait (a signal); a board waiting for the
    // other ports' scans stops at once. Called on run()'s thread.
    void requestStop();

private:
    struct Board;
    // On a board's thread: waits until every port's scan has ended and the
    // tasks may begin; false: they do not.
    [[nodiscard]] bool waitForTasks();
    // On the calling thread: one more port's scan has ended.
    void scanEnded(const Hooks &hooks);

    PortThreads m_threads;
    BoardLines &m_lines;
    QString m_command;
    bool m_assumeYes = false;

    std::vector<std::unique_ptr<Board>> m_boards;
    std::mutex m_mutex;
    std::condition_variable m_decided;
    std::size_t m_scansEnded = 0; // the calling thread's
    bool m_stop = false;          // under m_mutex
    enum class Gate { Waiting, Go, NoGo } m_gate = Gate::Waiting; // under m_mutex
};

} // namespace tessary
