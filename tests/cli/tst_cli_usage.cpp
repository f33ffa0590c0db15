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
    void usageErrorsSayWhatIsWrongInOneLine()
    {
        // The program, its arguments, the last line on standard error. (tessary's own: tst_cli's usage table.)
        const struct { QString program; QStringList arguments; QString said; } table[] = {
            {"boardsim/tessary-boardsim", {"--spead", "9600"}, "tessary-boardsim: unknown option --spead; did you mean --speed?"},
            {"boardsim/tessary-boardsim", {"--speed"}, "tessary-boardsim: --speed needs a value (<N>)"},
            {"src/tessary-configurator", {"--demp"}, "tessary-configurator: unknown option --demp; did you mean --demo?"},
            {"src/tessary-configurator", {"--port"}, "tessary-configurator: --port needs a value (<COMn=PATH>)"}};
        for (const auto &[program, arguments, said] : table) {
            const Ran ran = runProgram(built(program), arguments);
            // The desktop program's Qt may warn about the environment first; the program's own word is the last line.
            QCOMPARE(std::tuple(ran.status, ran.out, ran.err.trimmed().section(u'\n', -1)), std::tuple(2, QString(), said));
        }
    }

    // --help and --version print and exit 0, the desktop program's without a
    // display: nor X (unset, or asked for with xcb) nor Wayland.
    void helpAndVersionWithoutADisplay()
    {
        // The program, QT_QPA_PLATFORM (empty: unset), its name as --version and --help give it.
        const struct { QString program, platform, name; } table[] = {
            {"cli/tessary", "", "tessary"},
            {"boardsim/tessary-boardsim", "", "tessary-boardsim"},
            {"src/tessary-configurator", "", "Tessary Configurator"},
            {"src/tessary-configurator", "xcb", "Tessary Configurator"}};
        for (const auto &[program, platform, name] : table) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                environment.remove(variable);
            if (!platform.isEmpty())
                environment.insert("QT_QPA_PLATFORM", platform);
            const Ran version = runProgram(built(program), {"--version"}, environment);
            QCOMPARE(std::pair(version.status, version.out), std::pair(0, name + " 2.3 (Qt " + qVersion() + ")\n"));
            const Ran help = runProgram(built(program), {"--help"}, environment);
            QVERIFY2(help.status == 0 && help.out.startsWith("Usage: " + program.section(u'/', -1) + (program.endsWith("tessary") ? " <command>" : " [options]")),
                     qPrintable(program + ' ' + platform + ": " + help.out));
            QVERIFY2(program.endsWith("tessary") || help.out.contains("\n  -v, --version "), qPrintable(help.out));
            QVERIFY2(!program.endsWith("configurator") || help.out.contains("\nConfigures the controller board of a thermal printer over a serial port.\n"),
                     qPrintable(help.out));
            QProcess full; // an answer that cannot be written (a full disk) is no success
            full.setProcessEnvironment(environment);
            full.setStandardOutputFile("/dev/full");
            full.start(built(program), {"--version"});
            QVERIFY(full.waitForFinished() && full.exitCode() == 1 && full.readAllStandardError().endsWith(": writing the output failed (No space left on device)\n"));
        }
    }
};

QTEST_GUILESS_MAIN(TestCliUsage)
#include "tst_cli_usage.moc"
