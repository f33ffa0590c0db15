#pragma once

#include "serial/clock.h"
#include "serial/serialline.h"

#include <QDateTime>

#include <functional>

namespace tessary {

class TrafficRecord;

// A serial line that passes every call on to another and, while its record
// is watched, reports each opening and closing, each burst of bytes sent or
// received and each wait (told by RecordingClock) as a line of the record.
// The exchanges see no difference: what goes over the wire is the same with
// the record watched or not.
//
// A burst is what goes one way without anything else in between: the writes
// of a command sent byte by byte are one burst, and so are the reads that
// collect one reply. Times are in milliseconds since the port was opened.
//
// One line and its clock belong to one thread; several pairs, each on its
// own thread, may fill one record.
class RecordingLine : public SerialLine {
    Q_OBJECT
public:
    // clock: the clock the line is waited on, for the times of the lines.
    RecordingLine(SerialLine &inner, const Clock &clock, TrafficRecord &record, QObject *parent = nullptr);
    ~RecordingLine() override;

    [[nodiscard]] SerialLine &inner() const { return m_inner; }
    [[nodiscard]] TrafficRecord &record() const { return m_record; }

    // The traffic that follows belongs to this command ("Check identity"):
    // its name and the date and time it began head the first line that
    // follows, and nothing is recorded for a command that sends and receives
    // nothing.
    void beginCommand(const QString &name);
    // Where the headings take the date and time from: the system's local
    // time unless told.
    void setWallClock(std::function<QDateTime()> wallClock) { m_wallClock = std::move(wallClock); }
    // "2026-03-02 14:05:00.250 +01:00": the local time to the millisecond and
    // its offset from UTC, so that the record can be matched with a log kept
    // in UTC as well as with the system's own.
    [[nodiscard]] static QString timeStamp(const QDateTime &time);
    // How the lines name the port: a device that has no COM number of its
    // own is named by itself; empty (the default): COMn.
    void setPortName(const QString &name) { m_portName = name; }
    // A line of its own between the traffic ("COM3: ttyUSB0 unplugged").
    void noteDevice(const QString &event);

    // A remark of the exchange on what went over the wire, as a line of its own.
    void note(const QString &text);

    // From RecordingClock: a pause of elapsedMs that began at startMs, after
    // which `waiting` bytes were waiting.
    void noteDelay(qint64 startMs, qint64 elapsedMs, qint64 waiting);
    // From RecordingClock: a wait for input that ended without any.
    void noteSilence(qint64 startMs, qint64 elapsedMs);

    // SerialLine
    bool portExists(int port) const override;
    bool open(int port, qint32 baud, int handshake) override;
    void close() override;
    bool isOpen() const override;
    QString errorString() const override;
    qint32 baud() const override;
    void write(const QByteArray &bytes) override;
    qint64 bytesToWrite() const override;
    void discardOutput() override;
    qint64 bytesAvailable() override;
    QByteArray read(qint64 maxBytes) override;
    void clearInput() override;
    std::optional<qint64> nextInputAt() const override;
    QString deviceName(int port) const override;

    // Bytes shown on one line; a longer burst goes on over further lines.
    static constexpr int BytesPerLine = 32;

private:
    enum class Burst { None, Sent, NotSent, Received, Cleared };

    [[nodiscard]] bool recording() const;
    // Waits while flow control holds output back (the close looks every few
    // ms) make one line, written when they end: the output left, something
    // else happened with it still held, or it was dropped.
    enum class HeldEnd { Left, StillHeld, Dropped };
    void noteHeldOutput(HeldEnd end);
    void addBytes(Burst kind, const QByteArray &bytes);
    void flush();
    void add(const QString &event, qint64 atMs);
    // Into the record, headed by the command's name when they are its first.
    void put(QStringList lines);
    [[nodiscard]] QString prefix(qint64 atMs) const;
    [[nodiscard]] QString portName(int port) const;
    void onInputReady();

    SerialLine &m_inner;
    const Clock &m_clock;
    TrafficRecord &m_record;
    int m_port = 0;          // the port this line has open, 0 when none
    QString m_portName;
    qint64 m_openedAt = 0;   // clock milliseconds
    Burst m_burst = Burst::None;
    qint64 m_burstAt = 0;
    QByteArray m_bytes;
    QString m_heading; // the command's name, until a line follows it
    std::function<QDateTime()> m_wallClock = [] { return QDateTime::currentDateTime(); };
    qint64 m_heldSince = -1; // clock milliseconds; -1: no output held
    qint64 m_heldBytes = 0;
};

// A clock that passes every wait on to another and reports it to its
// recording line: a pause with what was then waiting, and a wait for input
// that ended with none ("waited 500 ms, nothing came"). A wait that input
// ended is shown by the bytes that came.
class RecordingClock : public Clock {
public:
    RecordingClock(Clock &inner, RecordingLine &line);

    void delay(int ms) override;
    bool waitForInput(SerialLine &line, int ms) override;
    [[nodiscard]] qint64 now() const override { return m_inner.now(); }
    void interrupt() override { m_inner.interrupt(); }

private:
    Clock &m_inner;
    RecordingLine &m_line;
};

} // namespace tessary
