#include "printer/serialidentities.h"

#include "app/atomicsave.h"
#include "configuration/configurationeditor.h"
#include "protocol/replytext.h"

#include <QFile>
#include <QHash>

namespace tessary {

namespace {

constexpr int MaxLength = ConfigurationEditor::MaxNameLength;

QString placeholderHelp()
{
    return QStringLiteral("the number is written {n}, or {n:0W} for W digits with zeros in front (a brace itself: "
                          "{{ or }})");
}

} // namespace

QString identityProblem(const QString &identity)
{
    if (ConfigurationEditor::sanitiseName(identity) != identity)
        return QStringLiteral("the board stores one byte per character; use printable Latin-1 characters only");
    // The detection takes a reply of blanks for no identity: the board would not be found again.
    if (!identity.isEmpty() && trimBlanks(identity).isEmpty())
        return QStringLiteral("an identity of blanks only would make the board answer with no name, and no detection finds it then");
    if (identity.size() > MaxLength)
        return QStringLiteral("\"%1\" is %2 characters; the board holds %3")
            .arg(identity)
            .arg(identity.size())
            .arg(MaxLength);
    return {};
}

std::optional<IdentityTemplate> IdentityTemplate::parse(const QString &text, QString *error)
{
    IdentityTemplate parsed;
    parsed.m_text = text;
    QString literal; // the text so far, braces unescaped
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if ((c == u'{' || c == u'}') && text.mid(i + 1, 1) == c) {
            literal += c;
            ++i;
            continue;
        }
        if (c == u'}') {
            *error = QStringLiteral("a } without its {; ") + placeholderHelp();
            return std::nullopt;
        }
        if (c != u'{') {
            literal += c;
            continue;
        }
        const qsizetype end = text.indexOf(u'}', i);
        const QString inside = end < 0 ? text.mid(i + 1) : text.mid(i + 1, end - i - 1);
        const QString shown = end < 0 ? text.mid(i) : text.mid(i, end - i + 1);
        int width = 0;
        bool ok = inside == QLatin1String("n");
        if (!ok && inside.startsWith(QLatin1String("n:"))) {
            const QString digits = inside.mid(2);
            width = digits.toInt(&ok);
            if (ok && !digits.startsWith(u'0')) {
                *error = QStringLiteral("%1: write the width with a 0 in front, {n:0%2}, for %2 digits with zeros in front")
                             .arg(shown)
                             .arg(width);
                return std::nullopt;
            }
            ok = ok && width >= 1 && width <= MaxLength && digits.size() <= 3;
        }
        if (!ok || end < 0) {
            *error = QStringLiteral("%1 is no placeholder; ").arg(shown) + placeholderHelp();
            return std::nullopt;
        }
        if (parsed.m_numbered) {
            *error = QStringLiteral("one number per identity: %1 is the second placeholder").arg(shown);
            return std::nullopt;
        }
        parsed.m_numbered = true;
        parsed.m_width = width;
        parsed.m_before = std::exchange(literal, QString());
        i = end;
    }
    (parsed.m_numbered ? parsed.m_after : parsed.m_before) = literal;
    if (parsed.m_numbered) {
        // The shortest identity it makes: its text and the number's digits.
        const QString shortest = parsed.identity(0);
        if (const QString problem = identityProblem(shortest); !problem.isEmpty()) {
            *error = shortest.size() > MaxLength
                         ? QStringLiteral("its identities are %1 characters at least (\"%2\"); the board holds %3")
                               .arg(shortest.size())
                               .arg(shortest)
                               .arg(MaxLength)
                         : problem;
            return std::nullopt;
        }
    }
    return parsed;
}

QString IdentityTemplate::identity(qint64 number) const
{
    if (!m_numbered)
        return m_before;
    return m_before + QStringLiteral("%1").arg(number, m_width, 10, QChar(u'0')) + m_after;
}

QString IdentityTemplate::refusal(qint64 first, qint64 count) const
{
    if (!m_numbered || count <= 0)
        return {};
    // The identities grow with their numbers: the last is the longest.
    const qint64 last = first + count - 1;
    if (identity(last).size() <= MaxLength)
        return {};
    qint64 tooLong = 1;
    for (qsizetype digits = MaxLength - (m_before.size() + m_after.size()); digits > 0; --digits)
        tooLong *= 10;
    tooLong = std::max(first, tooLong);
    const QString made = identity(tooLong);
    return QStringLiteral("--id \"%1\" makes \"%2\" for number %3, %4 characters; the board holds %5. No number "
                          "was taken")
        .arg(m_text, made)
        .arg(tooLong)
        .arg(made.size())
        .arg(MaxLength);
}

std::optional<IdentityList> IdentityList::read(const QString &path, QString *error)
{
    // A pipe or a device could hold the read for ever, or never end.
    const QString notAFile = notARegularFile(path);
    QFile file(path);
    if (!notAFile.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the identity list %1: %2").arg(path, notAFile.isEmpty() ? file.errorString() : notAFile);
        return std::nullopt;
    }
    IdentityList list{path, {}};
    QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    if (lines.constLast().isEmpty()) // the last line's end
        lines.removeLast();
    QHash<QString, int> seen; // identity: its line
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(u'\r'))
            line.chop(1);
        const int number = int(i + 1);
        QString problem = line.isEmpty() ? QStringLiteral("it is empty") : identityProblem(line);
        if (problem.isEmpty() && seen.contains(line))
            problem = QStringLiteral("\"%1\" is line %2's already").arg(line).arg(seen.value(line));
        if (!problem.isEmpty()) {
            *error = QStringLiteral("the identity list %1, line %2: %3").arg(path).arg(number).arg(problem);
            return std::nullopt;
        }
        seen.insert(line, number);
        list.identities << line;
    }
    if (list.identities.isEmpty()) {
        *error = QStringLiteral("the identity list %1 holds no identity").arg(path);
        return std::nullopt;
    }
    return list;
}

QString IdentityList::refusal(qint64 first, qint64 count) const
{
    const qint64 left = std::max<qint64>(0, identities.size() - first + 1);
    if (count <= left)
        return {};
    return QStringLiteral("the identity list %1 has %2 left (of %3), the run found %4 boards. No identity was taken")
        .arg(path,
             left == 0 ? QStringLiteral("no identity") : left == 1 ? QStringLiteral("1 identity")
                                                                 : QStringLiteral("%1 identities").arg(left))
        .arg(identities.size())
        .arg(count);
}

SerialIdentities::SerialIdentities(IdentityTemplate pattern, std::unique_ptr<NumberCounter> counter)
    : m_pattern(std::move(pattern)), m_counter(std::move(counter))
{
}

SerialIdentities::SerialIdentities(IdentityList list, std::unique_ptr<NumberCounter> counter)
    : m_list(std::move(list)), m_counter(std::move(counter))
{
}

SerialIdentities::~SerialIdentities() = default;

std::optional<QStringList> SerialIdentities::take(const QStringList &boards, QString *error)
{
    const NumberCheck check = [this](qint64 first, qint64 count) {
        return m_pattern ? m_pattern->refusal(first, count) : m_list->refusal(first, count);
    };
    const std::optional<QList<qint64>> numbers = m_counter->take(boards, check, error);
    if (!numbers)
        return std::nullopt;
    QStringList identities;
    for (const qint64 number : *numbers)
        identities << (m_pattern ? m_pattern->identity(number) : m_list->identities.value(number - 1));
    return identities;
}

} // namespace tessary
