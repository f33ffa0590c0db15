#include "record/recordlocation.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

namespace tessary {

namespace {

const QString Masked = QStringLiteral("***");

// The libpq settings a URL may carry beyond host, port, user, password,
// dbname and service. The connection's timeouts are the program's own: they
// bound what an unreachable server may cost a run.
const QStringList &passedSettings()
{
    static const QStringList names = {
        QStringLiteral("sslmode"),  QStringLiteral("sslrootcert"),      QStringLiteral("sslcert"),
        QStringLiteral("sslkey"),   QStringLiteral("sslcrl"),           QStringLiteral("passfile"),
        QStringLiteral("options"),  QStringLiteral("application_name"), QStringLiteral("target_session_attrs"),
        QStringLiteral("gssencmode"), QStringLiteral("requirepeer"),    QStringLiteral("krbsrvname"),
    };
    return names;
}

QString decoded(const QString &text) { return QUrl::fromPercentEncoding(text.toUtf8()); }

QString encoded(const QString &text) { return QString::fromUtf8(QUrl::toPercentEncoding(text)); }

// Qt hands the connection settings to libpq with ';' turned into blanks.
bool settable(const QString &value, const QString &name, QString *error)
{
    if (value.contains(u';')) {
        *error = QStringLiteral("the %1 of a record URL cannot hold \";\"").arg(name);
        return false;
    }
    return true;
}

std::optional<RecordLocation> parsePostgres(const QString &text, QString *error)
{
    static const QRegularExpression url(
        QStringLiteral("^postgres(?:ql)?://(?:([^@/?]*)@)?([^/?]*)(?:/([^?]*))?(?:\\?(.*))?$"));
    const QRegularExpressionMatch match = url.match(text);
    if (!match.hasMatch()) {
        *error = QStringLiteral("\"%1\" is not a PostgreSQL URL: postgresql://[user[:password]@]host[:port]/dbname")
                     .arg(text);
        return std::nullopt;
    }
    RecordLocation location;
    location.kind = RecordLocation::Kind::Postgres;
    const QString userInfo = match.captured(1);
    const qsizetype colon = userInfo.indexOf(u':');
    location.user = decoded(colon < 0 ? userInfo : userInfo.left(colon));
    if (colon >= 0)
        location.password = decoded(userInfo.mid(colon + 1));

    QString hostPort = match.captured(2);
    QString portText;
    bool hasPort = false;
    if (hostPort.startsWith(u'[')) { // [IPv6]:port
        const qsizetype close = hostPort.indexOf(u']');
        if (close < 0) {
            *error = QStringLiteral("the host of \"%1\" opens \"[\" and never closes it").arg(text);
            return std::nullopt;
        }
        location.host = hostPort.mid(1, close - 1);
        const QString rest = hostPort.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(u':')) {
            *error = QStringLiteral("\"%1\" has something after the host that is not a port").arg(text);
            return std::nullopt;
        }
        portText = rest.mid(1);
        hasPort = !rest.isEmpty();
    } else {
        const qsizetype portColon = hostPort.lastIndexOf(u':');
        if (portColon >= 0) {
            hasPort = true;
            portText = hostPort.mid(portColon + 1);
            hostPort.truncate(portColon);
        }
        location.host = decoded(hostPort);
    }
    if (hasPort) {
        bool ok = false;
        location.port = portText.toInt(&ok);
        if (!ok || location.port < 1 || location.port > 65535) {
            *error = QStringLiteral("the port of \"%1\" is not a number from 1 to 65535").arg(text);
            return std::nullopt;
        }
    }
    location.database = decoded(match.captured(3));

    const QString query = match.captured(4);
    for (const QString &pair : query.split(u'&', Qt::SkipEmptyParts)) {
        const qsizetype equals = pair.indexOf(u'=');
        const QString name = decoded(equals < 0 ? pair : pair.left(equals));
        const QString value = equals < 0 ? QString() : decoded(pair.mid(equals + 1));
        if (name == QLatin1String("host"))
            location.host = value;
        else if (name == QLatin1String("port")) {
            bool ok = false;
            location.port = value.toInt(&ok);
            if (!ok || location.port < 1 || location.port > 65535) {
                *error = QStringLiteral("the port of \"%1\" is not a number from 1 to 65535").arg(text);
                return std::nullopt;
            }
        } else if (name == QLatin1String("user"))
            location.user = value;
        else if (name == QLatin1String("password"))
            location.password = value;
        else if (name == QLatin1String("dbname"))
            location.database = value;
        else if (name == QLatin1String("service"))
            location.service = value;
        else if (passedSettings().contains(name))
            location.parameters << name + u'=' + value;
        else {
            *error = QStringLiteral("a record URL takes the settings %1, not \"%2\"")
                         .arg(QStringList{QStringLiteral("host"), QStringLiteral("port"), QStringLiteral("user"),
                                          QStringLiteral("password"), QStringLiteral("dbname"),
                                          QStringLiteral("service")}
                                  .join(QStringLiteral(", "))
                                  + QStringLiteral(", ") + passedSettings().join(QStringLiteral(", ")),
                              name);
            return std::nullopt;
        }
    }
    for (const QString &field : {location.host, location.user, location.password, location.database, location.service})
        if (!settable(field, QStringLiteral("settings"), error))
            return std::nullopt;
    for (const QString &parameter : std::as_const(location.parameters))
        if (!settable(parameter, QStringLiteral("settings"), error))
            return std::nullopt;
    return location;
}

} // namespace

std::optional<RecordLocation> RecordLocation::parse(const QString &given, QString *error)
{
    const QString text = given.trimmed();
    if (text.isEmpty()) {
        *error = QStringLiteral("a record is sqlite:PATH, postgresql://[user[:password]@]host[:port]/dbname or a "
                                "PostgreSQL service name");
        return std::nullopt;
    }
    if (text.startsWith(QLatin1String("postgresql://")) || text.startsWith(QLatin1String("postgres://")))
        return parsePostgres(text, error);
    if (text.startsWith(QLatin1String("sqlite:"))) {
        QString path = text.mid(7);
        if (path.startsWith(QLatin1String("~/")))
            path = QDir::homePath() + path.mid(1);
        if (path.isEmpty()) {
            *error = QStringLiteral("sqlite: needs the file's path, as in sqlite:/var/lib/tessary/record.sqlite");
            return std::nullopt;
        }
        RecordLocation location;
        location.path = QDir::cleanPath(QDir::current().absoluteFilePath(path));
        return location;
    }
    static const QRegularExpression serviceName(QStringLiteral("^(?:service=)?([A-Za-z0-9_][A-Za-z0-9_.-]*)$"));
    if (const QRegularExpressionMatch match = serviceName.match(text); match.hasMatch()) {
        const QString name = match.captured(1);
        static const QRegularExpression fileLike(QStringLiteral("\\.(db|db3|sqlite|sqlite3)$"),
                                                 QRegularExpression::CaseInsensitiveOption);
        if (!text.startsWith(QLatin1String("service=")) && (fileLike.match(name).hasMatch() || QFileInfo::exists(name))) {
            *error = QStringLiteral("\"%1\" looks like a file: write sqlite:%1 for an SQLite file, or service=%1 for "
                                    "a PostgreSQL service").arg(name);
            return std::nullopt;
        }
        RecordLocation location;
        location.kind = Kind::Postgres;
        location.service = name;
        return location;
    }
    *error = QStringLiteral("\"%1\" is not a record: give sqlite:PATH, postgresql://[user[:password]@]host[:port]/dbname "
                            "or a PostgreSQL service name").arg(text);
    return std::nullopt;
}

RecordLocation RecordLocation::builtIn()
{
    RecordLocation location;
    location.path = recordDataFolder() + QStringLiteral("/record.sqlite");
    return location;
}

QString RecordLocation::settingsKey() { return QStringLiteral("record/url"); }

std::optional<RecordLocation> RecordLocation::configured(const QSettings &settings, QString *error)
{
    const QString text = settings.value(settingsKey()).toString();
    if (text.trimmed().isEmpty())
        return builtIn();
    QString why;
    auto location = parse(text, &why);
    if (!location)
        *error = QStringLiteral("the record in the settings (%1) is not usable: %2").arg(settingsKey(), why);
    return location;
}

bool RecordLocation::keep(QSettings &settings, const QString &text)
{
    if (text.isEmpty())
        settings.remove(settingsKey());
    else
        settings.setValue(settingsKey(), text);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString RecordLocation::shown() const
{
    if (kind == Kind::Sqlite)
        return QStringLiteral("sqlite:") + path;
    if (host.isEmpty() && port < 0 && user.isEmpty() && database.isEmpty() && parameters.isEmpty()
        && !service.isEmpty())
        return QStringLiteral("service=") + service;
    QString text = QStringLiteral("postgresql://");
    if (!user.isEmpty() || !password.isEmpty())
        text += encoded(user) + (password.isEmpty() ? QString() : u':' + Masked) + u'@';
    text += host.contains(u':') && !host.startsWith(u'/') ? u'[' + host + u']' : encoded(host);
    if (port > 0)
        text += u':' + QString::number(port);
    text += u'/' + encoded(database);
    QStringList query = parameters;
    if (!service.isEmpty())
        query.prepend(QStringLiteral("service=") + service);
    if (!query.isEmpty())
        text += u'?' + query.join(u'&');
    return text;
}

QString RecordLocation::spoolName() const
{
    QString name;
    QString identity;
    if (kind == Kind::Sqlite) {
        name = QFileInfo(path).completeBaseName();
        identity = path;
    } else {
        name = !database.isEmpty() ? database : !service.isEmpty() ? service : QStringLiteral("postgresql");
        QStringList sorted = parameters;
        sorted.sort();
        identity = QStringList{user, host, QString::number(port), database, service, sorted.join(u'&')}.join(u'\n');
    }
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]+")), QStringLiteral("_"));
    const QByteArray hash = QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha1).toHex().left(8);
    return (kind == Kind::Sqlite ? QStringLiteral("sqlite-") : QStringLiteral("postgresql-")) + name.left(40) + u'-'
         + QString::fromLatin1(hash) + QStringLiteral(".jsonl");
}

QString recordDataFolder()
{
    // AppDataLocation as the desktop program names it, whichever program asks.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
         + QStringLiteral("/Tessary/Tessary Configurator");
}

QString maskedOptions(const QStringList &arguments)
{
    static const QRegularExpression password(QStringLiteral("(postgres(?:ql)?://[^:@/?]*):[^@/?]*@"));
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_@%+=:,./-]+$"));
    QStringList words;
    for (QString argument : arguments) {
        argument.replace(password, QStringLiteral("\\1:") + Masked + u'@');
        if (argument.isEmpty() || !plain.match(argument).hasMatch())
            argument = u'\'' + argument.replace(QStringLiteral("'"), QStringLiteral("'\\''")) + u'\'';
        words << argument;
    }
    return words.join(u' ');
}

} // namespace tessary
