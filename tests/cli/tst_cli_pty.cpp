// The command-line tool in real time: the real serial code, the event-loop
// clock and QSerialPort against the simulated board on a pseudo-terminal,
// and the program itself as a script runs it.
#include "boardsim/ptyboardthread.h"
#include "cliapp.h"
#include "clienvironment.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

using namespace tessary;
using namespace tessary::sim;

namespace {

struct Result {
    int status = -1;
    QString out;
    QString err;
    [[nodiscard]] QJsonObject json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
};

Result runInProcess(const QStringList &arguments)
{
    Result result;
    QTextStream out(&result.out);
    QTextStream err(&result.err);
    SystemEnvironment environment;
    CliApp app(environment, out, err);
    result.status = app.run(QStringList{QStringLiteral("tessary")} + arguments);
    out.flush();
    err.flush();
    return result;
}

Result runProgram(const QStringList &arguments)
{
    QProcess process;
    process.start(qEnvironmentVariable("TESSARY_BIN_DIR") + QStringLiteral("/cli/tessary"), arguments);
    Result result;
    if (!process.waitForFinished(60'000))
        return result;
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

} // namespace

class TestCliPty : public QObject {
    Q_OBJECT

private slots:
    void detectScansThePseudoTerminalsAtOnce();
    void theProgramProgramsVerifiesAndLogs();
    void theProgramExitsOneWithoutABoardAndTwoOnAUsageError();
};

// Two ports at once, each on its own thread, line and clock: a board that
// never answers on COM1, the board at 38400 on COM2.
void TestCliPty::detectScansThePseudoTerminalsAtOnce()
{
    BoardOptions silentOptions;
    silentOptions.faults.silent = true;
    PtyBoardThread silent(silentOptions);
    BoardOptions options;
    options.baud = 38400;
    options.handshake = BoardHandshake::XonXoff;
    PtyBoardThread board(options);
    QVERIFY2(silent.isRunning() && board.isRunning(), qPrintable(silent.errorString() + board.errorString()));

    const Result result = runInProcess({"detect", "--port", "COM1=" + silent.path(), "--port",
                                        "COM2=" + board.path(), "--json"});
    QCOMPARE(result.status, 0);
    const QJsonObject json = result.json();
    QCOMPARE(json.value("port").toString(), QStringLiteral("COM2"));
    QCOMPARE(json.value("device").toString(), board.path());
    QCOMPARE(json.value("speed").toString(), QStringLiteral("38400"));
    QCOMPARE(json.value("handshake").toString(), QStringLiteral("xon"));
    QVERIFY(json.value("identity").toString().startsWith(QLatin1String("TH432 1K5 STD")));
    QVERIFY(result.err.contains(QLatin1String("Attempting to contact printer on COM 1 at 1200 bauds.")));
    QVERIFY(result.err.contains(QLatin1String("Attempting to contact printer on COM 2 at 38400 bauds.")));
}

// The verification reads the configuration back over the same real line.
void TestCliPty::theProgramProgramsVerifiesAndLogs()
{
    BoardOptions options; // 115200, hardware handshake
    options.strobePolarity = 1; // negative, as the code asks
    PtyBoardThread board(options);
    QVERIFY2(board.isRunning(), qPrintable(board.errorString()));
    QTemporaryDir dir;
    const QString log = dir.filePath("line.csv");

    const Result result = runProgram({"program", "--port", board.path(), "--speed", "115200", "--code",
                                      "1111100110000000", "--id", "PTY-1", "--verify", "--log", log, "--json"});
    QVERIFY2(result.status == 0, qPrintable(result.err));
    QCOMPARE(result.json().value("verified").toBool(), true);
    QCOMPARE(result.json().value("identityAfter").toString(), QStringLiteral("PTY-1            FW 4.12"));

    quint8 byte1 = 0, byte2 = 0, first = 0;
    board.withBoard([&](Board &b) {
        byte1 = b.parameter(7);
        byte2 = b.parameter(8);
        first = b.parameter(9);
    });
    QCOMPARE(byte1, quint8(0xF9));
    QCOMPARE(byte2, quint8(0x80));
    QCOMPARE(first, quint8('P'));

    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QByteArray("time,port,speed,identity_before,identity_after,code,result"));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ,"))
                 .match(QString::fromUtf8(lines[1])).hasMatch(),
             lines[1].constData());
    QVERIFY(lines[1].endsWith(QByteArray(",115200,TH432 1K5 STD    FW 4.12,PTY-1            FW 4.12,"
                                         "1111100110000000,ok")));
    QVERIFY(lines[1].contains(board.path().toUtf8()));
}

void TestCliPty::theProgramExitsOneWithoutABoardAndTwoOnAUsageError()
{
    QTemporaryDir dir;
    const Result missing = runProgram({"identity", "--port", dir.filePath("ttyNone"), "--speed", "9600"});
    QCOMPARE(missing.status, 1);
    QVERIFY(missing.err.contains(QLatin1String("does not exist")));

    const Result usage = runProgram({"program", "--mode", "sideways"});
    QCOMPARE(usage.status, 2);
    QVERIFY(usage.err.contains(QLatin1String("--mode takes user or resistors")));
}

QTEST_GUILESS_MAIN(TestCliPty)
#include "tst_cli_pty.moc"
