#include "portthreads.h"

#include "clienvironment.h"
#include "serial/clock.h"
#include "serial/recordingline.h"
#include "serial/seriallink.h"
#include "serial/serialline.h"

#include <QEventLoop>
#include <QThread>

#include <memory>

namespace tessary {

namespace {

// Lives on a port's thread, so that a stop posted to it runs there: the
// link's stop flag, which ends the wait in progress.
class PortStopper : public QObject {
public:
    SerialLink *link = nullptr; // set and cleared on the port's thread
};

// A port's clock: passes every wait on, first letting the job look at its
// progress. Once a stop is asked it waits no more and raises the link's stop
// flag itself, so that a stop lands at the next wait also on a clock that
// runs no event loop.
class PortClock : public Clock {
public:
    PortClock(Clock &inner, const std::atomic_bool &stop, const std::function<void()> &beforeWait)
        : m_inner(inner), m_stop(stop), m_beforeWait(beforeWait)
    {
    }
    void delay(int ms) override
    {
        if (!stopping())
            m_inner.delay(ms);
    }
    bool waitForInput(SerialLine &line, int ms) override
    {
        if (stopping())
            return line.bytesAvailable() > 0;
        return m_inner.waitForInput(line, ms);
    }
    [[nodiscard]] qint64 now() const override { return m_inner.now(); }
    void interrupt() override { m_inner.interrupt(); }

    SerialLink *link = nullptr;

private:
    bool stopping()
    {
        if (m_beforeWait)
            m_beforeWait();
        if (!m_stop.load())
            return false;
        if (link && !link->stopRequested())
            link->requestStop();
        return true;
    }

    Clock &m_inner;
    const std::atomic_bool &m_stop;
    const std::function<void()> &m_beforeWait;
};

struct PortRun {
    qint64 endTime = 0; // written by the port's thread before it ends
    bool finished = false;
    std::unique_ptr<QThread> thread;
    std::unique_ptr<PortStopper> stopper;
};

} // namespace

void PortThreads::run(std::vector<Job> &jobs, const std::function<bool(std::size_t)> &ended)
{
    std::vector<PortRun> runs(jobs.size());
    QEventLoop loop;
    std::size_t running = jobs.size();
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        PortRun &run = runs[i];
        Job &job = jobs[i];
        run.stopper = std::make_unique<PortStopper>();
        PortStopper *stopper = run.stopper.get();
        run.thread.reset(QThread::create([this, &job, &run, stopper] {
            // The line and the clock belong to this thread from the start.
            const CliEnvironment::PortSession session = m_environment.portSession(job.table, job.port);
            if (auto *recording = qobject_cast<RecordingLine *>(session.line.get())) {
                recording->beginCommand(job.heading);
                recording->setPortName(job.name);
            }
            {
                PortClock clock(*session.clock, m_stop, job.beforeWait);
                SerialLink link(*session.line, clock, job.status);
                clock.link = &link;
                stopper->link = &link;
                if (m_stop.load())
                    link.requestStop();
                try {
                    job.work(link);
                } catch (const CommandStopped &) {
                }
                stopper->link = nullptr;
            }
            run.endTime = session.clock->now();
        }));
        stopper->moveToThread(run.thread.get());
        QObject::connect(run.thread.get(), &QThread::finished, &loop, [this, &run, &running, &loop, &ended, i] {
            run.finished = true;
            --running;
            if (!ended(i) && !m_stop.exchange(true))
                stopThreads();
            if (running == 0)
                loop.quit();
        });
    }
    m_stopThreads = [&runs] {
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
    };
    for (PortRun &run : runs)
        run.thread->start();
    m_loop = &loop;
    if (running > 0)
        loop.exec();
    m_loop = nullptr;
    m_stopThreads = nullptr;

    qint64 endTime = 0;
    for (PortRun &run : runs) {
        run.thread->wait();
        endTime = std::max(endTime, run.endTime);
    }
    m_environment.portSessionsEnded(endTime);
}

void PortThreads::requestStop()
{
    if (!m_stop.exchange(true))
        stopThreads();
}

void PortThreads::stopThreads()
{
    if (m_stopThreads)
        m_stopThreads();
}

} // namespace tessary
