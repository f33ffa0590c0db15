#pragma once

#include "serial/seriallink.h"

#include <QObject>

#include <functional>

namespace tessary {

// One printer command at a time. The waits let the windows take input, so a
// second command could otherwise start inside the first one's wait; the
// windows disable their printer commands while the gate is busy, and the gate
// refuses them as well.
class CommandGate : public QObject {
    Q_OBJECT
public:
    explicit CommandGate(SerialLink &link, QObject *parent = nullptr);

    [[nodiscard]] bool isBusy() const { return m_busy; }
    [[nodiscard]] SerialLink &link() { return m_link; }

    // Runs the command unless another one runs. A command stopped by
    // requestStop() ends at its next wait with the port closed. Returns
    // false when the command was refused or stopped. The name ("Check
    // identity") is told to whoever follows the traffic.
    bool run(const QString &name, const std::function<void()> &command);
    bool run(const std::function<void()> &command) { return run(QString(), command); }

    // Stops the command in progress at its next wait (a window is closing).
    void requestStop();

signals:
    void busyChanged(bool busy);
    // A command is about to run.
    void started(const QString &name);
    // The command in progress has ended (also after a stop).
    void finished();

private:
    SerialLink &m_link;
    bool m_busy = false;
};

} // namespace tessary
