#include "mainwindow/commandline.h"

#include <QProcess>
#include <QTest>

using namespace tessary;

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void malformedOptionsEndWithOneLineErrorAndStatus2_data();
    void malformedOptionsEndWithOneLineErrorAndStatus2();
    void portMappingsFillTheirSlots();
    void noOptionsRunsWithNoMappings();
    void demoIsAccepted();
    void versionAndHelpPrintAndExit();
    void programRefusesMalformedPortWithStatus2();
};

void TestCommandLine::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("Tessary Configurator"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.3"));
}

void TestCommandLine::malformedOptionsEndWithOneLineErrorAndStatus2_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("slot out of range") << QStringList{"--port", "COM7=/dev/ttyUSB0"} << "COM7=/dev/ttyUSB0";
    QTest::newRow("slot zero") << QStringList{"--port=COM0=/dev/ttyS0"} << "COM0";
    QTest::newRow("no device") << QStringList{"--port", "COM3="} << "COM3=";
    QTest::newRow("no slot") << QStringList{"--port", "/dev/ttyUSB0"} << "/dev/ttyUSB0";
    QTest::newRow("value missing") << QStringList{"--port"} << "port";
    QTest::newRow("slot given twice") << QStringList{"--port", "COM2=/dev/a", "--port", "com2=/dev/b"} << "COM2";
    QTest::newRow("unknown option") << QStringList{"--baud", "9600"} << "baud";
    QTest::newRow("stray argument") << QStringList{"default.cdb"} << "default.cdb";
    QTest::newRow("demo over an explicit COM1") << QStringList{"--demo", "--port", "COM1=/dev/ttyUSB0"} << "COM1";
}

void TestCommandLine::malformedOptionsEndWithOneLineErrorAndStatus2()
{
    QFETCH(QStringList, args);
    QFETCH(QString, mentions);
    const CommandLine result = parseCommandLine(QStringList{"tessary-configurator"} + args);
    QVERIFY(result.exit);
    QCOMPARE(result.exitCode, 2);
    QVERIFY(result.output.isEmpty());
    QVERIFY(result.error.startsWith(QStringLiteral("tessary-configurator: ")));
    QVERIFY2(result.error.contains(mentions), qPrintable(result.error));
    QVERIFY(!result.error.contains(QLatin1Char('\n')));
}

void TestCommandLine::portMappingsFillTheirSlots()
{
    const CommandLine result = parseCommandLine(
        {"tessary-configurator", "--port", "COM3=/dev/ttyUSB0", "--port=com6=/tmp/board link"});
    QVERIFY(!result.exit);
    QVERIFY(result.error.isEmpty());
    QCOMPARE(result.portMappings, (QMap<int, QString>{{3, "/dev/ttyUSB0"}, {6, "/tmp/board link"}}));
    QVERIFY(!result.demo);
}

void TestCommandLine::noOptionsRunsWithNoMappings()
{
    const CommandLine result = parseCommandLine({"tessary-configurator"});
    QVERIFY(!result.exit);
    QVERIFY(result.portMappings.isEmpty());
    QVERIFY(result.output.isEmpty() && result.error.isEmpty());
}

void TestCommandLine::demoIsAccepted()
{
    const CommandLine result = parseCommandLine({"tessary-configurator", "--demo", "--port", "COM2=/dev/ttyS1"});
    QVERIFY(!result.exit);
    QVERIFY(result.demo);
    QCOMPARE(result.portMappings.value(2), QStringLiteral("/dev/ttyS1"));
}

void TestCommandLine::versionAndHelpPrintAndExit()
{
    const CommandLine version = parseCommandLine({"tessary-configurator", "--version"});
    QVERIFY(version.exit);
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.output, QStringLiteral("Tessary Configurator 2.3\n"));

    const CommandLine help = parseCommandLine({"tessary-configurator", "--help"});
    QVERIFY(help.exit);
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.output.contains(QStringLiteral("--port <COMn=PATH>")));
    QVERIFY(help.output.contains(QStringLiteral("--demo")));
    QVERIFY(help.error.isEmpty());
}

void TestCommandLine::programRefusesMalformedPortWithStatus2()
{
    const QString program = qEnvironmentVariable("TESSARY_BIN_DIR") + QStringLiteral("/src/tessary-configurator");
    if (!QFile::exists(program))
        QSKIP("the program is not built beside the tests");
    QProcess process;
    process.start(program, {"--port", "COM9=/dev/null"});
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    // Qt may warn about the environment first; the program's own word is
    // one line, the last.
    const QList<QByteArray> lines = process.readAllStandardError().trimmed().split('\n');
    const QByteArray last = lines.constLast();
    QVERIFY2(last.startsWith("tessary-configurator: "), last.constData());
    QVERIFY(last.contains("COM9=/dev/null"));
    int ownLines = 0;
    for (const QByteArray &line : lines)
        ownLines += line.startsWith("tessary-configurator: ") ? 1 : 0;
    QCOMPARE(ownLines, 1);
    QVERIFY(process.readAllStandardOutput().isEmpty());
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
