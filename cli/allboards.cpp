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

#include <memory>
#include <optional>

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
    // A line of the board's own.
    void say(const QString &text)
    {
        m_stream << "tessary: " << text << '\n';
        pass();
    }

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

enum class Step { Waking, Scanning, Identity, Programming, Ending };

} // namespace

QString AllBoards::Port::name() const
{
    const QString shown = device.startsWith(QLatin1String("/dev/")) ? PortNames::shownName(device) : device;
    return com ? QStringLiteral("COM%1 (%2)").arg(com).arg(shown) : shown;
}

QString AllBoards::Board::result() const
{
    if (stopped)
        return QStringLiteral("interrupted");
    if (missing || !found())
        return QStringLiteral("no-board");
    return programming ? program.outcome : QStringLiteral("found");
}

AllBoards::AllBoards(CliEnvironment &environment, BoardLines &lines, QString command, bool assumeYes)
    : m_threads(environment), m_lines(lines), m_command(std::move(command)), m_assumeYes(assumeYes)
{
}

std::vector<AllBoards::Board> AllBoards::run(const QList<Port> &ports, const ProgramOrder *order,
                                             const std::function<QString(const Board &)> &ended)
{
    QObject main; // what the boards' threads post to
    std::vector<Board> boards(ports.size());
    std::vector<std::unique_ptr<BoardOutput>> outputs;
    std::vector<Step> steps(ports.size(), Step::Waking);
    std::vector<const Programmer *> programmers(ports.size(), nullptr);
    std::vector<QString> shown(ports.size()); // each thread's: its live line as last shown
    std::vector<PortThreads::Job> jobs;
    const int writes = order ? order->writeCount() : 0;

    // The live line: the board's name, its speed once found, and its step.
    const auto line = [&boards, &steps, &programmers, writes](std::size_t i, SerialLine *serial) {
        const Board &board = boards[i];
        const QString where = board.port.name() + (board.printer.baudRate.isEmpty() ? QString()
                                                  : QStringLiteral(" %1 bauds").arg(board.printer.baudRate));
        QString step;
        switch (steps[i]) {
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
        case Step::Programming: {
            const ProgrammingResult &progress = programmers[i]->progress(); // set while programming
            if (progress.outcome == ProgrammingResult::Outcome::Refused) // not begun: the identity before
                step = QStringLiteral("reading the identity");
            else if (progress.outcome != ProgrammingResult::Outcome::Stopped) // done: the read-back
                step = QStringLiteral("reading back");
            else if (progress.resetSent)
                step = QStringLiteral("resetting");
            else
                step = QStringLiteral("writing %1/%2").arg(progress.writes.size()).arg(writes);
            break;
        }
        case Step::Ending:
            step = board.missing                       ? QStringLiteral("does not exist")
                   : !board.found() && !board.stopped ? QStringLiteral("no board answered")
                                                      : board.result();
            if (board.found() && !board.programming)
                step += QStringLiteral(", ") + trimBlanks(replyText(board.identity.left(16)));
            break;
        }
        return where + QStringLiteral(": ") + step;
    };
    const auto show = [&main, &lines = m_lines, &shown](std::size_t i, const QString &text) {
        if (std::exchange(shown[i], text) == text)
            return;
        QMetaObject::invokeMethod(&main, [&lines, i, text] { lines.show(int(i), text); }, Qt::QueuedConnection);
    };

    for (qsizetype i = 0; i < ports.size(); ++i) {
        Board &board = boards[i];
        board.port = ports[i];
        // A line of its own that reaches this device alone, so the wake-up
        // and the scan touch no other; as COMn when the device has a number.
        const int slot = board.port.com ? board.port.com : PortNames::FirstPort;
        outputs.push_back(std::make_unique<BoardOutput>(main, m_lines, board.port.name(), m_assumeYes));
        BoardOutput &output = *outputs.back();
        const std::size_t index = std::size_t(i);
        auto serial = std::make_shared<SerialLine *>(nullptr);
        PortThreads::Job job;
        job.table = PortNames({{slot, board.port.device}});
        job.port = slot;
        job.status = &output;
        job.heading = QStringLiteral("%1: %2").arg(m_command, board.port.name());
        if (!board.port.com)
            job.name = board.port.name();
        job.beforeWait = [&line, &show, serial, index] { show(index, line(index, *serial)); };
        job.work = [&board, &steps, &programmers, &output, serial, slot, order, index](SerialLink &link) {
            *serial = &link.line();
            std::optional<Programmer> programmer;
            const auto end = qScopeGuard([&] {
                if (programmer)
                    board.parameters = int(programmer->progress().writes.size());
                programmers[index] = nullptr;
                steps[index] = Step::Ending;
            });
            try {
                if (!link.portExists(slot)) {
                    board.missing = true;
                    return;
                }
                Detector detector(link, board.printer, output);
                detector.beginScan();
                steps[index] = Step::Scanning;
                const std::optional<QString> speed = detector.scanPort(slot);
                if (!speed)
                    return;
                board.printer.baudRate = *speed; // shown from now on, found or not
                steps[index] = Step::Identity;
                detector.finishScan(slot, *speed);
                board.identity = detector.identityReply();
                if (!board.found() || !order)
                    return;
                programmer.emplace(link, board.printer, output, output);
                programmers[index] = &*programmer;
                steps[index] = Step::Programming;
                board.programming = true;
                programBoard(link, board.printer, *programmer, *order, board.program);
                for (const QString &difference : std::as_const(board.program.differences))
                    output.say(QStringLiteral("verification failed: ") + difference);
            } catch (const CommandStopped &) {
                board.stopped = true;
            }
        };
        jobs.push_back(std::move(job));
    }

    m_threads.run(jobs, [&](std::size_t i) {
        QCoreApplication::sendPostedEvents(&main); // what the thread said before it ended comes first
        m_lines.show(int(i), line(i, nullptr));
        if (const QString message = ended(boards[i]); !message.isEmpty())
            m_lines.message(message);
        return true;
    });
    QCoreApplication::sendPostedEvents(&main);
    m_lines.flush();
    return boards;
}

} // namespace tessary
