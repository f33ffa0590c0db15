#pragma once

#include "serial/clock.h"
#include "serial/serialline.h"

#include <QList>

namespace tessary::test {

// A serial line for tests of the primitives: incoming bytes arrive at set
// times of the (virtual) clock, and flow control may hold the output back.
// Its transmitter sends the output at the line's speed (10 bits a byte) once
// flow control lets it go, and bytesToWrite() counts only what is held, as
// TIOCOUTQ does while a UART's FIFO still sends; a close (the settings put
// back) garbles what has not yet left.
class ScriptedLine : public SerialLine {
    Q_OBJECT
public:
    explicit ScriptedLine(const Clock &clock) : m_clock(clock) {}

    // Bytes that become readable at the given clock time.
    void schedule(qint64 at, const QByteArray &bytes);
    // A source that never stops: one byte 'x' every `everyMs` from `at` on.
    void streamForever(qint64 at, int everyMs);
    // Flow control holds the output back until the clock reaches `until`
    // (-1: for ever, as with CTS held low).
    void holdOutputUntil(qint64 until) { m_holdUntil = until; }

    bool portExists(int port) const override { return port >= 1 && port <= 6; }
    bool open(int, qint32 baud, int) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    QString errorString() const override { return {}; }
    qint32 baud() const override { return m_open ? m_baud : 0; }
    void write(const QByteArray &bytes) override;
    qint64 bytesToWrite() const override;
    void discardOutput() override;
    qint64 bytesAvailable() override;
    QByteArray read(qint64 maxBytes) override;
    void clearInput() override;
    std::optional<qint64> nextInputAt() const override;
    QString deviceName(int) const override { return {}; }

    QByteArray arrived; // what reached the far end whole, in order
    QByteArray garbled; // what a close caught on its way out (output not dropped before it)

private:
    void release();
    [[nodiscard]] bool holding() const;
    void transmit(); // what has left the transmitter by now arrives

    const Clock &m_clock;
    QList<QPair<qint64, QByteArray>> m_pending; // ordered by time
    QByteArray m_ready;
    bool m_open = false;
    qint64 m_streamFrom = -1;
    int m_streamEvery = 0;
    qint64 m_streamReleasedUpTo = -1;
    qint64 m_holdUntil = 0;
    qint32 m_baud = 0;
    QByteArray m_sending;     // written, not yet arrived
    qint64 m_sendFromUs = 0;  // when the first of them starts to leave
};

} // namespace tessary::test
