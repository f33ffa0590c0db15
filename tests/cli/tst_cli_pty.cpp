// The tessary program in real time over pseudo-terminals, against the
// simulated board, with the faults only a real device shows (a line hung up in
// the middle of a command, a port another program holds, a port the user may
// not open). Each pseudo-terminal belongs to this test alone.
#include "boardsim/ptyboardthread.h"
#include "serial/seriallink.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QSerialPort>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace tessary;
using namespace tessary::sim;

namespace {

struct Result {
    int status;
    QString out, err;
    [[nodiscard]] QString json(const char *key) const { return QJsonDocument::fromJson(out.toUtf8())[key].toVariant().toString(); }
};

QString built(const char *program) { return qEnvironmentVariable("TESSARY_BIN_DIR") + u'/' + QLatin1String(program); }

// The tessary program as a script runs it (after `as`, e.g. as another user).
Result run(const QStringList &arguments, const QStringList &as = {})
{
    const QStringList command = as + QStringList{built("cli/tessary")} + arguments;
    QProcess process;
    process.start(command.first(), command.mid(1));
    process.waitForFinished(60'000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

// The raw far end of a pseudo-terminal, standing in for a board.
struct PtyEnd {
    PtyEnd() : fd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
        termios t{};
        if (fd >= 0 && grantpt(fd) == 0 && unlockpt(fd) == 0 && tcgetattr(fd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(fd, TCSANOW, &t);
            path = QString::fromLocal8Bit(ptsname(fd));
        }
    }
    ~PtyEnd() { ::close(fd); }
    [[nodiscard]] QByteArray read(int expected, int timeoutMs) const
    {
        QByteArray got;
        pollfd p{fd, POLLIN, 0};
        for (const QDeadlineTimer deadline(timeoutMs); got.size() < expected && !deadline.hasExpired();) {
            char buffer[512];
            if (::poll(&p, 1, 20) > 0 && (p.revents & POLLIN))
                got.append(buffer, qMax<ssize_t>(0, ::read(fd, buffer, sizeof buffer)));
        }
        return got;
    }
    int fd;
    QString path;
};

} // namespace

class TestCliPty : public QObject {
    Q_OBJECT

private slots:
    // The programs remember COM slots in the user's settings: here, in a folder of this test's own.
    void initTestCase() { QVERIFY(m_settings.isValid() && qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_settings.path()))); }

    // Every port at once, each on its own thread, line and clock: a board
    // that never answers on COM1, the board at 28800 bauds (a speed Linux has
    // no constant for) with XON/XOFF on COM2.
    void detectScansThePseudoTerminalsAtOnce()
    {
        BoardOptions silent, options;
        silent.faults.silent = true;
        options.baud = 28800;
        options.handshake = BoardHandshake::XonXoff;
        PtyBoardThread nothing(silent), board(options);
        // On COM3 a port whose output never leaves (an adapter that does not read): stopped once COM2
        // answers, in the middle of a close that waits for its output.
        PtyEnd held;
        const int heldEnd = ::open(QFile::encodeName(held.path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(heldEnd >= 0 && ::tcflow(heldEnd, TCOOFF) == 0);
        const Result result = run({"detect", "--port", "COM1=" + nothing.path(), "--port", "COM2=" + board.path(),
                                   "--port", "COM3=" + held.path, "--json"});
        ::close(heldEnd);
        QCOMPARE(QStringList({result.json("port"), result.json("device"), result.json("speed"), result.json("handshake"),
                              result.json("identity")}),
                 QStringList({"COM2", board.path(), "28800", "xon", "TH432 1K5 STD    FW 4.12"}));
        QVERIFY2(result.status == 0 && result.err.contains("Attempting to contact printer on COM 1 at 1200 bauds.")
                     && result.err.count(SerialLink::undrainedMessage()) == 1, qPrintable(result.err));
    }

    // The production loop of the README: tessary-boardsim behind a link, and
    // tessary programs a user configuration and identity, verifies and logs.
    // (That the close waits for the reset's time on the line, so that it does
    // not leave at the settings the close puts back, is measured by
    // tests/serial: the simulator can only see it when it reads in time.)
    void theProgramsProgramVerifyAndLog()
    {
        QTemporaryDir dir;
        QProcess boardsim;
        boardsim.start(built("boardsim/tessary-boardsim"), {"--speed", "115200", "--polarity", "0", "--link", dir.filePath("board")});
        QTRY_VERIFY_WITH_TIMEOUT(boardsim.canReadLine(), 5000);
        QVERIFY(boardsim.readLine().startsWith("/dev/pts/"));
        const Result result = run({"program", "--port", dir.filePath("board"), "--speed", "115200", "--code", "1101101011110000",
                                   "--id", "PTY-TEST-MECH-16", "--verify", "--log", dir.filePath("line.csv"), "--json"});
        QVERIFY2(result.status == 0 && result.json("verified") == "true", qPrintable(result.err));
        QFile log(dir.filePath("line.csv"));
        QVERIFY(log.open(QIODevice::ReadOnly)
                && log.readAll().endsWith("/board,115200,TH432 1K5 STD    FW 4.12,PTY-TEST-MECH-16 FW 4.12,1101101011110000,ok,19\n"));
        boardsim.terminate();
        QVERIFY(boardsim.waitForFinished(5000) && boardsim.exitCode() == 0);
    }

    // A line that hangs up, a signal, an output that can no longer be written:
    // the tool ends each run on its own terms, the port closed, the reason said
    // once, the log row written, an exit status that tells.
    void eachRunEndsOnItsOwnTerms_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("hangUpAfter"); // bytes received; 0 never
        QTest::addColumn<int>("signal");      // 0 none
        QTest::addColumn<int>("after");       // the signal comes once the board has received this many bytes
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said"); // on standard error, once
        const QStringList program = {"program", "--speed", "1200", "--yes", "--log", "LOG", "--mode"};
        QTest::newRow("hang-up in the scan, after the first probe")
            << QStringList{"detect", "--sequential"} << 3 << 0 << 0 << 1 << "No printer found";
        QTest::newRow("hang-up in the identity writes") // 5 bytes each
            << program + QStringList{"resistors", "--id", "HANGS UP MIDWAY"} << 30 << 0 << 0 << 1
            << "The serial line failed: the board was not reset";
        QTest::newRow("SIGTERM while programming") << program + QStringList{"user", "--code", "1111000101000000", "--id", "PARTIAL"}
                                                   << 0 << SIGTERM << 30 << 143
                                                   << "may hold a partial configuration and should be programmed again";
        QTest::newRow("standard error closed under the trace")
            << QStringList{"identity", "--speed", "1200", "--trace", "-"} << 0 << 0 << 0 << 1 << "";
        QTest::newRow("standard output full") << QStringList{"identity", "--speed", "1200"} << 0 << 0 << 0 << 1
                                              << "writing the output failed (No space left on device)";
    }

    void eachRunEndsOnItsOwnTerms()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, signal);
        QFETCH(int, after);
        QFETCH(QString, said);
        BoardOptions options;
        options.baud = 1200;
        QFETCH(int, hangUpAfter);
        options.faults.hangUpAfter = hangUpAfter ? hangUpAfter : -1;
        PtyBoardThread board(options);
        QTemporaryDir dir;
        QProcess tessary;
        if (QTest::currentDataTag() == QLatin1String("standard output full"))
            tessary.setStandardOutputFile(QStringLiteral("/dev/full"));
        if (QTest::currentDataTag() == QLatin1String("standard error closed under the trace"))
            tessary.setChildProcessModifier([] { // as `2>&1 | head` once head has ended
                int ends[2];
                if (::pipe(ends) == 0 && ::close(ends[0]) == 0)
                    ::dup2(ends[1], STDERR_FILENO);
            });
        tessary.start(built("cli/tessary"), arguments.replaceInStrings("LOG", dir.filePath("line.csv"))
                                                << "--port" << "COM1=" + board.path());
        qint64 heard = 0;
        for (const QDeadlineTimer deadline(20'000); heard < after && !deadline.hasExpired(); QThread::msleep(5))
            board.withBoard([&](Board &b) { heard = b.bytesReceived(); });
        if (signal)
            QCOMPARE(::kill(pid_t(tessary.processId()), signal), 0);
        QVERIFY(tessary.waitForFinished(20'000));
        const QString err = QString::fromUtf8(tessary.readAllStandardError());
        QVERIFY2(tessary.exitStatus() == QProcess::NormalExit, "killed by a signal");
        QTEST(tessary.exitCode(), "status");
        QVERIFY2(said.isEmpty() || err.count(said) == 1, qPrintable(err));
        if (signal == SIGTERM) { // the row says how many parameters went out, as standard error does; no reset
            QFile log(dir.filePath("line.csv"));
            const auto row = QRegularExpression(",interrupted,(\\d+)\n$").match(log.open(QIODevice::ReadOnly) ? log.readAll() : "");
            QVERIFY2(row.hasMatch() && err.contains(row.captured(1) + " parameter writes sent"), qPrintable(err));
            board.withBoard([&](Board &b) { heard = b.resetCount(); });
            QCOMPARE(heard, 0);
        }
        if (hangUpAfter) {
            // The next command meets a port that is gone; never a board made
            // meanwhile, which the system may give the same pseudo-terminal number.
            PtyBoardThread other;
            QCOMPARE(run({"identity", "--port", "COM1=" + board.path(), "--speed", "115200"}).status, 1);
            other.withBoard([&](Board &b) { heard = b.bytesReceived(); });
            QCOMPARE(heard, 0);
        }
    }

    // A port another program holds is named and left alone. One the user may
    // not open names the dialout group; as root the permission bits are not
    // looked at, so the tool runs as an unprivileged user on a mode-000 node.
    void portsThatCannotBeOpenedAreNamed()
    {
        PtyBoardThread board;
        QSerialPort holder(board.path());
        QVERIFY2(holder.open(QIODevice::ReadWrite), qPrintable(holder.errorString()));
        const QStringList identity = {"identity", "--port", "COM1=" + board.path(), "--speed", "115200"};
        const Result busy = run(identity);
        QVERIFY(busy.status == 1 && busy.err.count(": the port is in use by another program") == 1 && holder.isOpen());
        holder.close();
        QCOMPARE(run(identity).status, 0);
        QVERIFY(::chmod(QFile::encodeName(board.path()).constData(), 0) == 0);
        const QStringList unprivileged = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        const Result denied = run(identity, ::geteuid() ? QStringList() : unprivileged);
        QVERIFY2(denied.status == 1 && denied.err.contains("no permission to use the port; add your user to the dialout group "
                                                           "(sudo usermod -aG dialout $USER) and log in again"),
                 qPrintable(denied.err));
    }

private:
    QTemporaryDir m_settings;
};

QTEST_GUILESS_MAIN(TestCliPty)
#include "tst_cli_pty.moc"
