#pragma once

#include "serial/clock.h"
#include "serial/serialline.h"

#include <QByteArray>
#include <QMetaObject>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

namespace tessary {

class StatusLine;

// Thrown by a wait once a stop has been requested (a window is closing). The
// command gate catches it and closes the port.
struct CommandStopped {};

// The serial primitives every exchange with the board is written with: open
// and close, send, the three ways of reading a reply, and the timed waits.
class SerialLink {
public:
    static constexpr int ReadLimit = 100;       // characters per read
    static constexpr int SettleMs = 50;         // pause after opening
    static constexpr int PollMs = 10;           // poll interval
    static constexpr int PollLimit = 50;        // polls
    static constexpr int ValueTimeoutMs = 500;  // get_value
    // A device that never stops sending must not hold ReadReply for ever.
    static constexpr int ReplyByteCap = 4096;
    static constexpr int ReplyTimeCapMs = 5000;
    // How long a close waits for the output to leave, and how often it looks.
    static constexpr int DrainLimitMs = 1000;
    static constexpr int DrainPollMs = 5;
    // After the output queue reads empty, the close waits until the last
    // bytes written have had their time on the line (10 bits a byte at the
    // port's speed) and this margin: closing restores the port's old settings
    // at once, and a byte still in the UART would leave at the old speed.
    static constexpr int LineMarginMs = 2;

    static QString undrainedMessage()
    {
        return QStringLiteral("The serial port's output did not leave within 1 s and was dropped: flow control "
                              "holds it back (check the cable's handshake lines and that the printer is on)");
    }

    SerialLink(SerialLine &line, Clock &clock, StatusLine *status = nullptr);
    ~SerialLink();
    SerialLink(const SerialLink &) = delete;
    SerialLink &operator=(const SerialLink &) = delete;

    [[nodiscard]] SerialLine &line() { return m_line; }
    [[nodiscard]] Clock &clock() { return m_clock; }
    // Where problems with the port are reported (the main window's status bar).
    void setStatusLine(StatusLine *status) { m_status = status; }

    // PortExists: whether the system knows COMn.
    [[nodiscard]] bool portExists(int port) const;
    // OpenPort: does nothing when the port is open already; otherwise
    // configures and opens it, then pauses 50 ms. A port that cannot be
    // opened is reported once on the status line and the command goes on as
    // if the board did not answer. Returns whether the port is open.
    bool openPort(int port, const QString &speed, int handshake);
    // Opens without OpenPort's settle pause and without reporting a failure:
    // the detection's own waits and reports.
    [[nodiscard]] bool openLine(int port, const QString &speed, int handshake);
    // ClosePort: bytes written before it still reach the board. Waits through
    // the clock (the windows keep working) until the output has left, for at
    // most 1 s, then until the last bytes' time on the line has passed; output
    // that never leaves (flow control holding it) is dropped and reported on
    // the status line once per command. Never throws: a stop requested
    // meanwhile just ends the wait. It runs as a command unwinds. Returns
    // whether everything written since the port was opened went out: false
    // when the port was not open, the line failed before the output had
    // left, or the output was dropped. A line that hangs up once the output
    // has left (lineFailed() then says so) has sent it.
    bool closePort() noexcept;
    [[nodiscard]] bool isOpen() const { return m_line.isOpen(); }
    // The line closed by itself (hung up, failed) since the port was last
    // opened.
    [[nodiscard]] bool lineFailed() const { return m_lineFailed; }
    // Says why COMn cannot be opened where it knows better than the line
    // (the slot's adapter is gone); an empty text leaves the line's reason.
    void setOpenFailureNote(std::function<QString(int port)> note) { m_openFailureNote = std::move(note); }

    void sendString(const QByteArray &bytes);
    // One write per byte, without pause between them.
    void sendCharByChar(const QByteArray &bytes);

    // Everything until the line has been quiet for 50 polls (capped).
    QByteArray readReply();
    // The first byte within 50 polls, nothing when none came; the rest of
    // that read is dropped.
    std::optional<quint8> readByte();
    // The first byte within 500 ms; nothing when none came (a received 0 is
    // a byte like any other).
    std::optional<quint8> getValue();
    // Delay: a pause that keeps the windows working.
    void delay(int ms);

    // Direct line operations used by the detection.
    void clearInput();
    [[nodiscard]] qint64 bytesWaiting();
    QByteArray readWaiting(); // at most ReadLimit bytes

    // A remark for the traffic record, when the line is recorded ("not a
    // board: ..."): what the exchange made of what went over the wire.
    void note(const QString &text);

    // Ask the command in progress to stop at its next wait. Called on the
    // link's own thread (the flag itself may be read from any).
    void requestStop();
    // Throws CommandStopped once a stop has been requested.
    void checkStop() const;
    // A command starts or ends: no stop requested, nothing reported yet.
    void clearStop()
    {
        m_stopRequested = false;
        m_undrainedReported = false;
        m_problemEarlier = true;
    }
    [[nodiscard]] bool stopRequested() const { return m_stopRequested; }

    // The problem last reported on the status line, empty when none.
    [[nodiscard]] QString lastProblem() const { return m_lastProblem; }

private:
    // Reports a problem with the port last tried.
    void report(const QString &problem);
    // The port is open: the link's own message about it from an earlier
    // command goes, unless the status line has said something else since
    // (within one command it stays: the command met the problem).
    void opened();
    // The transmitter: when the bytes written so far will have left the line.
    void noteWritten(qsizetype bytes);
    [[nodiscard]] qint64 lineTimeUs(qint64 bytes) const;

    SerialLine &m_line;
    Clock &m_clock;
    StatusLine *m_status = nullptr;
    [[nodiscard]] bool drainOutput() noexcept;

    std::atomic_bool m_stopRequested = false;
    bool m_undrainedReported = false;
    bool m_lineFailed = false;
    qint64 m_lineBusyUntilUs = 0; // clock microseconds
    QString m_lastProblem;
    int m_port = 0;               // the port last tried
    int m_problemPort = 0;        // the port the last problem was about
    bool m_problemEarlier = false; // reported by an earlier command than the one running
    std::function<QString(int port)> m_openFailureNote;
    QMetaObject::Connection m_failConnection;
};

// Closes the port however an exchange ends, a stop included.
class PortCloser {
public:
    explicit PortCloser(SerialLink &link) : m_link(link) {}
    ~PortCloser() { m_link.closePort(); }
    PortCloser(const PortCloser &) = delete;
    PortCloser &operator=(const PortCloser &) = delete;

private:
    SerialLink &m_link;
};

// The nine speed texts, slowest first, and the speed code the board reports
// for each (28800 and 38400 share code 5).
const QStringList &speedTexts();
[[nodiscard]] int speedCode(const QString &speed);

} // namespace tessary
