#include "parallelscan.h"

#include "app/appstate.h"
#include "app/prompts.h"
#include "clienvironment.h"
#include "detection/detector.h"
#include "serial/clock.h"
#include "serial/seriallink.h"
#include "serial/serialline.h"

#include <QEventLoop>
#include <QMutex>
#include <QThread>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace tessary {

namespace {

// What the ports' threads show and report, one at a time. Progress ends with
// the answer: a stopped port's last attempt is of no interest.
class SharedOutput : public Prompts, public StatusLine, public DetectionView {
public:
    SharedOutput(Prompts &prompts, StatusLine &status, DetectionView &view, const std::atomic_bool &stop)
        : m_prompts(prompts), m_status(status), m_view(view), m_stop(stop)
    {
    }
    bool message(const QString &text, MessageIcon icon, MessageButtons buttons, DefaultButton defaultButton) override
    {
        const QMutexLocker lock(&m_mutex);
        return m_prompts.message(text, icon, buttons, defaultButton);
    }
    void showStatus(const QString &text) override
    {
        const QMutexLocker lock(&m_mutex);
        m_status.showStatus(text);
    }
    QString statusText() const override
    {
        const QMutexLocker lock(&m_mutex);
        return m_status.statusText();
    }
    void setResultText(const QString &text) override
    {
        const QMutexLocker lock(&m_mutex);
        if (!m_stop.load())
            m_view.setResultText(text);
    }
    // The window's controls: a scan of every port at once selects none.
    void selectSpeed(int) override {}
    void selectHandshake(int) override {}
    void selectPort(int) override {}
    void setBusy(bool) override {}
    void focusOk() override {}

private:
    mutable QMutex m_mutex;
    Prompts &m_prompts;
    StatusLine &m_status;
    DetectionView &m_view;
    const std::atomic_bool &m_stop;
};

// Lives on a port's thread, so that a stop posted to it runs there: the
// link's stop flag, which ends the wait in progress. A wait inside a close
// just ends; the next wait of the scan throws CommandStopped.
class PortStopper : public QObject {
public:
    SerialLink *link = nullptr; // set and cleared on the port's thread
};

struct PortRun {
    int port = 0;
    // Written by the port's thread before it ends.
    std::optional<QString> speed;
    qint64 endTime = 0;
    // The main thread's.
    bool finished = false;
    std::unique_ptr<QThread> thread;
    std::unique_ptr<PortStopper> stopper;
};

// The answer once it is known: the lowest port with a board, every port
// below it finished without one.
std::optional<ParallelScan::Answer> answer(const std::vector<PortRun> &runs)
{
    for (const PortRun &run : runs) {
        if (!run.finished)
            return std::nullopt;
        if (run.speed)
            return ParallelScan::Answer{run.port, *run.speed};
    }
    return ParallelScan::Answer{};
}

} // namespace

ParallelScan::ParallelScan(CliEnvironment &environment, const PortNames &table, Prompts &prompts,
                           StatusLine &status, DetectionView &view)
    : m_environment(environment), m_table(table), m_prompts(prompts), m_status(status), m_view(view)
{
}

ParallelScan::Answer ParallelScan::run(const QList<int> &ports)
{
    std::atomic_bool &stop = m_stop;
    SharedOutput output(m_prompts, m_status, m_view, stop);
    std::vector<PortRun> runs(ports.size());
    QEventLoop loop;
    std::optional<Answer> result = answer(runs);

    for (qsizetype i = 0; i < ports.size(); ++i) {
        PortRun &run = runs[i];
        run.port = ports[i];
        run.stopper = std::make_unique<PortStopper>();
        PortStopper *stopper = run.stopper.get();
        run.thread.reset(QThread::create([this, &run, &stop, &output, stopper] {
            // The line and the clock belong to this thread from the start.
            const CliEnvironment::PortSession session = m_environment.portSession(m_table, run.port);
            {
                SerialLink link(*session.line, *session.clock, &output);
                stopper->link = &link;
                if (stop.load())
                    link.requestStop();
                PrinterLink unused; // the per-port steps write no printer-link state
                Detector detector(link, unused, output, &output);
                try {
                    run.speed = detector.scanPort(run.port);
                } catch (const CommandStopped &) {
                }
                stopper->link = nullptr;
            }
            run.endTime = session.clock->now();
        }));
        stopper->moveToThread(run.thread.get());
        QObject::connect(run.thread.get(), &QThread::finished, &loop, [&runs, &run, &result, &loop] {
            run.finished = true;
            result = answer(runs);
            if (result)
                loop.quit();
        });
    }
    for (PortRun &run : runs)
        run.thread->start();
    m_loop = &loop;
    if (!result && !stop.load())
        loop.exec();
    m_loop = nullptr;

    // The ports above the answer are of no more use.
    stop = true;
    for (PortRun &run : runs) {
        if (run.finished)
            continue;
        QMetaObject::invokeMethod(
            run.stopper.get(),
            [stopper = run.stopper.get()] {
                if (stopper->link)
                    stopper->link->requestStop();
            },
            Qt::QueuedConnection);
    }
    qint64 endTime = 0;
    for (PortRun &run : runs) {
        run.thread->wait();
        endTime = std::max(endTime, run.endTime);
    }
    m_environment.portSessionsEnded(endTime);
    return result.value_or(Answer{});
}

void ParallelScan::requestStop()
{
    m_stop = true;
    if (m_loop)
        m_loop->quit();
}

} // namespace tessary
