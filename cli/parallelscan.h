#pragma once

#include "serial/portnames.h"

#include "portthreads.h"

#include <QList>
#include <QMap>
#include <QString>

namespace tessary {

class CliEnvironment;
class DetectionView;
class Prompts;
class StatusLine;

// The scan's per-port steps on every port at once: one Detector per port,
// each on a thread of its own with its own line and clock from the
// environment (PortThreads), running the steps of the window's scan
// (Detector::scanPort).
// The answers are taken in port order, so the result is the one-port-after-
// another scan's: the lowest port where a board answers, at the first speed
// that answers there. A higher port's board counts only once every lower port
// has finished without one; the ports above the answer are then stopped.
// The wake-up before it and the identity query after it are the caller's.
class ParallelScan {
public:
    struct Answer {
        int port = 0; // 0: no board answered
        QString speed;
        QMap<int, QString> unopened; // the ports that could not be opened, and why
    };

    // The view shows each port's progress (one line per change) until the
    // answer is known; the status line takes the ports' problems.
    ParallelScan(CliEnvironment &environment, const PortNames &table, Prompts &prompts, StatusLine &status,
                 DetectionView &view);

    // Scans the ports given (existing ones, in ascending order). Returns when
    // every port's thread has ended.
    [[nodiscard]] Answer run(const QList<int> &ports);
    // Stops every port at its next wait through its link's stop flag (a
    // signal); run() then returns no answer. Called on run()'s thread.
    void requestStop();

private:
    PortThreads m_threads;
    PortNames m_table;
    Prompts &m_prompts;
    StatusLine &m_status;
    DetectionView &m_view;
};

} // namespace tessary
