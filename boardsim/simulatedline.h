#pragma once

#include "boardsim/board.h"
#include "serial/clock.h"
#include "serial/serialline.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>

namespace tessary::sim {

// How the program's end of a simulated port is set.
struct LineSettings {
    qint32 baud = 0;
    int handshake = HandshakeNone;
};

// Whatever sits at the far end of a simulated port. Times in microseconds of
// the line's clock.
class Device {
public:
    virtual ~Device() = default;
    // The program wrote bytes with its end set so; the first byte has arrived
    // at firstUs, each further one byteUs later.
    virtual void receive(const QByteArray &bytes, qint64 firstUs, qint64 byteUs,
                         const LineSettings &settings) = 0;
    // Removes the output that has reached the line by nowUs and returns what
    // the program's end hears of it; `listening` is null while the port is
    // closed (the output is lost).
    virtual QByteArray takeDue(qint64 nowUs, const LineSettings *listening) = 0;
    // When the next byte the program's end would hear arrives.
    [[nodiscard]] virtual std::optional<qint64> nextOutputAtUs(const LineSettings &listening) const = 0;
    // A hung-up device takes its port away, from the moment the byte that
    // made it hang up arrived (none known: once the bytes written reached it).
    [[nodiscard]] virtual bool isHungUp() const { return false; }
    [[nodiscard]] virtual std::optional<qint64> hungUpAtUs() const { return std::nullopt; }
};

// What a board does with bytes sent at a speed other than its own.
enum class OtherSpeeds { Silence, Garbage };

// The board on a simulated port: heard only at its own speed.
class BoardDevice : public Device {
public:
    explicit BoardDevice(const BoardOptions &options = {}, OtherSpeeds otherSpeeds = OtherSpeeds::Silence);

    [[nodiscard]] Board &board() { return m_board; }
    void receive(const QByteArray &bytes, qint64 firstUs, qint64 byteUs, const LineSettings &settings) override;
    QByteArray takeDue(qint64 nowUs, const LineSettings *listening) override;
    [[nodiscard]] std::optional<qint64> nextOutputAtUs(const LineSettings &listening) const override;
    [[nodiscard]] bool isHungUp() const override { return m_board.isHungUp(); }
    [[nodiscard]] std::optional<qint64> hungUpAtUs() const override { return m_board.hungUpAtUs(); }

private:
    Board m_board;
    OtherSpeeds m_otherSpeeds;
    QList<QPair<qint64, char>> m_noise; // framing noise heard at the program's speed
    quint32 m_seed = 0x2545F491u;
};

// Another device, answering each write through a callback, at the speed it
// was spoken to (e.g. one that answers the probe once but not twice).
class ScriptedDevice : public Device {
public:
    using Responder = std::function<QByteArray(const QByteArray &received, const LineSettings &settings)>;
    explicit ScriptedDevice(Responder responder, qint64 latencyUs = 2'000);

    void receive(const QByteArray &bytes, qint64 firstUs, qint64 byteUs, const LineSettings &settings) override;
    QByteArray takeDue(qint64 nowUs, const LineSettings *listening) override;
    [[nodiscard]] std::optional<qint64> nextOutputAtUs(const LineSettings &listening) const override;

private:
    Responder m_responder;
    qint64 m_latencyUs;
    QList<QPair<qint64, char>> m_output;
};

// The serial line in process, for tests: COM1 to COM6 exist or not, a board
// or other devices sit on some of them, and every open, write and close is
// recorded with the clock's time. Works with any Clock; with the virtual
// clock, nextInputAt() lets a wait jump to the next byte.
class SimulatedLine : public SerialLine {
    Q_OBJECT
public:
    // All six ports exist, with nothing on them.
    explicit SimulatedLine(const Clock &clock, QObject *parent = nullptr);
    ~SimulatedLine() override;

    struct Open {
        qint64 at; // clock milliseconds
        int port;
        qint32 baud;
        int handshake;
    };
    struct Write {
        qint64 at;
        int port;
        qint32 baud;
        int handshake;
        QByteArray bytes;
    };
    struct Close {
        qint64 at;
        int port;
        bool hungUp; // the line closed itself
    };

    // Configuration.
    void setExistingPorts(const QSet<int> &ports);
    void setPortExists(int port, bool exists);
    // Places a board on the port (which then exists) and returns it.
    Board &attachBoard(int port, const BoardOptions &options = {},
                       OtherSpeeds otherSpeeds = OtherSpeeds::Silence);
    void attachDevice(int port, std::shared_ptr<Device> device);
    // Puts what is behind COMn on another line too (for a line of its own
    // per thread): the same device, whether the port exists and why it cannot
    // be opened. Only one of the two lines may use the port at a time.
    void sharePort(int port, SimulatedLine &other) const;
    // The board on the port; port 0: the first board attached. Null when none.
    [[nodiscard]] Board *board(int port = 0) const;
    // Opening the port fails with this reason (empty: opens again).
    void failOpen(int port, const QString &reason);
    // Whether the line emits inputReady() from a timer when a byte is due (for
    // clocks that wait in an event loop). On by default.
    void setWakeups(bool on);
    // Flow control holds the program's output from now until the clock
    // reaches `until` (-1: for ever, a board that sent XOFF and died). What
    // is written meanwhile waits, counted by bytesToWrite(), and leaves when
    // the hold ends; a close drops it.
    void holdOutputUntil(qint64 until);

    // What the program did.
    [[nodiscard]] const QList<Open> &opens() const { return m_opens; }
    [[nodiscard]] const QList<Write> &writes() const { return m_writes; }
    [[nodiscard]] const QList<Close> &closes() const { return m_closes; }
    [[nodiscard]] QByteArray writtenBytes() const;        // every write joined
    [[nodiscard]] QByteArray writtenBytes(int port) const; // the writes to one port joined
    [[nodiscard]] QByteArray readBytes() const { return m_readLog; } // everything the program read
    void clearRecords();

    // SerialLine
    bool portExists(int port) const override;
    bool open(int port, qint32 baud, int handshake) override;
    void close() override;
    bool isOpen() const override { return m_open && !hangUpDue(); }
    QString errorString() const override { return m_error; }
    qint32 baud() const override { return m_open ? m_settings.baud : 0; }
    void write(const QByteArray &bytes) override;
    qint64 bytesToWrite() const override;
    void discardOutput() override { m_held.clear(); }
    qint64 bytesAvailable() override;
    QByteArray read(qint64 maxBytes) override;
    void clearInput() override;
    std::optional<qint64> nextInputAt() const override;
    QString deviceName(int) const override { return {}; }

    static constexpr qsizetype InputBufferLimit = 1 << 20;
    [[nodiscard]] static qint64 byteTimeUs(qint32 baud);

private:
    [[nodiscard]] qint64 nowUs() const { return m_clock.now() * 1000; }
    [[nodiscard]] bool holding() const { return m_holdUntil < 0 || m_clock.now() < m_holdUntil; }
    // Puts bytes on the line, the first leaving at startUs or once the
    // earlier ones have left.
    void transmit(const QByteArray &bytes, qint64 startUs);
    // The device hung up and the bytes that made it have reached it.
    [[nodiscard]] bool hangUpDue() const;
    void pump();
    void hangUp();
    void armWakeup();
    void onWakeup();

    const Clock &m_clock;
    QSet<int> m_existing;
    QSet<int> m_gone; // hung up: the device has disappeared
    QHash<int, std::shared_ptr<Device>> m_devices;
    QHash<int, BoardDevice *> m_boards;
    int m_firstBoardPort = 0;
    QHash<int, QString> m_openFailures;

    bool m_open = false;
    int m_port = 0;
    LineSettings m_settings;
    QString m_error;
    QByteArray m_input;
    qint64 m_txBusyUntilUs = 0;
    std::optional<qint64> m_hangUpAtUs; // the device has hung up: the port goes then
    qint64 m_inFlightAtHangUp = 0;      // bytes written that were still to reach it then
    qint64 m_lost = 0;                  // what the hang-up dropped, told by bytesToWrite() until the next open
    qint64 m_holdUntil = 0; // clock milliseconds; -1 for ever
    QByteArray m_held;      // written while flow control held the output

    QTimer m_wakeup;
    bool m_wakeups = true;
    qint64 m_armedAt = -1;

    QList<Open> m_opens;
    QList<Write> m_writes;
    QList<Close> m_closes;
    QByteArray m_readLog;
};

} // namespace tessary::sim
