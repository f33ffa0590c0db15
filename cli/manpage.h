#pragma once

#include <QString>

namespace tessary {

// tessary(1), made from the table of commands: every command with its
// description and its own options, the common options and the commands that
// take each, then the exit status, files, environment and examples.
[[nodiscard]] QString tessaryManPage();

} // namespace tessary
