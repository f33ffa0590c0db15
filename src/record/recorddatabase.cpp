#include "record/recorddatabase.h"

#include <QAtomicInteger>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QTimeZone>
#include <QVariant>

namespace tessary {

namespace {

// What an unreachable server may cost: libpq's wait for a connection (it
// takes no less than 2 s), and how soon a connection whose server went
// silent is given up (unacknowledged data, then keep-alive probes).
const QString PostgresTimeouts = QStringLiteral(
    "connect_timeout=2;keepalives=1;keepalives_idle=2;keepalives_interval=1;keepalives_count=2;tcp_user_timeout=3000");

// A failed statement that took this long lost its connection: a refusal is at once.
constexpr qint64 SlowFailureMs = 1000;

// Taken by every program that creates or migrates the tables of one
// PostgreSQL database, so that two stations starting at once do it once.
constexpr qint64 SchemaLock = 0x7e55a7c0;

// The board columns after its run, in the order of BoardRow.
const QStringList &boardColumns()
{
    static const QStringList columns = {
        QStringLiteral("started"),        QStringLiteral("ended"),          QStringLiteral("station"),
        QStringLiteral("tool"),           QStringLiteral("command"),        QStringLiteral("port"),
        QStringLiteral("device"),         QStringLiteral("adapter_serial"), QStringLiteral("speed"),
        QStringLiteral("handshake"),      QStringLiteral("firmware"),       QStringLiteral("identity_before"),
        QStringLiteral("identity_after"), QStringLiteral("\"database\""),   QStringLiteral("entry"),
        QStringLiteral("code"),           QStringLiteral("mode"),           QStringLiteral("verified"),
        QStringLiteral("result"),         QStringLiteral("reason"),         QStringLiteral("writes"),
        QStringLiteral("planned_writes"),
    };
    return columns;
}

// Each schema version's statements for SQLite and PostgreSQL; the record
// goes through every version after its own.
struct Migration {
    int version;
    QStringList sqlite;
    QStringList postgres;
};

QStringList boardTable(const QString &id, const QString &runType, const QString &time)
{
    return {QStringLiteral("CREATE TABLE boards (id %1, key text NOT NULL UNIQUE, run %2 NOT NULL REFERENCES runs(id), "
                           "started %3 NOT NULL, ended %3 NOT NULL, station text NOT NULL, tool text NOT NULL, "
                           "command text NOT NULL, port text NOT NULL, device text NOT NULL, "
                           "adapter_serial text NOT NULL, speed text NOT NULL, handshake text NOT NULL, "
                           "firmware text NOT NULL, identity_before text NOT NULL, identity_after text NOT NULL, "
                           "\"database\" text NOT NULL, entry text NOT NULL, code text NOT NULL, mode text NOT NULL, "
                           "verified text NOT NULL, result text NOT NULL, reason text NOT NULL, "
                           "writes integer NOT NULL, planned_writes integer NOT NULL)")
                .arg(id, runType, time),
            QStringLiteral("CREATE INDEX boards_started ON boards (started)"),
            QStringLiteral("CREATE INDEX boards_identity_after ON boards (identity_after)"),
            QStringLiteral("CREATE INDEX boards_identity_before ON boards (identity_before)"),
            QStringLiteral("CREATE INDEX boards_station ON boards (station, started)"),
            QStringLiteral("CREATE INDEX boards_run ON boards (run)")};
}

QStringList firstTables(const QString &id, const QString &runType, const QString &time)
{
    return QStringList{
               QStringLiteral("CREATE TABLE schema_version (version integer NOT NULL)"),
               QStringLiteral("CREATE TABLE runs (id %1, key text NOT NULL UNIQUE, station text NOT NULL, "
                              "tool text NOT NULL, command text NOT NULL, options text NOT NULL, "
                              "started %2 NOT NULL, ended %2)")
                   .arg(id, time)}
         + boardTable(id, runType, time)
         + QStringList{
               QStringLiteral("CREATE TABLE counters (name text PRIMARY KEY, next bigint NOT NULL)"),
               QStringLiteral("CREATE TABLE serials (counter text NOT NULL REFERENCES counters(name), "
                              "number bigint NOT NULL, run %1 NOT NULL REFERENCES runs(id), station text NOT NULL, "
                              "device text NOT NULL, taken %2 NOT NULL, PRIMARY KEY (counter, number))")
                   .arg(runType, time),
               QStringLiteral("INSERT INTO schema_version (version) VALUES (0)")};
}

const QList<Migration> &migrations()
{
    // SQLite keeps times as ISO 8601 text in UTC with milliseconds, which
    // sorts as time does; PostgreSQL as timestamptz.
    static const QList<Migration> list = {
        {1, firstTables(QStringLiteral("INTEGER PRIMARY KEY"), QStringLiteral("integer"), QStringLiteral("text")),
         firstTables(QStringLiteral("bigserial PRIMARY KEY"), QStringLiteral("bigint"), QStringLiteral("timestamptz"))},
    };
    return list;
}

QString utcText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QVariant timeValue(const QDateTime &time) { return time.isValid() ? QVariant(utcText(time)) : QVariant(); }

QString verifiedText(const std::optional<bool> &verified)
{
    return verified ? (*verified ? QStringLiteral("yes") : QStringLiteral("no")) : QString();
}

// The words of the outcomes, as SQL literals: those that fail a run, those that do not.
QString wordList(bool failing)
{
    QStringList words;
    for (int value = 0;; ++value) {
        const auto outcome = static_cast<BoardOutcome>(value);
        const QString word = outcomeWord(outcome);
        if (word.isEmpty())
            break;
        const bool good = outcome == BoardOutcome::Ok || outcome == BoardOutcome::Found;
        if (failing ? outcomeFails(outcome) : good)
            words << u'\'' + word + u'\'';
    }
    return words.join(u',');
}

QString errorText(const QSqlError &error)
{
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    // libpq's lines, the later ones indented by a tab: one line of words.
    QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString &line : lines)
        line = line.trimmed();
    text = lines.join(QLatin1String("; "));
    return text.isEmpty() ? QStringLiteral("unknown error") : text;
}

bool exec(QSqlQuery &query, const QString &sql, const QVariantList &values, QString *error)
{
    // PostgreSQL prepares no statement that creates or alters tables.
    if (values.isEmpty()) {
        if (query.exec(sql))
            return true;
        *error = errorText(query.lastError());
        return false;
    }
    if (!query.prepare(sql)) {
        *error = errorText(query.lastError());
        return false;
    }
    // Qt binds a null QString as NULL: an empty field is text, and times
    // only are left out as NULL (QVariant()).
    for (const QVariant &value : values)
        query.addBindValue(value.typeId() == QMetaType::QString && value.toString().isNull()
                               ? QVariant(QString(QLatin1String("")))
                               : value);
    if (!query.exec()) {
        *error = errorText(query.lastError());
        return false;
    }
    return true;
}

// Read-only is the file's mode: a root session would write it all the same
// (and Qt's WriteUser asks access(), which says yes to root).
bool withoutWriteBit(const QString &path)
{
    constexpr auto anyWrite = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return !(QFileInfo(path).permissions() & anyWrite);
}

// The statement with its values written in, as the driver quotes them: one
// round trip to a PostgreSQL server where a prepared statement takes three
// (prepare, execute, free). The marks are those of the program's own SQL,
// never inside its literals.
QString withValues(const QSqlDatabase &db, const QString &sql, const QVariantList &values)
{
    QString text;
    qsizetype next = 0;
    for (const QChar c : sql) {
        if (c != u'?' || next >= values.size()) {
            text += c;
            continue;
        }
        const QVariant &value = values.at(next++);
        QSqlField field(QString(), value.metaType());
        field.setValue(value);
        text += db.driver()->formatValue(field);
    }
    return text;
}

QString connectionName()
{
    static QAtomicInteger<int> next = 0;
    return QStringLiteral("tessary-record-%1").arg(next.fetchAndAddRelaxed(1));
}

// A value of a libpq setting, quoted as its connection strings quote.
QString libpqSetting(const QString &name, const QString &value)
{
    QString quoted = value;
    quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\")).replace(QStringLiteral("'"), QStringLiteral("\\'"));
    return name + QStringLiteral("='") + quoted + u'\'';
}

} // namespace

RecordDatabase::RecordDatabase(const RecordLocation &location, const QString &connectionName)
    : m_location(location), m_name(connectionName)
{
}

RecordDatabase::~RecordDatabase()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

RecordDatabase::Opened RecordDatabase::open(const RecordLocation &location, Use use)
{
    std::unique_ptr<RecordDatabase> record(new RecordDatabase(location, connectionName()));
    const QString shown = location.shown();
    if (location.kind == RecordLocation::Kind::Sqlite) {
        const QFileInfo file(location.path);
        if (file.exists() && !file.isFile())
            return {nullptr, Failure::Unreachable, QStringLiteral("the record %1 is not a file").arg(shown)};
        if (!file.exists() && use == Use::Read)
            return {nullptr, Failure::Missing,
                    QStringLiteral("there is no record at %1 yet: nothing has been recorded there").arg(location.path)};
        if (!file.exists() && !QDir().mkpath(file.absolutePath()))
            return {nullptr, Failure::Unreachable,
                    QStringLiteral("cannot create the folder of the record %1").arg(location.path)};
        record->m_readOnly = file.exists() && withoutWriteBit(location.path);
        record->m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), record->m_name);
        record->m_db.setDatabaseName(location.path);
        record->m_db.setConnectOptions(record->m_readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000")
                                                          : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    } else {
        record->m_db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), record->m_name);
        record->m_db.setHostName(location.host);
        if (location.port > 0)
            record->m_db.setPort(location.port);
        record->m_db.setDatabaseName(location.database);
        record->m_db.setUserName(location.user);
        record->m_db.setPassword(location.password);
        QStringList options{PostgresTimeouts};
        if (!location.service.isEmpty())
            options << libpqSetting(QStringLiteral("service"), location.service);
        bool named = false;
        for (const QString &parameter : location.parameters) {
            const qsizetype equals = parameter.indexOf(u'=');
            options << libpqSetting(parameter.left(equals), parameter.mid(equals + 1));
            named = named || parameter.startsWith(QLatin1String("application_name="));
        }
        if (!named)
            options << QStringLiteral("application_name=tessary");
        record->m_db.setConnectOptions(options.join(u';'));
    }
    if (!record->m_db.isValid())
        return {nullptr, Failure::Unreachable,
                QStringLiteral("cannot use the record %1: Qt's %2 driver is not installed").arg(
                    shown, location.kind == RecordLocation::Kind::Sqlite ? QStringLiteral("SQLite")
                                                                         : QStringLiteral("PostgreSQL"))};
    if (!record->m_db.open())
        return {nullptr, Failure::Unreachable,
                QStringLiteral("cannot reach the record %1: %2").arg(shown, errorText(record->m_db.lastError()))};
    QString error;
    const Failure failure = record->setUp(use, &error);
    if (failure != Failure::None)
        return {nullptr, failure, error};
    return {std::move(record), Failure::None, {}};
}

RecordDatabase::Failure RecordDatabase::setUp(Use use, QString *error)
{
    const QString shown = m_location.shown();
    // The version the record holds, 0 without tables. Outside a transaction
    // PostgreSQL is asked once (a missing table is an error of its own code);
    // inside one an error would end the transaction, so the catalog first.
    const auto version = [this](bool inTransaction, QString *why) -> std::optional<int> {
        QSqlQuery query(m_db);
        const QString max = QStringLiteral("SELECT max(version) FROM schema_version");
        if (postgres() && !inTransaction) {
            if (query.exec(max) && query.next())
                return query.value(0).toInt();
            if (query.lastError().nativeErrorCode() == QLatin1String("42P01")) // undefined_table
                return 0;
            *why = errorText(query.lastError());
            return std::nullopt;
        }
        const QString exists = postgres() ? QStringLiteral("SELECT to_regclass('schema_version') IS NOT NULL")
                                          : QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' "
                                                           "AND name = 'schema_version'");
        if (!exec(query, exists, {}, why) || !query.next())
            return std::nullopt;
        if (!query.value(0).toBool())
            return 0;
        if (!exec(query, max, {}, why) || !query.next())
            return std::nullopt;
        return query.value(0).toInt();
    };
    QString why;
    std::optional<int> found = version(false, &why);
    if (!found) {
        *error = QStringLiteral("cannot read the record %1: %2").arg(shown, why);
        return Failure::Unreachable;
    }
    const auto newer = [&](int v) {
        *error = QStringLiteral("the record %1 has schema version %2, newer than this program's %3: update tessary "
                                "before using it").arg(shown, QString::number(v), QString::number(SchemaVersion));
        return Failure::NewerSchema;
    };
    if (*found > SchemaVersion)
        return newer(*found);
    if (*found == SchemaVersion)
        return Failure::None;
    if (m_readOnly) {
        *error = *found == 0 ? QStringLiteral("the record file %1 is read-only and holds no record").arg(m_location.path)
                             : QStringLiteral("the record file %1 is read-only and of schema version %2; this program "
                                              "needs %3").arg(m_location.path, QString::number(*found),
                                                                         QString::number(SchemaVersion));
        return use == Use::Read ? Failure::Missing : Failure::Unreachable;
    }

    // Created or migrated under the write lock, after a second look: another
    // station may have done it meanwhile.
    if (!begin(&why, true)) {
        *error = QStringLiteral("cannot set up the record %1: %2").arg(shown, why);
        return Failure::Unreachable;
    }
    found = version(true, &why);
    if (found && *found > SchemaVersion) {
        rollback();
        return newer(*found);
    }
    bool done = found.has_value();
    const int from = found.value_or(SchemaVersion);
    QSqlQuery query(m_db);
    for (const Migration &migration : migrations()) {
        if (!done || migration.version <= from)
            continue;
        for (const QString &statement : postgres() ? migration.postgres : migration.sqlite)
            if (done && !exec(query, statement, {}, &why))
                done = false;
        if (done && !exec(query, QStringLiteral("UPDATE schema_version SET version = ?"), {migration.version}, &why))
            done = false;
    }
    query.finish();
    if (!done || !commit(&why)) {
        rollback();
        *error = QStringLiteral("cannot set up the record %1: %2").arg(shown, why);
        return Failure::Unreachable;
    }
    return Failure::None;
}

bool RecordDatabase::begin(QString *error, bool schema)
{
    QSqlQuery query(m_db);
    if (!postgres())
        return exec(query, QStringLiteral("BEGIN IMMEDIATE"), {}, error);
    if (!m_db.transaction()) {
        *error = errorText(m_db.lastError());
        return false;
    }
    return !schema || exec(query, QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(SchemaLock), {}, error);
}

bool RecordDatabase::commit(QString *error)
{
    if (postgres()) {
        if (m_db.commit())
            return true;
        *error = errorText(m_db.lastError());
        return false;
    }
    QSqlQuery query(m_db);
    return exec(query, QStringLiteral("COMMIT"), {}, error);
}

void RecordDatabase::rollback()
{
    if (postgres()) {
        m_db.rollback();
        return;
    }
    QSqlQuery query(m_db);
    QString ignored;
    (void)exec(query, QStringLiteral("ROLLBACK"), {}, &ignored);
}

QString RecordDatabase::failed(const QString &what, const QString &reason)
{
    QSqlQuery probe(m_db);
    QString ignored;
    m_lost = m_lost || !m_db.isOpen() || !exec(probe, QStringLiteral("SELECT 1"), {}, &ignored);
    return m_lost ? QStringLiteral("lost the record %1 (%2): %3").arg(m_location.shown(), what, reason)
                  : QStringLiteral("the record %1 refused %2: %3").arg(m_location.shown(), what, reason);
}

bool RecordDatabase::writable(QString *error)
{
    // Looked at before each write: a file made read-only while a run goes on
    // takes no more rows.
    if (!postgres())
        m_readOnly = withoutWriteBit(m_location.path);
    if (m_readOnly)
        *error = QStringLiteral("the record file %1 is read-only").arg(m_location.path);
    return !m_readOnly;
}

bool RecordDatabase::upsertRun(QSqlQuery &query, const RunRow &run, qint64 *id, QString *error)
{
    if (!exec(query,
              QStringLiteral("INSERT INTO runs (key, station, tool, command, options, started, ended) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?) "
                             "ON CONFLICT (key) DO UPDATE SET ended = COALESCE(excluded.ended, runs.ended)"),
              {run.key, run.station, run.tool, run.command, run.options, timeValue(run.started), timeValue(run.ended)},
              error))
        return false;
    if (!exec(query, QStringLiteral("SELECT id FROM runs WHERE key = ?"), {run.key}, error))
        return false;
    if (!query.next()) {
        *error = QStringLiteral("the run is not there after it was added");
        return false;
    }
    *id = query.value(0).toLongLong();
    return true;
}

bool RecordDatabase::transact(const QString &what, const std::function<bool(QSqlQuery &, QString *)> &steps,
                              QString *error)
{
    if (!writable(error))
        return false;
    QElapsedTimer timer;
    timer.start();
    QString why;
    // One query for the transaction, gone only after its end: PostgreSQL
    // cannot free a prepared statement inside a failed transaction.
    QSqlQuery query(m_db);
    if (begin(&why) && steps(query, &why) && commit(&why))
        return true;
    rollback();
    m_lost = m_lost || timer.elapsed() >= SlowFailureMs;
    *error = failed(what, why);
    return false;
}

bool RecordDatabase::addRun(const RunRow &run, QString *error)
{
    return transact(
        QStringLiteral("the run"),
        [&](QSqlQuery &query, QString *why) {
            qint64 id = 0;
            return upsertRun(query, run, &id, why);
        },
        error);
}

bool RecordDatabase::addBoard(const RunRow &run, const QString &key, const BoardRow &row, QString *error)
{
    const QStringList marks(boardColumns().size() + 2, QStringLiteral("?"));
    return transact(
        QStringLiteral("the row of %1").arg(row.device.isEmpty() ? QStringLiteral("a board") : row.device),
        [&](QSqlQuery &query, QString *why) {
            qint64 id = 0;
            return upsertRun(query, run, &id, why)
                && exec(query,
                        QStringLiteral("INSERT INTO boards (key, run, %1) VALUES (%2) ON CONFLICT (key) DO NOTHING")
                            .arg(boardColumns().join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))),
                        {key, id, timeValue(row.started), timeValue(row.ended), row.station, row.tool, row.command,
                         row.port, row.device, row.adapterSerial, row.speed, row.handshake, row.firmware,
                         row.identityBefore, row.identityAfter, row.database, row.entry, row.code, row.mode,
                         verifiedText(row.verified), outcomeWord(row.result), row.reason, row.writes,
                         row.plannedWrites},
                        why);
        },
        error);
}

std::optional<QList<qint64>> RecordDatabase::takeNumbers(const QString &counter, std::optional<qint64> start,
                                                         const RunRow &run, const QStringList &boards,
                                                         const NumberCheck &check, QString *error)
{
    QList<qint64> numbers;
    bool missing = false;
    QString refusal;
    const bool taken = transact(
        QStringLiteral("the numbers of the counter \"%1\"").arg(counter),
        [&](QSqlQuery &query, QString *why) {
            qint64 runId = 0;
            if (!upsertRun(query, run, &runId, why))
                return false;
            // PostgreSQL: a missing counter is created by whoever comes
            // first; its row is then locked until this transaction ends.
            // SQLite: the whole file is locked from BEGIN IMMEDIATE on.
            if (postgres() && start
                && !exec(query,
                         QStringLiteral("INSERT INTO counters (name, next) VALUES (?, ?) ON CONFLICT (name) DO NOTHING"),
                         {counter, *start}, why))
                return false;
            if (!exec(query,
                      postgres() ? QStringLiteral("SELECT next FROM counters WHERE name = ? FOR UPDATE")
                                 : QStringLiteral("SELECT next FROM counters WHERE name = ?"),
                      {counter}, why))
                return false;
            qint64 first = 0;
            if (query.next()) {
                first = query.value(0).toLongLong();
            } else if (start && !postgres()) {
                first = *start;
                query.finish();
                if (!exec(query, QStringLiteral("INSERT INTO counters (name, next) VALUES (?, ?)"), {counter, first}, why))
                    return false;
            } else {
                missing = true;
                return false;
            }
            query.finish();
            // Refused numbers are not taken: the transaction's end gives them back.
            if (check && !(refusal = check(first, qint64(boards.size()))).isEmpty())
                return false;
            if (!exec(query, QStringLiteral("UPDATE counters SET next = ? WHERE name = ?"),
                      {first + qint64(boards.size()), counter}, why))
                return false;
            const QString now = utcText(QDateTime::currentDateTimeUtc());
            for (const QString &board : boards) {
                if (!exec(query,
                          QStringLiteral("INSERT INTO serials (counter, number, run, station, device, taken) "
                                         "VALUES (?, ?, ?, ?, ?, ?)"),
                          {counter, first + numbers.size(), runId, run.station, board, now}, why))
                    return false;
                numbers << first + numbers.size();
            }
            return true;
        },
        error);
    if (missing)
        *error = QStringLiteral("the record %1 has no counter \"%2\"; a start value creates it")
                     .arg(m_location.shown(), counter);
    if (!refusal.isEmpty())
        *error = refusal;
    if (!taken)
        return std::nullopt;
    return numbers;
}

QString RecordDatabase::timeText(const QString &column) const
{
    return postgres() ? QStringLiteral("to_char(%1 AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')").arg(column)
                      : column;
}

QString RecordDatabase::where(const RecordFilter &filter, QVariantList &values) const
{
    // An identity names a board or a handful: its two indexes answer first.
    // SQLite's planner, once it has statistics, would rather walk the index
    // of times (the identity before is the same factory name on most boards),
    // so there the identity is asked as a union of both lookups and the other
    // columns are kept from their indexes with a unary plus.
    const bool byIdentity = !filter.identity.isEmpty();
    const QString plain = byIdentity && !postgres() ? QStringLiteral("+") : QString();
    QStringList conditions;
    if (byIdentity) {
        conditions << (postgres() ? QStringLiteral("(identity_after = ? OR identity_before = ?)")
                                  : QStringLiteral("id IN (SELECT id FROM boards WHERE identity_after = ? UNION "
                                                   "SELECT id FROM boards WHERE identity_before = ?)"));
        values << filter.identity << filter.identity;
    }
    if (filter.since.isValid()) {
        conditions << plain + QStringLiteral("started >= ?");
        values << utcText(filter.since);
    }
    if (filter.until.isValid()) {
        conditions << plain + QStringLiteral("started < ?");
        values << utcText(filter.until);
    }
    for (const auto &[column, value] : {std::pair{QStringLiteral("station"), filter.station},
                                        std::pair{QStringLiteral("code"), filter.code}})
        if (!value.isEmpty()) {
            conditions << plain + column + QStringLiteral(" = ?");
            values << value;
        }
    if (filter.result) {
        conditions << plain + QStringLiteral("result = ?");
        values << outcomeWord(*filter.result);
    }
    return conditions.isEmpty() ? QString() : QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
}

bool RecordDatabase::boards(const RecordFilter &filter, Order order,
                            const std::function<bool(const RecordedBoard &)> &each, QString *error)
{
    QVariantList values;
    QStringList columns = boardColumns();
    columns[0] = timeText(columns[0]);
    columns[1] = timeText(columns[1]);
    const QString direction = order == Order::OldestFirst ? QStringLiteral("ASC") : QStringLiteral("DESC");
    const QString byTime = !filter.identity.isEmpty() && !postgres() ? QStringLiteral("+started") : QStringLiteral("started");
    const QString sql = QStringLiteral("SELECT run, %1 FROM boards%2 ORDER BY %4 %3, id %3")
                            .arg(columns.join(QStringLiteral(", ")), where(filter, values), direction, byTime);
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    QString why;
    if (!(postgres() ? exec(query, withValues(m_db, sql, values), {}, &why) : exec(query, sql, values, &why))) {
        *error = QStringLiteral("cannot read the record %1: %2").arg(m_location.shown(), why);
        return false;
    }
    while (query.next()) {
        RecordedBoard board;
        board.run = query.value(0).toLongLong();
        BoardRow &row = board.row;
        int column = 1;
        const auto text = [&] { return query.value(column++).toString(); };
        row.started = QDateTime::fromString(text(), Qt::ISODateWithMs);
        row.ended = QDateTime::fromString(text(), Qt::ISODateWithMs);
        row.station = text();
        row.tool = text();
        row.command = text();
        row.port = text();
        row.device = text();
        row.adapterSerial = text();
        row.speed = text();
        row.handshake = text();
        row.firmware = text();
        row.identityBefore = text();
        row.identityAfter = text();
        row.database = text();
        row.entry = text();
        row.code = text();
        row.mode = text();
        const QString verified = text();
        if (!verified.isEmpty())
            row.verified = verified == QLatin1String("yes");
        const QString result = text();
        row.result = outcomeFromWord(result).value_or(BoardOutcome::NoBoard);
        row.reason = text();
        row.writes = query.value(column++).toInt();
        row.plannedWrites = query.value(column++).toInt();
        if (!each(board))
            break;
    }
    if (query.lastError().isValid()) {
        *error = QStringLiteral("cannot read the record %1: %2").arg(m_location.shown(), errorText(query.lastError()));
        return false;
    }
    return true;
}

std::optional<QList<SummaryGroup>> RecordDatabase::summary(const RecordFilter &filter, GroupBy by, QString *error)
{
    QVariantList values;
    QString key;
    switch (by) {
    case GroupBy::Day:
        // The day where the station is, its summer time included.
        if (postgres()) {
            key = QStringLiteral("to_char(started AT TIME ZONE ?, 'YYYY-MM-DD')");
            const QByteArray zone = QTimeZone::systemTimeZoneId();
            values << (zone.isEmpty() ? QStringLiteral("UTC") : QString::fromLatin1(zone));
        } else {
            key = QStringLiteral("date(started, 'localtime')");
        }
        break;
    case GroupBy::Station:
        key = QStringLiteral("station");
        break;
    case GroupBy::Result:
        key = QStringLiteral("result");
        break;
    case GroupBy::Reason:
        key = QStringLiteral("reason");
        break;
    }
    QString condition = where(filter, values);
    if (by == GroupBy::Reason)
        condition += (condition.isEmpty() ? QStringLiteral(" WHERE ") : QStringLiteral(" AND "))
                   + QStringLiteral("result IN (%1)").arg(wordList(true));
    const bool byCount = by == GroupBy::Result || by == GroupBy::Reason;
    const QString sql =
        QStringLiteral("SELECT %1, count(*), sum(CASE WHEN result IN (%2) THEN 1 ELSE 0 END), "
                       "sum(CASE WHEN result IN (%3) THEN 1 ELSE 0 END) FROM boards%4 GROUP BY 1 ORDER BY %5")
            .arg(key, wordList(false), wordList(true), condition,
                 byCount ? QStringLiteral("2 DESC, 1") : QStringLiteral("1"));
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    QString why;
    if (!(postgres() ? exec(query, withValues(m_db, sql, values), {}, &why) : exec(query, sql, values, &why))) {
        *error = QStringLiteral("cannot read the record %1: %2").arg(m_location.shown(), why);
        return std::nullopt;
    }
    QList<SummaryGroup> groups;
    while (query.next())
        groups.append({query.value(0).toString(), query.value(1).toLongLong(), query.value(2).toLongLong(),
                       query.value(3).toLongLong()});
    return groups;
}

} // namespace tessary
