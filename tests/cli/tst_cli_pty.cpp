// The tessary program in real time over pseudo-terminals, against the
// simulated board, with the faults only a real device shows (a line hung up in
// the middle of a command, a port another program holds, a port the user may
// not open). Each pseudo-terminal belongs to this test alone.
#include "boardsim/ptyboardthread.h"
#include "files.h"
#include "programs.h"
#include "serial/seriallink.h"

#include <QDir>
#include <QScopeGuard>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSerialPort>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <array>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

using namespace tessary;
using namespace tessary::sim;
using namespace tessary::test;

namespace {

// The tessary program as a script runs it (after `as`, e.g. as another user or under `env`).
Ran run(const QStringList &arguments, const QStringList &as = {})
{
    const QStringList command = as + QStringList{built("cli/tessary")} + arguments;
    return runProgram(command.first(), command.mid(1));
}

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
        PtyBoardThread nothing({.faults = {.silent = true}}), board({.baud = 28800, .handshake = BoardHandshake::XonXoff});
        // On COM3 a port whose output never leaves (an adapter that does not read): stopped once COM2
        // answers, in the middle of a close that waits for its output.
        PtyBoardThread held({.faults = {.silent = true}});
        const int heldEnd = ::open(QFile::encodeName(held.path()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(heldEnd >= 0 && ::tcflow(heldEnd, TCOOFF) == 0);
        const Ran result = run({"detect", "--port", "COM1=" + nothing.path(), "--port", "COM2=" + board.path(),
                                   "--port", "COM3=" + held.path(), "--json"});
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
        const Ran result = run({"program", "--port", dir.filePath("board"), "--speed", "115200", "--code", "1101101011110000",
                                   "--id", "PTY-TEST-MECH-16", "--verify", "--log", dir.filePath("line.csv"), "--json"});
        QVERIFY2(result.status == 0 && result.json("verified") == "true", qPrintable(result.err));
        // Its COM number: the lowest slot no device of this machine's holds.
        QVERIFY(fileBytes(dir.filePath("line.csv")).endsWith(',' + result.json("port").toUtf8() + ',' + QFile::encodeName(dir.filePath("board"))
                                          + ",,115200,hw,FW 4.12,TH432 1K5 STD,PTY-TEST-MECH-16,,,1101101011110000,user,yes,ok,,19/19\n"));
        // The trace to standard error by its name, standard error a file: the trace's lines and the program's own both kept.
        QProcess traced;
        traced.setStandardErrorFile(dir.filePath("err.txt"));
        traced.start(built("cli/tessary"), {"identity", "--port", dir.filePath("board"), "--speed", "115200", "--trace", "/dev/stderr"});
        QVERIFY(traced.waitForFinished(20000) && traced.exitCode() == 0);
        const QByteArray err = fileBytes(dir.filePath("err.txt"));
        QVERIFY2(err.contains("---- tessary identity ---- 20") && err.contains("\nPTY-TEST-MECH-16 found on COM " + result.json("port").mid(3).toUtf8() + " at 115200 bauds\n")
                     && err.contains(" opened at 115200 bauds, hardware handshake"), err.constData());
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
        QTest::newRow("hang-up in the scan, after the first probe") // the port is gone: that alone is said
            << QStringList{"detect", "--sequential"} << 3 << 0 << 0 << 1 << "tessary: COM1 does not exist\n";
        // The line hangs up after the read-back's configuration queries, before its identity query; in the wake-up.
        QTest::newRow("hang-up before the name is read") << QStringList{"read", "--speed", "1200", "--json"} << 22 << 0 << 0 << 1
                                                         << "tessary: the board did not answer the identity query\n";
        QTest::newRow("hang-up in the wake-up") << QStringList{"wake", "--speed", "1200", "--json"} << 1 << 0 << 0 << 1
                                                << "tessary: This port does not exist\n";
        QTest::newRow("trace on a full disk") << QStringList{"identity", "--speed", "1200", "--trace", "/dev/full", "--json"} << 0 << 0 << 0 << 1
                                              << "tessary: writing the trace failed (No space left on device); the trace is incomplete\n";
        QTest::newRow("hang-up in the identity writes") // 5 bytes each
            << program + QStringList{"resistors", "--id", "HANGS UP MIDWAY"} << 30 << 0 << 0 << 1
            << "The serial line failed: the board was not reset";
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) // Ctrl+C, a shutdown, the terminal closed
            QTest::addRow("SIG%s while programming", sigabbrev_np(signal)) << program + QStringList{"user", "--code", "1111000101000000", "--id", "PARTIAL"}
                                                                       << 0 << signal << 30 << 128 + signal
                                                                       << "may hold a partial configuration and should be programmed again";
        QTest::newRow("standard error closed under the trace") << QStringList{"identity", "--speed", "1200", "--trace", "-"} << 0 << 0 << 0 << 1 << "";
        QTest::newRow("standard output full") << QStringList{"identity", "--speed", "1200"} << 0 << 0 << 0 << 1 << "writing the output failed (No space left on device)";
    }

    void eachRunEndsOnItsOwnTerms()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, signal);
        QFETCH(int, after);
        QFETCH(QString, said);
        QFETCH(int, hangUpAfter);
        PtyBoardThread board({.baud = 1200, .faults = {.hangUpAfter = hangUpAfter ? hangUpAfter : -1}});
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
        QTRY_VERIFY_WITH_TIMEOUT((board.withBoard([&](Board &b) { heard = b.bytesReceived(); }), heard >= after), 20'000);
        if (signal)
            QCOMPARE(::kill(pid_t(tessary.processId()), signal), 0);
        QVERIFY(tessary.waitForFinished(20'000));
        const QString err = QString::fromUtf8(tessary.readAllStandardError());
        if (QTest::currentDataTag() == QLatin1String("hang-up in the identity writes")) // the writes echoed, in words
            QCOMPARE(QString::fromUtf8(tessary.readAllStandardOutput()).section(u'\n', -3), "Parameters echoed: 3 of 17; the board was not reset.\nResult: reset-not-sent\n");
        QVERIFY2(tessary.exitStatus() == QProcess::NormalExit, "killed by a signal");
        QTEST(tessary.exitCode(), "status");
        if (arguments.contains("--json")) { // not ok, and why, as said
            const QJsonObject json = QJsonDocument::fromJson(tessary.readAllStandardOutput()).object();
            QCOMPARE(std::pair(json["ok"], json["error"].toString()), std::pair(QJsonValue(false), said.mid(9).chopped(1)));
        }
        QVERIFY2(said.isEmpty() || err.count(said) == 1, qPrintable(err));
        QVERIFY2(!err.contains("No printer found"), qPrintable(err)); // a port that went is no empty port
        if (signal) { // the row says how many writes the board echoed, as standard error does; no reset
            const auto row = QRegularExpression(",interrupted,(stopped after (\\d+) of 11 parameter writes were echoed; [^,]+),(\\d+)/11\n$")
                                 .match(fileBytes(dir.filePath("line.csv")));
            QVERIFY2(row.hasMatch() && row.captured(2) == row.captured(3) && err.contains(QString("stopped by SIG%1: ").arg(sigabbrev_np(signal)) + row.captured(1) + '\n'),
                     qPrintable(err));
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

    // Every board at once over pseudo-terminals: a board, a port another program holds and a device that
    // is not there each end with one row, in the table, the list of failures and the log. Devices without
    // a COM number show their short names in the Port column.
    void allBoardsAccountForEveryNamedPort()
    {
        PtyBoardThread board, held;
        QSerialPort holder(held.path());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        QTemporaryDir dir;
        const QString gone = dir.filePath("gone"), log = dir.filePath("line.csv");
        const Ran result = run({"program", "--all-boards", "--port", board.path(), "--port", held.path(), "--port", gone,
                                   "--code", "1111000101000000", "--yes", "--log", log, "--station", "S1"});
        QCOMPARE(result.status, 1);
        QCOMPARE(result.out.split(u'\n').replaceInStrings(QRegularExpression(" +"), " "),
                 QStringList({"Port Device Speed Identity before Identity after Result",
                              board.path().mid(5) + ' ' + board.path() + " 115200 TH432 1K5 STD FW 4.12 TH432 1K5 STD FW 4.12 ok",
                              held.path().mid(5) + ' ' + held.path() + " - - - port-error", "gone " + gone + " - - - port-error",
                              "1 ok, 2 failed", "Failed:", held.path() + ": port-error: the port is in use by another program",
                              gone + ": port-error: " + gone + " does not exist", ""}));
        const QStringList rows = QString::fromUtf8(fileBytes(log)).split(u'\n', Qt::SkipEmptyParts).mid(1);
        QCOMPARE(rows.filter(",S1,tessary 2.3,program,,").size(), 3);
        QVERIFY(rows.size() == 3 && rows.filter(",ok,,4/4").size() == 1 && rows.filter(",port-error,").size() == 2);
    }

    // Serial numbers across real processes: two runs at once on a serial file that does not exist yet, two
    // runs waiting for the lock another holds (neither writes a board meanwhile), and a run killed once its
    // number is taken. No number is handed out twice or comes back: the file holds the number after the last
    // one taken, whatever became of the run. Nor is a database's entry lost to runs that change it at once.
    void serialNumbersAreNeverHandedOutTwice()
    {
        QTemporaryDir dir;
        const QString serial = dir.filePath("line7.txt");
        std::vector<std::unique_ptr<PtyBoardThread>> boards;
        std::array<QByteArray, 7> heard; // what each board received, touched on that board's thread only
        const auto board = [&](int baud) {
            PtyBoardThread &added = *boards.emplace_back(std::make_unique<PtyBoardThread>(BoardOptions{.baud = baud}));
            added.withBoard([&heard, i = boards.size() - 1](Board &b) {
                b.setTrafficLog([&heard, i](Board::Direction way, qint64, const QByteArray &bytes) {
                    if (way == Board::Direction::In)
                        heard.at(i) += bytes;
                });
            });
            return added.path();
        };
        const auto heardBy = [&](std::size_t i) {
            QByteArray got;
            boards[i]->withBoard([&](Board &) { got = heard[i]; });
            return got;
        };
        const QStringList numbered = {"--code", "1111000101000000", "--id", "P{n:03}", "--serial-file", serial,
                                      "--serial-start", "1", "--yes", "--json", "--quiet"};
        // The identities the runs gave, sorted.
        const auto given = [](std::vector<std::unique_ptr<QProcess>> &runs) {
            QStringList ids;
            for (auto &process : runs) {
                if (!process->waitForFinished(30'000) || process->exitCode() != 0)
                    return QStringList{"failed: " + QString::fromUtf8(process->readAllStandardError())};
                const QJsonDocument json = QJsonDocument::fromJson(process->readAllStandardOutput());
                for (const QJsonValue object : json.isArray() ? json.array() : QJsonArray{json.object()})
                    ids << object["id"].toString();
            }
            ids.sort();
            return ids;
        };
        std::vector<std::unique_ptr<QProcess>> runs;
        const auto start = [&](const QStringList &arguments) {
            runs.push_back(std::make_unique<QProcess>());
            runs.back()->start(built("cli/tessary"), arguments);
        };

        // Two fixtures started at once, the file not there yet.
        start(QStringList{"program", "--all-boards", "--port", board(115200), "--port", board(115200)} + numbered);
        start(QStringList{"program", "--all-boards", "--port", board(115200), "--port", board(115200)} + numbered);
        QCOMPARE(given(runs), QStringList({"P001", "P002", "P003", "P004"}));
        QCOMPARE(fileBytes(serial), "5\n");

        // The file locked by another: both runs find their boards and wait, writing nothing, until it lets go.
        runs.clear();
        const int held = ::open(QFile::encodeName(serial).constData(), O_RDWR | O_CLOEXEC);
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
        start(QStringList{"program", "--port", "COM1=" + board(115200), "--speed", "115200"} + numbered);
        start(QStringList{"program", "--port", "COM1=" + board(115200), "--speed", "115200"} + numbered);
        // Both wait at the file (its lock polled through a descriptor of their own), neither board written.
        const auto atTheFile = [&](const QProcess &run) {
            for (const QFileInfo &fd : QDir(QStringLiteral("/proc/%1/fd").arg(run.processId())).entryInfoList(QDir::AllEntries | QDir::System))
                if (fd.symLinkTarget() == QFileInfo(serial).canonicalFilePath())
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(atTheFile(*runs[0]) && atTheFile(*runs[1]), 10'000);
        QVERIFY(!heardBy(4).contains("\x1dSF") && !heardBy(5).contains("\x1dSF"));
        ::close(held);
        QCOMPARE(given(runs), QStringList({"P005", "P006"}));
        QCOMPARE(fileBytes(serial), "7\n");

        // Killed once its number is taken, amid its writes at 1200 bauds: the number stays spent.
        runs.clear();
        start(QStringList{"program", "--port", "COM1=" + board(1200), "--speed", "1200"} + numbered);
        QTRY_VERIFY_WITH_TIMEOUT(fileBytes(serial) == "8\n", 10'000);
        runs.back()->kill();
        QVERIFY(runs.back()->waitForFinished(5000) && runs.back()->exitStatus() == QProcess::CrashExit);
        QCOMPARE(fileBytes(serial), "8\n"); // the next run's number
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"line7.txt"}); // nothing left beside it

        // Changes to one database from runs at once, through two names of it: each one kept, no lock left behind.
        runs.clear();
        const QString db = dir.filePath("line7.cdb");
        QVERIFY(QProcess::execute(built("cli/tessary"), {"db", "factory", db, "-q"}) == 0 && QFile::link(db, dir.filePath("link.cdb")));
        for (int n = 0; n < 8; ++n) // six entries added, the first entry moved down twice
            start({"db", n < 6 ? "add" : "move", dir.filePath(n % 2 ? "link.cdb" : "line7.cdb"),
                   n < 6 ? QStringLiteral("RUN %1").arg(n) : "Mechanism 01", n < 6 ? "--code=1111000101000000" : "--down"});
        for (const auto &process : runs)
            QVERIFY(process->waitForFinished(20'000) && process->exitCode() == 0);
        const Ran listed = run({"db", "list", db});
        QVERIFY2(listed.out.count("RUN ") == 6 && listed.out.contains("\n  3  Mechanism 01 "), qPrintable(listed.out));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System), QStringList({"line7.cdb", "line7.txt", "link.cdb"}));
    }

    // `tessary ports --watch` follows a --port device that comes and goes (a link to a pseudo-terminal, which the
    // poll looks at), then ends: once standard output's reader has gone (`| head -1`), with exit status 1 and
    // nothing more said, also when no device comes or goes meanwhile; at Ctrl+C, a shutdown or the terminal
    // closing, at once, with the shell's status for the signal.
    void portsWatchEndsOnEachStopSignal()
    {
        for (const int signal : {0, SIGINT, SIGTERM, SIGHUP}) { // 0: the reader goes
            QTemporaryDir dir;
            PtyBoardThread device;
            int ends[2];
            QCOMPARE(::pipe2(ends, O_CLOEXEC), 0); // standard output: a pipe whose reader this test is
            QVERIFY(::fcntl(ends[0], F_SETFL, O_NONBLOCK) == 0);
            QProcess watch;
            watch.setChildProcessModifier([&ends] { ::dup2(ends[1], STDOUT_FILENO); });
            watch.start(built("cli/tessary"), {"ports", "--watch", "--port", "COM3=" + dir.filePath("adapter")});
            ::close(ends[1]);
            QString err;
            QTRY_VERIFY2_WITH_TIMEOUT((err += watch.readAllStandardError()).startsWith("Watching COM1 to COM6"), qPrintable(err + watch.errorString()), 5000);
            QByteArray out;
            const auto read = [&ends, &out] {
                char buffer[256];
                return out += QByteArray(buffer, int(qMax<ssize_t>(0, ::read(ends[0], buffer, sizeof buffer))));
            };
            QVERIFY(QFile::link(device.path(), dir.filePath("adapter")));
            const QByteArray name = QFile::encodeName(device.path().mid(5)); // "pts/3"
            QTRY_COMPARE_WITH_TIMEOUT(read(), "COM3: " + name + " plugged in\n", 5000);
            QVERIFY(QFile::remove(dir.filePath("adapter")));
            QTRY_COMPARE_WITH_TIMEOUT(read(), "COM3: " + name + " plugged in\nCOM3: " + name + " unplugged\n", 5000);
            if (signal)
                QCOMPARE(::kill(pid_t(watch.processId()), signal), 0);
            else
                ::close(ends[0]); // the reader goes
            QVERIFY2(watch.waitForFinished(5000), signal ? sigabbrev_np(signal) : "the watch outlived its reader");
            if (signal)
                ::close(ends[0]);
            QCOMPARE(std::pair(watch.exitStatus(), watch.exitCode()), std::pair(QProcess::NormalExit, signal ? 128 + signal : 1));
            QCOMPARE(err + watch.readAllStandardError(), "Watching COM1 to COM6 for devices that come or go; Ctrl+C ends.\n");
        }
    }

    // A port the user may not open names the dialout group; a port another program holds exclusively (as
    // a serial program does) is said to be in use. As root neither the permission bits nor the exclusive
    // hold are looked at, so the tool runs as an unprivileged user.
    void aPortTheUserMayNotOpenIsNamed()
    {
        const QStringList unprivileged = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        for (const bool held : {false, true}) {
            PtyBoardThread board;
            QVERIFY(::chmod(qPrintable(board.path()), held ? 0666 : 0) == 0);
            const int holder = held ? ::open(qPrintable(board.path()), O_RDWR | O_NOCTTY) : -1;
            const auto release = qScopeGuard([holder] { ::close(holder); });
            QVERIFY(!held || ::ioctl(holder, TIOCEXCL) == 0);
            const Ran denied = run({"identity", "--port", "COM1=" + board.path(), "--speed", "115200"},
                                   ::geteuid() ? QStringList() : unprivileged);
            QVERIFY2(denied.status == 1 && denied.err.contains(held ? "the port is in use by another program" : "no permission to use the port; add your user to the dialout group (sudo usermod -aG dialout $USER) and log in again"),
                     qPrintable(denied.err));
        }
    }

    // The user's settings file as something else than a file (a FIFO, a socket, a device, each also
    // through a link): the COM slots are not kept there, said once, the command goes on, and the node is
    // left as it was (never read, never replaced by a file).
    void theSettingsStoreLeavesWhatIsNoFileAlone()
    {
        for (const QString kind : {"fifo", "socket", "device"}) // the device last: making one needs root
            for (const bool linked : {false, true}) {
                QTemporaryDir home;
                QVERIFY(QDir(home.path()).mkpath("Tessary"));
                const QString file = home.filePath("Tessary/Tessary Configurator.conf");
                const QString node = linked ? home.filePath(kind) : file;
                const QByteArray path = QFile::encodeName(node);
                int socket = -1;
                const auto closeSocket = qScopeGuard([&socket] { ::close(socket); });
                if (kind == "fifo") {
                    QCOMPARE(::mkfifo(path.constData(), 0600), 0);
                } else if (kind == "socket") {
                    socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
                    sockaddr_un address{AF_UNIX, {}};
                    qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
                    QCOMPARE(::bind(socket, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
                } else if (::mknod(path.constData(), S_IFCHR | 0600, makedev(1, 3)) != 0) { // /dev/null's numbers, of its own
                    QSKIP("making a device node needs root");
                }
                if (linked)
                    QVERIFY(QFile::link(node, file));
                struct stat before {};
                QCOMPARE(::stat(path.constData(), &before), 0);
                const Ran ports = run({"ports"}, {"env", "XDG_CONFIG_HOME=" + home.path()});
                const QString what = kind == "fifo" ? "a named pipe (FIFO)" : kind == "socket" ? "a socket" : "a device";
                QCOMPARE(ports.status, 0);
                QCOMPARE(ports.err, "tessary: the COM slots cannot be kept in " + file + ": it is " + what
                                        + ", not a file; they are not remembered beyond this run\n");
                QVERIFY(ports.out.startsWith("COM1  "));
                struct stat after {};
                QCOMPARE(::stat(path.constData(), &after), 0);
                QCOMPARE((after.st_mode & S_IFMT), (before.st_mode & S_IFMT));
                QCOMPARE(after.st_ino, before.st_ino);
                QCOMPARE(QFileInfo(file).isSymLink(), linked);
            }
    }

private:
    QTemporaryDir m_settings;
};

QTEST_GUILESS_MAIN(TestCliPty)
#include "tst_cli_pty.moc"
