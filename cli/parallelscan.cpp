#include "parallelscan.h"

#include "app/appstate.h"
#include "app/prompts.h"
#include "clienvironment.h"
#include "detection/detector.h"
#include "serial/seriallink.h"

#include <QMutex>

#include <optional>
#include <vector>

namespace tessary {

namespace {

// What the ports' threads show and report, one at a time. Progress ends with
// the answer: a stopped port's last attempt is of no interest.
class SharedOutput : public Prompts, public StatusLine, public DetectionView {
public:
    SharedOutput(Prompts &prompts, StatusLine &status, DetectionView &view, const PortThreads &threads)
        : m_prompts(prompts), m_status(status), m_view(view), m_threads(threads)
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
        if (!m_threads.stopRequested())
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
    const PortThreads &m_threads;
};

struct PortRun {
    int port = 0;
    std::optional<QString> speed; // written by the port's thread before it ends
    std::optional<QString> unopened; // likewise: why it could not be opened
    bool finished = false;        // the main thread's
};

// The answer once it is known: the lowest port with a board, every port
// below it finished without one.
std::optional<ParallelScan::Answer> answer(const std::vector<PortRun> &runs)
{
    for (const PortRun &run : runs) {
        if (!run.finished)
            return std::nullopt;
        if (run.speed)
            return ParallelScan::Answer{run.port, *run.speed, {}};
    }
    return ParallelScan::Answer{};
}

} // namespace

ParallelScan::ParallelScan(CliEnvironment &environment, const PortNames &table, Prompts &prompts,
                           StatusLine &status, DetectionView &view)
    : m_threads(environment), m_table(table), m_prompts(prompts), m_status(status), m_view(view)
{
}

ParallelScan::Answer ParallelScan::run(const QList<int> &ports)
{
    SharedOutput output(m_prompts, m_status, m_view, m_threads);
    std::vector<PortRun> runs(ports.size());
    std::vector<PortThreads::Job> jobs;
    for (qsizetype i = 0; i < ports.size(); ++i) {
        PortRun &run = runs[i];
        run.port = ports[i];
        PortThreads::Job job;
        job.table = m_table;
        job.port = run.port;
        job.status = &output;
        job.work = [&run, &output](SerialLink &link) {
            PrinterLink unused; // the per-port steps write no printer-link state
            Detector detector(link, unused, output, &output);
            run.speed = detector.scanPort(run.port);
            run.unopened = detector.unopenedReason(run.port);
        };
        jobs.push_back(std::move(job));
    }
    std::optional<Answer> result = answer(runs);
    // The ports above the answer are of no more use.
    m_threads.run(jobs, [&runs, &result](std::size_t i) {
        runs[i].finished = true;
        result = answer(runs);
        return !result;
    });
    Answer found = result.value_or(Answer{});
    for (const PortRun &run : runs)
        if (run.unopened)
            found.unopened.insert(run.port, *run.unopened);
    return found;
}

void ParallelScan::requestStop() { m_threads.requestStop(); }

} // namespace tessary
