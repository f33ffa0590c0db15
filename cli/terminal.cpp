#include "terminal.h"

#include "protocol/replytext.h"

#include <QFile>
#include <QTextStream>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace tessary {

StreamPrompts::StreamPrompts(QTextStream &err, bool assumeYes) : m_err(err), m_assumeYes(assumeYes) {}

// The icon is the words' own; a script is never asked which button is the default: --yes answers.
bool StreamPrompts::message(const QString &text, MessageIcon, MessageButtons buttons, DefaultButton)
{
    m_shown << text;
    m_err << "tessary: " << text << '\n';
    bool answer = true;
    if (buttons == MessageButtons::OkCancel) {
        answer = m_assumeYes;
        m_err << (answer ? "tessary: answered OK (--yes)\n"
                         : "tessary: answered Cancel (give --yes to answer OK)\n");
    }
    m_err.flush();
    return answer;
}

StreamStatusLine::StreamStatusLine(QTextStream &err) : m_err(err) {}

void StreamStatusLine::showStatus(const QString &text)
{
    m_text = text;
    if (text.isEmpty() || m_shown.contains(text))
        return;
    m_shown << text;
    m_err << "tessary: " << text << '\n';
    m_err.flush();
}

ProgressView::ProgressView(QTextStream &err, bool quiet) : m_err(err), m_quiet(quiet) {}

void ProgressView::setResultText(const QString &text)
{
    m_last = text;
    // A detection that finds nothing is told once, by the command's own
    // message, which says what to try.
    if (m_quiet || text.startsWith(Detector::nothingFoundText()))
        return;
    // The text carries the board's reply: no control characters to the terminal.
    m_err << printableText(text) << '\n';
    m_err.flush();
}

bool isTerminal(const QTextStream &stream)
{
#ifdef Q_OS_UNIX
    const auto *file = qobject_cast<const QFile *>(stream.device());
    return file && file->handle() >= 0 && ::isatty(file->handle());
#else
    Q_UNUSED(stream);
    return false;
#endif
}

BoardLines::BoardLines(QTextStream &err, bool terminal, bool quiet) : m_err(err), m_terminal(terminal), m_quiet(quiet)
{
    m_redraw.setSingleShot(true);
    m_redraw.setInterval(100);
    QObject::connect(&m_redraw, &QTimer::timeout, [this] { draw(); });
}

void BoardLines::show(int board, const QString &text)
{
    if (m_quiet)
        return;
    while (m_lines.size() <= board)
        m_lines.append(QString());
    // The text carries the board's reply: no control characters to the terminal.
    const QString line = printableText(text);
    if (m_lines.at(board) == line)
        return;
    m_lines[board] = line;
    if (!m_terminal) {
        m_err << line << '\n';
        m_err.flush();
    } else if (!m_redraw.isActive()) {
        m_redraw.start();
    }
}

void BoardLines::message(const QString &text)
{
    if (m_terminal && m_drawn > 0) {
        // Up to the first line, and everything from there cleared: the
        // message takes its place and the lines come again below it.
        m_err << "\x1b[" << m_drawn << "A\r\x1b[J";
        m_drawn = 0;
    }
    m_err << printableText(text) << '\n';
    if (m_terminal && !m_quiet)
        draw();
    m_err.flush();
}

void BoardLines::flush()
{
    if (m_terminal && !m_quiet)
        draw();
}

void BoardLines::draw()
{
    m_redraw.stop();
    QString out;
    if (m_drawn > 0)
        out += QStringLiteral("\x1b[%1A").arg(m_drawn);
    for (const QString &line : std::as_const(m_lines))
        out += QStringLiteral("\r\x1b[2K") + line + u'\n';
    m_drawn = m_lines.size();
    m_err << out;
    m_err.flush();
}

} // namespace tessary
