#pragma once

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

    static constexpr int UsageError = 2;
};

// Parses the arguments (the first is the program's name).
[[nodiscard]] CommandLine parseCommandLine(const QStringList &arguments);

} // namespace tessary
