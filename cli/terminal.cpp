#include "terminal.h"

#include "protocol/replytext.h"

#include <QTextStream>

namespace tessary {

StreamPrompts::StreamPrompts(QTextStream &err, bool assumeYes) : m_err(err), m_assumeYes(assumeYes) {}

bool StreamPrompts::message(const QString &text, MessageIcon icon, MessageButtons buttons, DefaultButton defaultButton)
{
    Q_UNUSED(icon);
    Q_UNUSED(defaultButton); // a script is never asked: --yes answers
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

} // namespace tessary
