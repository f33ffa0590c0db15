#include "protocol/replytext.h"

#include <algorithm>

namespace tessary {

namespace {

// C0, DEL and C1.
bool isControl(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

} // namespace

QString replyText(const QByteArray &bytes) { return QString::fromLatin1(bytes); }

QString trimBlanks(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

bool isIdentityText(const QByteArray &reply)
{
    const QString identity = trimBlanks(replyText(reply.left(16)));
    return !identity.isEmpty() && std::none_of(identity.cbegin(), identity.cend(), isControl);
}

QString printableText(const QString &text)
{
    QString shown = text;
    for (QChar &c : shown) {
        if (isControl(c))
            c = QChar(QChar::ReplacementCharacter);
    }
    return shown;
}

} // namespace tessary
