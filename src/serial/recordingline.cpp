#include "serial/recordingline.h"

#include "serial/trafficrecord.h"

#include <utility>

namespace tessary {

namespace {

// The port and time columns: "COM1    250 ms  ".
constexpr int PrefixWidth = 16;
// The hex of a short burst is padded to this many bytes, so the text of the
// usual commands and replies lines up.
constexpr int HexColumnBytes = 16;

QString handshakeText(int handshake)
{
    switch (handshake) {
    case HandshakeXonXoff:
        return QStringLiteral("XON/XOFF handshake");
    case HandshakeHardware:
        return QStringLiteral("hardware handshake");
    default:
        return QStringLiteral("no handshake");
    }
}

QString bytesWord(qint64 n) { return n == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(n); }

} // namespace

RecordingLine::RecordingLine(SerialLine &inner, const Clock &clock, TrafficRecord &record, QObject *parent)
    : SerialLine(parent), m_inner(inner), m_clock(clock), m_record(record)
{
    connect(&m_inner, &SerialLine::inputReady, this, &RecordingLine::onInputReady);
}

RecordingLine::~RecordingLine()
{
    if (recording())
        flush();
}

bool RecordingLine::recording() const { return m_record.isRecording(); }

void RecordingLine::beginCommand(const QString &name)
{
    if (!recording() || name.isEmpty())
        return;
    flush();
    noteHeldOutput(HeldEnd::StillHeld);
    m_heading = QStringLiteral("---- %1 ---- %2").arg(name, timeStamp(m_wallClock()));
}

QString RecordingLine::timeStamp(const QDateTime &time)
{
    const int offsetMinutes = time.offsetFromUtc() / 60;
    const int minutes = qAbs(offsetMinutes);
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz "))
         + QStringLiteral("%1%2:%3")
               .arg(QChar(offsetMinutes < 0 ? u'-' : u'+'))
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

void RecordingLine::put(QStringList lines)
{
    if (!m_heading.isEmpty())
        lines.prepend(std::exchange(m_heading, QString()));
    m_record.append(lines);
}

void RecordingLine::noteDevice(const QString &event)
{
    if (!recording())
        return;
    flush();
    m_record.append(event);
}

QString RecordingLine::prefix(qint64 atMs) const
{
    if (m_port == 0)
        return QString(PrefixWidth, QLatin1Char(' '));
    return QStringLiteral("%1 %2 ms  ").arg(portName(m_port)).arg(atMs - m_openedAt, 6);
}

QString RecordingLine::portName(int port) const
{
    return m_portName.isEmpty() ? QStringLiteral("COM%1").arg(port) : m_portName;
}

void RecordingLine::add(const QString &event, qint64 atMs) { put({prefix(atMs) + event}); }

void RecordingLine::addBytes(Burst kind, const QByteArray &bytes)
{
    noteHeldOutput(HeldEnd::StillHeld);
    if (kind != m_burst)
        flush();
    if (m_bytes.isEmpty())
        m_burstAt = m_clock.now();
    m_burst = kind;
    m_bytes += bytes;
}

void RecordingLine::flush()
{
    if (m_bytes.isEmpty()) {
        m_burst = Burst::None;
        return;
    }
    QString word;
    switch (m_burst) {
    case Burst::Sent:
        word = QStringLiteral("sent");
        break;
    case Burst::NotSent: // written on a line that had failed or was never opened
        word = QStringLiteral("not sent (port closed)");
        break;
    case Burst::Received:
        word = QStringLiteral("received");
        break;
    case Burst::Cleared:
        word = QStringLiteral("cleared");
        break;
    case Burst::None:
        break;
    }
    QStringList lines;
    const QString start = prefix(m_burstAt);
    const qsizetype wordWidth = m_burst == Burst::NotSent ? word.size() + 2 : 10;
    for (qsizetype at = 0; at < m_bytes.size(); at += BytesPerLine) {
        const QByteArray part = m_bytes.mid(at, BytesPerLine);
        // Further lines of a long burst leave the word out.
        lines << start + (at == 0 ? word : QString()).leftJustified(wordWidth)
                     + traffic::hex(part).leftJustified(HexColumnBytes * 3 - 1) + QStringLiteral("  ")
                     + traffic::text(part);
    }
    put(lines);
    m_bytes.clear();
    m_burst = Burst::None;
}

void RecordingLine::note(const QString &text)
{
    if (!recording())
        return;
    flush();
    add(text, m_clock.now());
}

void RecordingLine::noteHeldOutput(HeldEnd end)
{
    if (m_heldSince < 0)
        return;
    const qint64 since = std::exchange(m_heldSince, -1);
    QString event = QStringLiteral("waited %1 ms").arg(m_clock.now() - since);
    if (end == HeldEnd::Left)
        event += QStringLiteral(" for the output to leave");
    else if (end == HeldEnd::StillHeld)
        event += QStringLiteral(", %1 held back by flow control").arg(bytesWord(m_heldBytes));
    else
        event += QStringLiteral(", the output did not leave: %1 dropped").arg(bytesWord(m_heldBytes));
    add(event, since);
}

void RecordingLine::noteDelay(qint64 startMs, qint64 elapsedMs, qint64 waiting)
{
    if (!recording())
        return;
    flush();
    if (const qint64 held = m_port != 0 ? m_inner.bytesToWrite() : 0; held > 0) {
        m_heldBytes = held;
        if (m_heldSince < 0)
            m_heldSince = startMs;
        return;
    }
    if (m_heldSince >= 0) { // the output left during this wait
        noteHeldOutput(HeldEnd::Left);
        return;
    }
    QString event = QStringLiteral("waited %1 ms").arg(elapsedMs);
    if (m_port != 0)
        event += waiting > 0 ? QStringLiteral(", %1 waiting").arg(bytesWord(waiting)) : QStringLiteral(", nothing came");
    add(event, startMs);
}

void RecordingLine::noteSilence(qint64 startMs, qint64 elapsedMs)
{
    if (!recording())
        return;
    flush();
    noteHeldOutput(HeldEnd::StillHeld);
    add(QStringLiteral("waited %1 ms, nothing came").arg(elapsedMs), startMs);
}

bool RecordingLine::portExists(int port) const { return m_inner.portExists(port); }

bool RecordingLine::open(int port, qint32 baud, int handshake)
{
    if (m_inner.isOpen())
        return m_inner.open(port, baud, handshake);
    const bool opened = m_inner.open(port, baud, handshake);
    const bool shown = recording();
    if (shown)
        flush();
    if (opened) {
        m_port = port;
        m_openedAt = m_clock.now();
    }
    if (!shown)
        return opened;
    const QString device = m_inner.deviceName(port);
    const QString settings = QStringLiteral("%1 bauds, %2").arg(baud).arg(handshakeText(handshake));
    if (opened)
        add(QStringLiteral("opened at %1%2").arg(settings, device.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(device)),
            m_openedAt);
    else
        put({portName(port).leftJustified(PrefixWidth)
             + QStringLiteral("not opened at %1: %2").arg(settings, m_inner.errorString())});
    return opened;
}

void RecordingLine::close()
{
    if (m_port != 0 && recording()) {
        flush();
        noteHeldOutput(HeldEnd::StillHeld);
        add(QStringLiteral("closed"), m_clock.now());
    }
    m_bytes.clear();
    m_burst = Burst::None;
    m_heldSince = -1;
    m_port = 0;
    m_inner.close();
}

void RecordingLine::onInputReady()
{
    // The line failed and closed itself (an unplugged adapter).
    if (m_port != 0 && !m_inner.isOpen()) {
        if (recording()) {
            flush();
            noteHeldOutput(HeldEnd::StillHeld);
            add(QStringLiteral("closed by the line: %1").arg(m_inner.errorString()), m_clock.now());
        }
        m_heldSince = -1;
        m_port = 0;
    }
    emit inputReady();
}

bool RecordingLine::isOpen() const { return m_inner.isOpen(); }

QString RecordingLine::errorString() const { return m_inner.errorString(); }

qint32 RecordingLine::baud() const { return m_inner.baud(); }

void RecordingLine::write(const QByteArray &bytes)
{
    if (recording() && !bytes.isEmpty())
        addBytes(m_inner.isOpen() ? Burst::Sent : Burst::NotSent, bytes);
    m_inner.write(bytes);
}

qint64 RecordingLine::bytesToWrite() const { return m_inner.bytesToWrite(); }

void RecordingLine::discardOutput()
{
    if (recording()) {
        m_heldBytes = m_inner.bytesToWrite();
        noteHeldOutput(HeldEnd::Dropped);
    }
    m_inner.discardOutput();
}

qint64 RecordingLine::bytesAvailable() { return m_inner.bytesAvailable(); }

QByteArray RecordingLine::read(qint64 maxBytes)
{
    QByteArray bytes = m_inner.read(maxBytes);
    if (!bytes.isEmpty() && recording())
        addBytes(Burst::Received, bytes);
    return bytes;
}

void RecordingLine::clearInput()
{
    // What is thrown away unread is shown too: the first answer to the
    // scan's probe is never read.
    if (recording()) {
        if (const qint64 waiting = m_inner.bytesAvailable(); waiting > 0) {
            addBytes(Burst::Cleared, m_inner.read(waiting));
            flush();
        }
    }
    m_inner.clearInput();
}

std::optional<qint64> RecordingLine::nextInputAt() const { return m_inner.nextInputAt(); }

QString RecordingLine::deviceName(int port) const { return m_inner.deviceName(port); }

// --- RecordingClock ------------------------------------------------------

RecordingClock::RecordingClock(Clock &inner, RecordingLine &line) : m_inner(inner), m_line(line) {}

void RecordingClock::delay(int ms)
{
    if (ms <= 0 || !m_line.record().isRecording()) {
        m_inner.delay(ms);
        return;
    }
    const qint64 start = m_inner.now();
    m_inner.delay(ms);
    const qint64 waiting = m_line.inner().bytesAvailable();
    m_line.noteDelay(start, m_inner.now() - start, waiting);
}

bool RecordingClock::waitForInput(SerialLine &line, int ms)
{
    if (!m_line.record().isRecording())
        return m_inner.waitForInput(line, ms);
    const qint64 start = m_inner.now();
    const bool arrived = m_inner.waitForInput(line, ms);
    if (!arrived)
        m_line.noteSilence(start, m_inner.now() - start);
    return arrived;
}

} // namespace tessary
