#include "boardsim/ptyboard.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace tessary::sim {

namespace {

// The kernel's termios2, whose c_ospeed holds the real speed also for
// speeds without a B constant (28800, which Qt sets with BOTHER).
struct KernelTermios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
constexpr unsigned long GetTermios2 = _IOR('T', 0x2A, KernelTermios2);

qint32 speedOf(speed_t code)
{
    switch (code) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return 0;
    }
}

speed_t codeOf(qint32 baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
    }
}

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

QString hexBytes(const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()); }

PtyBoard::PtyBoard(const BoardOptions &options, QObject *parent) : QObject(parent), m_board(options)
{
    m_elapsed.start();
}

PtyBoard::~PtyBoard() { close(); }

bool PtyBoard::open()
{
    if (m_master >= 0)
        return true;
    close(); // what a hang-up kept
    // Close-on-exec: a program started meanwhile (a test's tessary, the desktop's web
    // browser) must not keep the board's end open, or a hang-up never reaches the line.
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0) {
        m_error = systemError("posix_openpt");
        return false;
    }
    char name[128] = {};
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 || ::ptsname_r(m_master, name, sizeof name) != 0) {
        m_error = systemError("preparing the pseudo-terminal");
        close();
        return false;
    }
    m_path = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0) {
        m_error = systemError("opening the pseudo-terminal");
        close();
        return false;
    }
    // Raw at the board's own speed until the program sets its end; afterwards
    // this fd never touches the settings again.
    termios settings{};
    if (::tcgetattr(m_slave, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::cfsetspeed(&settings, codeOf(m_board.baud()));
        ::tcsetattr(m_slave, TCSANOW, &settings);
    }
    m_hungUp = false;
    log(QStringLiteral("pty %1, board at %2 bauds, %3 handshake")
            .arg(m_path)
            .arg(m_board.baud())
            .arg(m_board.handshake() == BoardHandshake::Hardware ? QStringLiteral("hardware")
                                                                 : QStringLiteral("XON/XOFF")));
    return true;
}

bool PtyBoard::makeLink(const QString &linkPath)
{
    const QByteArray target = QFile::encodeName(m_path);
    const QByteArray link = QFile::encodeName(linkPath);
    ::unlink(link.constData()); // an old link from an earlier run
    if (::symlink(target.constData(), link.constData()) != 0) {
        m_error = systemError("making the link");
        return false;
    }
    m_link = linkPath;
    return true;
}

void PtyBoard::start()
{
    if (m_master < 0 || m_notifier)
        return;
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyBoard::onReadable);
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &PtyBoard::onTimer);
    schedule();
}

void PtyBoard::close()
{
    closeMaster();
    if (m_slave >= 0)
        ::close(m_slave);
    m_slave = -1;
}

void PtyBoard::closeMaster()
{
    flushOutLog();
    delete m_notifier;
    m_notifier = nullptr;
    delete m_timer;
    m_timer = nullptr;
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
    if (!m_link.isEmpty()) {
        ::unlink(QFile::encodeName(m_link).constData());
        m_link.clear();
    }
}

qint32 PtyBoard::programSpeed() const
{
    if (m_master < 0)
        return 0;
    KernelTermios2 t2{};
    if (::ioctl(m_master, GetTermios2, &t2) == 0 && t2.c_ospeed != 0)
        return qint32(t2.c_ospeed);
    termios settings{};
    if (::tcgetattr(m_master, &settings) != 0) // the slave's settings, on Linux
        return 0;
    return speedOf(::cfgetospeed(&settings));
}

void PtyBoard::takeWaiting()
{
    // Each read waits for what the kernel is still handing over from the program's end.
    while (m_master >= 0 && m_notifier && m_notifier->isEnabled() && takeIn()) {
    }
}

bool PtyBoard::takeIn()
{
    char buffer[4096];
    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return false;
        log(n == 0 ? QStringLiteral("the line closed") : systemError("reading the line"));
        m_notifier->setEnabled(false);
        return false;
    }
    const QByteArray bytes(buffer, n);
    const qint64 now = nowUs();
    const int resets = m_board.resetCount();
    const bool asleep = m_board.isAsleep();
    flushOutLog();
    const qint32 speed = programSpeed();
    termios settings{};
    ::tcgetattr(m_master, &settings);
    const QString line = QStringLiteral("%1 bauds%2%3")
                             .arg(speed)
                             .arg((settings.c_cflag & CRTSCTS) ? QStringLiteral(", hardware") : QString())
                             .arg((settings.c_iflag & IXON) ? QStringLiteral(", XON/XOFF") : QString());
    if (speed == m_board.baud()) {
        log(QStringLiteral("%1 in   %2  (%3)").arg(now / 1000.0, 10, 'f', 3).arg(hexBytes(bytes), line));
        m_board.receive(bytes, now);
    } else {
        log(QStringLiteral("%1 in   %2  (%3: not the board's speed)")
                .arg(now / 1000.0, 10, 'f', 3)
                .arg(hexBytes(bytes), line));
        const bool listening = !m_board.isAsleep();
        m_board.receiveAtOtherSpeed(bytes, now);
        if (m_garbage && listening && !m_board.isHungUp()) {
            QByteArray noise;
            for (qsizetype i = 0; i < bytes.size(); ++i) {
                m_seed = m_seed * 1664525u + 1013904223u;
                noise += char(m_seed >> 24);
            }
            log(QStringLiteral("%1 out  %2  (noise)").arg(now / 1000.0, 10, 'f', 3).arg(hexBytes(noise)));
            if (::write(m_master, noise.constData(), size_t(noise.size())) < 0)
                log(systemError("writing the line"));
        }
    }
    if (m_board.resetCount() != resets)
        log(QStringLiteral("%1 restarting: silent for %2 ms").arg(now / 1000.0, 10, 'f', 3).arg(Board::ResetSilenceUs / 1000));
    if (m_board.isAsleep() != asleep)
        log(QStringLiteral("%1 %2").arg(now / 1000.0, 10, 'f', 3).arg(asleep ? QStringLiteral("awake") : QStringLiteral("asleep")));
    if (m_board.isHungUp()) {
        hangUp();
        return true;
    }
    schedule();
    return true;
}

void PtyBoard::onTimer()
{
    if (m_master < 0)
        return;
    const qint64 now = nowUs();
    const QByteArray due = m_board.takeDue(now);
    if (!due.isEmpty()) {
        const ssize_t n = ::write(m_master, due.constData(), size_t(due.size()));
        if (n < 0 && errno != EAGAIN)
            log(systemError("writing the line"));
        const qsizetype sent = n < 0 ? 0 : qsizetype(n);
        if (m_board.faults().endlessStream) {
            // The stream is summed up once a second, not logged byte by byte for ever.
            m_streamed += sent;
            if (now - m_streamLoggedUs >= 1'000'000) {
                log(QStringLiteral("%1 out  %2 bytes of stream so far").arg(now / 1000.0, 10, 'f', 3).arg(m_streamed));
                m_streamLoggedUs = now;
            }
        } else {
            // One log line per reply: collected until the board falls quiet.
            if (m_outLog.isEmpty())
                m_outLogUs = now;
            m_outLog += due.left(sent);
            if (sent < due.size())
                log(QStringLiteral("%1 lost %2 bytes: the line is full").arg(now / 1000.0, 10, 'f', 3).arg(due.size() - sent));
        }
    }
    if (!m_board.hasPendingOutput())
        flushOutLog();
    schedule();
}

void PtyBoard::flushOutLog()
{
    if (m_outLog.isEmpty())
        return;
    log(QStringLiteral("%1 out  %2").arg(m_outLogUs / 1000.0, 10, 'f', 3).arg(hexBytes(m_outLog)));
    m_outLog.clear();
}

void PtyBoard::schedule()
{
    if (!m_timer || m_master < 0)
        return;
    const auto next = m_board.nextOutputAtUs();
    if (!next) {
        m_timer->stop();
        return;
    }
    const qint64 waitUs = *next - nowUs();
    m_timer->start(int(std::clamp<qint64>((waitUs + 999) / 1000, 0, 3'600'000)));
}

void PtyBoard::hangUp()
{
    log(QStringLiteral("%1 hang-up after %2 bytes").arg(nowUs() / 1000.0, 10, 'f', 3).arg(m_board.bytesReceived()));
    m_hungUp = true;
    // The device node goes with the master, but the number stays taken while
    // the board's own end is open: the program's later opens of the path meet
    // a device that is gone, never the pseudo-terminal of another board that
    // would otherwise get the same number.
    closeMaster();
    emit hungUp();
}

void PtyBoard::log(const QString &text) const
{
    if (m_log)
        m_log(text);
}

} // namespace tessary::sim
