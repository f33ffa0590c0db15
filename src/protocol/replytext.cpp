#include "protocol/replytext.h"

namespace tessary {

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
    for (QChar c : identity) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            return false;
    }
    return !identity.isEmpty();
}

QString printableText(const QString &text)
{
    QString shown = text;
    for (QChar &c : shown) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            c = QChar(QChar::ReplacementCharacter);
    }
    return shown;
}

} // namespace tessary
