// The real serial line (QSerialPort and the event-loop clock) against the far
// end of a pseudo-terminal that sees what a board's UART would: the settings
// the program put on the line, the bytes, and when the output was flushed or
// the settings were put back. And the system's port watch, its list and
// udev's word scripted, as the COM slots follow it. Each case waits for what
// it checks.
#include "app/appstate.h"
#include "boardsim/ptyboardthread.h"
#include "detection/detector.h"
#include "scriptedprompts.h"
#include "serial/eventloopclock.h"
#include "serial/comslots.h"
#include "serial/qtserialline.h"
#include "serial/recordedpath.h"

#include <QDeadlineTimer>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <thread>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace tessary;
using namespace tessary::test;
using Steady = std::chrono::steady_clock;

namespace {

// A pseudo-terminal keeps no output queue (TIOCOUTQ reads 0 on it): here the
// program's end says the driver holds this many bytes, as a UART's does while
// CTS is low.
std::atomic<dev_t> queuedDevice{0};
std::atomic_int queuedBytes{0};

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    struct stat st {};
    if (request == TIOCOUTQ && queuedBytes > 0 && ::fstat(fd, &st) == 0 && st.st_rdev == queuedDevice) {
        *static_cast<int *>(arg) = queuedBytes;
        return 0;
    }
    static const auto real = reinterpret_cast<int (*)(int, unsigned long, ...)>(::dlsym(RTLD_NEXT, "ioctl"));
    return real(fd, request, arg);
}

namespace {

// The far end in packet mode: each read gives data (after a 0) or a status
// byte: TIOCPKT_FLUSHWRITE when the program dropped its output, and, with
// EXTPROC on the line, TIOCPKT_IOCTL when the line's settings changed. A
// second handle on the program's end, opened before the port (exclusive once
// open), stops and restarts its output as a board's flow control would.
struct FarEnd {
    explicit FarEnd(bool settingsChanges = false) : fd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
        int on = 1;
        termios t{};
        if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ioctl(fd, TIOCPKT, &on) != 0 || ::tcgetattr(fd, &t) != 0)
            return;
        if (settingsChanges) {
            t.c_lflag |= EXTPROC;
            ::tcsetattr(fd, TCSANOW, &t);
        }
        path = QString::fromLocal8Bit(::ptsname(fd));
        programEnd = ::open(::ptsname(fd), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        struct stat st {};
        ::fstat(programEnd, &st);
        queuedDevice = st.st_rdev;
    }
    ~FarEnd()
    {
        queuedBytes = 0;
        ::close(programEnd);
        ::close(fd);
    }
    // Reads until `until` says enough, for at most 2 s: the bytes, and each status as "<flushed>" or "<settings>".
    QByteArray read(const std::function<bool(const QByteArray &)> &until, Steady::time_point *settingsAt = nullptr) const
    {
        QByteArray got;
        pollfd p{fd, POLLIN, 0};
        for (const QDeadlineTimer deadline(2000); !until(got) && ::poll(&p, 1, int(deadline.remainingTime())) > 0;) {
            char buffer[512];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 1 && buffer[0] == TIOCPKT_DATA)
                got.append(buffer + 1, n - 1);
            else if (n == 1 && (buffer[0] & TIOCPKT_FLUSHWRITE))
                got += "<flushed>";
            if (n == 1 && (buffer[0] & TIOCPKT_IOCTL)) {
                got += "<settings>";
                if (settingsAt)
                    *settingsAt = Steady::now();
            }
        }
        return got;
    }
    QByteArray readUntil(const QByteArray &end) const { return read([&](const QByteArray &got) { return got.endsWith(end); }); }
    // The settings the program's end has now: "9600 8N1", then " rts/cts", " ixon ixoff", " cooked".
    [[nodiscard]] QString settings() const
    {
        struct { tcflag_t iflag, oflag, cflag, lflag; cc_t line, cc[19]; speed_t ispeed, ospeed; } t2{}; // termios2
        termios t{};
        if (::ioctl(fd, _IOR('T', 0x2A, decltype(t2)), &t2) != 0 || ::tcgetattr(fd, &t) != 0)
            return QStringLiteral("unreadable");
        return QStringLiteral("%1 %2%3%4").arg(t2.ospeed).arg((t.c_cflag & CSIZE) == CS8 ? "8" : "?")
                   .arg(t.c_cflag & PARENB ? "P" : "N").arg(t.c_cflag & CSTOPB ? "2" : "1")
             + (t.c_cflag & CRTSCTS ? " rts/cts" : "") + (t.c_iflag & IXON ? " ixon" : "") + (t.c_iflag & IXOFF ? " ixoff" : "")
             + (t.c_lflag & (ICANON | ECHO) ? " cooked" : "");
    }
    void holdOutput(bool held) const { QCOMPARE(::tcflow(programEnd, held ? TCOOFF : TCOON), 0); }

    int fd;
    int programEnd = -1;
    QString path;
};

// The program's path: the real line under the recording wrappers, on the event-loop clock.
struct Program {
    explicit Program(const QMap<int, QString> &ports) : line(PortNames(ports)), path(line, clock) { link.setStatusLine(&status); }
    QtSerialLine line;
    EventLoopClock clock;
    RecordedPath path;
    SerialLink &link = path.link;
    PlainStatusLine status;
};

// The machine's ports with the system's list and udev's word scripted: what the program looks at besides
// (the device folders, the --port paths) is real.
class ScriptedSystem : public SystemSerialPorts {
public:
    explicit ScriptedSystem(bool udevRuns)
    {
        if (udevRuns)
            QVERIFY(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, m_udev) == 0);
    }
    ~ScriptedSystem() override
    {
        for (int fd : m_udev)
            ::close(fd);
    }
    // udev's word of a tty that came.
    void tell(const QByteArray &name) const
    {
        const QByteArray word = "add@/devices/usb1/1-1/1-1:1.0/" + name + "/tty/" + name + '\0' + "ACTION=add" + '\0'
                                + "SUBSYSTEM=tty" + '\0' + "DEVNAME=/dev/" + name + '\0';
        QCOMPARE(::send(m_udev[1], word.constData(), size_t(word.size()), 0), ssize_t(word.size()));
    }
    QList<SerialPortInfo> ports;
    std::function<void()> listing; // while the list is read

protected:
    QList<SerialPortInfo> systemPorts() const override
    {
        if (listing)
            listing();
        return ports;
    }
    int openUdevSocket() const override { return m_udev[0] < 0 ? -1 : ::dup(m_udev[0]); }

private:
    int m_udev[2] = {-1, -1};
};

// COM1 to COM6 following the scripted system, and what they told.
struct WatchedSlots {
    explicit WatchedSlots(bool udevRuns, const QMap<int, QString> &mappings = {}) : system(udevRuns), comSlots(system, &settings, mappings)
    {
        QObject::connect(&comSlots, &ComSlots::changed, [this](const QList<SlotEvent> &events) {
            for (const SlotEvent &event : events)
                told << event.text() + (event.adapter.byId.isEmpty() ? "" : " (" + event.adapter.byId + ')');
        });
    }
    ScriptedSystem system;
    QTemporaryDir folder;
    QSettings settings{folder.filePath("slots.ini"), QSettings::IniFormat};
    ComSlots comSlots;
    QStringList told;
};

} // namespace

class TestRealSerial : public QObject {
    Q_OBJECT

private slots:
    void openSetsTheLineAndCloseGivesItBack()
    {
        // Every speed, the three handshakes in turn; 28800 has no B constant of its own.
        const char *const handshakes[] = {"", " ixon ixoff", " rts/cts"};
        const int speeds[] = {1200, 2400, 4800, 9600, 19200, 28800, 38400, 57600, 115200};
        for (int i = 0; i < 9; ++i) {
            const int speed = speeds[i], handshake = i % 3;
            const QString settings = QStringLiteral("%1 8N1%2").arg(speed).arg(handshakes[handshake]);
            FarEnd board;
            const QString before = board.settings();
            QtSerialLine line(PortNames({{3, board.path}}));
            QVERIFY2(line.open(3, speed, handshake), qPrintable(line.errorString()));
            QCOMPARE(board.settings(), settings);
            QCOMPARE(line.baud(), speed);
            line.close();
            QVERIFY2(board.settings() == before, qPrintable(QStringLiteral("%1: %2").arg(settings, board.settings())));
        }
    }

    void outputHeldBackIsCountedAndDropped()
    {
        // Written while the board holds the output (in Qt's buffer); what the driver holds besides; whether
        // discardOutput comes before the close.
        const struct { const char *name; int held, inDriver; bool discard; } cases[] = {
            {"nothing pending: nothing dropped", 0, 0, false},
            {"one byte held back", 1, 0, false},
            {"bytes held back, discarded with the port open", 2, 0, true},
            {"a byte in the driver", 0, 1, false},
            {"bytes in both", 1, 4, false},
        };
        for (const auto &[name, held, inDriver, discard] : cases) {
            FarEnd board;
            QtSerialLine line(PortNames({{1, board.path}}));
            QVERIFY2(line.open(1, 9600, HandshakeHardware), name);
            line.write("go");
            QVERIFY2(board.readUntil("go") == "go", name); // what leaves at once is not pending
            board.holdOutput(true);
            line.write(QByteArray("held").left(held));
            queuedBytes = inDriver;
            QCOMPARE(name + QStringLiteral(": %1 to write").arg(line.bytesToWrite()), name + QStringLiteral(": %1 to write").arg(held + inDriver));
            if (discard) {
                line.discardOutput();
                QVERIFY2(line.bytesToWrite() == 0, name);
                board.holdOutput(false);
                line.write("!"); // what Qt still held would go out first
                QCOMPARE(board.readUntil("!"), "<flushed>!");
            }
            line.close(); // dropping what is held: a UART's driver would wait for it, up to 30 s
            QVERIFY2(line.bytesToWrite() == 0, name);
            queuedBytes = 0;
            board.holdOutput(false);
            QVERIFY2(::write(board.programEnd, "end", 3) == 3, name); // the held bytes never come
            QCOMPARE(QByteArray(name) + ' ' + board.readUntil("end"), QByteArray(name) + (held + inDriver > 0 && !discard ? " <flushed>end" : " end"));
        }
    }

    // From the first byte's write until the line's settings are put back (a UART would send what it still
    // holds at the old speed): at least the bytes' time on the line every time, and within 25 ms of it at
    // the least of five rounds (the wait ends 2 ms after the bytes; a loaded machine may be late, never early).
    void closeWaitsForTheLastBytesTimeOnTheLine()
    {
        // 10 bits a byte: 5 bytes at 1200 bauds take 41.7 ms, 2 take 16.7 ms, 16 at 9600 take 16.7 ms.
        const struct { const char *name; QString speed; bool byteByByte; QByteArray bytes; } cases[] = {
            {"a parameter write, byte by byte", "1200", true, QByteArray::fromHex("1d53460601")},
            {"a reset, in one write", "1200", false, QByteArray::fromHex("1b40")},
            {"16 bytes by byte at 9600", "9600", true, QByteArray("ABCDEFGHIJKLMNOP")},
        };
        for (const auto &[name, speed, byteByByte, bytes] : cases) {
            FarEnd board(true);
            Program program({{2, board.path}});
            const double lineMs = bytes.size() * 10'000.0 / speed.toInt();
            QList<double> waited;
            for (int round = 0; round < 5; ++round) {
                QVERIFY2(program.link.openLine(2, speed, HandshakeHardware), name);
                QVERIFY2(board.read([](const QByteArray &got) { return got.contains("<settings>"); }) == "<settings>", name);
                Steady::time_point restored{};
                std::thread farEnd([&] { (void)board.read([](const QByteArray &got) { return got.endsWith("<settings>"); }, &restored); });
                const auto writing = Steady::now();
                byteByByte ? program.link.sendCharByChar(bytes) : program.link.sendString(bytes);
                QVERIFY2(program.link.closePort(), name);
                farEnd.join();
                waited << std::chrono::duration<double, std::milli>(restored - writing).count();
            }
            std::sort(waited.begin(), waited.end());
            QVERIFY2(waited.first() >= lineMs && waited.first() <= lineMs + 25,
                     qPrintable(QStringLiteral("%1: %2 ms on the line, waited %3 to %4 ms").arg(name).arg(lineMs).arg(waited.first()).arg(waited.last())));
        }
    }

    void aLinkAndItsDeviceAreOnePort()
    {
        FarEnd board;
        QTemporaryDir dir;
        const QString link = dir.filePath("adapter");
        QVERIFY(QFile::link(board.path, link));
        // Either name first: the other is then a port in use, never a second way to the same board.
        for (const auto &[first, second] : {std::pair(link, board.path), std::pair(board.path, link)}) {
            QtSerialLine one(PortNames({{1, first}})), other(PortNames({{1, second}}));
            QVERIFY2(one.open(1, 115200, HandshakeNone), qPrintable(one.errorString()));
            QVERIFY(!other.open(1, 115200, HandshakeNone));
            QCOMPARE(other.errorString(), "COM1 (" + second + "): the port is in use by another program");
            one.close();
        }
    }

    // A probe never reads what was waiting before it; the close waits for output that flow control holds
    // through the event loop, then drops it and says so; the first read or write error closes the port (Qt would
    // otherwise repeat it without end at full speed).
    void aProbeAHeldCloseAndAHangUpAsOnARealDevice()
    {
        FarEnd board, gone;
        sim::PtyBoardThread simulated;
        Program program({{1, board.path}, {2, simulated.path()}, {3, gone.path}});
        SerialLink &link = program.link;
        QSignalSpy ready(&program.line, &SerialLine::inputReady); // what wakes a waiting clock as bytes come
        // Stale answers, one taken in by Qt already, one still in the driver: the probe clears them.
        const int boardEnd = ::open(QFile::encodeName(simulated.path()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(boardEnd >= 0 && link.openPort(2, QStringLiteral("115200"), HandshakeHardware));
        link.sendString(QByteArray::fromHex("1b76"));
        QVERIFY(program.clock.waitForInput(program.line, 2000) && !ready.isEmpty());
        link.sendString(QByteArray::fromHex("1b76"));
        int inDriver = 0;
        for (const QDeadlineTimer deadline(2000); inDriver < 1 && !deadline.hasExpired();)
            ::ioctl(boardEnd, TIOCINQ, &inDriver);
        ::close(boardEnd);
        QVERIFY(inDriver == 1 && program.line.bytesAvailable() == 1);
        PrinterLink printer;
        ScriptedPrompts prompts;
        QCOMPARE(Detector(link, printer, prompts).probePort(2, QStringLiteral("115200"), 1),
                 "TH432 1K5 STD found on COM 2 at 115200 bauds");
        // Held for ever: the close waits 1 s through the event loop, then drops the output and says so.
        QVERIFY(link.openPort(1, QStringLiteral("9600"), HandshakeHardware));
        board.holdOutput(true);
        link.sendString(QByteArray::fromHex("1b40"));
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
        ticker.start(50);
        QVERIFY2(!link.closePort() && ticks > 0, "the event loop went unserved while the output was held");
        QCOMPARE(program.status.statusText(), SerialLink::undrainedMessage());
        // The far end goes, met by the next read (the end of its input) or by the next write (EIO): the port
        // closes at once and says why.
        for (FarEnd *end : {&board, &gone}) {
            const int port = end == &board ? 1 : 3;
            QVERIFY(link.openPort(port, QStringLiteral("115200"), HandshakeHardware));
            ready.clear();
            ::close(std::exchange(end->fd, -1));
            if (end == &gone)
                link.sendString(QByteArray::fromHex("1b40"));
            QCOMPARE(link.getValue(), std::nullopt);
            QVERIFY(!program.line.isOpen() && ready.size() < 10);
            QCOMPARE(program.status.statusText(),
                     QStringLiteral("COM%1 (%2): the device hung up; the port was closed").arg(port).arg(end->path));
        }
    }

    // A device that appears in steps, its node then its by-id link, is told once, whole: the watch takes
    // udev's word once its burst has settled.
    void theWatchTellsADeviceOnceItIsWhole()
    {
        WatchedSlots watched(true);
        watched.comSlots.watch();
        QSignalSpy changes(&watched.system, &SerialPorts::changed);
        watched.system.ports = {{"/dev/ttyUSB0", "USB-Serial Controller", "Prolific", {}, 0x067b, 0x2303, {}}};
        watched.system.tell("ttyUSB0");
        QTimer::singleShot(20, [&] {
            watched.system.ports[0].byId = "usb-Prolific_USB-Serial_Controller-if00-port0";
            watched.system.tell("ttyUSB0");
        });
        QVERIFY(changes.wait(2000));
        QVERIFY(!changes.wait(3 * SystemSerialPorts::SettleMs));
        QCOMPARE(watched.told, QStringList{"COM1: ttyUSB0 plugged in (usb-Prolific_USB-Serial_Controller-if00-port0)"});
        QCOMPARE(watched.settings.value("ComSlots/COM1/byId"), "usb-Prolific_USB-Serial_Controller-if00-port0");
    }

    // Every slot kept for a USB adapter, COM1's seen longest ago: a device without USB ids takes COM1, and
    // what is kept for COM1 afterwards is that device alone, none of the adapter's ids.
    void aSlotTakenOverKeepsNothingOfTheAdapterBefore()
    {
        WatchedSlots watched(false);
        for (int port = 1; port <= 6; ++port) {
            const QString group = QString("ComSlots/COM%1/").arg(port);
            watched.settings.setValue(group + "device", QString("/dev/ttyUSB%1").arg(port));
            watched.settings.setValue(group + "vendorId", 1027);
            watched.settings.setValue(group + "productId", 24577);
            watched.settings.setValue(group + "used", port);
        }
        watched.system.ports = {{"/dev/ttyS0", {}, {}, {}, {}, {}, {}}};
        watched.comSlots.refresh();
        watched.settings.beginGroup("ComSlots/COM1"); // (had it taken another slot, COM1 would keep all eight keys)
        QCOMPARE(watched.settings.childKeys(), (QStringList{"byId", "description", "device", "manufacturer", "serialNumber", "used"}));
        QCOMPARE(watched.settings.value("device"), "/dev/ttyS0");
    }

    // A --port path that comes as the watch first reads the list, and goes before its next look, is told
    // gone: the watch compares with what the program saw, not with its own earlier look.
    void theWatchTellsAPathGoneThatCameAsItStarted()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("adapter");
        WatchedSlots watched(false, {{3, link}});
        watched.system.listing = [&] {
            watched.system.listing = {};
            QVERIFY(QFile::link("/dev/null", link));
        };
        watched.comSlots.watch();
        QCOMPARE(watched.told, QStringList{"COM3: null plugged in"});
        QVERIFY(QFile::remove(link));
        QSignalSpy changes(&watched.comSlots, &ComSlots::changed);
        QVERIFY(changes.wait(2 * SystemSerialPorts::PollMs));
        QCOMPARE(watched.told, (QStringList{"COM3: null plugged in", "COM3: null unplugged"}));
    }
};

QTEST_GUILESS_MAIN(TestRealSerial)
#include "tst_realserial.moc"
