#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace tessary {

// -h, --help and -v, --version as every program gives them (their parser
// answers them before anything else).
[[nodiscard]] QList<QCommandLineOption> helpAndVersionOptions();

// The known word nearest to a mistyped one, for "did you mean ...?": the
// only one that begins with it, else the closest within about a third of its
// length in edits (a letter added, dropped, changed, or two swapped), ties to
// the first listed. Empty when none is that near.
[[nodiscard]] QString nearestWord(const QString &word, const QStringList &known);

// One line saying what is wrong with a command line the parser refused, in
// the options' own words: "unknown option --prot; did you mean --port?",
// "--port needs a value (<port>)", "--json takes no value".
[[nodiscard]] QString parseErrorLine(const QCommandLineParser &parser, const QList<QCommandLineOption> &options);

// Qt's help text with the program's name in its first line: the parser names
// the executable as it was started, or "<executable_name>" before the
// application object exists.
[[nodiscard]] QString helpTextFor(const QCommandLineParser &parser, const QString &usage);

// Writes a help or version text to standard output; false, said on standard
// error in the program's name, when it could not be written (a full disk).
[[nodiscard]] bool printAnswer(const QString &text, const char *program);

} // namespace tessary
