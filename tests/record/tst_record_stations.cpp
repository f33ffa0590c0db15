// Four stations at once: four `tessary program --all-boards` processes, each
// with four simulated boards on pseudo-terminals, all numbering their boards
// from one counter of the record and recording into it, an SQLite file and a PostgreSQL database (scripts/with-postgres.sh
// starts the server; without it that row says it was skipped and why).
#include "boardsim/ptyboardthread.h"
#include "record/recordlocation.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

using namespace tessary;
using namespace tessary::sim;

class TestRecordStations : public QObject {
    Q_OBJECT

private:
    static QString tessary() { return qEnvironmentVariable("TESSARY_BIN_DIR") + QStringLiteral("/cli/tessary"); }

    // A database of this test's own on the suite's server, empty.
    static QString freshDatabase(QString *skipped)
    {
        const QString server = qEnvironmentVariable("TESSARY_TEST_POSTGRES");
        if (server.isEmpty()) {
            *skipped = QStringLiteral("PostgreSQL case skipped: ")
                     + qEnvironmentVariable("TESSARY_TEST_POSTGRES_SKIPPED",
                                            QStringLiteral("TESSARY_TEST_POSTGRES is not set: run the suite with "
                                                           "scripts/test.sh, which starts a server"));
            return {};
        }
        const QString name = QStringLiteral("tst_record_stations_%1").arg(QCoreApplication::applicationPid());
        QString error;
        const auto where = RecordLocation::parse(server, &error);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
            db.setDatabaseName(where->database);
            db.setHostName(where->host);
            db.setUserName(where->user);
            if (!db.open())
                qFatal("cannot open %s: %s", qPrintable(server), qPrintable(db.lastError().text()));
            QSqlQuery query(db);
            for (const QString &sql : {"DROP DATABASE IF EXISTS " + name, "CREATE DATABASE " + name})
                if (!query.exec(sql))
                    qFatal("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("admin"));
        return QString(server).replace(QStringLiteral("/postgres"), u'/' + name);
    }

    // The boards' rows as the record lists them, checked: "" when each board is
    // there once with its own number, L7-001 to L7-016 without a gap, one run
    // per station, else what is wrong.
    static QString checked(const QString &url, const QSet<QString> &devices)
    {
        QProcess list;
        list.start(tessary(), {"record", "list", "--json", "--record", url});
        if (!list.waitForFinished(10'000) || list.exitCode() != 0)
            return "record list failed: " + list.readAllStandardError();
        const QJsonArray rows = QJsonDocument::fromJson(list.readAllStandardOutput())[QStringLiteral("boards")].toArray();
        QSet<QString> listed, identities, expected;
        for (int n = 1; n <= 16; ++n)
            expected << QStringLiteral("L7-%1").arg(n, 3, 10, QChar(u'0'));
        QMap<QString, QSet<qint64>> runsOfStation;
        for (const QJsonValue &row : rows) {
            if (row["result"].toString() != "ok")
                return "a board not programmed: " + QJsonDocument(row.toObject()).toJson();
            listed << row["device"].toString();
            identities << row["identity_after"].toString();
            runsOfStation[row["station"].toString()] << row["run"].toInteger();
        }
        QSet<qint64> runs;
        for (const QSet<qint64> &ofStation : std::as_const(runsOfStation))
            runs += ofStation;
        if (rows.size() != 16 || listed != devices || runsOfStation.keys() != QStringList({"S1", "S2", "S3", "S4"})
            || runs.size() != 4 || identities != expected)
            return QStringLiteral("%1 rows of %2 boards, stations %3, %4 runs, identities %5")
                .arg(rows.size())
                .arg(listed.size())
                .arg(runsOfStation.keys().join(u' '))
                .arg(runs.size())
                .arg(QStringList(identities.cbegin(), identities.cend()).join(u' '));
        QString error;
        const QString spool = recordDataFolder() + QStringLiteral("/spool/") + RecordLocation::parse(url, &error)->spoolName();
        return QFile::exists(spool) ? "rows wait in " + spool : QString();
    }

private slots:
    // Both records at once, so the case costs the time of one.
    void fourStationsRecordEveryBoardOnce()
    {
        QTemporaryDir dir;
        QString skipped;
        QStringList urls = {QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("line7.sqlite")), freshDatabase(&skipped)};
        if (urls.last().isEmpty())
            urls.removeLast();
        std::vector<std::unique_ptr<PtyBoardThread>> boards;
        std::vector<std::unique_ptr<QProcess>> stations;
        QMap<QString, QSet<QString>> devices; // of each record
        for (const QString &url : std::as_const(urls))
            for (int station = 1; station <= 4; ++station) {
                QStringList arguments = {"program", "--all-boards", "--code", "1111000101000000", "--id", "L7-{n:03}",
                                         "--serial-from-record", "L7", "--serial-start", "1", "--yes", "--json", "--station", QStringLiteral("S%1").arg(station),
                                         "--record=" + url};
                for (int board = 0; board < 4; ++board) {
                    const auto &made = boards.emplace_back(std::make_unique<PtyBoardThread>());
                    QVERIFY(made->isRunning());
                    arguments << "--port" << made->path();
                    devices[url] << made->path();
                }
                auto &process = stations.emplace_back(std::make_unique<QProcess>());
                process->start(tessary(), arguments);
            }
        for (const auto &process : stations) {
            QVERIFY(process->waitForFinished(30'000));
            QVERIFY2(process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0,
                     process->readAllStandardError().constData());
            // Each board's object says its row is in the record.
            const QJsonArray objects = QJsonDocument::fromJson(process->readAllStandardOutput()).array();
            QCOMPARE(objects.size(), 4);
            for (const QJsonValue &object : objects)
                QCOMPARE(object["recorded"], QJsonValue(true));
        }
        for (const QString &url : std::as_const(urls)) {
            const QString wrong = checked(url, devices.value(url));
            QVERIFY2(wrong.isEmpty(), qPrintable(url + ": " + wrong));
        }
        if (!skipped.isEmpty())
            QSKIP(qPrintable(skipped)); // after the SQLite record's case
    }
};

QTEST_GUILESS_MAIN(TestRecordStations)

#include "tst_record_stations.moc"
