#include "allboards.h"

#include "app/prompts.h"
#include "clienvironment.h"
#include "detection/detector.h"
#include "protocol/replytext.h"
#include "serial/seriallink.h"
#include "serial/serialline.h"
#include "terminal.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTextStream>

namespace tessary {

namespace {

// A board's messages, as `tessary` says them for one board (StreamPrompts,
// StreamStatusLine: --yes answers the questions, each status text once),
// passed to the main thread one line at a time, headed by the board's name.
class BoardOutput : public Prompts, public StatusLine {
public:
    BoardOutput(QObject &main, BoardLines &lines, QString name, bool assumeYes)
        : m_main(main), m_lines(lines), m_name(std::move(name)), m_prompts(m_stream, assumeYes),
          m_status(m_stream)
    {
    }
    bool message(const QString &text, MessageIcon icon, MessageButtons buttons, DefaultButton defaultButton) override
    {
        const bool answer = m_prompts.message(text, icon, buttons, defaultButton);
        pass();
        return answer;
    }
    void showStatus(const QString &text) override
    {
        m_status.showStatus(text);
        pass();
    }
    [[nodiscard]] QString statusText() const override { return m_status.statusText(); }

private:
    void pass()
    {
        m_stream.flush();
        // The line's own words for the port ("COM1 (/dev/ttyUSB9): ...") give
        // way to the board's name.
        for (QString line : m_text.split(u'\n', Qt::SkipEmptyParts)) {
            line.remove(0, QStringLiteral("tessary: ").size()).remove(m_portPrefix);
            QMetaObject::invokeMethod(
                &m_main,
                [&lines = m_lines, text = QStringLiteral("tessary: %1: %2").arg(m_name, line)] { lines.message(text); },
                Qt::QueuedConnection);
        }
        m_text.clear();
    }

    QObject &m_main;
    BoardLines &m_lines;
    QString m_name;
    const QRegularExpression m_portPrefix{QStringLiteral("^COM\\d+ \\([^)]*\\): ")};
    QString m_text;
    QTextStream m_stream{&m_text};
    StreamPrompts m_prompts;
    StreamStatusLine m_status;
};

enum class Step { Waking, Scanning, Identity, Waiting, Task, Ending };

// A port's problem without the line's own name for the port: the record
// names the port and the device in columns of their own.
QString withoutPortName(QString problem)
{
    static const QRegularExpression prefix(QStringLiteral("^COM\\d+( \\([^)]*\\))?: "));
    return problem.remove(prefix);
}

} // namespace

struct AllBoards::Board {
    BoardRun run;
    std::unique_ptr<BoardTask> task;
    std::unique_ptr<BoardOutput> output;
    Step step = Step::Waking; // the board's thread's until it ends
    QString shown;            // its live line as last shown, on its thread
};

AllBoards::AllBoards(CliEnvironment &environment, BoardLines &lines, QString command, bool assumeYes)
    : m_threads(environment), m_lines(lines), m_command(std::move(command)), m_assumeYes(assumeYes)
{
}

AllBoards::~AllBoards() = default;

void AllBoards::requestStop()
{
    m_threads.requestStop();
    const std::lock_guard lock(m_mutex);
    m_stop = true;
    m_decided.notify_all();
}

bool AllBoards::waitForTasks()
{
    std::unique_lock lock(m_mutex);
    m_decided.wait(lock, [this] { return m_gate != Gate::Waiting || m_stop; });
    if (m_stop)
        throw CommandStopped{};
    return m_gate == Gate::Go;
}

void AllBoards::scanEnded(const Hooks &hooks)
{
    if (++m_scansEnded < m_boards.size())
        return;
    // Every scan has ended: the moment before the first write.
    std::vector<BoardRun *> found;
    for (const auto &board : m_boards)
        if (board->task && board->run.found())
            found.push_back(&board->run);
    const bool go = !hooks.beforeTasks || found.empty() || hooks.beforeTasks(found);
    const std::lock_guard lock(m_mutex);
    m_gate = go ? Gate::Go : Gate::NoGo;
    m_decided.notify_all();
}

std::vector<BoardRun> AllBoards::run(const QList<Port> &ports, const Hooks &hooks)
{
    QObject main; // what the boards' threads post to
    m_boards.clear();
    m_scansEnded = 0;
    m_gate = Gate::Waiting;
    std::vector<PortThreads::Job> jobs;

    // The live line: the board's name, its speed once found, and its step.
    const auto line = [](const Board &board, SerialLine *serial) {
        const BoardRun &run = board.run;
        const QString where = run.name() + (run.printer.baudRate.isEmpty() ? QString()
                                            : QStringLiteral(" %1 bauds").arg(run.printer.baudRate));
        QString step;
        switch (board.step) {
        case Step::Waking:
            step = QStringLiteral("waking");
            break;
        case Step::Scanning:
            step = serial && serial->baud() ? QStringLiteral("trying %1 bauds").arg(serial->baud())
                                            : QStringLiteral("scanning");
            break;
        case Step::Identity:
            step = QStringLiteral("reading the identity");
            break;
        case Step::Waiting:
            step = QStringLiteral("found, waiting for the other ports' scans");
            break;
        case Step::Task:
            step = board.task->step();
            break;
        case Step::Ending:
            step = outcomeWord(run.outcome);
            if (run.outcome == BoardOutcome::Found)
                step += QStringLiteral(", ") + identityPart(run.identity);
            else if (run.outcome == BoardOutcome::PortError)
                step += QStringLiteral(": ") + run.reason;
            break;
        }
        return where + QStringLiteral(": ") + step;
    };
    const auto show = [&main, &lines = m_lines](Board &board, std::size_t i, const QString &text) {
        if (std::exchange(board.shown, text) == text)
            return;
        QMetaObject::invokeMethod(&main, [&lines, i, text] { lines.show(int(i), text); }, Qt::QueuedConnection);
    };

    for (qsizetype i = 0; i < ports.size(); ++i) {
        m_boards.push_back(std::make_unique<Board>());
        Board &board = *m_boards.back();
        board.run.com = ports[i].com;
        board.run.device = ports[i].device;
        if (hooks.makeTask)
            board.task = hooks.makeTask();
        // A line of its own that reaches this device alone, so the wake-up
        // and the scan touch no other; as COMn when the device has a number.
        const int slot = board.run.com ? board.run.com : PortNames::FirstPort;
        board.output = std::make_unique<BoardOutput>(main, m_lines, board.run.name(), m_assumeYes);
        const std::size_t index = std::size_t(i);
        auto serial = std::make_shared<SerialLine *>(nullptr);
        PortThreads::Job job;
        job.table = PortNames({{slot, board.run.device}});
        job.port = slot;
        job.status = board.output.get();
        job.heading = QStringLiteral("%1: %2").arg(m_command, board.run.name());
        if (!board.run.com)
            job.name = board.run.name();
        job.beforeWait = [&line, &show, &board, serial, index] { show(board, index, line(board, *serial)); };
        job.work = [this, &board, &main, &hooks, serial, slot](SerialLink &link) {
            *serial = &link.line();
            BoardRun &run = board.run;
            run.started = hooks.now();
            bool scanEnd = false; // told to the calling thread
            const auto endScan = [&] {
                if (!std::exchange(scanEnd, true))
                    QMetaObject::invokeMethod(&main, [this, &hooks] { scanEnded(hooks); }, Qt::QueuedConnection);
            };
            const auto end = qScopeGuard([&] {
                endScan();
                board.step = Step::Ending;
                run.ended = hooks.now();
            });
            try {
                if (!link.portExists(slot)) {
                    run.portError = QStringLiteral("%1 does not exist").arg(run.device);
                    return;
                }
                Detector detector(link, run.printer, *board.output);
                detector.beginScan();
                board.step = Step::Scanning;
                const std::optional<QString> speed = detector.scanPort(slot);
                if (!speed) {
                    if (const auto why = detector.unopenedReason(slot))
                        run.portError = withoutPortName(*why);
                    return;
                }
                run.printer.baudRate = *speed; // shown from now on, found or not
                board.step = Step::Identity;
                detector.finishScan(slot, *speed);
                run.identity = detector.identityReply();
                if (!run.found() || !board.task)
                    return;
                board.step = Step::Waiting;
                endScan();
                if (!waitForTasks())
                    return;
                board.step = Step::Task;
                board.task->run(run, link, *board.output, *board.output);
            } catch (const CommandStopped &) {
                run.stopped = true;
            }
        };
        jobs.push_back(std::move(job));
    }

    m_threads.run(jobs, [&](std::size_t i) {
        QCoreApplication::sendPostedEvents(&main); // what the thread said before it ended comes first
        Board &board = *m_boards[i];
        board.run.decide();
        m_lines.show(int(i), line(board, nullptr));
        if (hooks.ended)
            if (const QString message = hooks.ended(board.run); !message.isEmpty())
                m_lines.message(message);
        return true;
    });
    QCoreApplication::sendPostedEvents(&main);
    m_lines.flush();
    std::vector<BoardRun> runs;
    for (auto &board : m_boards)
        runs.push_back(std::move(board->run));
    m_boards.clear();
    return runs;
}

} // namespace tessary
