#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

namespace tessary {

// Writes a manual page in the man(7) macros from a program's own texts and
// options, so the page says what --help says. Plain text goes in as it is
// shown: backslashes, dashes and lines that begin with a dot or a quote are
// escaped here, and every dash is the ASCII one a shell takes.
class ManWriter {
public:
    // The title line and NAME: "tessary", 1, "configure ...".
    ManWriter(const QString &program, int section, const QString &summary);

    // SYNOPSIS: one line each, the program's name and words in bold, words
    // in capitals or in angle brackets in italics: "tessary db show FILE NAME".
    void synopsis(const QStringList &lines);
    void section(const QString &title);
    void subsection(const QString &title);
    // One paragraph per line of the text.
    void paragraphs(const QString &text);
    // A tagged paragraph per option: "-q, --quiet", "--port <port>".
    void options(const QList<QCommandLineOption> &options);
    // A tagged paragraph: a term in bold (a name, a path) and its text.
    void item(const QString &term, const QString &text);
    // A command line shown as it is typed, after a sentence saying what it
    // does; each line of the commands on a line of its own.
    void example(const QString &what, const QString &commands);

    // SEE ALSO: "tessary-boardsim(1)", each name in bold.
    void seeAlso(const QStringList &pages);

    [[nodiscard]] QString text() const { return m_text; }

    // The text of a line, escaped for roff.
    [[nodiscard]] static QString escaped(const QString &text);
    // "--port <port>" as a roff line in bold and italics.
    [[nodiscard]] static QString optionTerm(const QCommandLineOption &option);

private:
    QString m_text;
};

} // namespace tessary
