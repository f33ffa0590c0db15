#pragma once

#include "serial/portnames.h"

#include <QString>

#include <atomic>
#include <functional>
#include <vector>

class QEventLoop;

namespace tessary {

class CliEnvironment;
class SerialLink;
class StatusLine;

// Work on several ports at once: one thread per port, each with a line and a
// clock of its own from the environment and a link over them, so that the
// exchanges stay the plain sequential code they are. A stop reaches every
// thread through its link's stop flag: the wait in progress ends, the next
// one throws CommandStopped, and nothing throws out of a close.
class PortThreads {
public:
    struct Job {
        PortNames table; // the devices the job's line reaches
        int port = 0;    // the job's port on that table
        StatusLine *status = nullptr; // where its link reports problems with the port
        QString heading; // heads its exchanges in the trace; empty: the environment's own
        QString name;    // the port's name in the trace's lines; empty: COMn
        // Runs on the port's thread with the port's own link. A stop ends it
        // by CommandStopped, which the runner catches.
        std::function<void(SerialLink &link)> work;
        // Runs on the port's thread before each wait (where a job's progress shows).
        std::function<void()> beforeWait;
    };

    explicit PortThreads(CliEnvironment &environment) : m_environment(environment) {}

    // Runs every job at once and returns once every thread has ended; the
    // environment's clock then goes on from the latest of theirs. ended(i)
    // runs on the calling thread as job i's thread ends; when it returns
    // false, the jobs still running are stopped.
    void run(std::vector<Job> &jobs, const std::function<bool(std::size_t)> &ended);
    // Stops every job at its next wait (a signal). Called on run()'s thread.
    void requestStop();
    [[nodiscard]] bool stopRequested() const { return m_stop.load(); }

private:
    void stopThreads();

    CliEnvironment &m_environment;
    std::atomic_bool m_stop = false;
    QEventLoop *m_loop = nullptr;
    std::function<void()> m_stopThreads;
};

} // namespace tessary
