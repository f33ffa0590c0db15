#include "record/recordspool.h"

#include "app/atomicsave.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tessary {

namespace {

// How long a program waits for another that holds the spool.
constexpr int LockWaitMs = 5000;

QString timeText(const QDateTime &time) { return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString(); }

QDateTime timeFrom(const QJsonValue &value) { return QDateTime::fromString(value.toString(), Qt::ISODateWithMs); }

QJsonObject runJson(const RunRow &run)
{
    return {{QStringLiteral("key"), run.key},         {QStringLiteral("station"), run.station},
            {QStringLiteral("tool"), run.tool},       {QStringLiteral("command"), run.command},
            {QStringLiteral("options"), run.options}, {QStringLiteral("started"), timeText(run.started)},
            {QStringLiteral("ended"), timeText(run.ended)}};
}

RunRow runFrom(const QJsonObject &json)
{
    return {json.value(QStringLiteral("key")).toString(),     json.value(QStringLiteral("station")).toString(),
            json.value(QStringLiteral("tool")).toString(),    json.value(QStringLiteral("command")).toString(),
            json.value(QStringLiteral("options")).toString(), timeFrom(json.value(QStringLiteral("started"))),
            timeFrom(json.value(QStringLiteral("ended")))};
}

// The row as the CSV record writes its fields, under the column names.
QJsonObject rowJson(const BoardRow &row)
{
    QJsonObject json;
    const QStringList columns = BoardRow::columns();
    const QStringList fields = row.fields();
    for (qsizetype i = 0; i < columns.size(); ++i)
        json.insert(columns.at(i), fields.at(i));
    return json;
}

std::optional<BoardRow> rowFrom(const QJsonObject &json)
{
    const auto text = [&json](const char *column) { return json.value(QLatin1String(column)).toString(); };
    BoardRow row;
    row.started = timeFrom(json.value(QStringLiteral("started")));
    row.ended = timeFrom(json.value(QStringLiteral("ended")));
    row.station = text("station");
    row.tool = text("tool");
    row.command = text("command");
    row.port = text("port");
    row.device = text("device");
    row.adapterSerial = text("adapter_serial");
    row.speed = text("speed");
    row.handshake = text("handshake");
    row.firmware = text("firmware");
    row.identityBefore = text("identity_before");
    row.identityAfter = text("identity_after");
    row.database = text("database");
    row.entry = text("entry");
    row.code = text("code");
    row.mode = text("mode");
    if (const QString verified = text("verified"); !verified.isEmpty())
        row.verified = verified == QLatin1String("yes");
    const auto result = outcomeFromWord(text("result"));
    const QStringList writes = text("writes").split(u'/');
    if (!result || !row.started.isValid() || writes.size() != 2)
        return std::nullopt;
    row.result = *result;
    row.reason = text("reason");
    row.writes = writes.at(0).toInt();
    row.plannedWrites = writes.at(1).toInt();
    return row;
}

void syncFolder([[maybe_unused]] const QString &folder)
{
#ifdef Q_OS_UNIX
    // A new file's name is kept only once its folder is synced too.
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#endif
}

class SpoolLock {
public:
    explicit SpoolLock(const QString &path) : m_lock(path + QStringLiteral(".lock")) {}
    [[nodiscard]] bool take(QString *error)
    {
        if (m_lock.tryLock(LockWaitMs))
            return true;
        *error = m_lock.error() == QLockFile::LockFailedError
                     ? QStringLiteral("the spool %1 is held by another program (its lock file %1.lock)")
                           .arg(m_lock.fileName().chopped(5))
                     : QStringLiteral("cannot make the spool's lock file %1 (a full disk, or a folder not writable)")
                           .arg(m_lock.fileName());
        return false;
    }

private:
    QLockFile m_lock;
};

} // namespace

RecordSpool::RecordSpool(const RecordLocation &location)
    : m_path(recordDataFolder() + QStringLiteral("/spool/") + location.spoolName())
{
}

bool RecordSpool::keepBoard(const RunRow &run, const QString &key, const BoardRow &row, const QString &why,
                            QString *error)
{
    return append({{QStringLiteral("type"), QStringLiteral("board")},
                   {QStringLiteral("key"), key},
                   {QStringLiteral("run"), runJson(run)},
                   {QStringLiteral("row"), rowJson(row)},
                   {QStringLiteral("why"), why}},
                  error);
}

bool RecordSpool::keepRun(const RunRow &run, const QString &why, QString *error)
{
    return append({{QStringLiteral("type"), QStringLiteral("run")},
                   {QStringLiteral("run"), runJson(run)},
                   {QStringLiteral("why"), why}},
                  error);
}

bool RecordSpool::append(const QJsonObject &entry, QString *error)
{
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create the spool's folder %1").arg(folder);
        return false;
    }
    SpoolLock lock(m_path);
    if (!lock.take(error))
        return false;
    const bool created = !QFileInfo::exists(m_path);
    QFile file(m_path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        *error = QStringLiteral("cannot write the spool %1: %2").arg(m_path, file.errorString());
        return false;
    }
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
#ifdef Q_OS_UNIX
    // Whole or not at all: a half line would stay unreadable for every replay.
    QString failed = appendWhole(file.handle(), line, true);
    if (failed.isEmpty() && ::fdatasync(file.handle()) != 0)
        failed = QString::fromLocal8Bit(std::strerror(errno));
#else
    const QString failed = file.write(line) == line.size() && file.flush() ? QString() : file.errorString();
#endif
    if (!failed.isEmpty()) {
        *error = QStringLiteral("cannot write the spool %1: %2").arg(m_path, failed);
        return false;
    }
    file.close();
    if (created)
        syncFolder(folder);
    return true;
}

RecordSpool::Held RecordSpool::held() const
{
    Held held;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return held;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty())
            continue;
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        const QString type = entry.value(QStringLiteral("type")).toString();
        if (type == QLatin1String("board"))
            ++held.boards;
        else if (type == QLatin1String("run"))
            ++held.runs;
        else
            ++held.unreadable;
        if (entry.contains(QStringLiteral("why")))
            held.lastWhy = entry.value(QStringLiteral("why")).toString();
    }
    return held;
}

RecordSpool::Sent RecordSpool::send(RecordDatabase &database)
{
    Sent sent;
    if (!QFileInfo::exists(m_path))
        return sent;
    SpoolLock lock(m_path);
    if (!lock.take(&sent.error)) {
        sent.left = held();
        return sent;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        sent.error = QStringLiteral("cannot read the spool %1: %2").arg(m_path, file.errorString());
        sent.left = held();
        return sent;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    file.close();

    QByteArray kept;
    const auto keep = [&](const QByteArray &line, const QJsonObject &entry, const QString &why) {
        kept += line + '\n';
        const QString type = entry.value(QStringLiteral("type")).toString();
        if (type == QLatin1String("board"))
            ++sent.left.boards;
        else if (type == QLatin1String("run"))
            ++sent.left.runs;
        else
            ++sent.left.unreadable;
        sent.left.lastWhy = entry.value(QStringLiteral("why")).toString();
        if (sent.error.isEmpty())
            sent.error = why;
    };
    for (const QByteArray &raw : lines) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty())
            continue;
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        const QString type = entry.value(QStringLiteral("type")).toString();
        const RunRow run = runFrom(entry.value(QStringLiteral("run")).toObject());
        QString why;
        if (database.lost()) {
            keep(line, entry, QString());
        } else if (type == QLatin1String("run") && !run.key.isEmpty()) {
            if (database.addRun(run, &why))
                ++sent.runs;
            else
                keep(line, entry, why);
        } else if (type == QLatin1String("board") && !run.key.isEmpty()) {
            const auto row = rowFrom(entry.value(QStringLiteral("row")).toObject());
            const QString key = entry.value(QStringLiteral("key")).toString();
            if (!row || key.isEmpty())
                keep(line, entry, QStringLiteral("a line of the spool is not a whole row"));
            else if (database.addBoard(run, key, *row, &why))
                ++sent.boards;
            else
                keep(line, entry, why);
        } else {
            keep(line, entry, QStringLiteral("a line of the spool is not a row"));
        }
    }
    if (kept.isEmpty()) {
        if (!QFile::remove(m_path) && QFileInfo::exists(m_path))
            sent.error = QStringLiteral("cannot empty the spool %1").arg(m_path);
        return sent;
    }
    if (sent.boards + sent.runs > 0)
        if (const QString failed = saveAtomically(m_path, kept); !failed.isEmpty())
            sent.error = QStringLiteral("cannot rewrite the spool %1: %2").arg(m_path, failed);
    return sent;
}

} // namespace tessary
