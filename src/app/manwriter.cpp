#include "app/manwriter.h"

#include "app/version.h"

#include <QRegularExpression>

namespace tessary {

namespace {

QString bold(const QString &text) { return QStringLiteral("\\fB") + ManWriter::escaped(text) + QStringLiteral("\\fR"); }

QString italic(const QString &text) { return QStringLiteral("\\fI") + ManWriter::escaped(text) + QStringLiteral("\\fR"); }

// A word of a synopsis: a placeholder (FILE, <name>, [options]) in
// italics, a literal word in bold.
QString synopsisWord(const QString &word)
{
    static const QRegularExpression placeholder(QStringLiteral("^[\\[<]?[A-Z][A-Z0-9]*[\\]>]?$|^<.*>$|^\\[.*\\]$"));
    if (word == QLatin1String("|"))
        return QStringLiteral("|");
    return placeholder.match(word).hasMatch() ? italic(word) : bold(word);
}

} // namespace

ManWriter::ManWriter(const QString &program, int section, const QString &summary)
{
    // No date: the page is the same for every build of a release.
    m_text = QStringLiteral(".TH %1 %2 \"\" \"Tessary Configurator %3\" \"User Commands\"\n")
                 .arg(escaped(program.toUpper()))
                 .arg(section)
                 .arg(programVersion());
    // No hyphenation, so a name such as tessary-configurator stays whole, and
    // a ragged right edge, so a line of long names keeps its spaces even.
    m_text += QStringLiteral(".nh\n.ad l\n.SH NAME\n%1 \\- %2\n").arg(escaped(program), escaped(summary));
}

QString ManWriter::escaped(const QString &text)
{
    QString line = text;
    line.replace(u'\\', QStringLiteral("\\e")).replace(u'-', QStringLiteral("\\-"));
    if (line.startsWith(u'.') || line.startsWith(u'\''))
        line.prepend(QStringLiteral("\\&"));
    return line;
}

QString ManWriter::optionTerm(const QCommandLineOption &option)
{
    QStringList names;
    for (const QString &name : option.names())
        names << bold((name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
    QString term = names.join(QStringLiteral(", "));
    if (!option.valueName().isEmpty())
        term += u' ' + italic(u'<' + option.valueName() + u'>');
    return term;
}

void ManWriter::synopsis(const QStringList &lines)
{
    section(QStringLiteral("SYNOPSIS"));
    bool first = true;
    for (const QString &line : lines) {
        if (!first)
            m_text += QStringLiteral(".br\n");
        first = false;
        QStringList words;
        for (const QString &word : line.split(u' ', Qt::SkipEmptyParts))
            words << synopsisWord(word);
        m_text += words.join(u' ') + u'\n';
    }
}

void ManWriter::section(const QString &title) { m_text += QStringLiteral(".SH %1\n").arg(escaped(title)); }

void ManWriter::subsection(const QString &title)
{
    m_text += QStringLiteral(".SS \"%1\"\n").arg(escaped(title).replace(u'"', QStringLiteral("\\(dq")));
}

void ManWriter::paragraphs(const QString &text)
{
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts))
        m_text += QStringLiteral(".PP\n") + escaped(line) + u'\n';
}

void ManWriter::options(const QList<QCommandLineOption> &options)
{
    for (const QCommandLineOption &option : options)
        if (!(option.flags() & QCommandLineOption::HiddenFromHelp))
            m_text += QStringLiteral(".TP\n") + optionTerm(option) + u'\n' + escaped(option.description()) + u'\n';
}

void ManWriter::item(const QString &term, const QString &text)
{
    m_text += QStringLiteral(".TP\n") + bold(term) + u'\n' + escaped(text) + u'\n';
}

void ManWriter::example(const QString &what, const QString &commands)
{
    m_text += QStringLiteral(".PP\n") + escaped(what) + QStringLiteral("\n.PP\n.RS 4\n.nf\n");
    for (const QString &line : commands.split(u'\n'))
        m_text += escaped(line) + u'\n';
    m_text += QStringLiteral(".fi\n.RE\n");
}

void ManWriter::seeAlso(const QStringList &pages)
{
    section(QStringLiteral("SEE ALSO"));
    QStringList references;
    for (const QString &page : pages)
        references << bold(page.section(u'(', 0, 0)) + u'(' + page.section(u'(', 1);
    m_text += references.join(QStringLiteral(", ")) + u'\n';
}

} // namespace tessary
