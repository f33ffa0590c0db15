#include "optionvalues.h"

#include "fieldoptions.h"
#include "serial/portnames.h"
#include "serial/seriallink.h"

namespace tessary {

namespace {

// A value name or argument such as "xon|hw" lists its values itself.
ValueSet listed(const QString &text)
{
    if (!text.contains(u'|') || text.contains(u' '))
        return {};
    return {ValueSet::Choices, text.split(u'|')};
}

} // namespace

ValueSet optionValues(const QCommandLineOption &option)
{
    const QString name = option.names().constLast();
    const QString valueName = option.valueName();
    if (valueName.isEmpty())
        return {};
    if (const ValueSet set = listed(valueName); set.kind != ValueSet::Free)
        return set;
    if (const QStringList values = fieldoptions::choices(name); !values.isEmpty())
        return {ValueSet::Choices, values};
    if (name == QLatin1String("speed"))
        return {ValueSet::Choices, speedTexts()};
    if (name == QLatin1String("port"))
        return {ValueSet::Ports, {}};
    if (name == QLatin1String("db"))
        return {ValueSet::Databases, {}};
    if (name == QLatin1String("entry") || (name == QLatin1String("expect") && valueName == QLatin1String("entry")))
        return {ValueSet::Entries, {}};
    if (valueName == QLatin1String("file"))
        return {ValueSet::Files, {}};
    return {};
}

QList<ValueSet> argumentValues(const QString &syntax)
{
    QList<ValueSet> sets;
    for (const QString &word : syntax.section(QStringLiteral(" | "), 0, 0).split(u' ', Qt::SkipEmptyParts)) {
        if (word.startsWith(u'-'))
            break;
        // The files the commands name are .cdb databases, JSON the exports.
        if (word == QLatin1String("FILE"))
            sets.append(ValueSet{ValueSet::Databases, {}});
        else if (word == QLatin1String("JSON"))
            sets.append(ValueSet{ValueSet::Files, {}});
        else if (word == QLatin1String("NAME"))
            sets.append(ValueSet{ValueSet::Entries, {}});
        else
            sets.append(listed(word));
    }
    return sets;
}

QStringList comNames()
{
    QStringList names;
    for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port)
        names << QStringLiteral("COM%1").arg(port);
    return names;
}

QStringList serialDevicePatterns()
{
    return {QStringLiteral("/dev/ttyUSB*"), QStringLiteral("/dev/ttyACM*"), QStringLiteral("/dev/serial/by-id/*")};
}

} // namespace tessary
