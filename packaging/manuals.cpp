// tessary-manuals FOLDER: writes the manual pages (FOLDER/man/*.1) and the
// shell completions (FOLDER/completion/) that the package installs, from the
// programs' own command-line definitions, so they say what --help says.
// Run by the build; not installed.

#include "app/commandlinehelp.h"
#include "app/manwriter.h"
#include "boardsim/simcommandline.h"
#include "completion.h"
#include "manpage.h"
#include "startup/commandline.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

using namespace tessary;

namespace {

const QString SettingsFile = QStringLiteral("~/.config/Tessary/Tessary Configurator.conf");

QString configuratorPage()
{
    ManWriter page(QStringLiteral("tessary-configurator"), 1,
                   QStringLiteral("configure the controller board of a Tessary thermal printer"));
    page.synopsis({QStringLiteral("tessary-configurator [options]")});
    page.section(QStringLiteral("DESCRIPTION"));
    page.paragraphs(commandLineDescription() + u'\n'
                    + QStringLiteral(
                        "The desktop program finds the printer's controller board on a serial port (COM1 to COM6, "
                        "1200 to 115200 bauds, XON/XOFF or hardware flow control), reads its firmware identity and "
                        "the mechanism configuration it holds, edits a configuration, programs it into the board "
                        "with every byte checked against the board's echo, keeps named configurations in .cdb "
                        "database files (with a factory list of 29 mechanisms), and wakes, sleeps and resets the "
                        "board. Communication > Traffic monitor shows every byte exchanged with the board.\n"
                        "COM1 to COM6 are the serial ports the system lists, each adapter keeping its number "
                        "across plugs and runs; --port gives a slot a device of your choice. The desktop menu "
                        "starts the program through tessary-configurator-launch. Qt's own options (such as "
                        "-platform and -style) are taken as well."));
    page.section(QStringLiteral("OPTIONS"));
    page.options(commandLineOptions());
    page.section(QStringLiteral("EXIT STATUS"));
    page.item(QStringLiteral("0"), QStringLiteral("The program was closed, or --help or --version answered."));
    page.item(QStringLiteral("1"), QStringLiteral("The demo board could not start."));
    page.item(QStringLiteral("2"), QStringLiteral("A usage error, said in one line on standard error."));
    page.section(QStringLiteral("FILES"));
    page.item(QStringLiteral("default.cdb"),
              QStringLiteral("The database read from the current folder at start; when there is none (or it is not "
                             "a valid database) the program starts with the factory list."));
    page.item(SettingsFile, QStringLiteral("The user's settings: the COM number each serial adapter keeps, shared "
                                           "with tessary."));
    page.item(QStringLiteral("/usr/share/tessary-configurator/Help"),
              QStringLiteral("The help pages, used when the current folder has no Help folder."));
    page.section(QStringLiteral("ENVIRONMENT"));
    page.item(QStringLiteral("XDG_CONFIG_HOME"), QStringLiteral("Where the settings file is, in place of ~/.config."));
    page.item(QStringLiteral("QT_QPA_PLATFORM"),
              QStringLiteral("Qt's window system: xcb, wayland, or offscreen to run without a display."));
    page.item(QStringLiteral("TESSARY_DEMO_LOG"),
              QStringLiteral("With --demo, a file that gets the demo board's traffic in hex."));
    page.section(QStringLiteral("EXAMPLES"));
    page.example(QStringLiteral("Try every command without a printer, against the simulated board:"),
                 QStringLiteral("tessary-configurator --demo"));
    page.example(QStringLiteral("Put a USB adapter on COM3:"),
                 QStringLiteral("tessary-configurator --port COM3=/dev/ttyUSB0"));
    page.seeAlso({QStringLiteral("tessary(1)"), QStringLiteral("tessary-configurator-launch(1)"),
                  QStringLiteral("tessary-boardsim(1)")});
    return page.text();
}

QString launcherPage()
{
    ManWriter page(QStringLiteral("tessary-configurator-launch"), 1,
                   QStringLiteral("start Tessary Configurator in the user's own data folder"));
    page.synopsis({QStringLiteral("tessary-configurator-launch [options]")});
    page.section(QStringLiteral("DESCRIPTION"));
    page.paragraphs(QStringLiteral(
        "tessary-configurator reads default.cdb from its current folder. The desktop menu entry starts it through "
        "this launcher, which makes the folder $XDG_DATA_HOME/tessary-configurator (by default "
        "~/.local/share/tessary-configurator), changes into it and starts tessary-configurator there with the "
        "options given, so the database stays from one run to the next.\n"
        "The options are those of tessary-configurator:"));
    page.section(QStringLiteral("OPTIONS"));
    page.options(commandLineOptions());
    page.section(QStringLiteral("FILES"));
    page.item(QStringLiteral("~/.local/share/tessary-configurator/default.cdb"),
              QStringLiteral("The database the program reads at start and saves to."));
    page.section(QStringLiteral("ENVIRONMENT"));
    page.item(QStringLiteral("XDG_DATA_HOME"), QStringLiteral("Where the folder is made, in place of ~/.local/share."));
    page.seeAlso({QStringLiteral("tessary-configurator(1)")});
    return page.text();
}

QString simulatorPage()
{
    ManWriter page(QStringLiteral("tessary-boardsim"), 1,
                   QStringLiteral("the Tessary printer's controller board, simulated on a pseudo-terminal"));
    page.synopsis({QStringLiteral("tessary-boardsim [options]")});
    page.section(QStringLiteral("DESCRIPTION"));
    page.paragraphs(sim::simulatorDescription() + u'\n'
                    + QStringLiteral(
                        "It answers only at its own speed and handshake (silence, or noise with --garbage, at any "
                        "other), sleeps and wakes, and takes a configuration as the board does, so the desktop "
                        "program and tessary can be tried without a printer. The fault options make it misbehave "
                        "as a failing board would. Every byte each way is logged in hex with a timestamp."));
    page.section(QStringLiteral("OPTIONS"));
    page.options(helpAndVersionOptions() + sim::simulatorOptions());
    page.section(QStringLiteral("EXIT STATUS"));
    page.item(QStringLiteral("0"), QStringLiteral("Stopped by SIGTERM or SIGINT, or the line hung up as asked."));
    page.item(QStringLiteral("2"), QStringLiteral("A usage error, or the pseudo-terminal could not be made."));
    page.section(QStringLiteral("EXAMPLES"));
    page.example(QStringLiteral("A board at 9600 bauds behind /tmp/board, found and read by tessary:"),
                 QStringLiteral("tessary-boardsim --speed 9600 --link /tmp/board --log /tmp/board.log &\n"
                                "tessary detect --port /tmp/board\n"
                                "tessary read --port /tmp/board --speed 9600"));
    page.seeAlso({QStringLiteral("tessary(1)"), QStringLiteral("tessary-configurator(1)")});
    return page.text();
}

bool write(const QString &path, const QString &text)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0 && file.commit())
        return true;
    std::fprintf(stderr, "tessary-manuals: cannot write %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tessary-manuals FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("man")) || !folder.mkpath(QStringLiteral("completion"))) {
        std::fprintf(stderr, "tessary-manuals: cannot make the folders in %s\n", argv[1]);
        return 1;
    }
    const QList<std::pair<QString, QString>> files = {
        {QStringLiteral("man/tessary.1"), tessaryManPage()},
        {QStringLiteral("man/tessary-configurator.1"), configuratorPage()},
        {QStringLiteral("man/tessary-configurator-launch.1"), launcherPage()},
        {QStringLiteral("man/tessary-boardsim.1"), simulatorPage()},
        {QStringLiteral("completion/tessary"), completionScript(QStringLiteral("bash"))},
        {QStringLiteral("completion/_tessary"), completionScript(QStringLiteral("zsh"))},
        {QStringLiteral("completion/tessary.fish"), completionScript(QStringLiteral("fish"))},
    };
    for (const auto &[name, text] : files)
        if (!write(folder.filePath(name), text))
            return 1;
    return 0;
}
