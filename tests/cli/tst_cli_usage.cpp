// The command lines a user gets wrong, and --help and --version, through the
// programs themselves: a mistyped option of the simulator or the desktop
// program suggests the nearest known one, a missing value is named in one
// line, each exits 2; --version names the Qt the program runs on; the desktop program
// answers --help and --version without a display.
#include <QProcess>
#include <QTest>

namespace {

QString built(const QString &program) { return qEnvironmentVariable("TESSARY_BIN_DIR") + u'/' + program; }

} // namespace

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
        QProcess process;
        process.start(built(program), arguments);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 2);
        QCOMPARE(process.readAllStandardOutput(), QByteArray());
        // The desktop program's Qt may warn about the environment first; the program's own word is the last line.
        QCOMPARE(QString::fromLocal8Bit(process.readAllStandardError()).trimmed().section(u'\n', -1), said);
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
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(built(program), {"--version"});
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QString::fromLocal8Bit(process.readAllStandardOutput()), name + " 2.3 (Qt " + qVersion() + ")\n");
        process.start(built(program), {"--help"});
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 0);
        const QString help = QString::fromLocal8Bit(process.readAllStandardOutput());
        QVERIFY2(help.startsWith("Usage: " + program.section(u'/', -1) + (program.endsWith("tessary") ? " <command>" : " [options]")),
                 qPrintable(help));
        QVERIFY2(program.endsWith("tessary") || help.contains("\n  -v, --version "), qPrintable(help));
    }

};

QTEST_GUILESS_MAIN(TestCliUsage)
#include "tst_cli_usage.moc"
