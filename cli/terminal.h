#pragma once

#include "app/prompts.h"
#include "detection/detector.h"

#include <QStringList>
#include <QTimer>

class QTextStream;

namespace tessary {

// The message boxes of the exchanges as lines on standard error. Questions
// are answered OK only when the user said so beforehand (--yes): a script
// cannot be asked.
class StreamPrompts : public Prompts {
public:
    StreamPrompts(QTextStream &err, bool assumeYes);
    bool message(const QString &text, MessageIcon icon, MessageButtons buttons, DefaultButton defaultButton) override;

    void setAssumeYes(bool yes) { m_assumeYes = yes; }
    [[nodiscard]] bool assumeYes() const { return m_assumeYes; }
    // Every message shown, in order.
    [[nodiscard]] const QStringList &shown() const { return m_shown; }

private:
    QTextStream &m_err;
    bool m_assumeYes = false;
    QStringList m_shown;
};

// The status line as lines on standard error: what lands there is a problem
// with a port or the note of a cancelled command. Each text once: the same
// problem met again (the same held port at every speed, on every thread of
// a scan) is one line.
class StreamStatusLine : public StatusLine {
public:
    explicit StreamStatusLine(QTextStream &err);
    void showStatus(const QString &text) override;
    QString statusText() const override { return m_text; }

private:
    QTextStream &m_err;
    QString m_text;
    QStringList m_shown;
};

// The detection's progress ("Attempting to contact printer on COM 1 at
// 115200 bauds.") on standard error, unless quiet; a result that found no
// printer is left to the command's message.
class ProgressView : public DetectionView {
public:
    ProgressView(QTextStream &err, bool quiet);
    void setResultText(const QString &text) override;
    void selectSpeed(int) override {}
    void selectHandshake(int) override {}
    void selectPort(int) override {}
    void setBusy(bool) override {}
    void focusOk() override {}

    [[nodiscard]] QString lastText() const { return m_last; }

private:
    QTextStream &m_err;
    bool m_quiet = false;
    QString m_last;
};

// Whether the stream writes to a terminal (where lines can be redrawn).
[[nodiscard]] bool isTerminal(const QTextStream &stream);

// One live line per board while many run at once, on standard error ("COM3
// (ttyUSB2) 1200 bauds: writing 11/25"). On a terminal the lines stand one
// under the other and are redrawn in place (at most every 100 ms; a board's
// messages go above them); elsewhere each change is a plain line of its own.
// Quiet: the messages alone.
class BoardLines {
public:
    BoardLines(QTextStream &err, bool terminal, bool quiet);
    void show(int board, const QString &text);
    // A line of its own ("tessary: COM3 (ttyUSB2): Programming error ! ...").
    void message(const QString &text);
    // The lines as they stand now, drawn at once.
    void flush();

private:
    void draw();

    QTextStream &m_err;
    bool m_terminal = false;
    bool m_quiet = false;
    QStringList m_lines;
    qsizetype m_drawn = 0; // lines on the screen below the cursor's line
    QTimer m_redraw;
};

} // namespace tessary
