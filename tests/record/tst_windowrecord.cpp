// The desktop program records its printer commands when the settings name a
// record: "Configure printer" and "Check configuration" each a run of its own
// with the row tessary writes, here in a real SQLite file, the window driven
// over the simulated board. The window never waits for the record; a row it
// cannot take is said on the status line and waits in the station's spool.
#include "record/recorddatabase.h"
#include "record/recordlocation.h"
#include "record/recordspool.h"
#include "record/windowrecord.h"
#include "windowrig.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace tessary;
using namespace tessary::test;

namespace {

// Every row of the record, as the CSV log would have them, and how many runs ended.
QStringList recordedRows(const RecordLocation &location)
{
    QString error;
    RecordDatabase::Opened opened = RecordDatabase::open(location, RecordDatabase::Use::Read);
    QStringList rows;
    if (!opened.database)
        return {opened.error};
    const bool asked = opened.database->boards({}, RecordDatabase::Order::OldestFirst, [&](const RecordedBoard &board) {
        rows << board.row.fields().join(u',');
        return true;
    }, &error);
    QSqlQuery runs(opened.database->connection());
    if (!asked || !runs.exec("SELECT count(*) FROM runs WHERE ended IS NOT NULL") || !runs.next())
        return {error + runs.lastError().text()};
    return rows << QStringLiteral("%1 runs ended").arg(runs.value(0).toInt());
}

} // namespace

class TestWindowRecord : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_url = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("line7.sqlite"));
    QSettings m_settings{m_dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat};
    RecordLocation m_where = *RecordLocation::parse(m_url, nullptr);

    // The rig with the recorder the program wires, its clock fixed; a board on COM1, found.
    struct Recording {
        explicit Recording(QSettings *settings) : record(settings)
        {
            rig.services.recorder = &record;
            record.setStatusLine(rig.window.get());
            record.setNow([] { return QDateTime(QDate(2026, 3, 2), QTime(13, 5), Qt::UTC); });
            rig.found(1, {.identity = "OLD NAME"});
            rig.window->editor().applyConfigurationCode(QStringLiteral("1111000101000000"));
            rig.click("ConfUser IdUser");
            rig.type("ConfigName", QStringLiteral("L7-00412"));
        }
        WindowRig rig;
        WindowRecord record;
    };

private slots:
    void init()
    {
        QFile::remove(m_where.path);
        QFile::remove(recordDataFolder() + QStringLiteral("/spool/") + m_where.spoolName());
        QVERIFY(RecordLocation::keep(m_settings, m_url));
    }

    // Each command a run of its own, its row as tessary's for the same board:
    // the programming with what it wrote, then the check with what the board holds.
    void windowCommandsRecordTheirBoards()
    {
        Recording recording(&m_settings);
        recording.rig.click("ConfigPrinter GetSettings");
        recording.record.waitForDone();
        const QString head = "2026-03-02T13:05:00.000Z,2026-03-02T13:05:00.000Z," + QSysInfo::machineHostName()
                           + ",tessary-configurator 2.3,";
        QCOMPARE(recordedRows(m_where),
                 QStringList({head + "program,COM1,,,115200,hw,,,L7-00412,,,1111000101000000,user,,ok,,12/12",
                              head + "read,COM1,,,115200,hw,FW 4.12,L7-00412,,,,1111000101000000,user,,found,,0/0", "2 runs ended"}));
        QVERIFY2(!recording.rig.status().contains("record"), qPrintable(recording.rig.status()));
    }

    // The board is written all the same; its row waits in the spool, and the
    // status line says why. Without a record in the settings, or without a
    // settings file, the window records nothing, and makes no file.
    void aRowTheRecordCannotTakeIsSaid_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("status"); // SPOOL: the spool's path; URL: the record's
        QTest::newRow("a read-only file") << "read-only" << "1 row not recorded yet, kept in SPOOL";
        QTest::newRow("a folder in its place") << "folder" << "1 row not recorded yet, kept in SPOOL (the record URL is not a file)";
        QTest::newRow("a newer schema")
            << "newer" << "the record URL has schema version 7, newer than this program's 1: update tessary before "
                          "using it; the board's row is kept in SPOOL";
        QTest::newRow("an address that is none") // put there by hand: nothing to keep the row for
            << "ftp://host/x" << "The board's row is not recorded: the record in the settings (record/url) is not usable: \"ftp://host/x\" is not "
                                 "a record: give sqlite:PATH, postgresql://[user[:password]@]host[:port]/dbname or a PostgreSQL service name";
        for (const char *none : {"no record set", "no settings file"})
            QTest::newRow(none) << none << "Configuration programmed on COM1 at 115200 bauds: 12 parameters, each echoed by the board";
    }
    void aRowTheRecordCannotTakeIsSaid()
    {
        QFETCH(QString, record);
        QFETCH(QString, status);
        const bool set = !record.startsWith(u"no ");
        if (!set || record.startsWith(u"ftp:")) {
            QVERIFY(RecordLocation::keep(m_settings, set ? record : QString()));
        } else if (record == u"folder") {
            QVERIFY(QDir().mkpath(m_where.path));
        } else {
            RecordDatabase::Opened made = RecordDatabase::open(m_where, RecordDatabase::Use::Write);
            QVERIFY(made.database);
            if (record == u"newer")
                QVERIFY(QSqlQuery(made.database->connection()).exec("UPDATE schema_version SET version = 7"));
        }
        if (record == u"read-only")
            QFile::setPermissions(m_where.path, QFile::ReadOwner);
        Recording recording(record == u"no settings file" ? nullptr : &m_settings);
        QCOMPARE(recording.record.recording(), set);
        recording.rig.click("ConfigPrinter");
        QCOMPARE(recording.rig.status(), "Configuration programmed on COM1 at 115200 bauds: 12 parameters, each echoed by the board");
        recording.record.waitForDone();
        QFile::setPermissions(m_where.path, QFile::ReadOwner | QFile::WriteOwner);
        QDir().rmdir(m_where.path);
        QCOMPARE(recording.rig.status(), status.replace("SPOOL", RecordSpool(m_where).path()).replace("URL", m_where.shown()));
        QCOMPARE(RecordSpool(m_where).held().boards, status.contains("kept in") ? 1 : 0);
        if (!set)
            QVERIFY(!QFile::exists(m_where.path) && !QFile::exists(RecordLocation::builtIn().path));
    }
};

QTEST_MAIN(TestWindowRecord)

#include "tst_windowrecord.moc"
