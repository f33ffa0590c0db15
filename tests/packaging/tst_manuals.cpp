// The manual pages and the shell completions, as the package installs them
// (made by the build in packaging/): every command and option of tessary's
// table has its place in each, the pages render without a warning and hold
// every option their program's --help lists, and the completions complete in
// the real shells.
#include "cliapp.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace tessary;

namespace {

QString built(const QString &path) { return qEnvironmentVariable("TESSARY_BIN_DIR") + u'/' + path; }

QString generated(const QString &name) { return built(QStringLiteral("packaging/") + name); }

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

struct Run {
    int status = -1;
    QString out, err;
};

Run run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment = {})
{
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QString dashed(const QString &name) { return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name; }

// The options a --help lists: "--port", "-q", ...
QStringList helpOptions(const QString &help)
{
    QStringList options;
    static const QRegularExpression option(QStringLiteral("^  (-\\w)?(, )?(--[\\w-]+)?"), QRegularExpression::MultilineOption);
    for (auto it = option.globalMatch(help); it.hasNext();) {
        const auto match = it.next();
        for (int group : {1, 3})
            if (!match.captured(group).isEmpty())
                options << match.captured(group);
    }
    return options;
}

} // namespace

class TestManuals : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_database; // the factory list, for the entry names
    QString m_folder;   // a folder, a .cdb file and a text file, for the file names

private slots:
    void initTestCase()
    {
        m_database = m_dir.filePath("factory.cdb");
        QCOMPARE(run(built("cli/tessary"), {"db", "factory", m_database, "--yes"}).status, 0);
        m_folder = m_dir.filePath("files");
        QVERIFY(QDir(m_dir.path()).mkpath("files/folder"));
        for (const char *name : {"files/lines.cdb", "files/notes.txt"}) {
            QFile file(m_dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
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
        for (const char *part : {".SH EXIT STATUS", ".SH FILES", ".SH ENVIRONMENT", ".SH EXAMPLES",
                                 "Tessary Configurator.conf", "default.cdb", "tessary audit \\-\\-all\\-boards"})
            QVERIFY2(page.contains(QLatin1String(part)), part);
    }

    // Each shell's script has every command (each group by its word, then
    // its actions) and every option each command takes, the options that
    // take a value known as such.
    void completionsHaveEveryCommandWithItsOptions()
    {
        const QString bash = readText(generated("completion/tessary"));
        const QString zsh = readText(generated("completion/_tessary"));
        const QString fish = readText(generated("completion/tessary.fish"));
        QVERIFY(bash.contains("\ncomplete -F _tessary tessary\n") && zsh.startsWith("#compdef tessary\n"));
        for (const CliApp::Subcommand &command : CliApp::subcommands()) {
            const QString name = command.name;
            const QString word = name.section(u' ', 0, 0);
            QVERIFY2(bash.contains(QRegularExpression("compgen -W '[^']*\\b" + word + "\\b")), qPrintable(name));
            QVERIFY2(zsh.contains("        '" + word + u':'), qPrintable(name));
            QVERIFY2(fish.contains("-n '__tessary_is \"\"' -a '" + word + u'\''), qPrintable(name));
            if (name.contains(u' ')) {
                const QString action = name.section(u' ', 1);
                QVERIFY2(bash.contains(QRegularExpression("'" + word + "'\\) echo '[^']*\\b" + action + "\\b")), qPrintable(name));
                QVERIFY2(zsh.contains("'" + action + u':'), qPrintable(name));
                QVERIFY2(fish.contains("-n '__tessary_is " + word + "' -a '" + action + u'\''), qPrintable(name));
            }
            const QString bashOptions = bash.section("        '" + name + "') echo '", 1).section(u'\'', 0, 0);
            const QString zshOptions = zsh.section("        ('" + name + "') items=(", 1).section(") ;;", 0, 0);
            QStringList fishLines;
            for (const QString &line : fish.split(u'\n'))
                if (line.contains("'__tessary_is \"" + name + "\"'"))
                    fishLines << line;
            for (const QCommandLineOption &option : CliApp::commonOptions(command.reach) + command.options) {
                const bool value = !option.valueName().isEmpty();
                for (const QString &optionName : option.names()) {
                    const QString flag = dashed(optionName);
                    QVERIFY2((u' ' + bashOptions + u' ').contains(u' ' + flag + (value ? "= " : " ")),
                             qPrintable(name + ": " + flag));
                    QVERIFY2(zshOptions.contains("'" + flag + u':'), qPrintable(name + ": " + flag));
                    const QString fishFlag = (optionName.size() == 1 ? "-s " : "-l ") + optionName + u' ';
                    QVERIFY2(std::any_of(fishLines.cbegin(), fishLines.cend(),
                                         [&](const QString &line) {
                                             return line.contains(fishFlag)
                                                 && line.contains(value ? QRegularExpression(" -[xr] ")
                                                                        : QRegularExpression(" -f "));
                                         }),
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
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        const auto rendered = [&environment](const QString &page) {
            const Run man = run("man", {"--warnings", "-l", generated("man/" + page + ".1")}, environment);
            return man.status == 0 && man.err.isEmpty() && man.out.contains("NAME") ? man.out : QString();
        };
        const QList<std::pair<QString, QString>> programs = {{"tessary-configurator", "src/tessary-configurator"},
                                                             {"tessary-configurator-launch", "src/tessary-configurator"},
                                                             {"tessary-boardsim", "boardsim/tessary-boardsim"}};
        for (const auto &[page, program] : programs) {
            const QString text = rendered(page);
            QVERIFY2(!text.isEmpty(), qPrintable(page));
            const QStringList options = helpOptions(run(built(program), {"--help"}, environment).out);
            QVERIFY2(options.size() >= 4, qPrintable(page));
            for (const QString &option : options)
                QVERIFY2(QRegularExpression("(^|[ ,])" + QRegularExpression::escape(option) + "\\b",
                                            QRegularExpression::MultilineOption)
                             .match(text)
                             .hasMatch(),
                         qPrintable(page + ": " + option));
        }
        QVERIFY(!rendered("tessary").isEmpty()); // its commands' options: manPageHasEveryCommandWithItsOptions
    }

    // The completion the package installs, sourced into a real bash and
    // asked as Tab asks: the words on the line, the last one being completed.
    void bashCompletes_data()
    {
        QTest::addColumn<QString>("line");        // after "tessary"; DB the factory list, DIR a folder
        QTest::addColumn<QStringList>("offered"); // every candidate
        const auto entries = [](int from, int to) {
            QStringList names;
            for (int n = from; n <= to; ++n)
                names << QStringLiteral("Mechanism\\ %1").arg(n, 2, 10, QChar(u'0'));
            return names;
        };
        QTest::newRow("commands") << "''" << QString("ports detect identity read wake sleep reset program audit db code "
                                                     "completion record --help --version").split(u' ');
        QTest::newRow("actions") << "db ''" << QString("list show add remove move factory export import").split(u' ');
        QTest::newRow("an option") << "program --sp" << QStringList{"--speed"};
        QTest::newRow("speeds") << "detect --speed ''"
                                << QString("1200 2400 4800 9600 19200 28800 38400 57600 115200").split(u' ');
        QTest::newRow("handshakes") << "read --port COM2 --speed 9600 --handshake ''" << QStringList{"xon", "hw"};
        QTest::newRow("head widths") << "program --head-width ''" << QString("384 432 448 576 640 832 864").split(u' ');
        QTest::newRow("modes") << "program --mode ''" << QStringList{"user", "resistors"};
        // A serial adapter's device is offered beside COM1 to COM6 when one is present.
        QStringList ports = {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"};
        for (const QFileInfo &adapter : QDir("/dev").entryInfoList({"ttyUSB*", "ttyACM*"}, QDir::System)
                                            + QDir("/dev/serial/by-id").entryInfoList(QDir::System | QDir::Files))
            ports << adapter.filePath();
        QTest::newRow("ports and the adapters present") << "detect --port ''" << ports;
        QTest::newRow("the PATH of COMn=PATH") << "detect --port COM3 = /dev/nul" << QStringList{"/dev/null"};
        QTest::newRow("--db=, split at =") << "program --port COM3 = /dev/null --db = DB --en" << QStringList{"--entry"};
        QTest::newRow("entries") << "program --db DB --entry 'Mechanism\\ 2'" << entries(20, 29);
        QTest::newRow("entries to expect") << "audit --db DB --expect 'Mechanism\\ 2'" << entries(20, 29);
        QTest::newRow("entries of --db=") << "program --db = DB --entry Mechanism\\ 0" << entries(1, 9);
        QTest::newRow("entries of the FILE") << "db show DB Mechanism\\ 1" << entries(10, 19);
        QTest::newRow("databases and folders") << "db list DIR/" << QStringList{"DIR/folder", "DIR/lines.cdb"};
        QTest::newRow("any file") << "program --log DIR/" << QStringList{"DIR/folder", "DIR/lines.cdb", "DIR/notes.txt"};
        QTest::newRow("shells") << "completion ''" << QStringList{"bash", "zsh", "fish"};
        QTest::newRow("nothing more") << "identity ''" << QStringList{};
    }
    void bashCompletes()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, offered);
        const QString bash = QStandardPaths::findExecutable("bash");
        if (bash.isEmpty())
            QSKIP("bash is not installed");
        const QString database = m_database, folder = m_folder;
        // The words as bash splits the line (at blanks and at "="), each quoted for the shell that runs the test.
        QString words = "tessary " + line;
        words.replace("DB", database).replace("DIR", folder);
        const QString script = "source " + generated("completion/tessary") + "\n"
                             + "complete -p tessary\n"
                             + "COMP_WORDS=(" + words + ")\n"
                             + "COMP_WORDS[0]=" + built("cli/tessary") + "\n"
                             + "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
                             + "_tessary\n"
                             + "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
        const Run shell = run(bash, {"--norc", "--noprofile", "-c", script});
        QCOMPARE(shell.err, QString());
        QVERIFY2(shell.out.startsWith("complete -F _tessary tessary\n"), qPrintable(shell.out));
        // In any order: bash sorts what it shows.
        QStringList got = shell.out.split(u'\n', Qt::SkipEmptyParts).mid(1);
        QStringList expected = offered.replaceInStrings("DIR", folder);
        got.sort();
        expected.sort();
        QCOMPARE(got, expected);
    }

    // zsh: the script's own functions driven with the completion system's
    // builtins standing in, each saying what it was given.
    void zshCompletes()
    {
        const QString zsh = QStandardPaths::findExecutable("zsh");
        if (zsh.isEmpty())
            QSKIP("zsh is not installed");
        const QString database = m_database;
        const QString script = "compdef() { print -r -- \"compdef $*\" }\n"
                               "compadd() { local -a w; w=(\"$@\"); [[ $w[1] == -a ]] && w=(${(P)w[2]}) || w=(${w[2,-1]});"
                               " print -r -- \"${(j:|:)w}\" }\n"
                               "_describe() { print -r -- \"${(j:|:)${(@)${(P)${@[-1]}}%%:*}}\" }\n"
                               "_files() { print -r -- \"files $*\" }\n"
                               "compset() { PREFIX=${PREFIX#*=} }\n"
                               "source " + generated("completion/_tessary") + "\n"
                               "c() { words=(" + built("cli/tessary") + " \"$@\"); CURRENT=$#words; PREFIX=$words[-1]; _tessary }\n"
                               "c ''\nc db ''\nc detect --speed ''\nc program --head-width=\nc program --db " + database
                             + " --entry ''\nc db list ''\n";
        const Run shell = run(zsh, {"-f", "-c", script});
        QCOMPARE(shell.err, QString());
        QStringList entries; // the factory list's 29 names
        for (int n = 1; n <= 29; ++n)
            entries << QStringLiteral("Mechanism %1").arg(n, 2, 10, QChar(u'0'));
        QCOMPARE(shell.out.split(u'\n').mid(0, 6),
                 QStringList({"compdef _tessary tessary",
                              "ports|detect|identity|read|wake|sleep|reset|program|audit|db|code|completion|record|--help|--version",
                              "list|show|add|remove|move|factory|export|import",
                              "1200|2400|4800|9600|19200|28800|38400|57600|115200", "384|432|448|576|640|832|864",
                              entries.join(u'|')}));
        QCOMPARE(shell.out.split(u'\n').value(6), "files -g *.cdb");
    }

    // fish computes its completions of a line itself (complete -C).
    void fishCompletes()
    {
        const QString fish = QStandardPaths::findExecutable("fish");
        if (fish.isEmpty())
            QSKIP("fish is not installed");
        const QString database = m_database;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PATH", built("cli") + u':' + environment.value("PATH"));
        const auto offered = [&](const QString &line) {
            const Run shell = run(fish, {"--no-config", "-c", "source " + generated("completion/tessary.fish")
                                                                   + "; complete -C'" + line + "'"},
                                  environment);
            QStringList words;
            for (const QString &candidate : shell.out.split(u'\n', Qt::SkipEmptyParts))
                words << candidate.section(u'\t', 0, 0);
            return shell.err + words.join(u'|');
        };
        QCOMPARE(offered("tessary de"), "detect");
        QCOMPARE(offered("tessary code "), "decode|encode");
        QCOMPARE(offered("tessary detect --spe"), "--speed");
        QCOMPARE(offered("tessary program --handshake "), "hw|xon");
        QCOMPARE(offered("tessary detect --port COM3=/dev/nul"), "COM3=/dev/null");
        QCOMPARE(offered("tessary program --db " + database + " --entry Mechanism\\ 2"),
                 "Mechanism 20|Mechanism 21|Mechanism 22|Mechanism 23|Mechanism 24|Mechanism 25|Mechanism 26|"
                 "Mechanism 27|Mechanism 28|Mechanism 29");
        QCOMPARE(offered("tessary db list " + m_folder + "/"), m_folder + "/folder/|" + m_folder + "/lines.cdb");
    }
};

QTEST_GUILESS_MAIN(TestManuals)
#include "tst_manuals.moc"
