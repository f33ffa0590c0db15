// The QSerialPort line over a real pseudo-terminal, in real time.
#include "app/prompts.h"
#include "serial/eventloopclock.h"
#include "serial/qtserialline.h"
#include "serial/seriallink.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

using namespace tessary;

namespace {

// The far end of a pseudo-terminal, standing in for the board.
class PtyEnd {
public:
    PtyEnd()
    {
        m_fd = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_fd < 0 || grantpt(m_fd) != 0 || unlockpt(m_fd) != 0)
            return;
        m_path = QString::fromLocal8Bit(ptsname(m_fd));
        termios t{};
        tcgetattr(m_fd, &t);
        cfmakeraw(&t);
        tcsetattr(m_fd, TCSANOW, &t);
    }
    ~PtyEnd() { hangUp(); }
    [[nodiscard]] bool ok() const { return m_fd >= 0 && !m_path.isEmpty(); }
    [[nodiscard]] QString path() const { return m_path; }
    void write(const QByteArray &bytes) const { QCOMPARE(::write(m_fd, bytes.constData(), bytes.size()), bytes.size()); }
    QByteArray read(int expected, int timeoutMs) const
    {
        QByteArray got;
        QElapsedTimer timer;
        timer.start();
        while (got.size() < expected && timer.elapsed() < timeoutMs) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
                char buf[512];
                const ssize_t n = ::read(m_fd, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, n);
            }
        }
        return got;
    }
    void hangUp()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
    QString m_path;
};

QByteArray allByteValues()
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all += char(i);
    return all;
}

} // namespace

class TestQtSerialLine : public QObject {
    Q_OBJECT

private slots:
    void everyByteValuePassesBothWaysWithoutFlowControl()
    {
        PtyEnd board;
        QVERIFY(board.ok());
        QtSerialLine line(PortNames({{1, board.path()}}, {}));
        EventLoopClock clock;
        SerialLink link(line, clock);
        QVERIFY(link.portExists(1));
        QVERIFY(!link.portExists(2));
        QVERIFY2(link.openPort(1, QStringLiteral("115200"), HandshakeNone), qPrintable(line.errorString()));

        link.sendString(allByteValues());
        QCOMPARE(board.read(256, 3000), allByteValues());

        board.write(allByteValues());
        QByteArray received;
        while (received.size() < 256 && clock.waitForInput(line, 2000))
            received += line.read(SerialLink::ReadLimit);
        QCOMPARE(received, allByteValues());
        link.closePort();
    }

    void bytesWrittenJustBeforeCloseArrive()
    {
        PtyEnd board;
        QVERIFY(board.ok());
        QtSerialLine line(PortNames({{1, board.path()}}, {}));
        EventLoopClock clock;
        SerialLink link(line, clock);
        QVERIFY(link.openPort(1, QStringLiteral("9600"), HandshakeHardware));
        link.sendString(QByteArray::fromHex("1b40"));
        link.closePort();
        QVERIFY(!line.isOpen());
        QCOMPARE(board.read(2, 2000), QByteArray::fromHex("1b40"));
    }

    void outputHeldByFlowControlIsDroppedWhileTheWindowsKeepWorking()
    {
        PtyEnd board;
        QVERIFY(board.ok());
        // A second handle on the program's end, opened before the port (which
        // is exclusive once open), to stop its output as a board's XOFF or a
        // low CTS would.
        const int programEnd = ::open(QFile::encodeName(board.path()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(programEnd >= 0);
        QtSerialLine line(PortNames({{1, board.path()}}, {}));
        EventLoopClock clock;
        PlainStatusLine status;
        SerialLink link(line, clock, &status);
        QVERIFY(link.openPort(1, QStringLiteral("9600"), HandshakeHardware));
        QCOMPARE(::tcflow(programEnd, TCOOFF), 0);
        link.sendString(QByteArray::fromHex("1b40"));
        QCOMPARE(line.bytesToWrite(), 2);

        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
        ticker.start(50);
        link.closePort();
        ticker.stop();

        QVERIFY2(ticks > 0, "the event loop went unserved while the output was held");
        QVERIFY(!line.isOpen());
        QCOMPARE(status.statusText(), SerialLink::undrainedMessage());
        // Dropped: nothing reaches the board once the line lets it through.
        QCOMPARE(::tcflow(programEnd, TCOON), 0);
        QCOMPARE(board.read(1, 200), QByteArray());
        ::close(programEnd);
    }

    void hangUpClosesThePortWithoutAStormOfErrors()
    {
        PtyEnd board;
        QVERIFY(board.ok());
        QtSerialLine line(PortNames({{1, board.path()}}, {}));
        EventLoopClock clock;
        PlainStatusLine status;
        SerialLink link(line, clock, &status);
        int wakeups = 0;
        connect(&line, &SerialLine::inputReady, this, [&] { ++wakeups; });
        QVERIFY(link.openPort(1, QStringLiteral("19200"), HandshakeNone));
        board.hangUp();
        // The next wait notices the failure; the port closes itself.
        const QByteArray reply = link.readReply();
        QVERIFY(reply.isEmpty());
        QVERIFY(!line.isOpen());
        QVERIFY(!status.statusText().isEmpty());
        QVERIFY2(wakeups < 10, qPrintable(QString::number(wakeups)));
        // Further commands read silence and do not crash.
        link.sendString(QByteArray::fromHex("1b49"));
        QCOMPARE(link.getValue(), std::nullopt);
    }

    void missingDeviceIsReportedPlainly()
    {
        QtSerialLine line(PortNames({{4, QStringLiteral("/dev/tessary-no-such-device")}}, {}));
        EventLoopClock clock;
        PlainStatusLine status;
        SerialLink link(line, clock, &status);
        QVERIFY(!link.openPort(4, QStringLiteral("9600"), HandshakeHardware));
        QCOMPARE(status.statusText(), QStringLiteral("COM4 does not exist"));
    }
};

QTEST_GUILESS_MAIN(TestQtSerialLine)
#include "tst_qtserialline.moc"
