#pragma once

#include <QCommandLineOption>
#include <QString>
#include <QStringList>

namespace tessary {

// What a value on tessary's command line can be, for the shell completions
// and the manual page: the one place that knows it, so a command that gains
// an option of a known kind completes its values with no more said.
struct ValueSet {
    enum Kind {
        Free,      // anything: a code, a number, a text
        Choices,   // one of `choices`
        Files,     // a file name
        Databases, // a .cdb file (or a folder on the way to one)
        Ports,     // COM1 to COM6, or a serial device under /dev
        Entries,   // an entry name of the .cdb file named earlier on the line
    };
    Kind kind = Free;
    QStringList choices;
};

// The values an option takes; Free for a flag.
[[nodiscard]] ValueSet optionValues(const QCommandLineOption &option);

// The values of each argument a command's syntax names ("FILE NAME | FILE
// --index N": a .cdb file, then one of its entries), from its first form.
[[nodiscard]] QList<ValueSet> argumentValues(const QString &syntax);

// COM1 to COM6.
[[nodiscard]] QStringList comNames();
// Where serial adapters appear under /dev, as shell patterns.
[[nodiscard]] QStringList serialDevicePatterns();

} // namespace tessary
