#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>

namespace tessary::sim {

// What tessary-boardsim is and the options it takes, as its --help, its
// parser and its manual page give them.
[[nodiscard]] QString simulatorDescription();
[[nodiscard]] QList<QCommandLineOption> simulatorOptions();

} // namespace tessary::sim
