#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>

namespace tessary::sim {

// What tessary-boardsim is and the options it takes beside -h/--help and
// -v/--version (helpAndVersionOptions(), of the programs' ground, which the
// simulator's library does not link), as its --help, its parser and its
// manual page give them.
[[nodiscard]] QString simulatorDescription();
[[nodiscard]] QList<QCommandLineOption> simulatorOptions();

} // namespace tessary::sim
