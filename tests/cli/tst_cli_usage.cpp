// The command lines a user gets wrong, and --help and --version, through the
// programs themselves: a mistyped option of the simulator or the desktop
// program suggests the nearest known one, a missing value is named in one
// line, each exits 2; --version names the Qt the program runs on; the desktop program
// answers --help and --version without a display.
#include "programs.h"

#include <QTest>

using namespace tessary::test;

class TestCliUsage : public QObject {
    Q_OBJECT

private slots:
    void usageErrorsSayWhatIsWrongInOneLine_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("said"); // the last line on standard error
        // (tessary's own: tst_cli's usage table)
        QTest::newRow("simulator option") << "boardsim/tessary-boardsim" << QStringList{"--spead", "9600"}
                                          << "tessary-boardsim: unknown option --spead; did you mean --speed?";
        QTest::newRow("simulator value") << "boardsim/tessary-boardsim" << QStringList{"--speed"} << "tessary-boardsim: --speed needs a value (<N>)";
        QTest::newRow("desktop option") << "src/tessary-configurator" << QStringList{"--demp"}
                                        << "tessary-configurator: unknown option --demp; did you mean --demo?";
        QTest::newRow("desktop value") << "src/tessary-configurator" << QStringList{"--port"} << "tessary-configurator: --port needs a value (<COMn=PATH>)";
    }
    void usageErrorsSayWhatIsWrongInOneLine()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, said);
        const Ran ran = runProgram(built(program), arguments);
        QCOMPARE(ran.status, 2);
        QCOMPARE(ran.out, QString());
        // The desktop program's Qt may warn about the environment first; the program's own word is the last line.
        QCOMPARE(ran.err.trimmed().section(u'\n', -1), said);
    }

    // --help and --version print and exit 0, the desktop program's without a
    // display: nor X (unset, or asked for with xcb) nor Wayland.
    void helpAndVersionWithoutADisplay_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("platform"); // QT_QPA_PLATFORM; empty: unset
        QTest::addColumn<QString>("name");     // as --version and --help name it
        QTest::newRow("tessary") << "cli/tessary" << "" << "tessary";
        QTest::newRow("tessary-boardsim") << "boardsim/tessary-boardsim" << "" << "tessary-boardsim";
        QTest::newRow("tessary-configurator") << "src/tessary-configurator" << "" << "Tessary Configurator";
        QTest::newRow("tessary-configurator, xcb") << "src/tessary-configurator" << "xcb" << "Tessary Configurator";
    }
    void helpAndVersionWithoutADisplay()
    {
        QFETCH(QString, program);
        QFETCH(QString, platform);
        QFETCH(QString, name);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(variable);
        if (!platform.isEmpty())
            environment.insert("QT_QPA_PLATFORM", platform);
        const Ran version = runProgram(built(program), {"--version"}, environment);
        QCOMPARE(version.status, 0);
        QCOMPARE(version.out, name + " 2.3 (Qt " + qVersion() + ")\n");
        const Ran help = runProgram(built(program), {"--help"}, environment);
        QCOMPARE(help.status, 0);
        QVERIFY2(help.out.startsWith("Usage: " + program.section(u'/', -1) + (program.endsWith("tessary") ? " <command>" : " [options]")),
                 qPrintable(help.out));
        QVERIFY2(program.endsWith("tessary") || help.out.contains("\n  -v, --version "), qPrintable(help.out));
    }

};

QTEST_GUILESS_MAIN(TestCliUsage)
#include "tst_cli_usage.moc"
