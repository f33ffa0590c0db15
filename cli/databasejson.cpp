#include "databasejson.h"

#include "database/cdbfile.h"
#include "protocol/replytext.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tessary::databasejson {

namespace {

bool isLatin1(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() > 0xFF)
            return false;
    return true;
}

ImportResult refuse(const QString &reason) { return {false, {}, reason}; }

} // namespace

QByteArray exportEntries(const QList<DatabaseEntry> &entries)
{
    QJsonArray array;
    for (const DatabaseEntry &entry : entries)
        array.append(QJsonObject{{QStringLiteral("name"), entry.name}, {QStringLiteral("code"), entry.code}});
    const QJsonObject root{{QStringLiteral("format"), QLatin1String(Format)},
                           {QStringLiteral("version"), Version},
                           {QStringLiteral("entries"), array}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

ImportResult importEntries(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return refuse(QStringLiteral("not valid JSON: %1 at offset %2").arg(error.errorString()).arg(error.offset));
    if (!document.isObject())
        return refuse(QStringLiteral("the JSON document is not an object"));
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toString() != QLatin1String(Format))
        return refuse(QStringLiteral("\"format\" is not \"%1\"").arg(QLatin1String(Format)));
    if (root.value(QStringLiteral("version")).toInt(-1) != Version)
        return refuse(QStringLiteral("\"version\" is not %1").arg(Version));
    const QJsonValue entriesValue = root.value(QStringLiteral("entries"));
    if (!entriesValue.isArray())
        return refuse(QStringLiteral("\"entries\" is not a list"));
    const QJsonArray array = entriesValue.toArray();
    if (array.size() > cdb::MaxEntries)
        return refuse(QStringLiteral("%1 entries, but a database file holds at most %2")
                          .arg(array.size())
                          .arg(cdb::MaxEntries));

    ImportResult result;
    QHash<QString, qsizetype> firstOfName; // name: its entry, from 1
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonObject object = array.at(i).toObject();
        const QJsonValue name = object.value(QStringLiteral("name"));
        const QJsonValue code = object.value(QStringLiteral("code"));
        if (!name.isString() || !code.isString())
            return refuse(QStringLiteral("entry %1: needs a \"name\" and a \"code\", both texts").arg(i + 1));
        const QString nameText = name.toString();
        const QString codeText = code.toString();
        const QString where = QStringLiteral("entry %1 \"%2\": ").arg(i + 1).arg(printableText(nameText));
        // What a stored file holds, the reader takes and the export writes out
        // comes back: any Latin-1 character but the three below, a code of any
        // 16 of them. Only what the file cannot hold is refused.
        if (!isLatin1(nameText) || !isLatin1(codeText))
            return refuse(where + QStringLiteral("holds characters a database file cannot store "
                                                 "(one byte per character, Latin-1)"));
        if (nameText.contains(QChar(0)) || nameText.contains(u'\r') || nameText.contains(u'\n'))
            return refuse(where + QStringLiteral("the name holds a NUL, CR or LF, which a database file cannot keep"));
        if (nameText.trimmed().isEmpty())
            return refuse(where + QStringLiteral("the name is blank"));
        if (nameText.size() > cdb::NameSize)
            return refuse(where + QStringLiteral("the name is longer than %1 characters").arg(cdb::NameSize));
        // A name read from a file never ends in spaces: they are its filling.
        if (nameText.endsWith(u' '))
            return refuse(where + QStringLiteral("the name ends in a space, which a database file cannot keep"));
        // Every record is 34 bytes: a code of another length would shift the rest.
        if (codeText.size() != cdb::CodeSize)
            return refuse(where + QStringLiteral("the code \"%1\" is %2 characters, not %3")
                                      .arg(printableText(codeText))
                                      .arg(codeText.size())
                                      .arg(cdb::CodeSize));
        // Only the first of two entries of one name could be reached by name.
        if (const qsizetype first = firstOfName.value(nameText); first > 0)
            return refuse(where + QStringLiteral("the name repeats entry %1's").arg(first));
        firstOfName.insert(nameText, i + 1);
        result.entries.append({nameText, codeText});
    }
    result.ok = true;
    return result;
}

} // namespace tessary::databasejson
