#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

namespace tessary {

// Flow control codes as the exchanges pass them.
enum HandshakeCode : int { HandshakeNone = 0, HandshakeXonXoff = 1, HandshakeHardware = 2 };

// The transport that the protocol never looks behind: one serial port,
// addressed as COM1 to COM6. Implementations: QSerialPort (QtSerialLine) and
// the in-process simulated board (SimulatedLine); RecordingLine wraps another.
// No call has a default body: a wrapper that forgets to pass one on does not
// compile.
class SerialLine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialLine() override = default;

    // Whether COMn names a device that exists on this machine.
    [[nodiscard]] virtual bool portExists(int port) const = 0;
    // Opens COMn at the speed (bauds, 8 data bits, no parity, 1 stop bit) and
    // handshake code. On failure errorString() tells why, in plain words.
    [[nodiscard]] virtual bool open(int port, qint32 baud, int handshake) = 0;
    // Closes at once, dropping output not yet sent: waiting for it to leave
    // is the caller's (SerialLink::closePort waits through the clock).
    virtual void close() = 0;
    [[nodiscard]] virtual bool isOpen() const = 0;
    [[nodiscard]] virtual QString errorString() const = 0;
    // The speed the port is open at, in bauds; 0 while it is closed.
    [[nodiscard]] virtual qint32 baud() const = 0;

    virtual void write(const QByteArray &bytes) = 0;
    // Output written but not yet handed to the line's transmitter (held back
    // by flow control); 0 where the line cannot tell. The last bytes may
    // still be leaving when it reads 0 (a UART's FIFO, a USB adapter's buffer).
    // Once the line has closed by itself (hung up), the output it dropped
    // then, until the next open.
    [[nodiscard]] virtual qint64 bytesToWrite() const = 0;
    // Drops the output not yet sent, so that closing does not wait for it.
    virtual void discardOutput() = 0;
    [[nodiscard]] virtual qint64 bytesAvailable() = 0;
    // Removes and returns at most maxBytes of what is waiting.
    virtual QByteArray read(qint64 maxBytes) = 0;
    virtual void clearInput() = 0;

    // For lines driven by a virtual clock: when the next byte will arrive, in
    // the clock's milliseconds. Real lines do not know and return nothing.
    [[nodiscard]] virtual std::optional<qint64> nextInputAt() const = 0;

    // The device behind COMn ("/dev/ttyUSB0"); empty when the line does not
    // name devices (the simulated board) or the slot is free.
    [[nodiscard]] virtual QString deviceName(int port) const = 0;

signals:
    // New bytes are waiting, or the line failed; a waiting clock wakes up.
    void inputReady();
};

} // namespace tessary
