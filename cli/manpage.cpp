#include "manpage.h"

#include "app/manwriter.h"
#include "cliapp.h"

#include <algorithm>

namespace tessary {

namespace {

QString dashed(const QString &name) { return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name; }

// "a, b and c".
QString listed(const QStringList &words)
{
    if (words.size() < 2)
        return words.join(QString());
    return words.mid(0, words.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + words.constLast();
}

} // namespace

QString tessaryManPage()
{
    const QList<CliApp::Subcommand> &table = CliApp::subcommands();
    ManWriter page(QStringLiteral("tessary"), 1,
                   QStringLiteral("configure the controller board of a Tessary thermal printer from scripts and "
                                  "production lines"));

    QStringList synopsis;
    for (const CliApp::Subcommand &command : table)
        synopsis << QStringLiteral("tessary %1 [options] %2").arg(command.name, command.syntax).trimmed();
    synopsis << QStringLiteral("tessary --help") << QStringLiteral("tessary --version");
    page.synopsis(synopsis);

    page.section(QStringLiteral("DESCRIPTION"));
    page.paragraphs(QStringLiteral(
        "tessary does from scripts and production lines what tessary-configurator does by hand, through the same "
        "detection, read-back, programming and database code: it finds the board on a serial port, reads its "
        "identity and configuration, programs a configuration with every byte checked against the board's echo, "
        "wakes, sleeps and resets it, and edits .cdb database files.\n"
        "A command that talks to the board finds it first: without --port it wakes and scans every port, COM1 to "
        "COM6, at every speed, all ports at once (one after another with --sequential), and takes the "
        "lowest-numbered port where a board answers; --port with --speed probes that port at that speed only. "
        "COM1 to COM6 are the serial ports the system lists, each adapter keeping its number across plugs and runs "
        "as in the desktop program (see tessary ports); --port also takes a device path.\n"
        "Results go to standard output, as JSON with --json; progress and messages go to standard error. Every "
        "command answers --help."));

    page.section(QStringLiteral("COMMANDS"));
    // The common options in the order the commands list them, with the commands that take each.
    QList<QCommandLineOption> common;
    QMap<QString, QStringList> takers;
    for (const CliApp::Subcommand &command : table) {
        page.subsection(QStringLiteral("tessary %1 %2").arg(command.name, command.syntax).trimmed());
        page.paragraphs(command.description);
        page.options(command.options);
        QStringList names;
        for (const QCommandLineOption &option : CliApp::commonOptions(command.reach)) {
            const QString key = option.names().constLast();
            if (!takers.contains(key))
                common.append(option);
            takers[key] << command.name;
            names << dashed(key);
        }
        page.paragraphs(QStringLiteral("Also takes %1 (see COMMON OPTIONS).").arg(listed(names)));
    }

    // In the order of the command that takes the most of them.
    QStringList order;
    for (const CliApp::Subcommand &command : table)
        if (const QList<QCommandLineOption> options = CliApp::commonOptions(command.reach); options.size() > order.size()) {
            order.clear();
            for (const QCommandLineOption &option : options)
                order << option.names().constLast();
        }
    std::stable_sort(common.begin(), common.end(), [&order](const QCommandLineOption &a, const QCommandLineOption &b) {
        return order.indexOf(a.names().constLast()) < order.indexOf(b.names().constLast());
    });

    page.section(QStringLiteral("COMMON OPTIONS"));
    for (QCommandLineOption option : common) {
        const QStringList &commands = takers.value(option.names().constLast());
        option.setDescription(option.description() + u' '
                              + (commands.size() == table.size()
                                     ? QStringLiteral("Every command takes it.")
                                     : QStringLiteral("Taken by %1.").arg(listed(commands))));
        page.options({option});
    }

    page.section(QStringLiteral("EXIT STATUS"));
    page.item(QStringLiteral("0"), QStringLiteral("Success: the bytes went out and, where the board answers, the answer "
                                                  "said so."));
    page.item(QStringLiteral("1"),
              QStringLiteral("The board did not answer, an echo or the verification failed, its bytes did not go out "
                             "(the port could not be opened, the line failed, flow control held the output), a file "
                             "was refused, or the trace, the log or the output could not be written; rows of --record wait in "
                             "the record's spool; an audited board holds another configuration than expected (drift) or did "
                             "not answer the read-back in full. With --all-boards: one board failed, or none was found."));
    page.item(QStringLiteral("2"), QStringLiteral("A usage error: an unknown command or option (with the nearest "
                                                  "known one), a missing or wrong value, options that do not go "
                                                  "together, a configuration with a field left out. Said in one "
                                                  "line on standard error."));
    page.item(QStringLiteral("129, 130, 143"),
              QStringLiteral("Stopped by SIGHUP (the terminal closed), SIGINT or SIGTERM: the command ended at its next wait, closed the port, "
                             "wrote its log row and said so."));

    page.section(QStringLiteral("FILES"));
    page.item(QStringLiteral("~/.config/Tessary/Tessary Configurator.conf"),
              QStringLiteral("The user's settings: the COM number each serial adapter keeps, shared with "
                             "tessary-configurator."));
    page.item(QStringLiteral("~/.local/share/Tessary/Tessary Configurator/record.sqlite"),
              QStringLiteral("The production record when none is kept with tessary record use; spool/ beside it holds "
                             "the rows a record could not take yet, sent by the next run that reaches it or by "
                             "tessary record flush."));
    page.item(QStringLiteral("default.cdb"),
              QStringLiteral("The database tessary-configurator reads from its current folder at start (started "
                             "from the desktop menu: ~/.local/share/tessary-configurator/default.cdb). tessary "
                             "reads and writes the .cdb files its command line names, such as this one."));

    page.section(QStringLiteral("ENVIRONMENT"));
    page.item(QStringLiteral("XDG_CONFIG_HOME"),
              QStringLiteral("Where the settings file is, in place of ~/.config."));

    page.section(QStringLiteral("EXAMPLES"));
    page.example(QStringLiteral("Find the board, on any port at any speed:"), QStringLiteral("tessary detect"));
    page.example(QStringLiteral("Program one board on COM1 with an entry of the factory list, check it, and log it:"),
                 QStringLiteral("tessary db factory factory.cdb\n"
                                "tessary program --port COM1 --db factory.cdb \\\n"
                                "    --entry \"Mechanism 01\" --verify --log production.csv"));
    page.example(QStringLiteral("Program every board on every serial port at once, each named LINE7:"),
                 QStringLiteral("tessary program --all-boards --db factory.cdb \\\n"
                                "    --entry \"Mechanism 01\" --id LINE7 --yes \\\n"
                                "    --verify --log production.csv"));
    page.example(QStringLiteral("The same, each board's row also into the production record kept with tessary record "
                                "use (a PostgreSQL server the stations share), and the day's counts afterwards:"),
                 QStringLiteral("tessary record use postgresql://line7@dbserver/factory\n"
                                "tessary program --all-boards --db factory.cdb \\\n"
                                "    --entry \"Mechanism 01\" --yes --verify --record\n"
                                "tessary record summary --by station --since today"));
    page.example(QStringLiteral("Audit a rack: read every board and compare it with the entry it should hold:"),
                 QStringLiteral("tessary audit --all-boards --db factory.cdb --expect \"Mechanism 01\""));
    page.example(QStringLiteral("Try the completion of the current bash without installing it:"),
                 QStringLiteral("source <(tessary completion bash)"));

    page.seeAlso({QStringLiteral("tessary-configurator(1)"), QStringLiteral("tessary-boardsim(1)")});
    return page.text();
}

} // namespace tessary
