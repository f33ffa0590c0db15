#include "serial/qtserialline.h"

#include <QFileInfo>
#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace tessary {

QtSerialLine::QtSerialLine(PortNames names, QObject *parent)
    : SerialLine(parent), m_names(std::move(names))
{
    connect(&m_port, &QSerialPort::readyRead, this, &SerialLine::inputReady);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialLine::onError);
}

bool QtSerialLine::portExists(int port) const { return m_names.exists(port); }

bool QtSerialLine::open(int port, qint32 baud, int handshake)
{
    if (m_port.isOpen())
        return true;
    const QString device = m_names.device(port);
    if (device.isEmpty() || !PortNames::deviceExists(device)) {
        m_error = QStringLiteral("COM%1 does not exist").arg(port);
        return false;
    }
    // Named by where it leads: Qt locks a port by its name, so a link and the
    // device it leads to, opened by two programs, are one port in use.
    const QString canonical = QFileInfo(device).canonicalFilePath();
    m_port.setPortName(canonical.isEmpty() ? device : canonical);
    m_port.setBaudRate(baud);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(handshake == HandshakeXonXoff    ? QSerialPort::SoftwareControl
                          : handshake == HandshakeHardware ? QSerialPort::HardwareControl
                                                           : QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_error = QStringLiteral("COM%1 (%2): %3")
                      .arg(port)
                      .arg(device, describeOpenFailure(device, m_port.error(), m_port.errorString()));
        m_port.clearError();
        return false;
    }
    m_openPort = port;
    m_error.clear();
    m_lost = 0;
    return true;
}

void QtSerialLine::close()
{
    if (!m_port.isOpen())
        return;
    // Output still held back would make the close wait for it (in the
    // driver, for as long as flow control holds it): drop it instead.
    if (bytesToWrite() > 0)
        discardOutput();
    m_port.close();
}

qint64 QtSerialLine::bytesToWrite() const
{
    if (!m_port.isOpen())
        return m_lost;
    qint64 pending = m_port.bytesToWrite();
#if defined(Q_OS_UNIX) && defined(TIOCOUTQ)
    // What the driver has taken but not yet sent (a UART held by CTS).
    int queued = 0;
    if (::ioctl(int(m_port.handle()), TIOCOUTQ, &queued) == 0 && queued > 0)
        pending += queued;
#endif
    return pending;
}

void QtSerialLine::discardOutput()
{
    if (m_port.isOpen())
        m_port.clear(QSerialPort::Output);
}

bool QtSerialLine::isOpen() const { return m_port.isOpen(); }

void QtSerialLine::write(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        return;
    m_port.write(bytes);
    m_port.flush();
}

qint64 QtSerialLine::bytesAvailable()
{
    return m_port.isOpen() ? m_port.bytesAvailable() : 0;
}

QByteArray QtSerialLine::read(qint64 maxBytes)
{
    return m_port.isOpen() ? m_port.read(maxBytes) : QByteArray();
}

void QtSerialLine::clearInput()
{
    if (!m_port.isOpen())
        return;
    m_port.clear(QSerialPort::Input);
    m_port.readAll(); // what Qt had already taken from the device
}

void QtSerialLine::onError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::UnsupportedOperationError: // modem lines of a pseudo-terminal
    case QSerialPort::TimeoutError:
        return;
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
    case QSerialPort::WriteError:
#ifdef Q_OS_UNIX
        // The driver takes nothing now because flow control holds the line
        // (the board sent XOFF): no failure. Qt keeps the bytes and sends them
        // when the line lets it; closePort() waits for them for a while.
        if (m_port.errorString() == qt_error_string(EAGAIN)) {
            m_port.clearError();
            return;
        }
#endif
        if (m_port.isOpen()) {
            // A line that hangs up reads as the end of its input (or EIO on
            // a terminal), and Qt then gives whatever errno last held, often
            // a modem-line call's "Inappropriate ioctl for device".
            bool hungUp = error != QSerialPort::WriteError;
#ifdef Q_OS_UNIX
            hungUp = hungUp || m_port.errorString() == qt_error_string(EIO);
#endif
            m_error = QStringLiteral("COM%1 (%2): %3; the port was closed")
                          .arg(m_openPort)
                          .arg(m_names.device(m_openPort),
                               hungUp ? QStringLiteral("the device hung up")
                                      : QStringLiteral("the line failed (%1)").arg(m_port.errorString()));
            m_port.clearError();
            m_lost = bytesToWrite(); // what the failure dropped never left
            m_port.close();
            emit inputReady(); // wake a waiting clock
        }
        return;
    default:
        return; // open failures are reported by open()
    }
}

QString QtSerialLine::describeOpenFailure(const QString &device, QSerialPort::SerialPortError error,
                                          const QString &qtMessage)
{
    if (!PortNames::deviceExists(device))
        return QStringLiteral("the device is not there (unplugged?)");
#ifdef Q_OS_UNIX
    // Qt reports a busy port, a lock file and a missing permission alike;
    // an open of our own finds the real cause.
    const QByteArray path = QFile::encodeName(device);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        if (err == EACCES || err == EPERM)
            return QStringLiteral("no permission to use the port; add your user to the dialout "
                                  "group (sudo usermod -aG dialout $USER) and log in again");
        if (err == EBUSY)
            return QStringLiteral("the port is in use by another program");
        return QString::fromLocal8Bit(std::strerror(err));
    }
    ::close(fd);
    if (error == QSerialPort::PermissionError)
        return QStringLiteral("the port is in use by another program");
    return qtMessage;
#else
    Q_UNUSED(error)
    return qtMessage;
#endif
}

} // namespace tessary
