#pragma once

#include "serial/clock.h"
#include "serial/serialline.h"

#include <QList>
#include <QSet>

namespace tessary::test {

// A serial line for tests of the primitives: incoming bytes are scheduled at
// times of the (virtual) clock, everything written is recorded with its time.
class ScriptedLine : public SerialLine {
    Q_OBJECT
public:
    explicit ScriptedLine(const Clock &clock, QSet<int> existing = {1, 2, 3, 4, 5, 6});

    struct Write {
        qint64 at;
        int port;
        qint32 baud;
        int handshake;
        QByteArray bytes;
    };
    struct Open {
        qint64 at;
        int port;
        qint32 baud;
        int handshake;
    };

    // Bytes that become readable at the given clock time.
    void schedule(qint64 at, const QByteArray &bytes);
    // A source that never stops: one byte every `everyMs` from `at` on.
    void streamForever(qint64 at, int everyMs, char byte = 'x');
    // Make open() fail with this reason.
    void failOpen(const QString &reason) { m_openFailure = reason; }
    // Flow control holds the output back until the clock reaches `until`
    // (-1: for ever, as with CTS held low).
    void holdOutputUntil(qint64 until) { m_holdUntil = until; }

    bool portExists(int port) const override { return m_existing.contains(port); }
    bool open(int port, qint32 baud, int handshake) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    QString errorString() const override { return m_error; }
    void write(const QByteArray &bytes) override;
    qint64 bytesToWrite() const override;
    void discardOutput() override;
    qint64 bytesAvailable() override;
    QByteArray read(qint64 maxBytes) override;
    void clearInput() override;
    std::optional<qint64> nextInputAt() const override;

    QList<Write> writes;
    QList<Open> opens;
    int closes = 0;
    int discards = 0;      // discardOutput() calls that dropped something
    qint64 closedWithPending = 0; // output still held at the last close
    [[nodiscard]] QByteArray written() const; // all writes joined
    int readCalls = 0;

private:
    void release();

    const Clock &m_clock;
    QSet<int> m_existing;
    QList<QPair<qint64, QByteArray>> m_pending; // ordered by time
    QByteArray m_ready;
    bool m_open = false;
    int m_port = 0;
    qint32 m_baud = 0;
    int m_handshake = 0;
    QString m_error;
    QString m_openFailure;
    qint64 m_streamFrom = -1;
    int m_streamEvery = 0;
    char m_streamByte = 'x';
    qint64 m_streamReleasedUpTo = -1;
    qint64 m_holdUntil = 0;
    qint64 m_held = 0; // bytes written while the output was held
};

} // namespace tessary::test
