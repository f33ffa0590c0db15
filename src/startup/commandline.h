#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace tessary {

// What the program's options ask for. Parsing never exits or prints: the
// caller writes `output` to stdout and `error` to stderr and, when `exit` is
// set, ends with `exitCode`.
struct CommandLine {
    bool exit = false;
    int exitCode = 0;
    QString output; // --help and --version text
    QString error;  // one line, for a malformed command line
    QMap<int, QString> portMappings; // COMn -> device, from --port COMn=PATH
    bool demo = false;               // the simulated board stands behind COM1
    // An option the program does not know may be one of Qt's own (-platform,
    // -style), which QApplication takes out of the arguments: parse again
    // once it exists. Everything else is answered before, without a display.
    bool askAgainWithApplication = false;

    static constexpr int UsageError = 2;
};

// What the program is and the options it takes, as --help, the parser and
// the manual page give them.
[[nodiscard]] QString commandLineDescription();
[[nodiscard]] QList<QCommandLineOption> commandLineOptions();

// Parses the arguments (the first is the program's name). Needs no
// application object: --help and --version are answered before any.
[[nodiscard]] CommandLine parseCommandLine(const QStringList &arguments);

} // namespace tessary
