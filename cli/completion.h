#pragma once

#include <QString>
#include <QStringList>

namespace tessary {

// The shells tessary completes for: bash, zsh and fish.
[[nodiscard]] QStringList completionShells();

// The completion script of tessary for one of those shells, made from its
// table of commands: the commands and groups, each command's options (its
// own and the common ones), the values of options and arguments that have a
// known set (speeds, handshakes, field values, modes, COM1 to COM6 and the
// serial devices), file names, and the entry names of the .cdb file named
// earlier on the line (asked of `tessary db list`). Empty for another shell.
[[nodiscard]] QString completionScript(const QString &shell);

} // namespace tessary
