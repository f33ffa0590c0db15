// The record's questions on a large record: `tessary record list --identity`
// on 1,000,000 boards, against SQLite and PostgreSQL (the server of
// scripts/with-postgres.sh, which scripts/bench.sh starts), in process and
// as a program. The goal: within 50 ms.
#include "recordbench.h"

#include "cliapp.h"
#include "clienvironment.h"
#include "record/recorddatabase.h"
#include "record/recordlocation.h"
#include "record/recordrun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace tessary::bench {

namespace {

constexpr int Boards = 1'000'000;
constexpr double GoalMs = 50;
const QString Asked = QStringLiteral("L7-0500000"); // programmed once, then found again by its identity

// The boards, made by the database itself: every 30 s from 2024-01-01 over
// eight stations, one in fifty an echo error, the board of row i named
// L7-i (zero-padded to 7 digits).
QString fillSql(bool postgres, qint64 run)
{
    const QString columns = QStringLiteral(
        "key, run, started, ended, station, tool, command, port, device, adapter_serial, speed, handshake, firmware, "
        "identity_before, identity_after, \"database\", entry, code, mode, verified, result, reason, writes, "
        "planned_writes");
    const QString rest = QStringLiteral(
        "'S' || (i % 8), 'tessary 2.3', 'program', 'COM' || (1 + i % 6), '/dev/ttyUSB' || (i % 8), '', '115200', "
        "'hw', 'FW 4.12', 'TH432 1K5 STD', %1, '', '', '1111000101000000', 'user', 'yes', "
        "CASE WHEN i % 50 = 0 THEN 'echo-error' ELSE 'ok' END, "
        "CASE WHEN i % 50 = 0 THEN 'parameter 7 was not echoed' ELSE '' END, CASE WHEN i % 50 = 0 THEN 3 ELSE 9 END, 9");
    if (postgres)
        return QStringLiteral("INSERT INTO boards (%1) SELECT 'bench-' || i, %2, "
                              "timestamptz '2024-01-01 00:00:00+00' + i * interval '30 seconds', "
                              "timestamptz '2024-01-01 00:00:06+00' + i * interval '30 seconds', %3 "
                              "FROM generate_series(1, %4) AS i")
            .arg(columns, QString::number(run), rest.arg(QStringLiteral("'L7-' || lpad(i::text, 7, '0')")),
                 QString::number(Boards));
    return QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %4) "
                          "INSERT INTO boards (%1) SELECT 'bench-' || i, %2, "
                          "strftime('%Y-%m-%dT%H:%M:%fZ', 1704067200 + i * 30, 'unixepoch'), "
                          "strftime('%Y-%m-%dT%H:%M:%fZ', 1704067206 + i * 30, 'unixepoch'), %3 FROM n")
        .arg(columns, QString::number(run), rest.arg(QStringLiteral("printf('L7-%07d', i)")),
             QString::number(Boards));
}

// A record of the million boards at the URL; empty, or why not.
QString fill(const QString &url)
{
    QString error;
    const auto location = RecordLocation::parse(url, &error);
    if (!location)
        return error;
    {
        // The tables as the program makes them, indexes included.
        auto run = RecordRun::begin(*location,
                                    {QStringLiteral("BENCH"), QStringLiteral("tessary 2.3"), QStringLiteral("program"),
                                     QStringLiteral("program --all-boards"), QDateTime::currentDateTimeUtc()},
                                    &error);
        if (!run || !run->online())
            return run ? run->offlineReason() : error;
        if (const RecordRun::End end = run->end(QDateTime::currentDateTimeUtc()); !end.complete())
            return end.message;
    }
    RecordDatabase::Opened opened = RecordDatabase::open(*location, RecordDatabase::Use::Write);
    if (!opened.database)
        return opened.error;
    QSqlDatabase db = opened.database->connection();
    const bool postgres = location->kind == RecordLocation::Kind::Postgres;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT max(id) FROM runs")) || !query.next())
        return query.lastError().text();
    const qint64 run = query.value(0).toLongLong();
    QElapsedTimer timer;
    timer.start();
    if (!query.exec(fillSql(postgres, run)))
        return query.lastError().text();
    if (!query.exec(QStringLiteral("ANALYZE")))
        return query.lastError().text();
    std::fprintf(stderr, "  %s: %d boards in %.1f s\n", qPrintable(location->shown()), Boards,
                 timer.elapsed() / 1000.0);
    return {};
}

struct Timing {
    QList<double> ms;
    QString failure;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.size() % 2 ? values[values.size() / 2]
                                                    : (values[values.size() / 2 - 1] + values[values.size() / 2]) / 2;
}

// The command in process: CliApp on the real machine, as the program runs it.
Timing inProcess(const QStringList &arguments, int runs, const QString &expected)
{
    Timing timing;
    for (int i = 0; i <= runs; ++i) { // the first run warms the caches and is not counted
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        QElapsedTimer timer;
        timer.start();
        int status = 0;
        {
            SystemEnvironment environment;
            CliApp cli(environment, outStream, errStream);
            status = cli.run(QStringList{QStringLiteral("tessary")} + arguments);
            outStream.flush();
        }
        const double ms = timer.nsecsElapsed() / 1e6;
        if (i > 0)
            timing.ms << ms;
        if ((status != 0 || !out.contains(expected)) && timing.failure.isEmpty())
            timing.failure = QStringLiteral("exit %1: %2%3").arg(status).arg(out.left(200), err.trimmed());
    }
    return timing;
}

// The command as a program, from its start to its end.
Timing asProgram(const QStringList &arguments, int runs, const QString &expected)
{
    Timing timing;
    for (int i = 0; i <= runs; ++i) {
        QProcess tessary;
        QElapsedTimer timer;
        timer.start();
        tessary.start(QStringLiteral(TESSARY_CLI_PATH), arguments);
        tessary.waitForFinished(60000);
        const double ms = timer.nsecsElapsed() / 1e6;
        if (i > 0)
            timing.ms << ms;
        const QString out = QString::fromUtf8(tessary.readAllStandardOutput());
        if ((tessary.exitCode() != 0 || !out.contains(expected)) && timing.failure.isEmpty())
            timing.failure = QStringLiteral("exit %1: %2").arg(tessary.exitCode()).arg(
                QString::fromUtf8(tessary.readAllStandardError()).trimmed());
    }
    return timing;
}

// The floor of any question to a PostgreSQL record: a connection opened and
// closed through Qt's driver, nothing asked (the server starts a process for each).
Timing connectionAlone(const QString &url, int runs)
{
    Timing timing;
    QString error;
    const auto location = RecordLocation::parse(url, &error);
    for (int i = 0; i <= runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("bench floor"));
            db.setHostName(location->host);
            db.setUserName(location->user);
            db.setDatabaseName(location->database);
            if (!db.open() && timing.failure.isEmpty())
                timing.failure = db.lastError().text();
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("bench floor"));
        if (i > 0)
            timing.ms << timer.nsecsElapsed() / 1e6;
    }
    return timing;
}

} // namespace

bool recordRows(int runs)
{
    QTemporaryDir folder;
    // The record commands keep nothing in the user's folders while measured.
    qputenv("XDG_DATA_HOME", folder.filePath(QStringLiteral("data")).toUtf8());
    QList<std::pair<QString, QString>> records = {
        {QStringLiteral("SQLite"), QStringLiteral("sqlite:") + folder.filePath(QStringLiteral("bench.sqlite"))}};
    QString skipped;
    if (const QString server = qEnvironmentVariable("TESSARY_TEST_POSTGRES"); !server.isEmpty()) {
        QString url = server;
        url.replace(QStringLiteral("/postgres"), QStringLiteral("/tessary_bench"));
        QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("bench admin"));
        const auto location = RecordLocation::parse(server, &skipped);
        admin.setHostName(location->host);
        admin.setUserName(location->user);
        admin.setDatabaseName(location->database);
        if (admin.open()) {
            QSqlQuery(admin).exec(QStringLiteral("DROP DATABASE IF EXISTS tessary_bench"));
            QSqlQuery(admin).exec(QStringLiteral("CREATE DATABASE tessary_bench"));
            records.append({QStringLiteral("PostgreSQL"), url});
        } else {
            skipped = admin.lastError().text();
        }
        admin.close();
    } else {
        skipped = qEnvironmentVariable("TESSARY_TEST_POSTGRES_SKIPPED",
                                       QStringLiteral("TESSARY_TEST_POSTGRES is not set (scripts/bench.sh starts a server)"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench admin"));

    bool allOk = true;
    std::printf("tessary record list --identity %s on a record of %d boards, %d runs each after one to warm up "
                "(goal: within %.0f ms)\n\n",
                qPrintable(Asked), Boards, runs, GoalMs);
    std::printf("| Record | How | Median ms | Worst ms | Within %.0f ms |\n|---|---|---:|---:|---|\n", GoalMs);
    for (const auto &[name, url] : std::as_const(records)) {
        if (const QString error = fill(url); !error.isEmpty()) {
            std::printf("| %s | filling it failed: %s | | | |\n", qPrintable(name), qPrintable(error));
            allOk = false;
            continue;
        }
        const QStringList arguments = {QStringLiteral("record"), QStringLiteral("list"), QStringLiteral("--record"),
                                       url, QStringLiteral("--identity"), Asked};
        QList<std::pair<const char *, Timing>> rows = {{"in process", inProcess(arguments, runs, Asked)},
                                                       {"the program, start to end", asProgram(arguments, runs, Asked)}};
        if (url.startsWith(QLatin1String("postgresql:")))
            rows.append({"the floor: a connection alone, nothing asked", connectionAlone(url, runs)});
        for (const auto &[how, timing] : std::as_const(rows)) {
            const double worst = *std::max_element(timing.ms.cbegin(), timing.ms.cend());
            const bool within = timing.failure.isEmpty() && worst <= GoalMs;
            std::printf("| %s | %s | %.1f | %.1f | %s |\n", qPrintable(name), how, median(timing.ms), worst,
                        timing.failure.isEmpty() ? (within ? "yes" : "NO") : qPrintable(timing.failure));
            // The program's own start (Qt, its plugins) is not the record's: only in process counts for the goal.
            if (QLatin1String(how) == QLatin1String("in process"))
                allOk = within && allOk;
        }
    }
    if (!skipped.isEmpty())
        std::printf("| PostgreSQL | skipped: %s | | | |\n", qPrintable(skipped));
    std::printf("\n");
    return allOk;
}

} // namespace tessary::bench
