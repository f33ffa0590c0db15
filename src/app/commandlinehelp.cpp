#include "app/commandlinehelp.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tessary {

namespace {

// Edits from a to b: a letter added, dropped or changed, or two neighbours
// swapped ("prot" is one edit from "port").
int editDistance(const QString &a, const QString &b)
{
    const qsizetype n = a.size(), m = b.size();
    std::vector<std::vector<int>> d(size_t(n + 1), std::vector<int>(size_t(m + 1)));
    for (qsizetype i = 0; i <= n; ++i)
        d[size_t(i)][0] = int(i);
    for (qsizetype j = 0; j <= m; ++j)
        d[0][size_t(j)] = int(j);
    for (qsizetype i = 1; i <= n; ++i) {
        for (qsizetype j = 1; j <= m; ++j) {
            const auto I = size_t(i), J = size_t(j);
            const int cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[I][J] = std::min({d[I - 1][J] + 1, d[I][J - 1] + 1, d[I - 1][J - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[I][J] = std::min(d[I][J], d[I - 2][J - 2] + 1);
        }
    }
    return d[size_t(n)][size_t(m)];
}

QString dashed(const QString &name) { return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name; }

const QCommandLineOption *findOption(const QList<QCommandLineOption> &options, const QString &name)
{
    for (const QCommandLineOption &option : options)
        if (option.names().contains(name))
            return &option;
    return nullptr;
}

} // namespace

QList<QCommandLineOption> helpAndVersionOptions()
{
    return {{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Displays help on commandline options.")},
            {{QStringLiteral("v"), QStringLiteral("version")},
             QStringLiteral("Displays the version and the version of Qt the program runs on.")}};
}

QString nearestWord(const QString &word, const QStringList &known)
{
    const QString typed = word.toLower();
    if (typed.isEmpty())
        return {};
    QStringList beginning;
    for (const QString &candidate : known)
        if (candidate.toLower().startsWith(typed))
            beginning << candidate;
    if (beginning.size() == 1)
        return beginning.constFirst();
    QString best;
    int bestDistance = std::max<int>(1, int(typed.size() / 3));
    for (const QString &candidate : known) {
        const int distance = editDistance(typed, candidate.toLower());
        if (distance <= bestDistance && (best.isEmpty() || distance < bestDistance)) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

QString parseErrorLine(const QCommandLineParser &parser, const QList<QCommandLineOption> &options)
{
    if (const QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty()) {
        QStringList names;
        for (const QCommandLineOption &option : options)
            if (!(option.flags() & QCommandLineOption::HiddenFromHelp))
                names << option.names();
        const QString name = unknown.constFirst();
        const QString near = nearestWord(name, names);
        return QStringLiteral("unknown option %1").arg(dashed(name))
             + (near.isEmpty() ? QString() : QStringLiteral("; did you mean %1?").arg(dashed(near)));
    }
    // Qt says these in its own words, quoting the option as it was typed.
    static const QRegularExpression missing(QStringLiteral("^Missing value after '-*([^']*)'"));
    static const QRegularExpression unexpected(QStringLiteral("^Unexpected value after '-*([^'=]*)"));
    const QString error = parser.errorText();
    if (const auto match = missing.match(error); match.hasMatch()) {
        const QCommandLineOption *option = findOption(options, match.captured(1));
        return QStringLiteral("%1 needs a value").arg(dashed(match.captured(1)))
             + (option ? QStringLiteral(" (<%1>)").arg(option->valueName()) : QString());
    }
    if (const auto match = unexpected.match(error); match.hasMatch())
        return QStringLiteral("%1 takes no value").arg(dashed(match.captured(1)));
    QString line = error;
    return line.replace(u'\n', u' ').trimmed();
}

QString helpTextFor(const QCommandLineParser &parser, const QString &usage)
{
    QString help = parser.helpText();
    static const QRegularExpression first(QStringLiteral("^Usage: \\S+"));
    help.replace(first, QStringLiteral("Usage: ") + usage);
    return help;
}

bool printAnswer(const QString &text, const char *program)
{
    std::fputs(qPrintable(text), stdout);
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    std::fprintf(stderr, "%s: writing the output failed (%s)\n", program, std::strerror(errno));
    return false;
}

} // namespace tessary
