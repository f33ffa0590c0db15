#pragma once

#include "serial/portnames.h"
#include "serial/serialline.h"

#include <QSerialPort>

namespace tessary {

// The serial line over QSerialPort. Writes go to the device at once; what flow
// control holds back is counted by bytesToWrite() (Qt's buffer, and on Unix
// the driver's), and close() never waits for it. The first read or resource
// error closes the port (a hung-up line would otherwise repeat its error
// without end).
class QtSerialLine : public SerialLine {
    Q_OBJECT
public:
    explicit QtSerialLine(PortNames names, QObject *parent = nullptr);

    bool portExists(int port) const override;
    bool open(int port, qint32 baud, int handshake) override;
    void close() override;
    bool isOpen() const override;
    QString errorString() const override { return m_error; }
    qint32 baud() const override { return m_port.isOpen() ? m_port.baudRate() : 0; }
    void write(const QByteArray &bytes) override;
    qint64 bytesToWrite() const override;
    void discardOutput() override;
    qint64 bytesAvailable() override;
    QByteArray read(qint64 maxBytes) override;
    void clearInput() override;
    std::optional<qint64> nextInputAt() const override { return std::nullopt; } // real time: unknown
    QString deviceName(int port) const override { return m_names.device(port); }

    [[nodiscard]] const PortNames &portNames() const { return m_names; }
    // The slots follow the system's devices; an open port stays open.
    void setPortNames(const PortNames &names) { m_names = names; }

    // Explains in plain words why a device could not be opened.
    static QString describeOpenFailure(const QString &device, QSerialPort::SerialPortError error,
                                       const QString &qtMessage);

private:
    void onError(QSerialPort::SerialPortError error);

    PortNames m_names;
    QSerialPort m_port;
    QString m_error;
    int m_openPort = 0; // the port last opened: named only while it is open
    qint64 m_lost = 0; // the output a failure of the line dropped, until the next open
};

} // namespace tessary
