#include "serial/seriallink.h"

#include "app/prompts.h"
#include "serial/recordingline.h"

#include <QStringList>

namespace tessary {

SerialLink::SerialLink(SerialLine &line, Clock &clock, StatusLine *status)
    : m_line(line), m_clock(clock), m_status(status)
{
    // A line that fails while open (unplugged board) closes itself and says
    // why; the command then reads silence.
    m_failConnection = QObject::connect(&m_line, &SerialLine::inputReady, [this] {
        if (!m_line.isOpen() && !m_line.errorString().isEmpty()) {
            m_lineFailed = true;
            report(m_line.errorString());
        }
    });
}

SerialLink::~SerialLink() { QObject::disconnect(m_failConnection); }

bool SerialLink::portExists(int port) const { return m_line.portExists(port); }

bool SerialLink::openPort(int port, const QString &speed, int handshake)
{
    if (m_line.isOpen())
        return true;
    checkStop();
    m_port = port;
    if (!m_line.open(port, speed.toInt(), handshake)) {
        const QString note = m_openFailureNote ? m_openFailureNote(port) : QString();
        report(note.isEmpty() ? m_line.errorString() : note);
        return false;
    }
    opened();
    delay(SettleMs);
    return m_line.isOpen();
}

bool SerialLink::openLine(int port, const QString &speed, int handshake)
{
    m_port = port;
    if (!m_line.open(port, speed.toInt(), handshake))
        return false;
    opened();
    return true;
}

void SerialLink::opened()
{
    m_lineFailed = false;
    if (m_problemPort != m_port || !m_problemEarlier)
        return;
    if (m_status && m_status->statusText() == m_lastProblem)
        m_status->showStatus(QString());
    m_problemPort = 0;
    m_lastProblem.clear();
}

bool SerialLink::closePort() noexcept
{
    if (!m_line.isOpen())
        return false;
    const bool drained = drainOutput();
    if (!drained && m_line.isOpen()) {
        m_line.discardOutput();
        // A stop (a window closing) cut the wait short: nothing to tell.
        if (!m_stopRequested && !m_undrainedReported) {
            m_undrainedReported = true;
            report(undrainedMessage());
        }
    }
    // The output queue reads empty while the last bytes are still in the
    // UART: they must leave before the close puts the old settings back. A
    // last write long ago needs no wait; a stop needs none either.
    const qint64 leftAtMs = (m_lineBusyUntilUs + LineMarginMs * 1000 + 999) / 1000;
    if (drained && !m_stopRequested && leftAtMs > m_clock.now())
        m_clock.delay(int(leftAtMs - m_clock.now())); // the clock's own wait, which never throws
    // A line that hangs up once its output has left (the board restarting
    // after the reset) has still sent it; what the hang-up dropped has not.
    const bool sent = drained && (m_line.isOpen() || m_line.bytesToWrite() <= 0);
    m_line.close();
    return sent;
}

bool SerialLink::drainOutput() noexcept
{
    const qint64 start = m_clock.now();
    qint64 held = 0; // what flow control held at the last look
    for (;;) {
        // Gone meanwhile: what it dropped never left.
        if (!m_line.isOpen())
            return m_line.bytesToWrite() <= 0;
        const qint64 pending = m_line.bytesToWrite();
        // Held back so far: these bytes have their time on the line from now.
        if (const qint64 leaving = qMax(held, pending); leaving > 0)
            m_lineBusyUntilUs = qMax(m_lineBusyUntilUs, m_clock.now() * 1000 + lineTimeUs(leaving));
        if (pending <= 0)
            return true;
        held = pending;
        const qint64 waited = m_clock.now() - start;
        if (m_stopRequested || waited >= DrainLimitMs)
            return false;
        // The clock's own wait, which never throws (the link's delay would).
        m_clock.delay(int(qMin<qint64>(DrainPollMs, DrainLimitMs - waited)));
    }
}

qint64 SerialLink::lineTimeUs(qint64 bytes) const
{
    const qint32 baud = m_line.baud();
    return baud > 0 ? bytes * 10'000'000 / baud : 0; // 10 bits a byte
}

void SerialLink::noteWritten(qsizetype bytes)
{
    m_lineBusyUntilUs = qMax(m_lineBusyUntilUs, m_clock.now() * 1000) + lineTimeUs(bytes);
}

void SerialLink::sendString(const QByteArray &bytes)
{
    m_line.write(bytes);
    noteWritten(bytes.size());
}

void SerialLink::sendCharByChar(const QByteArray &bytes)
{
    for (char c : bytes) {
        m_line.write(QByteArray(1, c));
        noteWritten(1);
    }
}

QByteArray SerialLink::readReply()
{
    QByteArray reply;
    const qint64 start = m_clock.now();
    for (;;) {
        checkStop();
        if (m_line.bytesAvailable() > 0) {
            reply += m_line.read(ReadLimit);
            if (reply.size() >= ReplyByteCap || m_clock.now() - start >= ReplyTimeCapMs)
                break;
            continue;
        }
        // Waiting for input covers the 50 polls of 10 ms at once: it returns
        // as soon as a byte arrives, or when the line stayed quiet that long.
        const bool arrived = m_clock.waitForInput(m_line, PollLimit * PollMs);
        checkStop();
        if (!arrived)
            break;
        if (m_clock.now() - start >= ReplyTimeCapMs) {
            reply += m_line.read(ReadLimit);
            break;
        }
    }
    return reply.left(ReplyByteCap);
}

std::optional<quint8> SerialLink::readByte()
{
    checkStop();
    const bool arrived = m_clock.waitForInput(m_line, PollLimit * PollMs);
    checkStop();
    if (!arrived)
        return std::nullopt;
    const QByteArray chunk = m_line.read(ReadLimit);
    if (chunk.isEmpty())
        return std::nullopt;
    return quint8(chunk.at(0));
}

std::optional<quint8> SerialLink::getValue()
{
    checkStop();
    const bool arrived = m_clock.waitForInput(m_line, ValueTimeoutMs);
    checkStop();
    if (!arrived)
        return std::nullopt;
    const QByteArray chunk = m_line.read(ReadLimit);
    if (chunk.isEmpty())
        return std::nullopt;
    return quint8(chunk.at(0));
}

void SerialLink::delay(int ms)
{
    checkStop();
    m_clock.delay(ms);
    checkStop();
}

void SerialLink::clearInput() { m_line.clearInput(); }

qint64 SerialLink::bytesWaiting() { return m_line.bytesAvailable(); }

QByteArray SerialLink::readWaiting() { return m_line.read(ReadLimit); }

void SerialLink::note(const QString &text)
{
    if (auto *recording = qobject_cast<RecordingLine *>(&m_line))
        recording->note(text);
}

void SerialLink::requestStop()
{
    m_stopRequested = true;
    m_clock.interrupt();
}

void SerialLink::checkStop() const
{
    if (m_stopRequested)
        throw CommandStopped{};
}

void SerialLink::report(const QString &problem)
{
    m_lastProblem = problem;
    m_problemPort = m_port;
    m_problemEarlier = false;
    if (m_status)
        m_status->showStatus(problem);
}

const QStringList &speedTexts()
{
    static const QStringList texts = {
        QStringLiteral("1200"),  QStringLiteral("2400"),  QStringLiteral("4800"),
        QStringLiteral("9600"),  QStringLiteral("19200"), QStringLiteral("28800"),
        QStringLiteral("38400"), QStringLiteral("57600"), QStringLiteral("115200")};
    return texts;
}

int speedCode(const QString &speed)
{
    static const int codes[] = {0, 1, 2, 3, 4, 5, 5, 6, 7};
    const int index = speedTexts().indexOf(speed);
    return index < 0 ? -1 : codes[index];
}

} // namespace tessary
