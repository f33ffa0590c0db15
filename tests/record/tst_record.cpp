// The production record against a real SQLite file and a real PostgreSQL
// server (scripts/with-postgres.sh starts one for the suite; without it the
// PostgreSQL rows say they were skipped and why): a run's rows going in and
// coming back out through `tessary record`, the questions, the schema, the
// spool when the record is gone or refuses a row, and four stations
// programming their boards at once, numbered from one counter. The clock of the tables is Berlin's, summer time.
#include "boardsim/simulatedline.h"
#include "cliapp.h"
#include "clienvironment.h"
#include "files.h"
#include "record/recorddatabase.h"
#include "record/recordlocation.h"
#include "record/recordrun.h"
#include "scriptedports.h"
#include "clirig.h"
#include "serial/virtualclock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <ctime>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace tessary;

// The case's backend; a PostgreSQL case without a server says why it is skipped.
#define FETCH_BACKEND()                                                                                                \
    QFETCH(QString, backend);                                                                                          \
    if (const QString why = unavailable(backend); !why.isEmpty())                                                      \
    QSKIP(qPrintable(why))

namespace {

const QString Sqlite = QStringLiteral("sqlite");
const QString Postgres = QStringLiteral("postgresql");

QDateTime utc(const char *text) { return QDateTime::fromString(QLatin1String(text), Qt::ISODateWithMs); }

// A board's row with the fields a case names; the rest as a board that was programmed.
BoardRow board(const char *started, const QString &station, BoardOutcome result, const QString &before,
               const QString &after, const QString &code = "1111000101000000", const QString &reason = {})
{
    return {.started = utc(started), .ended = utc(started).addSecs(6), .station = station, .tool = "tessary 2.3",
            .command = "program", .device = "/dev/ttyUSB0", .speed = "115200", .handshake = "hw", .firmware = "FW 4.12",
            .identityBefore = before, .identityAfter = after, .code = code, .mode = "user", .result = result,
            .reason = reason, .writes = result == BoardOutcome::Ok ? 9 : 3, .plannedWrites = 9};
}

RecordRun::Start start(const QString &options = QStringLiteral("program --all-boards --verify"))
{
    return {QStringLiteral("LINE7-A"), QStringLiteral("tessary 2.3"), QStringLiteral("program"), options,
            utc("2024-05-06T07:00:00.000Z")};
}

// `tessary program` of the factory code to the board on COM1 at 115200 bauds; the case's options follow.
const QStringList ProgramOnCom1 = {"program", "--port", "COM1", "--speed", "115200", "--code", "1111000101000000"};

RecordLocation location(const QString &url) { return RecordLocation::parse(url, nullptr).value(); }

// A station of `tessary program --all-boards`: every device named holds a
// board, each on its own simulated line and virtual clock, as the port threads
// have them.
struct Stations : test::SimEnvironment {
    PortSession portSession(const PortNames &, int port) override
    {
        auto clock = std::make_unique<VirtualClock>();
        clock->advance(virtualClock.now());
        auto line = std::make_unique<sim::SimulatedLine>(*clock);
        line->setWakeups(false);
        line->setExistingPorts({});
        line->attachBoard(port);
        return {std::move(clock), std::move(line)};
    }
};

// The child of the stations' case: `tessary ARGUMENTS` three times over, as
// a station runs it (TST_RECORD_STATION: the arguments, one a line).
int stationChild()
{
    Stations station;
    QString out;
    QTextStream text(&out), err(stderr);
    for (int round = 0; round < 3; ++round)
        if (const int status = CliApp(station, text, err).run(QStringList{"tessary"}
                                                             + qEnvironmentVariable("TST_RECORD_STATION").split(u'\n')))
            return status;
    return 0;
}

} // namespace

class TestRecord : public QObject {
    Q_OBJECT

private:
    // The PostgreSQL server of the suite; empty when there is none, with why.
    QString m_server = qEnvironmentVariable("TESSARY_TEST_POSTGRES");
    QString m_database = QStringLiteral("tst_record_%1").arg(QCoreApplication::applicationPid());
    std::unique_ptr<QTemporaryDir> m_folder; // the case's files and data folder
    QTemporaryDir m_lasting;                 // what outlives a case: the fixture's SQLite file
    QMap<QString, QString> m_fixture;        // backend: the URL of a record holding fixture()
    test::CliRig m_rig{.now = utc("2024-05-08T12:00:00.000Z")}; // the station: a board on COM1 (/dev/ttyS0)

    // The URL of an empty record of the backend, or a skip saying why there is none.
    QString freshRecord(const QString &backend)
    {
        if (backend == Sqlite)
            return "sqlite:" + m_folder->filePath("record.sqlite");
        m_fixture.remove(backend);
        const QString url = QString(m_server).replace("/postgres", u'/' + m_database);
        sql(url, "DROP TABLE IF EXISTS serials, counters, boards, runs, schema_version CASCADE");
        return url;
    }
    // Runs `tessary ARGUMENTS` in process; its output in m_rig.out and m_rig.err.
    int tessary(const QStringList &arguments) { return m_rig.run(arguments); }
    QString answer(const QStringList &arguments, int status = 0) { return m_rig.answer(arguments, status); }
    // A connection of the test's own to a record's database, beside the program.
    static QSqlDatabase admin(const QString &url)
    {
        const RecordLocation where = location(url);
        const QString name = QStringLiteral("admin ") + url;
        if (QSqlDatabase::contains(name))
            return QSqlDatabase::database(name);
        QSqlDatabase db = QSqlDatabase::addDatabase(where.kind == RecordLocation::Kind::Sqlite ? "QSQLITE" : "QPSQL", name);
        db.setDatabaseName(where.kind == RecordLocation::Kind::Sqlite ? where.path : where.database);
        db.setHostName(where.host);
        db.setUserName(where.user);
        if (!db.open())
            qFatal("cannot open %s: %s", qPrintable(url), qPrintable(db.lastError().text()));
        if (where.kind == RecordLocation::Kind::Postgres)
            QSqlQuery(db).exec(QStringLiteral("SET client_min_messages TO warning"));
        return db;
    }
    // Runs STATEMENT over that connection; the first value it answers, if any.
    static QVariant sql(const QString &url, const QString &statement)
    {
        QSqlQuery query(admin(url));
        if (!query.exec(statement))
            qFatal("%s: %s", qPrintable(statement), qPrintable(query.lastError().text()));
        return query.next() ? query.value(0) : QVariant();
    }
    // Closes and forgets the connections whose names hold PART.
    static void closeConnections(const QString &part)
    {
        for (const QString &name : QSqlDatabase::connectionNames())
            if (name.contains(part)) {
                QSqlDatabase::database(name, false).close();
                QSqlDatabase::removeDatabase(name);
            }
    }
    // Why a case of the backend cannot run here; empty when it can.
    [[nodiscard]] QString unavailable(const QString &backend) const
    {
        if (backend != Postgres || !m_server.isEmpty())
            return {};
        return "PostgreSQL case skipped: "
             + qEnvironmentVariable("TESSARY_TEST_POSTGRES_SKIPPED",
                                    "TESSARY_TEST_POSTGRES is not set: run the suite with scripts/test.sh, which starts a server");
    }
    static void backends()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << Sqlite;
        QTest::newRow("postgresql") << Postgres;
    }
    // Records the boards in one run; the run's end as the command sees it.
    static RecordRun::End recordRun(const QString &url, const QList<BoardRow> &rows, const RecordRun::Start &begun = start())
    {
        QString error;
        auto run = RecordRun::begin(location(url), begun, &error);
        if (!run)
            qFatal("cannot begin: %s", qPrintable(error));
        for (const BoardRow &row : rows)
            if (!run->record(row, &error))
                qFatal("cannot record: %s", qPrintable(error));
        return run->end(utc("2024-05-06T08:00:00.000Z"));
    }
    // Five boards over three local days and three stations.
    static QList<BoardRow> fixture()
    {
        return {
            board("2024-05-06T06:00:00.000Z", "S1", BoardOutcome::Ok, "TH432 1K5 STD", "L7-0001"),
            // 23:59:59.999 in Berlin, 21:59:59.999 in UTC
            board("2024-05-06T21:59:59.999Z", "S1", BoardOutcome::EchoError, "TH432 1K5 STD", "L7-0002",
                  "1111000101000000", "parameter 7 echoed 0x40, not 0x41"),
            // midnight in Berlin
            board("2024-05-06T22:00:00.000Z", "S2", BoardOutcome::Ok, "TH432 1K5 STD", "L7-0003", "0000111100000000"),
            board("2024-05-07T10:00:00.000Z", "S2", BoardOutcome::VerifyFailed, "L7-0002", "L7-0002",
                  "1111000101000000", "the board holds head width 384 dots"),
            board("2024-05-08T08:00:00.000Z", "S3", BoardOutcome::NoBoard, "", "", ""),
        };
    }
    // A record holding fixture(), made once for the cases that only read it.
    QString fixtureRecord(const QString &backend)
    {
        if (!m_fixture.contains(backend)) {
            const QString url = backend == Sqlite ? "sqlite:" + m_lasting.filePath("fixture.sqlite") : freshRecord(backend);
            if (!recordRun(url, fixture()).complete())
                qFatal("the fixture was not recorded");
            m_fixture.insert(backend, url);
        }
        return m_fixture.value(backend);
    }
    // "station:identity after" of each board `tessary ARGUMENTS --json` lists, in order.
    QString listed(const QStringList &arguments)
    {
        if (const int status = tessary(arguments + QStringList{QStringLiteral("--json")}); status != 0)
            return QStringLiteral("exit %1: %2").arg(status).arg(m_rig.err);
        QStringList identities;
        for (const QJsonValue &row : QJsonDocument::fromJson(m_rig.out.toUtf8())[QStringLiteral("boards")].toArray())
            identities << row[QStringLiteral("station")].toString() + u':' + row[QStringLiteral("identity_after")].toString();
        return identities.join(u' ');
    }
    [[nodiscard]] QString spoolOf(const QString &url) const
    {
        return recordDataFolder() + QStringLiteral("/spool/") + location(url).spoolName();
    }
    // Starts (or starts again) a server of the case's own, for a case that stops it.
    QString ownServer(const char *command)
    {
        QProcess script;
        script.setWorkingDirectory(QDir::tempPath());
        script.start(QStringLiteral(TESSARY_PGSERVER_SCRIPT),
                     {QLatin1String(command), qEnvironmentVariable("TESSARY_TEST_PGSERVERS"),
                      QStringLiteral("stopped-%1").arg(QCoreApplication::applicationPid())});
        if (!script.waitForFinished(60000) || script.exitCode() != 0)
            qFatal("pgserver.sh %s: %s", command, script.readAllStandardError().constData());
        return QString::fromUtf8(script.readAllStandardOutput()).trimmed();
    }

private slots:
    void initTestCase()
    {
        if (!m_server.isEmpty())
            for (const char *statement : {"DROP DATABASE IF EXISTS ", "CREATE DATABASE "})
                sql(m_server, statement + m_database);
    }
    void cleanupTestCase()
    {
        if (m_server.isEmpty())
            return;
        closeConnections(m_database);
        sql(m_server, "DROP DATABASE IF EXISTS " + m_database);
    }
    void init()
    {
        m_rig.env.simLine.attachBoard(1); // as it comes from the factory
        m_folder = std::make_unique<QTemporaryDir>();
        // The built-in record and the spools: the case's own data folder.
        qputenv("XDG_DATA_HOME", m_folder->filePath("data").toUtf8());
        QVERIFY(RecordLocation::keep(m_rig.env.memory, {}));
        closeConnections("record.sqlite");
    }

    void recordUseKeepsTheRecordAndReachesIt_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("kept"); // "~/": the case's folder; sqlite:/before: as it was
        QTest::addColumn<QString>("said");
        const QString noServer = "postgresql://line7:s3cret@%2Fnonexistent%2Fsocket/factory", before = "sqlite:/before";
        const QList<std::tuple<const char *, QString, int, QString, QString>> cases = {
            {"an SQLite file, made whole", "sqlite:records/line7.sqlite", 0, "sqlite:~/records/line7.sqlite",
             "Recording to sqlite:~/records/line7.sqlite (schema version 1), kept in the settings."},
            {"the built-in one", "default", 0, "",
             "Recording to sqlite:~/data/Tessary/Tessary Configurator/record.sqlite (schema version 1), kept in the settings."},
            {"a server not there, password masked", noServer, 1, noServer,
             "tessary: cannot reach the record postgresql://line7:***@%2Fnonexistent%2Fsocket/factory: "},
            {"a service the service file lacks", "line7", 1, "line7", "tessary: cannot reach the record service=line7: "},
            {"a file named as a service", "line7.sqlite", 2, before,
             "tessary record use: \"line7.sqlite\" looks like a file: write sqlite:line7.sqlite for an SQLite file, or "
             "service=line7.sqlite for a PostgreSQL service"},
            {"another kind of database", "mysql://db/factory", 2, before,
             "tessary record use: \"mysql://db/factory\" is not a record"},
            {"the program's own timeout", "postgresql://db/factory?connect_timeout=60", 2, before,
             "a record URL takes the settings host, port, user, password, dbname, service, sslmode"},
            {"an SQLite file without its path", "sqlite:", 2, before, "sqlite: needs the file's path"},
            {"another program's database, left as it was", "sqlite:other.sqlite", 1, "sqlite:~/other.sqlite",
             "tessary: cannot set up the record sqlite:~/other.sqlite: table boards already exists (kept in the settings all "
             "the same: the rows wait in this station's spool until it can be reached)\n"},
        };
        for (const auto &[name, given, status, kept, said] : cases)
            QTest::newRow(name) << given << status << kept << said;
    }
    void recordUseKeepsTheRecordAndReachesIt()
    {
        QFETCH(QString, given);
        QFETCH(int, status);
        QFETCH(QString, kept);
        QFETCH(QString, said);
        const QString home = m_folder->path();
        const auto back = qScopeGuard([current = QDir::currentPath()] { QDir::setCurrent(current); });
        QDir::setCurrent(home);
        // Until one is used, the built-in record is not there: the questions say so and make no file.
        QCOMPARE(answer({"record", "list"}, 1),
                 "tessary: there is no record at " + recordDataFolder() + "/record.sqlite yet: nothing has been recorded there\n");
        QVERIFY(!QFile::exists(recordDataFolder() + "/record.sqlite"));
        QVERIFY(RecordLocation::keep(m_rig.env.memory, "sqlite:/before"));
        const QString other = "sqlite:" + home + "/other.sqlite";
        if (given.contains("other"))
            sql(other, "CREATE TABLE boards (x)");
        QCOMPARE(tessary({"record", "use", given}), status);
        if (given.contains("other"))
            QCOMPARE(sql(other, "SELECT group_concat(name) FROM sqlite_master").toString(), "boards");
        QVERIFY2((status == 0 ? m_rig.out : m_rig.err).contains(said.replace("~/", home + u'/')), qPrintable(m_rig.out + m_rig.err));
        QVERIFY2(!(m_rig.out + m_rig.err).contains("s3cret"), qPrintable(m_rig.err));
        QCOMPARE(m_rig.env.memory.value(RecordLocation::settingsKey()).toString(), kept.replace("~/", home + u'/'));
        if (status == 0) // made on first use, with its tables; the questions now go there
            QCOMPARE(answer({"record", "list"}), "0 boards\n");
    }

    // Settings that cannot be written: the record is not said to be kept, and the one in use stays.
    void recordUseSaysWhenTheSettingsCannotBeWritten()
    {
        test::CliRig rig{.now = utc("2024-05-08T12:00:00.000Z")};
        QVERIFY(QDir().mkpath(rig.env.memory.fileName())); // a folder where the settings' file goes
        const QString said = "tessary: the record cannot be kept in the settings: writing " + rig.env.memory.fileName() + " failed; the record in use stays as it was\n";
        QCOMPARE(rig.expect({"record", "use", "sqlite:" + m_folder->filePath("kept.sqlite")}, 1, said), "");
    }

    // Each form of a record's address read as the user wrote it, and shown back with its password masked.
    void recordAddressesReadAsWritten()
    {
        // The address given, and what is shown of it, or the reason it is refused.
        const QList<std::pair<const char *, const char *>> cases = {
            {"postgresql://line7:s3cret@[::1]:5433/factory", "postgresql://line7:***@[::1]:5433/factory"},
            {"postgres://[fe80::1]/factory", "postgresql://[fe80::1]/factory"},
            {"postgresql://[::1/factory", "the host of \"postgresql://[::1/factory\" opens \"[\" and never closes it"},
            {"postgresql://[::1]5433/factory", "\"postgresql://[::1]5433/factory\" has something after the host that is not a port"},
            {"postgresql://:s3cret@db:65535/factory", "postgresql://:***@db:65535/factory"},
            {"postgresql://db:0/factory", "the port of \"postgresql://db:0/factory\" is not a number from 1 to 65535"},
            {"postgresql://db:65536/factory", "the port of \"postgresql://db:65536/factory\" is not a number from 1 to 65535"},
            {"postgresql://db/factory?port=1", "postgresql://db:1/factory"},
            {"postgresql://db/factory?port=0", "the port of \"postgresql://db/factory?port=0\" is not a number from 1 to 65535"},
            {"postgresql://db/factory?port=65536", "the port of \"postgresql://db/factory?port=65536\" is not a number from 1 to 65535"},
            {"postgresql://line%207@%2Frun%2Fpostgresql/fact%C3%B6ry?sslmode=require&user=u2&host=%2Ftmp",
             "postgresql://u2@%2Ftmp/fact%C3%B6ry?sslmode=require"},
            {"postgresql://db/factory?dbname=other&password=pw&service=s", "postgresql://:***@db/other?service=s"},
            {"postgresql:///?service=line7&sslmode=require", "postgresql:///?service=line7&sslmode=require"},
            {" service=line7 ", "service=line7"},
            {"postgresql://db/factory?password=a%3Bb", "the settings of a record URL cannot hold \";\""},
            {"postgresql://db/factory?sslmode=a%3Bb", "the settings of a record URL cannot hold \";\""},
            {"sqlite:~/records/../line7.sqlite", "sqlite:~/line7.sqlite"},
            {"sqlite:line7.sqlite", "sqlite:./line7.sqlite"},
        };
        for (const auto &[given, shown] : cases) {
            QString error;
            const std::optional<RecordLocation> location = RecordLocation::parse(given, &error);
            const QString expected = QString(shown).replace("sqlite:~", "sqlite:" + QDir::homePath()).replace("sqlite:.", "sqlite:" + QDir::currentPath());
            QCOMPARE(QString(given) + " -> " + (location ? location->shown() : error), QString(given) + " -> " + expected);
        }
    }
    // Each record has a spool of its own, named readably: two files of one name in two folders, or two
    // servers' databases of one name, never share one.
    void recordSpoolsAreOneARecord()
    {
        QStringList names;
        for (const char *url : {"sqlite:/a/record.sqlite", "sqlite:/b/record.sqlite", "postgresql://db/fact%C3%B6ry",
                                "postgresql://db:5433/fact%C3%B6ry", "postgresql://other/fact%C3%B6ry",
                                "postgresql://u@db/fact%C3%B6ry", "postgresql://db/fact%C3%B6ry?sslmode=require",
                                "service=line7", "postgresql://db/?service=line7", "postgresql://db/"})
            names << location(url).spoolName();
        QCOMPARE(QSet<QString>(names.cbegin(), names.cend()).size(), names.size());
        const QStringList forms = {"sqlite-record-", "sqlite-record-", "postgresql-fact_ry-", "postgresql-fact_ry-",
                                   "postgresql-fact_ry-", "postgresql-fact_ry-", "postgresql-fact_ry-",
                                   "postgresql-line7-", "postgresql-line7-", "postgresql-postgresql-"};
        for (qsizetype i = 0; i < names.size(); ++i)
            QVERIFY2(QRegularExpression('^' + forms[i] + "[0-9a-f]{8}\\.jsonl$").match(names[i]).hasMatch(), qPrintable(names[i]));
    }

    void rowsGoInAndComeBackOut_data() { backends(); }
    void rowsGoInAndComeBackOut()
    {
        FETCH_BACKEND();
        const QString url = freshRecord(backend);
        const BoardRow programmed{
            .started = utc("2024-05-06T07:08:09.123Z"), .ended = utc("2024-05-06T07:08:15.456Z"), .station = "LINE7-A",
            .tool = "tessary 2.3", .command = "program", .port = "COM3", .device = "/dev/ttyUSB2", .adapterSerial = "A10K3Z2Q",
            .speed = "19200", .handshake = "hw", .firmware = "FW 4.12", .identityBefore = "TH432 1K5 STD",
            .identityAfter = "L7-00412", .database = "/srv/factory.cdb", .entry = "Mechanism 01", .code = "1111000101000000",
            .mode = "user", .verified = true, .result = BoardOutcome::Ok, .writes = 9, .plannedWrites = 9};
        BoardRow echo = board("2024-05-06T07:08:09.200Z", "LINE7-A", BoardOutcome::EchoError, "TH432 1K5 STD",
                              "TH432 1K5 STD", "1111000101000000", "the board echoed 0x40, not 0x41 (\"A\")");
        echo.device = "/dev/ttyUSB3";
        echo.verified = false;
        const BoardRow busy{.started = utc("2024-05-06T07:08:09.000Z"), .ended = utc("2024-05-06T07:08:15.000Z"),
                            .station = "LINE7-A", .tool = "tessary 2.3", .command = "program", .device = "/dev/ttyUSB4",
                            .code = "1111000101000000", .mode = "user", .result = BoardOutcome::PortError,
                            .reason = "/dev/ttyUSB4 is in use by another program", .plannedWrites = 9};
        const RecordRun::End end = recordRun(url, {programmed, echo, busy},
                                             start(maskedOptions({"program", "--record", "postgresql://line7:s3cret@db/factory",
                                                                  "--id", "L7 {n:05}"})));
        QVERIFY2(end.complete(), qPrintable(end.message));

        QCOMPARE(answer({"record", "list", "--record", url, "--csv"}),
                 "started,ended,station,tool,command,port,device,adapter_serial,speed,handshake,firmware,identity_before,"
                 "identity_after,database,entry,code,mode,verified,result,reason,writes\n"
                 "2024-05-06T07:08:09.000Z,2024-05-06T07:08:15.000Z,LINE7-A,tessary 2.3,program,,/dev/ttyUSB4,,,,,,,,,"
                 "1111000101000000,user,,port-error,/dev/ttyUSB4 is in use by another program,0/9\n"
                 "2024-05-06T07:08:09.123Z,2024-05-06T07:08:15.456Z,LINE7-A,tessary 2.3,program,COM3,/dev/ttyUSB2,"
                 "A10K3Z2Q,19200,hw,FW 4.12,TH432 1K5 STD,L7-00412,/srv/factory.cdb,Mechanism 01,1111000101000000,user,"
                 "yes,ok,,9/9\n"
                 "2024-05-06T07:08:09.200Z,2024-05-06T07:08:15.200Z,LINE7-A,tessary 2.3,program,,/dev/ttyUSB3,,115200,"
                 "hw,FW 4.12,TH432 1K5 STD,TH432 1K5 STD,,,1111000101000000,user,no,echo-error,"
                 "\"the board echoed 0x40, not 0x41 (\"\"A\"\")\",3/9\n");

        QCOMPARE(answer({"record", "list", "--record", url}),
                 "Started              Station  Command  Port     Identity before  Identity after  Code              "
                 "Result      Reason\n"
                 "2024-05-06 09:08:09  LINE7-A  program  ttyUSB4  -                -               1111000101000000  "
                 "port-error  /dev/ttyUSB4 is in use by another program\n"
                 "2024-05-06 09:08:09  LINE7-A  program  COM3     TH432 1K5 STD    L7-00412        1111000101000000  "
                 "ok\n"
                 "2024-05-06 09:08:09  LINE7-A  program  ttyUSB3  TH432 1K5 STD    TH432 1K5 STD   1111000101000000  "
                 "echo-error  the board echoed 0x40, not 0x41 (\"A\")\n"
                 "3 boards\n");

        QCOMPARE(tessary({"record", "list", "--record", url, "--json"}), 0);
        const QJsonArray rows = QJsonDocument::fromJson(m_rig.out.toUtf8())["boards"].toArray();
        QCOMPARE(QJsonDocument(QJsonArray{rows[0]["verified"], rows[1]["verified"], rows[2]["verified"], rows[1]["writes"],
                                          rows[2]["writes"], rows.size(), rows[0]["run"] == rows[2]["run"]})
                     .toJson(QJsonDocument::Compact),
                 "[null,true,false,9,3,3,true]"); // one run

        // The run: who ran what, a password never kept.
        QCOMPARE(sql(url, "SELECT count(*) || ' ' || count(ended) || ' | ' || max(station || ' ' || tool || ' ' || command "
                          "|| ' | ' || options) || ' | ' || max(version) FROM runs, schema_version").toString(),
                 "1 1 | LINE7-A tessary 2.3 program | program --record 'postgresql://line7:***@db/factory' --id 'L7 {n:05}' | 1");
    }

    // The questions asked of the record of fixture(): the boards `record list`
    // keeps, each "station:identity after" (or "exit 2: " and the message); a
    // board's history, newest first, and the summaries, what each prints (on a
    // failure, what it says; URL stands for the record's).
    void questionsAnswer_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("printed");
        const QString total = "5 boards: 2 ok, 2 failed\n";
        const QList<std::tuple<const char *, QStringList, QString>> cases = {
            {"everything", {"list"}, "S1:L7-0001 S1:L7-0002 S2:L7-0003 S2:L7-0002 S3:"},
            {"since a day: from its local midnight", {"list", "--since", "2024-05-07"}, "S2:L7-0003 S2:L7-0002 S3:"},
            {"until a day: the day whole", {"list", "--until", "2024-05-06"}, "S1:L7-0001 S1:L7-0002"},
            {"a local time range, its end included", {"list", "--since", "2024-05-06T23:59:59", "--until", "2024-05-07T00:00"},
             "S1:L7-0002 S2:L7-0003"},
            {"the same, a blank for the T", {"list", "--since", "2024-05-06 23:59:59", "--until", "2024-05-07 00:00"},
             "S1:L7-0002 S2:L7-0003"},
            {"a time in UTC", {"list", "--since", "2024-05-07T10:00:00Z"}, "S2:L7-0002 S3:"},
            {"today, as the station's clock says", {"list", "--since", "today"}, "S3:"},
            {"yesterday on", {"list", "--since", "yesterday"}, "S2:L7-0003 S2:L7-0002 S3:"},
            {"a station", {"list", "--station", "S2"}, "S2:L7-0003 S2:L7-0002"},
            {"a result", {"list", "--result", "echo-error"}, "S1:L7-0002"},
            {"an identity, before or after", {"list", "--identity", "L7-0002"}, "S1:L7-0002 S2:L7-0002"},
            {"a code", {"list", "--code", "0000111100000000"}, "S2:L7-0003"},
            {"an identity on a station, since a day", {"list", "--identity", "L7-0002", "--station", "S2", "--since", "2024-05-07"},
             "S2:L7-0002"},
            {"a quote in a value is a value", {"list", "--station", "S1' OR station <> '"}, ""},
            {"a day that is none", {"list", "--since", "2024-13-01"}, "exit 2: tessary record list: --since takes a date"},
            {"a result that is none", {"list", "--result", "fine"}, "exit 2: tessary record list: --result takes ok, found"},
            {"a board's history", {"board", "L7-0002"},
             "Started              Station  Command  Port     Identity before  Identity after  Code              "
             "Result         Reason\n"
             "2024-05-07 12:00:00  S2       program  ttyUSB0  L7-0002          L7-0002         1111000101000000  "
             "verify-failed  the board holds head width 384 dots\n"
             "2024-05-06 23:59:59  S1       program  ttyUSB0  TH432 1K5 STD    L7-0002         1111000101000000  "
             "echo-error     parameter 7 echoed 0x40, not 0x41\n"
             "2 boards\n"},
            {"a board never recorded", {"board", "L7-9999", "--json"}, "tessary: no board \"L7-9999\" in the record URL\n"},
            {"by local day", {"summary", "--by", "day"},
             "Day         Boards  OK  Failed\n"
             "2024-05-06       2   1       1\n"
             "2024-05-07       2   1       1\n"
             "2024-05-08       1   0       0\n"
                 + total},
            {"by station", {"summary", "--by", "station"},
             "Station  Boards  OK  Failed\n"
             "S1            2   1       1\n"
             "S2            2   1       1\n"
             "S3            1   0       0\n"
                 + total},
            {"by result, the default", {"summary"},
             "Result         Boards\n"
             "ok                  2\n"
             "echo-error          1\n"
             "no-board            1\n"
             "verify-failed       1\n"
                 + total},
            {"the failed by reason", {"summary", "--by", "reason"},
             "Reason                               Boards\n"
             "parameter 7 echoed 0x40, not 0x41         1\n"
             "the board holds head width 384 dots       1\n"
                 + total},
            {"one station today", {"summary", "--by", "result", "--station", "S3", "--since", "today"},
             "Result    Boards\nno-board       1\n1 board: 0 ok, 0 failed\n"},
            {"nothing", {"summary", "--station", "S9"}, "0 boards: 0 ok, 0 failed\n"},
        };
        for (const QString &backend : {Sqlite, Postgres})
            for (const auto &[name, options, printed] : cases)
                QTest::addRow("%s: %s", qPrintable(backend), name) << backend << options << printed;
    }
    void questionsAnswer()
    {
        FETCH_BACKEND();
        QFETCH(QStringList, options);
        QFETCH(QString, printed);
        const QString url = fixtureRecord(backend);
        const QStringList arguments = QStringList{"record"} + options + QStringList{"--record", url};
        if (options.first() == u"list") {
            const QString got = listed(arguments);
            QVERIFY2(printed.startsWith("exit") ? got.startsWith(printed) : got == printed, qPrintable(got));
            return;
        }
        const bool known = !printed.startsWith("tessary: ");
        QCOMPARE(answer(arguments, known ? 0 : 1), printed.replace("URL", url));
        if (!known) // the JSON says so too
            QCOMPARE(QJsonDocument::fromJson(m_rig.out.toUtf8())["ok"], QJsonValue(false));
    }

    // `tessary program --record`: the board's row goes into the record as the
    // board ends, beside the log and with its columns; the URL given two ways,
    // or none for the record of the settings. A record the run cannot use
    // (NEWER: of a newer schema) stops it before any port is opened; one it
    // cannot reach (SILENT: a server that never answers) costs the run at most
    // five seconds and lets the boards be programmed, their rows in the log
    // and the spool, said at the start and once at the end, and the run exits
    // 1; it hands out no serial numbers either.
    void programRecordsTheBoard_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("given"); // URL stands for the record's
        for (const QString &backend : {Sqlite, Postgres})
            for (const char *given : {"--record --quiet", "--record=URL", "--record URL", "--record=NEWER"}) // alone, an option after it
                QTest::newRow(qPrintable(backend + ", " + given)) << backend << QString::fromLatin1(given);
        QTest::newRow("sqlite, every board, --record=NEWER") << Sqlite << "--record=NEWER --all-boards --port /dev/ttyS0";
        QTest::newRow("postgresql, --record=SILENT") << Postgres << "--record=SILENT";
    }
    void programRecordsTheBoard()
    {
        FETCH_BACKEND();
        QFETCH(QString, given);
        QString url = freshRecord(backend);
        const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const auto closeSilent = qScopeGuard([silent] { ::close(silent); });
        if (given.contains("NEWER")) {
            QVERIFY(recordRun(url, {}).complete());
            sql(url, "UPDATE schema_version SET version = 7");
        } else if (given.contains("SILENT")) { // it takes the connection, which waits in its listen queue
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t length = sizeof address;
            QVERIFY(::bind(silent, reinterpret_cast<sockaddr *>(&address), length) == 0 && ::listen(silent, 8) == 0
                    && ::getsockname(silent, reinterpret_cast<sockaddr *>(&address), &length) == 0);
            url = QStringLiteral("postgresql://line7@127.0.0.1:%1/factory").arg(ntohs(address.sin_port));
        }
        QVERIFY(RecordLocation::keep(m_rig.env.memory, given.contains("URL") ? "sqlite:/nowhere/else" : url));
        const QString log = m_folder->filePath("line.csv"), spool = spoolOf(url);
        m_rig.env.simLine.clearRecords();
        const QStringList arguments = QStringList{"program", "--code", "1111000101000000", "--id", "L7-00412", "--verify",
                                                  "--station", "LINE7-A", "--log", log, "--json"}
                                    + QString(given).replace(QRegularExpression("URL|NEWER|SILENT"), url).split(u' ')
                                    + QString(given.contains("--all-boards") ? "" : "--port COM1 --speed 115200").split(u' ', Qt::SkipEmptyParts);
        QElapsedTimer timer;
        timer.start();
        const int status = tessary(arguments);
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        const QJsonObject json = QJsonDocument::fromJson(m_rig.out.toUtf8()).object();
        if (given.contains("NEWER")) {
            const QString refusal = "tessary: the record " + url
                                  + " has schema version 7, newer than this program's 1: update tessary before using it\n";
            QCOMPARE(status, 1);
            QCOMPARE(m_rig.err, refusal);
            QCOMPARE(json["ok"], QJsonValue(false));
            QVERIFY(m_rig.env.simLine.opens().isEmpty());
            QVERIFY(!QFile::exists(spool));
            for (const char *question : {"list", "summary"})
                QCOMPARE(answer({"record", question, "--record", url}, 1), refusal);
            return;
        }
        const QByteArray row = "2024-05-08T12:00:00.000Z,2024-05-08T12:00:00.000Z,LINE7-A,tessary 2.3,program,COM1,/dev/ttyS0,,"
                               "115200,hw,FW 4.12,TH432 1K5 STD,L7-00412,,,1111000101000000,user,yes,ok,,12/12\n";
        QCOMPARE(test::fileBytes(log), "started,ended,station,tool,command,port,device,adapter_serial,speed,handshake,firmware,"
                                       "identity_before,identity_after,database,entry,code,mode,verified,result,reason,writes\n" + row);
        if (given.contains("SILENT")) {
            QCOMPARE(status, 1);
            QVERIFY2(m_rig.err.startsWith("tessary: cannot reach the record " + url + ": "), qPrintable(m_rig.err));
            QVERIFY2(m_rig.err.contains("; the rows wait in " + spool + "\n"), qPrintable(m_rig.err));
            QVERIFY2(m_rig.err.endsWith("\ntessary: 1 row not recorded yet, kept in " + spool + "\n"), qPrintable(m_rig.err));
            QCOMPARE(m_rig.err.count("not recorded yet"), 1);
            QCOMPARE(QStringList({json["result"].toString(), json["recorded"].toVariant().toString()}), QStringList({"ok", "false"}));
            const QByteArray spooled = test::fileBytes(spool);
            QCOMPARE(spooled.count('\n'), 3); // the run begun, its board, the run ended
            QVERIFY(spooled.contains("\"identity_after\":\"L7-00412\""));
            QCOMPARE(m_rig.expect(ProgramOnCom1 + QStringList{"--id", "L7-{n}", "--serial-from-record", "L7", "--serial-start", "1", "--record=" + url},
                                  1, "no serial numbers: cannot reach the record " + url + ": "), "");
            return;
        }
        QCOMPARE(status, 0);
        QVERIFY2(json["recorded"] == QJsonValue(true), qPrintable(m_rig.out + m_rig.err));
        QVERIFY2(!m_rig.err.contains("record"), qPrintable(m_rig.err));
        QCOMPARE(answer({"record", "list", "--csv", "--record", url}).toUtf8(), test::fileBytes(log));
        // The options as given: none of their words needs quoting or masking.
        QCOMPARE(sql(url, "SELECT command || ' | ' || options || ' | ' || station FROM runs WHERE ended IS NOT NULL").toString(),
                 "program | " + arguments.join(u' ') + " | LINE7-A");
    }

    // The record refuses one step of taking serial numbers (the run's row, the counter made or moved on, a
    // number's row): no number is taken, no board written, and the next run begins where this one would have.
    void serialNumbersAreTakenWholeOrNotAtAll_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("refused");
        for (const QString &backend : {Sqlite, Postgres})
            for (const char *refused : {"INSERT ON runs", "INSERT ON counters", "UPDATE ON counters", "INSERT ON serials", "COMMIT OF serials"})
                if (backend == Postgres || refused[0] != 'C') // SQLite checks nothing at the commit
                    QTest::newRow(qPrintable(backend + ": " + refused)) << backend << refused;
    }
    void serialNumbersAreTakenWholeOrNotAtAll()
    {
        FETCH_BACKEND();
        QFETCH(QString, refused);
        const QString url = freshRecord(backend);
        QVERIFY(recordRun(url, {}).complete());
        if (backend == Sqlite) {
            sql(url, "CREATE TRIGGER refuse BEFORE " + refused + " BEGIN SELECT RAISE(ABORT, 'not today'); END");
        } else {
            sql(url, "CREATE OR REPLACE FUNCTION refuse() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION 'not today'; END $$ LANGUAGE plpgsql");
            // At the commit: a deferred check of the numbers taken, as a shared record may have.
            sql(url, (refused.startsWith("COMMIT") ? "CREATE CONSTRAINT TRIGGER refuse AFTER INSERT ON serials DEFERRABLE INITIALLY DEFERRED" : "CREATE TRIGGER refuse BEFORE " + refused) + " FOR EACH ROW EXECUTE FUNCTION refuse()");
        }
        const QStringList program = ProgramOnCom1 + QStringList{"--id", "L7-{n:04}", "--serial-from-record", "L7", "--serial-start", "1", "--record=" + url};
        m_rig.env.simLine.clearRecords();
        QCOMPARE(m_rig.expect(program, 1, "not today"), "");
        QVERIFY2(!m_rig.env.simLine.writtenBytes().contains("\x1dSF"), qPrintable(m_rig.err));
        QCOMPARE(sql(url, "SELECT count(*) FROM serials").toInt() + sql(url, "SELECT count(*) FROM counters").toInt(), 0);
        sql(url, backend == Sqlite ? "DROP TRIGGER refuse" : "DROP TRIGGER refuse ON " + refused.section(' ', 2));
        QCOMPARE(tessary(program), 0);
        QVERIFY2(m_rig.out.contains("Identity after: L7-0001          FW 4.12\n"), qPrintable(m_rig.out));
        QCOMPARE(sql(url, "SELECT next FROM counters WHERE name = 'L7'").toInt(), 2);
    }

    // The record goes away in the middle of a run (the server stopped, the
    // file made read-only): the rest of the run waits in the spool, goes in
    // on the next run, and goes in once even when sent again.
    void rowsWaitInTheSpoolAndGoInOnce_data() { backends(); }
    void rowsWaitInTheSpoolAndGoInOnce()
    {
        FETCH_BACKEND();
        const QString url = backend == Sqlite ? freshRecord(backend) : ownServer("start");
        const auto reachable = [&](bool yes) {
            if (backend == Sqlite)
                QFile::setPermissions(location(url).path, yes ? QFile::ReadOwner | QFile::WriteOwner : QFile::ReadOwner);
            else
                ownServer(yes ? "start" : "stop");
        };
        const auto cleanup = qScopeGuard([&] {
            closeConnections("stopped-"); // the test's own connections to its own server
            if (backend == Postgres)
                ownServer("stop");
        });
        QList<BoardRow> rows = fixture();
        rows[2].verified = true; // a row of the spool keeps what the board's verification said
        QString error;
        auto run = RecordRun::begin(location(url), start(), &error);
        QVERIFY2(run && run->online(), qPrintable(error));
        for (const BoardRow &row : rows.first(2))
            QVERIFY(run->record(row, &error));
        reachable(false);
        QElapsedTimer timer;
        timer.start();
        for (const BoardRow &row : rows.sliced(2, 2))
            QVERIFY2(run->record(row, &error), qPrintable(error));
        QCOMPARE(run->online(), backend == Sqlite); // a server gone takes the run off; a read-only file refuses each row
        const RecordRun::End end = run->end(utc("2024-05-07T11:00:00.000Z"));
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(end.recorded, 2);
        QCOMPARE(end.message, "2 rows not recorded yet, kept in " + spoolOf(url));
        const QByteArray spooled = test::fileBytes(spoolOf(url));
        QCOMPARE(spooled.count('\n'), 3); // two boards and the run's end
        QVERIFY2(spooled.contains(backend == Sqlite ? "is read-only" : "lost the record"), spooled.constData());
        // A disk that fills up half-way through the next row gets the part written back: the spool stays whole.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{}, saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0 && (limit = saved, limit.rlim_cur = rlim_t(spooled.size() + 40), true));
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        const int full = tessary(ProgramOnCom1 + QStringList{"--record=" + url});
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &saved) == 0);
        QVERIFY2(full == 1 && m_rig.err.contains("cannot write the spool " + spoolOf(url) + ": File too large\n"), qPrintable(m_rig.err));
        QCOMPARE(test::fileBytes(spoolOf(url)), spooled);

        // Still away: the next run spools too, and sends nothing.
        QCOMPARE(m_rig.expect({"record", "flush", "--record", url, "--json"}, 1, "2 rows not recorded yet, kept in " + spoolOf(url)), "");
        const QJsonObject told = QJsonDocument::fromJson(m_rig.out.toUtf8()).object();
        QCOMPARE(QString("%1 %2 %3").arg(told["ok"].toBool()).arg(told["sent"].toInt(-1)).arg(told["waiting"].toInt(-1)), "0 0 2");

        reachable(true);
        QCOMPARE(tessary(ProgramOnCom1 + QStringList{"--record=" + url}), 0);
        QCOMPARE(m_rig.err.section(u'\n', 0, 0), "tessary: sent 2 rows kept in the spool to " + url);
        QVERIFY(!QFile::exists(spoolOf(url)));
        const QString counted = "SELECT count(*) || ' ' || count(DISTINCT started) || ' ' || (SELECT count(ended) FROM runs) "
                                "|| ' ' || (SELECT count(*) FROM boards WHERE verified = 'yes') FROM boards";
        QCOMPARE(sql(url, counted).toString(), "5 5 2 1"); // boards, each once, both runs ended, one verified

        // A send cut short after the record took the rows sends them again: taken once.
        QVERIFY(test::writeFile(spoolOf(url), spooled));
        QCOMPARE(answer({"record", "flush", "--record", url}), "Sent 2 rows to " + url + "; nothing waits.\n");
        QCOMPARE(sql(url, counted).toString().section(u' ', 0, 1), "5 5"); // taken once
        QCOMPARE(answer({"record", "flush", "--record", url}), "Nothing waits for " + url + ".\n");
    }

    void aRowTheRecordRefusesWaitsAlone_data() { backends(); }
    void aRowTheRecordRefusesWaitsAlone()
    {
        FETCH_BACKEND();
        const QString url = freshRecord(backend);
        QVERIFY(recordRun(url, {}).complete()); // the tables
        const QString refusal = backend == Sqlite ? "CREATE TRIGGER refuse BEFORE INSERT ON boards WHEN "
                                                    "NEW.identity_after = 'REFUSED' BEGIN SELECT RAISE(ABORT, "
                                                    "'identity not allowed here'); END"
                                                  : "ALTER TABLE boards ADD CONSTRAINT identity_not_allowed_here "
                                                    "CHECK (identity_after <> 'REFUSED')";
        sql(url, refusal);
        QList<BoardRow> rows = fixture().mid(0, 3);
        rows[1].identityAfter = "REFUSED";
        rows[1].device = "/dev/ttyUSB1";
        const RecordRun::End end = recordRun(url, rows);
        QCOMPARE(end.recorded, 2); // the row after it went in: the record was not given up
        QCOMPARE(end.message, "1 row not recorded yet, kept in " + spoolOf(url));
        // A line cut short (a power cut) stays in the spool, never sent, in no row's way.
        const QByteArray refused = test::fileBytes(spoolOf(url)), cut = "{\"type\":\"board\",\"ke\n";
        QVERIFY(test::writeFile(spoolOf(url), cut, QIODevice::Append));

        QCOMPARE(tessary({"record", "flush", "--record", url}), 1);
        QVERIFY2(m_rig.err.startsWith("tessary: sent 0 rows to " + url + "; 1 row not recorded yet, kept in "
                                  + spoolOf(url) + ": the record " + url
                                  + " refused the row of /dev/ttyUSB1: "),
                 qPrintable(m_rig.err));
        QVERIFY2(m_rig.err.contains("identity_not_allowed_here") || m_rig.err.contains("identity not allowed here"), qPrintable(m_rig.err));

        sql(url, backend == Sqlite ? "DROP TRIGGER refuse" : "ALTER TABLE boards DROP CONSTRAINT identity_not_allowed_here");
        QCOMPARE(tessary(ProgramOnCom1 + QStringList{"--station", "S4", "--record=" + url}), 0);
        QCOMPARE(m_rig.err.section(u'\n', 0, 0), "tessary: sent 1 row kept in the spool to " + url);
        QCOMPARE(test::fileBytes(spoolOf(url)), cut); // rewritten with what stays
        // Sent again (a send cut short before the spool was rewritten): taken once.
        QVERIFY(test::writeFile(spoolOf(url), refused));
        QCOMPARE(answer({"record", "flush", "--record", url}), "Sent 1 row to " + url + "; nothing waits.\n");
        QCOMPARE(listed({"record", "list", "--record", url}), "S1:L7-0001 S1:REFUSED S2:L7-0003 S4:TH432 1K5 STD");
        // Board lines that are whole JSON but not a whole row (the row just sent, one field spoiled in each)
        // stay, unsent.
        QByteArray spoiled;
        for (const auto &[field, value] : {std::pair("key", ""), {"writes", "17"}, {"result", "fine"}, {"started", "yesterday"}}) {
            QJsonObject line = QJsonDocument::fromJson(refused).object(), row = line["row"].toObject();
            (field == QLatin1String("key") ? line : row)[field] = value;
            line["row"] = row;
            spoiled += QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
        }
        QVERIFY(test::writeFile(spoolOf(url), spoiled));
        QCOMPARE(answer({"record", "flush", "--record", url}, 1), "tessary: sent 0 rows to " + url + "; 4 rows not recorded yet, kept in "
                                                                      + spoolOf(url) + ": a line of the spool is not a whole row\n");
        QCOMPARE(test::fileBytes(spoolOf(url)), spoiled);
    }

    // Four stations at once, each running `tessary program --all-boards` three
    // times over on as many boards as its number (each simulated on its own
    // virtual clock): every board numbered from one counter of the record, none
    // twice, none skipped, and recorded once. Both records at once.
    void stationsNumberAndRecordEveryBoardOnce()
    {
        QStringList urls;
        for (const QString &backend : {Sqlite, Postgres})
            if (unavailable(backend).isEmpty())
                urls << freshRecord(backend);
        std::vector<std::unique_ptr<QProcess>> stations;
        for (const QString &url : std::as_const(urls)) {
            QString error;
            const auto run = RecordRun::begin(location(url), start(), &error);
            QVERIFY(run);
            if (url.startsWith(Postgres)) // the server is told which program is connected
                QCOMPARE(sql(url, "SELECT string_agg(DISTINCT application_name, ' ') FROM pg_stat_activity WHERE datname = "
                                  "current_database() AND backend_type = 'client backend' AND pid <> pg_backend_pid()").toString(),
                         "tessary");
            // A counter the record lacks hands out nothing, and says so.
            QCOMPARE(answer(ProgramOnCom1 + QStringList{"--id", "L7-{n}", "--serial-from-record", "L7", "--station", "LINE7-A", "--record=" + url}, 1),
                     "TH432 1K5 STD found on COM 1 at 115200 bauds\ntessary: the record " + url + " has no counter \"L7\"; a start value creates it\n");
            for (int station = 1; station <= 4; ++station) {
                QStringList arguments = {"program", "--all-boards", "--code", "1111000101000000", "--id", "L7-{n:03}",
                                         "--serial-from-record", "L7", "--serial-start", "7", "--yes",
                                         "--station", QStringLiteral("S%1").arg(station), "--record=" + url};
                for (int board = 0; board < station; ++board)
                    arguments << "--port" << QStringLiteral("/dev/ttyUSB%1").arg(board);
                qputenv("TST_RECORD_STATION", arguments.join(u'\n').toUtf8());
                stations.emplace_back(std::make_unique<QProcess>())->start(QCoreApplication::applicationFilePath(), {});
            }
        }
        qunsetenv("TST_RECORD_STATION");
        for (const auto &process : stations) {
            QVERIFY(process->waitForFinished(30'000));
            QVERIFY2(process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0,
                     process->readAllStandardError().constData());
        }
        for (const QString &url : std::as_const(urls)) {
            // 30 boards, each its own number (from 7) and row; three runs a station, ended; nothing waits.
            QCOMPARE(sql(url, "SELECT count(*) || ' ' || count(DISTINCT identity_after) || ' ' || min(identity_after) || "
                              "' ' || max(identity_after) || ' ' || min(result) || ' ' || max(result) FROM boards "
                              "WHERE station LIKE 'S_'").toString(),
                     "30 30 L7-007 L7-036 ok ok");
            QCOMPARE(sql(url, "SELECT count(*) || ' ' || count(DISTINCT station) || ' ' || count(ended) FROM runs WHERE "
                              "station LIKE 'S_'").toString(), "12 4 12");
            // The counter's next number; each number once, naming the station of the run that took it.
            QCOMPARE(sql(url, "SELECT max(c.next) || ' ' || count(DISTINCT s.number) || ' ' || count(DISTINCT s.station) FROM "
                              "counters c, serials s JOIN runs r ON r.id = s.run WHERE s.station = r.station AND "
                              "s.device LIKE '/dev/ttyUSB%'").toString(),
                     "37 30 4");
            QVERIFY(!QFile::exists(spoolOf(url)));
        }
        if (const QString why = unavailable(Postgres); !why.isEmpty())
            QSKIP(qPrintable(why)); // after the SQLite record's case
    }
};

int main(int argc, char *argv[])
{
    // Berlin in summer: two hours from UTC, so a day in UTC is not the station's day.
    qputenv("TZ", "Europe/Berlin");
    tzset();
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("TST_RECORD_STATION"))
        return stationChild();
    TestRecord test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_record.moc"
