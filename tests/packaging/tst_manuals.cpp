// The manual pages and the shell completions, as the package installs them
// (made by the build in packaging/): every command and option of tessary's
// table has its place in each, the pages render without a warning and hold
// every option their program's --help lists, and the completions complete in
// the real shells.
#include "cliapp.h"
#include "files.h"
#include "programs.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace tessary;
using namespace tessary::test;

namespace {

QString generated(const QString &name) { return built(QStringLiteral("packaging/") + name); }

QString readText(const QString &path) { return QString::fromUtf8(fileBytes(path)); }

// "Mechanism 01" ...: the factory list's names from..to.
QStringList mechanisms(int from, int to)
{
    QStringList names;
    for (int n = from; n <= to; ++n)
        names << QStringLiteral("Mechanism %1").arg(n, 2, 10, QChar(u'0'));
    return names;
}

QString dashed(const QString &name) { return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name; }

} // namespace

class TestManuals : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    const QString m_database = m_dir.filePath("factory.cdb"); // the factory list, for the entry names
    const QString m_folder = m_dir.filePath("files"); // a folder, a .cdb file and a text file, for the file names

private slots:
    void initTestCase()
    {
        QCOMPARE(runProgram(built("cli/tessary"), {"db", "factory", m_database, "--yes"}).status, 0);
        QVERIFY(QDir(m_dir.path()).mkpath("files/folder"));
        for (const char *name : {"files/lines.cdb", "files/notes.txt"})
            QVERIFY(QFile(m_dir.filePath(name)).open(QIODevice::WriteOnly));
        QVERIFY(QDir(m_dir.path()).mkpath("bin") && QFile::link(built("cli/tessary"), m_dir.filePath("bin/tessary")));
    }

    // Each command has its section with each of its own options, and names
    // the common ones it takes, each of which COMMON OPTIONS describes; the
    // synopsis has a line for each.
    void manPageHasEveryCommandWithItsOptions()
    {
        const QString page = readText(generated("man/tessary.1"));
        QVERIFY(page.startsWith(".TH TESSARY 1 "));
        const auto roff = [](const QString &text) { return QString(text).replace(u'-', QStringLiteral("\\-")); };
        const QString common = page.section(".SH COMMON OPTIONS\n", 1).section("\n.SH ", 0, 0);
        QVERIFY(!common.isEmpty());
        for (const CliApp::Subcommand &command : CliApp::subcommands()) {
            const QString title = ("tessary " + command.name + u' ' + command.syntax).trimmed();
            QVERIFY2(page.contains("\\fBtessary\\fR \\fB" + roff(command.name).replace(u' ', "\\fR \\fB") + "\\fR"),
                     qPrintable(command.name));
            const QString section = page.section(".SS \"" + roff(title) + "\"\n", 1).section("\n.S", 0, 0);
            QVERIFY2(!section.isEmpty(), qPrintable(title));
            for (const QCommandLineOption &option : command.options)
                for (const QString &name : option.names())
                    QVERIFY2(section.contains(".TP\n\\fB" + roff(dashed(name)) + "\\fR") || section.contains(", \\fB" + roff(dashed(name)) + "\\fR"),
                             qPrintable(title + ": " + name));
            for (const QCommandLineOption &option : CliApp::commonOptions(command.reach)) {
                const QString flag = roff(dashed(option.names().constLast()));
                QVERIFY2(section.contains("Also takes ") && section.section("Also takes ", 1).contains(flag),
                         qPrintable(title + ": " + flag));
                QVERIFY2(common.contains("\\fB" + flag + "\\fR"), qPrintable(flag));
            }
        }
        for (const char *part : {".SH SYNOPSIS", ".SH EXIT STATUS", ".SH FILES", ".SH ENVIRONMENT", ".SH EXAMPLES",
                                 "Tessary Configurator.conf", "default.cdb", "tessary audit \\-\\-all\\-boards"})
            QVERIFY2(page.contains(QLatin1String(part)), part);
    }

    // Each shell's script has every command (each group by its word, then
    // its actions) and every option each command takes, the options that
    // take a value known as such.
    void completionsHaveEveryCommandWithItsOptions()
    {
        const QString bash = readText(generated("completion/tessary")), zsh = readText(generated("completion/_tessary")),
                      fish = readText(generated("completion/tessary.fish"));
        QVERIFY(bash.contains("\ncomplete -F _tessary tessary\n") && zsh.startsWith("#compdef tessary\n"));
        for (const CliApp::Subcommand &command : CliApp::subcommands()) {
            const QString name = command.name;
            const QString word = name.section(u' ', 0, 0); // bash and zsh offer each: shellsComplete
            QVERIFY2(fish.contains("-n '__tessary_is \"\"' -a '" + word + u'\''), qPrintable(name));
            if (name.contains(u' ')) {
                const QString action = name.section(u' ', 1);
                QVERIFY2(bash.contains(QRegularExpression("'" + word + "'\\) echo '[^']*\\b" + action + "\\b")), qPrintable(name));
                QVERIFY2(zsh.contains("'" + action + u':'), qPrintable(name));
                QVERIFY2(fish.contains("-n '__tessary_is " + word + "' -a '" + action + u'\''), qPrintable(name));
            }
            const QString bashOptions = bash.section("        '" + name + "') echo '", 1).section(u'\'', 0, 0);
            const QString zshOptions = zsh.section("        ('" + name + "') items=(", 1).section(") ;;", 0, 0);
            const QStringList fishLines = fish.split(u'\n').filter("'__tessary_is \"" + name + "\"'");
            for (const QCommandLineOption &option : CliApp::commonOptions(command.reach) + command.options) {
                const bool value = !option.valueName().isEmpty();
                for (const QString &optionName : option.names()) {
                    const QString flag = dashed(optionName);
                    QVERIFY2((u' ' + bashOptions + u' ').contains(u' ' + flag + (value ? "= " : " ")),
                             qPrintable(name + ": " + flag));
                    QVERIFY2(zshOptions.contains("'" + flag + u':'), qPrintable(name + ": " + flag));
                    const QString fishFlag = (optionName.size() == 1 ? "-s " : "-l ") + optionName + u' ';
                    QVERIFY2(!fishLines.filter(fishFlag).filter(QRegularExpression(value ? " -[xr] " : " -f ")).isEmpty(),
                             qPrintable(name + ": " + flag));
                }
            }
        }
    }

    // man renders each page without a word of warning, and each page holds
    // every option its program's --help lists (the launcher takes the desktop
    // program's); tessary's every command's.
    void pagesRenderCleanlyWithEveryOptionOfTheirHelp()
    {
        if (QStandardPaths::findExecutable("man").isEmpty())
            QSKIP("man is not installed");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("MANWIDTH", "80");
        const auto rendered = [&environment](const QString &page) {
            const Ran man = runProgram("man", {"--warnings", "-l", generated("man/" + page + ".1")}, environment);
            return man.status == 0 && man.err.isEmpty() && man.out.contains("NAME") ? man.out : QString();
        };
        const QList<std::pair<QString, QString>> programs = {{"tessary-configurator", "src/tessary-configurator"},
                                                             {"tessary-configurator-launch", "src/tessary-configurator"},
                                                             {"tessary-boardsim", "boardsim/tessary-boardsim"}};
        for (const auto &[page, program] : programs) {
            const QString text = rendered(page);
            QVERIFY2(!text.isEmpty(), qPrintable(page));
            QStringList options; // those the --help lists: "--port", "-q", ...
            for (const QRegularExpressionMatch &match : QRegularExpression("^  (-\\w)?(, )?(--[\\w-]+)?", QRegularExpression::MultilineOption)
                                                            .globalMatch(runProgram(built(program), {"--help"}, environment).out))
                options << match.captured(1) << match.captured(3);
            options.removeAll(QString());
            QVERIFY2(options.size() >= 4, qPrintable(page));
            for (const QString &option : options)
                QVERIFY2(text.contains(QRegularExpression("(^|[ ,])" + QRegularExpression::escape(option) + "\\b",
                                                          QRegularExpression::MultilineOption)),
                         qPrintable(page + ": " + option));
        }
        QVERIFY(!rendered("tessary").isEmpty()); // its commands' options: manPageHasEveryCommandWithItsOptions
    }

    // The completions the package installs, asked as Tab asks: bash sourcing its script, given the words on
    // the line (the last one being completed); zsh running its script's own function with the completion
    // system's builtins standing in, each saying what it was given; fish computing them itself (complete -C).
    void shellsComplete_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::addColumn<QString>("line");        // after "tessary"; DB the factory list, DIR a folder
        QTest::addColumn<QStringList>("offered"); // every candidate, in any order
        const auto words = [](const char *text) { return QString(text).split(u' '); };
        for (const char *shell : {"bash", "zsh"}) {
            QTest::addRow("%s: commands", shell) << shell << "''" << words("ports detect identity read wake sleep reset "
                                                                         "program audit db code completion record --help --version");
            QTest::addRow("%s: actions", shell) << shell << "db ''" << words("list show add remove move factory export import");
            QTest::addRow("%s: speeds", shell) << shell << "detect --speed ''" << words("1200 2400 4800 9600 19200 28800 38400 57600 115200");
        }
        const QStringList widths = words("384 432 448 576 640 832 864");
        const auto entries = [](int from, int to) { return mechanisms(from, to).replaceInStrings(" ", "\\ "); };
        // bash gets the words as it splits the line (at blanks and at "="), each quoted for the shell that runs the test.
        QTest::newRow("bash: an option") << "bash" << "program --sp" << QStringList{"--speed"};
        QTest::newRow("bash: handshakes") << "bash" << "read --port COM2 --speed 9600 --handshake ''" << QStringList{"xon", "hw"};
        QTest::newRow("bash: head widths") << "bash" << "program --head-width ''" << widths;
        QTest::newRow("bash: modes") << "bash" << "program --mode ''" << QStringList{"user", "resistors"};
        // A serial adapter's device is offered beside COM1 to COM6 when one is present.
        QStringList ports = words("COM1 COM2 COM3 COM4 COM5 COM6");
        for (const QFileInfo &adapter : QDir("/dev").entryInfoList({"ttyUSB*", "ttyACM*"}, QDir::System)
                                            + QDir("/dev/serial/by-id").entryInfoList(QDir::System | QDir::Files))
            ports << adapter.filePath();
        QTest::newRow("bash: ports and the adapters present") << "bash" << "detect --port ''" << ports;
        QTest::newRow("bash: the PATH of COMn=PATH") << "bash" << "detect --port COM3 = /dev/nul" << QStringList{"/dev/null"};
        QTest::newRow("bash: --db=, split at =") << "bash" << "program --port COM3 = /dev/null --db = DB --en" << QStringList{"--entry"};
        QTest::newRow("bash: entries") << "bash" << "program --db DB --entry 'Mechanism\\ 2'" << entries(20, 29);
        QTest::newRow("bash: entries to expect") << "bash" << "audit --db DB --expect 'Mechanism\\ 2'" << entries(20, 29);
        QTest::newRow("bash: entries of --db=") << "bash" << "program --db = DB --entry Mechanism\\ 0" << entries(1, 9);
        QTest::newRow("bash: entries of the FILE") << "bash" << "db show DB Mechanism\\ 1" << entries(10, 19);
        // The entries are read by the program the line runs (in the home folder, ~ being the test's folder), else by
        // the one on the path.
        QTest::newRow("bash: entries, by ~/bin/tessary of ~/FILE") << "bash" << "\\~/bin/tessary db show \\~/factory.cdb Mechanism\\ 1" << entries(10, 19);
        QTest::newRow("zsh: entries, by ~/bin/tessary of ~/FILE") << "zsh" << "\\~/bin/tessary db show \\~/factory.cdb ''" << mechanisms(1, 29);
        QTest::newRow("zsh: entries, by the tessary on the path") << "zsh" << "/nowhere/tessary db show DB ''" << mechanisms(1, 29);
        QTest::newRow("fish: entries, by ~/bin/tessary of ~/FILE") << "fish" << "\\~/bin/tessary db show \\~/factory.cdb Mechanism\\ 1" << mechanisms(10, 19);
        QTest::newRow("bash: entries, by the tessary on the path") << "bash" << "/nowhere/tessary db show DB Mechanism\\ 1" << entries(10, 19);
        QTest::newRow("bash: databases and folders") << "bash" << "db list DIR/" << QStringList{"DIR/folder", "DIR/lines.cdb"};
        QTest::newRow("bash: any file") << "bash" << "program --log DIR/" << QStringList{"DIR/folder", "DIR/lines.cdb", "DIR/notes.txt"};
        QTest::newRow("bash: shells") << "bash" << "completion ''" << QStringList{"bash", "zsh", "fish"};
        QTest::newRow("bash: nothing more") << "bash" << "identity ''" << QStringList{};
        QTest::newRow("zsh: head widths after =") << "zsh" << "program --head-width=" << widths;
        QTest::newRow("zsh: entries") << "zsh" << "program --db DB --entry ''" << mechanisms(1, 29);
        QTest::newRow("zsh: databases") << "zsh" << "db list ''" << QStringList{"files -g *.cdb"};
        QTest::newRow("zsh: ports and the adapters present") << "zsh" << "detect --port ''" << ports;
        for (const char *path : {"/dev/nul", "COM3=/dev/nul", "COM3="}) // any file once a path is begun
            QTest::addRow("zsh: files after --port %s", path) << "zsh" << QString("detect --port ") + path << QStringList{"files"};
        QTest::newRow("fish: a command") << "fish" << "de" << QStringList{"detect"};
        QTest::newRow("fish: actions") << "fish" << "code " << QStringList{"decode", "encode"};
        QTest::newRow("fish: an option") << "fish" << "detect --spe" << QStringList{"--speed"};
        QTest::newRow("fish: handshakes") << "fish" << "program --handshake " << QStringList{"hw", "xon"};
        QTest::newRow("fish: the PATH of COMn=PATH") << "fish" << "detect --port COM3=/dev/nul" << QStringList{"COM3=/dev/null"};
        QTest::newRow("fish: entries") << "fish" << "program --db DB --entry Mechanism\\ 2" << mechanisms(20, 29);
        QTest::newRow("fish: databases and folders") << "fish" << "db list DIR/" << QStringList{"DIR/folder/", "DIR/lines.cdb"};
        for (const char *shell : {"bash", "zsh", "fish"}) { // an entry named, nothing follows; a file not there, nothing said
            QTest::addRow("%s: nothing after the entry", shell) << shell << "db show DB Mechanism\\ 11 ''" << QStringList{};
            QTest::addRow("%s: no entries of a missing file", shell) << shell << "db show DIR/none.cdb ''" << QStringList{};
        }
    }
    void shellsComplete()
    {
        QFETCH(QString, shell);
        QFETCH(QString, line);
        QFETCH(QStringList, offered);
        const QString program = QStandardPaths::findExecutable(shell);
        if (program.isEmpty())
            QSKIP("the shell is not installed");
        QString words = QString(line).replace("DB", m_database).replace("DIR", m_folder);
        if (!line.contains(QRegularExpression("^(\\\\~|/)"))) // unless the line names the program
            words.prepend(built("cli/tessary") + ' ');
        const QMap<QString, QStringList> runs = {
            {"bash", {"--norc", "--noprofile", "-c", "source " + generated("completion/tessary") + "\ncomplete -p tessary\nCOMP_WORDS=("
                      + words + ")\nCOMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n_tessary\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n"}},
            {"zsh", {"-f", "-c", "compdef() { print -r -- \"compdef $*\" }\n"
                     "compadd() { local -a w; w=(\"$@\"); [[ $w[1] == -a ]] && w=(${(P)w[2]}) || w=(${w[2,-1]}); print -rl -- $w }\n"
                     "_describe() { print -rl -- \"${(@)${(P)${@[-1]}}%%:*}\" }\n_files() { print -r -- files $* }\n"
                     "compset() { IPREFIX=${PREFIX%%=*}=; PREFIX=${PREFIX#*=} }\nsource " + generated("completion/_tessary") + "\nwords=(" + words + "); CURRENT=$#words; PREFIX=$words[-1]; _tessary\n"}},
            {"fish", {"--no-config", "-c", "source " + generated("completion/tessary.fish") + "; complete -C'" + QString(words).replace(built("cli/tessary"), "tessary") + "'"}}};
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!line.startsWith(u'\\')) // the line's own program in the home folder alone
            environment.insert("PATH", built("cli") + u':' + environment.value("PATH"));
        environment.insert("HOME", m_dir.path());
        const Ran result = runProgram(program, runs[shell], environment);
        QCOMPARE(result.err, QString());
        // bash and zsh say first that the script completes tessary; fish follows a candidate with its description.
        const QString registered = QMap<QString, QString>{{"bash", "complete -F _tessary tessary\n"}, {"zsh", "compdef _tessary tessary\n"}}[shell];
        QVERIFY2(result.out.startsWith(registered), qPrintable(result.out));
        QStringList got = result.out.mid(registered.size()).split(u'\n', Qt::SkipEmptyParts).replaceInStrings(QRegularExpression("\t.*"), "");
        QStringList expected = offered.replaceInStrings("DIR", m_folder);
        got.sort();
        expected.sort();
        QCOMPARE(got, expected);
    }
};

QTEST_GUILESS_MAIN(TestManuals)
#include "tst_manuals.moc"
