#pragma once

#include <QObject>

class QSocketNotifier;

namespace tessary {

// While it lives, SIGINT and SIGTERM end a loop instead of the process:
// stopped() carries the exit status a shell gives for the signal (130, 143).
// The handlers it replaces come back when it goes.
class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

signals:
    void stopped(int exitStatus);

private:
    void onSignal();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace tessary
