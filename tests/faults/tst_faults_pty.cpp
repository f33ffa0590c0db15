#include "app/appstate.h"
#include "boardsim/ptyboardthread.h"
#include "configuration/configurationcode.h"
#include "configuration/configurationeditor.h"
#include "configuration/programmer.h"
#include "detection/detector.h"
#include "protocol/printerqueries.h"
#include "scriptedprompts.h"
#include "serial/eventloopclock.h"
#include "serial/portnames.h"
#include "serial/qtserialline.h"
#include "serial/seriallink.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace tessary;
using namespace tessary::sim;
using namespace tessary::test;

namespace {

// The program's real serial path to a board on a pseudo-terminal behind COM1.
struct Rig {
    explicit Rig(const BoardOptions &options) : board(options), line(PortNames({{1, board.path()}}, {})) {}
    PtyBoardThread board;
    QtSerialLine line;
    EventLoopClock clock;
    PlainStatusLine status;
    SerialLink link{line, clock, &status};
    PrinterLink printer{true, 1, QStringLiteral("115200"), HandshakeHardware, true};
    ScriptedPrompts prompts;
};

BoardOptions hangingUpAfter(int bytes)
{
    BoardOptions options;
    options.faults.hangUpAfter = bytes;
    return options;
}

} // namespace

// Real time over a pseudo-terminal: the faults that only a real device shows.
class TestFaultsPty : public QObject {
    Q_OBJECT

private slots:
    void hangUpDuringAScanEndsItWithNoPrinterAndThePortClosed();
    void hangUpDuringAReadBackShowsOneReadErrorAndClosesThePort();
    void hangUpDuringProgrammingEndsWithThePortClosedAndOneMessage();
    void portHeldByAnotherProgramIsReportedOnceAndLeftAlone();
    void portWithoutPermissionNamesTheCause();
};

void TestFaultsPty::hangUpDuringAScanEndsItWithNoPrinterAndThePortClosed()
{
    // The board answers the first probe, then the line goes.
    Rig rig(hangingUpAfter(3));
    QVERIFY2(rig.board.isRunning(), qPrintable(rig.board.errorString()));
    rig.printer = {};
    Detector detector(rig.link, rig.printer, rig.prompts);
    QElapsedTimer timer;
    timer.start();
    const QString text = detector.autodetect();
    QVERIFY(!rig.line.isOpen());
    QVERIFY2(timer.elapsed() < 20000, "the scan hung");
    QVERIFY(rig.prompts.shown.isEmpty());
    QVERIFY(!text.isEmpty());
    QVERIFY2(!text.contains(QLatin1String(" found on ")) || rig.printer.printerFound, qPrintable(text));
}

void TestFaultsPty::hangUpDuringAReadBackShowsOneReadErrorAndClosesThePort()
{
    // Gone after the first parameter query.
    Rig rig(hangingUpAfter(4));
    QVERIFY2(rig.board.isRunning(), qPrintable(rig.board.errorString()));
    ConfigurationEditor editor;
    PrinterQueries queries(rig.link, rig.printer);
    const ReadBackResult result = queries.readSettings(editor, rig.prompts);
    QVERIFY(!result.code);
    QCOMPARE(rig.prompts.texts(), QStringList{QStringLiteral("Error while reading printer parameters !")});
    QVERIFY(!rig.line.isOpen());
    // The next command meets a port that is gone, and says so on the status line;
    // never a board made meanwhile, which may get the same pseudo-terminal number.
    PtyBoardThread other(BoardOptions{});
    QVERIFY2(other.isRunning(), qPrintable(other.errorString()));
    QVERIFY(queries.identity().isEmpty());
    QVERIFY(!rig.line.isOpen());
    QVERIFY(!rig.status.statusText().isEmpty());
    qint64 heard = -1;
    other.withBoard([&](Board &b) { heard = b.bytesReceived(); });
    QCOMPARE(heard, 0);
}

void TestFaultsPty::hangUpDuringProgrammingEndsWithThePortClosedAndOneMessage()
{
    // The line goes in the middle of the identity writes (each write is 5 bytes).
    Rig rig(hangingUpAfter(5 * 6));
    QVERIFY2(rig.board.isRunning(), qPrintable(rig.board.errorString()));
    Programmer programmer(rig.link, rig.printer, rig.prompts, rig.status);
    ProgrammingPlan plan;
    plan.mode = ProgrammingPlan::Mode::Resistors;
    plan.identity = ProgrammingPlan::Identity::User;
    plan.name = QStringLiteral("HANGS UP MIDWAY");
    QElapsedTimer timer;
    timer.start();
    const ProgrammingResult result = programmer.program(plan);
    QVERIFY(!rig.line.isOpen());
    QVERIFY2(timer.elapsed() < 15000, "programming a gone board took too long");
    QVERIFY(result.echoFailures() > 0);
    // Once, not once per write that the hung-up line could not carry.
    QCOMPARE(rig.prompts.texts(), QStringList{QStringLiteral("Programming error ! Please check cables and power.")});
}

void TestFaultsPty::portHeldByAnotherProgramIsReportedOnceAndLeftAlone()
{
    Rig rig(BoardOptions{});
    QVERIFY2(rig.board.isRunning(), qPrintable(rig.board.errorString()));
    QSerialPort holder(rig.board.path());
    QVERIFY2(holder.open(QIODevice::ReadWrite), qPrintable(holder.errorString()));

    PrinterQueries queries(rig.link, rig.printer);
    QVERIFY(queries.identity().isEmpty());
    QVERIFY(!rig.line.isOpen());
    const QString status = rig.status.statusText();
    QVERIFY2(status.contains(QLatin1String("use"), Qt::CaseInsensitive)
                 || status.contains(QLatin1String("busy"), Qt::CaseInsensitive)
                 || status.contains(QLatin1String("another"), Qt::CaseInsensitive),
             qPrintable(status));
    QVERIFY(rig.prompts.shown.isEmpty());
    // The other program keeps its port.
    QVERIFY(holder.isOpen());
    holder.close();
    // Free again: the same objects work.
    QVERIFY(!queries.identity().isEmpty());
    QVERIFY(!rig.line.isOpen());
}

void TestFaultsPty::portWithoutPermissionNamesTheCause()
{
    // As root the permission bits are not looked at: run the command-line
    // tool (the same libraries) as an unprivileged user on a mode-000 node.
    Rig rig(BoardOptions{});
    QVERIFY2(rig.board.isRunning(), qPrintable(rig.board.errorString()));
    const QByteArray device = rig.board.path().toLocal8Bit();
    QVERIFY(::chmod(device.constData(), 0) == 0);
    const QString tool = qEnvironmentVariable("TESSARY_BIN_DIR") + QStringLiteral("/cli/tessary");
    QProcess process;
    QStringList command{tool, QStringLiteral("identity"), QStringLiteral("--port"),
                        QStringLiteral("COM1=") + rig.board.path(), QStringLiteral("--speed"), QStringLiteral("115200")};
    if (::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("running as root without setpriv: permissions cannot be taken away");
        command = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                              QStringLiteral("--clear-groups"), QStringLiteral("--")}
                + command;
        process.start(setpriv, command);
    } else {
        process.start(command.takeFirst(), command);
    }
    QVERIFY(process.waitForFinished(20000));
    const QString output = QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError());
    QVERIFY2(process.exitCode() != 0, qPrintable(output));
    QVERIFY2(output.contains(QLatin1String("permission"), Qt::CaseInsensitive), qPrintable(output));
    QVERIFY2(output.contains(QLatin1String("dialout")), qPrintable(output));
}

QTEST_GUILESS_MAIN(TestFaultsPty)
#include "tst_faults_pty.moc"
