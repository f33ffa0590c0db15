#include "database/databasefiles.h"
#include "database/mechanismdatabase.h"
#include "scriptedprompts.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace tessary;
using tessary::test::ScriptedFileChooser;
using tessary::test::ScriptedPrompts;

namespace {

const QString M01 = QStringLiteral("1111000101000000");

// Passes the first `limit` bytes to the file, then fails like a full disk.
class FullDiskDevice : public QIODevice {
public:
    FullDiskDevice(QIODevice &target, qint64 limit) : m_target(target), m_limit(limit)
    {
        open(QIODevice::WriteOnly);
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        const qint64 room = qMax<qint64>(0, m_limit - m_written);
        m_written += m_target.write(data, qMin(size, room));
        if (size <= room)
            return size;
        setErrorString(QStringLiteral("No space left on device"));
        return -1;
    }

private:
    QIODevice &m_target;
    qint64 m_limit;
    qint64 m_written = 0;
};

QByteArray record(const char *name, const QString &code)
{
    return QByteArray(name).leftJustified(16, ' ') + code.toLatin1() + "\r\n";
}

QByteArray fileOf(int count)
{
    QByteArray bytes = QByteArray("ZELPRINTERSCDB0") + char(count) + "\r\n";
    for (int i = 0; i < count; ++i)
        bytes += record(QStringLiteral("File %1").arg(i).toLatin1().constData(), M01);
    return bytes;
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void put(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

void makeReadOnly(const QString &path)
{
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
}

} // namespace

class TestDatabaseFiles : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void validDefaultFileIsLoadedUnderItsBareName();
    void unusableDefaultFileGivesTheFactoryList_data();
    void unusableDefaultFileGivesTheFactoryList();
    void repeatedLoadDoesNotDoubleTheFactoryList();
    void dialogsCarryTheirSettings();

    void newDatabaseWritesNineteenBytes();
    void cancellingNewOrOpen_data();
    void cancellingNewOrOpen();
    void writingOntoReadOnlyFileIsRefused_data();
    void writingOntoReadOnlyFileIsRefused();

    void openReplacesRows_data();
    void openReplacesRows();
    void openRefusesUnusableFiles_data();
    void openRefusesUnusableFiles();

    void saveWithoutNameIsRefused();
    void saveWritesExactlyTheEntries();
    void saveAsCancelSaysSo();
    void saveAsReplacesWritableFileAndTakesItsName();
    void moreThan255EntriesAreNeverSaved();

    void failedSaveKeepsOldFileNameAndModified_data();
    void failedSaveKeepsOldFileNameAndModified();
    void folderWithoutWritePermissionFailsCleanly();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    void fill(int count);
    void own(int count, const QString &fileName, bool modified = true);
    void run(int command);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldCurrent;
    PlainStatusLine m_status;
    std::unique_ptr<MechanismDatabase> m_db;
    ScriptedPrompts m_prompts;
    ScriptedFileChooser m_chooser;
    std::unique_ptr<DatabaseFiles> m_files;
};

void TestDatabaseFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_oldCurrent = QDir::currentPath();
    QDir::setCurrent(m_dir->path());
    m_status.showStatus(QStringLiteral("untouched"));
    m_db = std::make_unique<MechanismDatabase>(&m_status);
    m_prompts = ScriptedPrompts();
    m_chooser = ScriptedFileChooser();
    m_files = std::make_unique<DatabaseFiles>(*m_db, m_prompts, m_chooser, m_status);
}

void TestDatabaseFiles::cleanup()
{
    QDir::setCurrent(m_oldCurrent);
    m_files.reset();
    m_db.reset();
    m_dir.reset();
}

void TestDatabaseFiles::fill(int count)
{
    for (int i = 0; i < count; ++i)
        m_db->append(QStringLiteral("Mem %1").arg(i), QStringLiteral("110010010100000") + QChar('0' + i % 2));
}

// `count` rows held under `fileName`.
void TestDatabaseFiles::own(int count, const QString &fileName, bool modified)
{
    fill(count);
    m_db->setFileName(fileName);
    m_db->setModified(modified);
}

void TestDatabaseFiles::run(int command)
{
    switch (command) {
    case 0: m_files->newDatabase(); break;
    case 1: m_files->saveDatabase(); break;
    default: m_files->saveDatabaseAs(); break;
    }
}

void TestDatabaseFiles::validDefaultFileIsLoadedUnderItsBareName()
{
    put(path("default.cdb"), fileOf(2));
    m_files->loadDefaultDatabase();
    QCOMPARE(m_db->count(), 2);
    QCOMPARE(m_db->name(1), QString("File 1"));
    QCOMPARE(m_db->fileName(), QString("default.cdb"));
    QVERIFY(!m_db->isModified());
    QCOMPARE(m_db->selectedIndex(), -1);
    QCOMPARE(m_status.statusText(), QString("Default database file loaded"));
    QVERIFY(m_prompts.shown.isEmpty());
}

void TestDatabaseFiles::unusableDefaultFileGivesTheFactoryList_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("missing") << false << QByteArray();
    QTest::newRow("empty") << true << QByteArray();
    QTest::newRow("14 bytes") << true << QByteArray("ZELPRINTERSCDB");
    QTest::newRow("lower-case magic") << true << QByteArray("zelprinterscdb0\x00\r\n", 18);
    QTest::newRow("truncated") << true << fileOf(3).left(18 + 34 * 2 + 5);
}

void TestDatabaseFiles::unusableDefaultFileGivesTheFactoryList()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, bytes);
    if (exists)
        put(path("default.cdb"), bytes);
    m_files->loadDefaultDatabase();
    QCOMPARE(m_db->count(), 29);
    QCOMPARE(m_db->name(0), QString("Mechanism 01"));
    QCOMPARE(m_db->name(28), QString("Mechanism 29"));
    QCOMPARE(m_db->fileName(), QString());
    QVERIFY(!m_db->isModified());
    QCOMPARE(m_db->selectedIndex(), -1);
    QCOMPARE(m_status.statusText(), QString("default.cdb file error, default list created."));
    QVERIFY(m_prompts.shown.isEmpty());
    // The file on disk is left as it was (and none is created).
    QCOMPARE(QFile::exists(path("default.cdb")), exists);
    if (exists)
        QCOMPARE(contents(path("default.cdb")), bytes);
}

void TestDatabaseFiles::repeatedLoadDoesNotDoubleTheFactoryList()
{
    m_files->loadDefaultDatabase();
    m_files->loadDefaultDatabase();
    QCOMPARE(m_db->count(), 29);
}

void TestDatabaseFiles::dialogsCarryTheirSettings()
{
    m_files->newDatabase();
    m_files->openDatabase();
    m_files->saveDatabaseAs();
    QCOMPARE(m_chooser.asked.size(), 3);
    QCOMPARE(m_chooser.askedWasSave, (QList<bool>{true, false, true}));
    const QStringList titles{"New configuration database", "Open configuration database",
                             "Save configuration database as..."};
    for (int i = 0; i < 3; ++i) {
        const FileDialogOptions &o = m_chooser.asked.at(i);
        QCOMPARE(o.title, titles.at(i));
        QCOMPARE(o.filter, QString("Configuration databases (*.cdb)|*.cdb"));
        QCOMPARE(o.defaultSuffix, QString("cdb"));
        QCOMPARE(o.confirmOverwrite, i != 1);
        QCOMPARE(o.mustExist, i == 1);
    }
}

void TestDatabaseFiles::newDatabaseWritesNineteenBytes()
{
    put(path("new.cdb"), fileOf(5)); // a longer file is replaced whole
    fill(3);
    m_chooser.paths << path("new.cdb");
    m_files->newDatabase();
    QCOMPARE(contents(path("new.cdb")), QByteArray::fromHex("5a454c5052494e54455253434442300000" "0d0a"));
    QCOMPARE(m_db->count(), 0);
    QCOMPARE(m_db->fileName(), path("new.cdb"));
    QVERIFY(!m_db->isModified());
    QCOMPARE(m_status.statusText(), QString("untouched"));
    QVERIFY(m_prompts.shown.isEmpty()); // not modified: no question

    fill(2);
    m_chooser.paths << path("new.cdb");
    m_files->openDatabase();
    QCOMPARE(m_db->count(), 0);
    QCOMPARE(m_status.statusText(), QString("Database file loaded."));
}

void TestDatabaseFiles::openReplacesRows_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("inFile");
    QTest::newRow("3 over 10") << 10 << 3;
    QTest::newRow("10 over 3") << 3 << 10;
    QTest::newRow("0 over 4") << 4 << 0;
}

void TestDatabaseFiles::openReplacesRows()
{
    QFETCH(int, before);
    QFETCH(int, inFile);
    fill(before);
    m_db->select(1);
    put(path("other.cdb"), fileOf(inFile));
    m_chooser.paths << path("other.cdb");
    m_files->openDatabase();
    QCOMPARE(m_db->count(), inFile);
    for (int i = 0; i < inFile; ++i) {
        QCOMPARE(m_db->name(i), QStringLiteral("File %1").arg(i));
        QCOMPARE(m_db->code(i), M01);
    }
    QCOMPARE(m_db->selectedIndex(), -1);
    QCOMPARE(m_db->fileName(), path("other.cdb"));
    QVERIFY(!m_db->isModified());
    QCOMPARE(m_status.statusText(), QString("Database file loaded."));
}

void TestDatabaseFiles::cancellingNewOrOpen_data()
{
    QTest::addColumn<bool>("open"); // else New
    QTest::addColumn<bool>("atGuard"); // else the file dialog is cancelled
    QTest::addColumn<int>("rowsAfter");
    QTest::newRow("new, guard") << false << true << 3;
    QTest::newRow("new, dialog: the list is already emptied") << false << false << 0;
    QTest::newRow("open, guard") << true << true << 3;
    QTest::newRow("open, dialog") << true << false << 3;
}

void TestDatabaseFiles::cancellingNewOrOpen()
{
    QFETCH(bool, open);
    QFETCH(bool, atGuard);
    QFETCH(int, rowsAfter);
    own(3, path("mine.cdb"));
    if (open)
        put(path("other.cdb"), fileOf(4));
    m_prompts.answer({!atGuard});
    if (atGuard)
        m_chooser.paths << path("other.cdb"); // never asked for
    open ? m_files->openDatabase() : m_files->newDatabase();
    QCOMPARE(m_prompts.texts(), QStringList{"Database has been modified ! Continue anyway ?"});
    QCOMPARE(m_prompts.shown.at(0).icon, MessageIcon::Warning);
    QCOMPARE(m_prompts.shown.at(0).buttons, MessageButtons::OkCancel);
    QCOMPARE(m_chooser.asked.size(), atGuard ? 0 : 1);
    QCOMPARE(m_db->count(), rowsAfter);
    QCOMPARE(m_db->fileName(), path("mine.cdb"));
    QVERIFY(m_db->isModified());
    QCOMPARE(m_status.statusText(), QString("untouched"));
    QCOMPARE(contents(path("other.cdb")), open ? fileOf(4) : QByteArray("<missing>"));
}

void TestDatabaseFiles::openRefusesUnusableFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // not written when empty name below
    QTest::addColumn<QString>("message");  // exact, or the start of the plain warning
    QTest::newRow("lower-case magic") << "lower.cdb" << QByteArray("zelprinterscdb0\x00\r\n", 18)
                                      << "This is not a valid Z.E.L configuration database !";
    QTest::newRow("empty") << "empty.cdb" << QByteArray()
                           << "This is not a valid Z.E.L configuration database !";
    QTest::newRow("truncated record") << "cut.cdb" << fileOf(3).left(18 + 34 * 2 + 10)
                                      << "Couldn't load the database file ";
    QTest::newRow("missing file") << "" << QByteArray() << "Couldn't open the database file ";
}

void TestDatabaseFiles::openRefusesUnusableFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    own(2, path("mine.cdb"), false);
    m_db->select(0);
    m_status.showStatus(QStringLiteral("untouched"));
    if (!name.isEmpty())
        put(path(name), bytes);
    m_chooser.paths << path(name.isEmpty() ? QStringLiteral("gone.cdb") : name);
    m_files->openDatabase();
    QCOMPARE(m_prompts.shown.size(), 1);
    QVERIFY2(m_prompts.shown.at(0).text.startsWith(message), qPrintable(m_prompts.shown.at(0).text));
    QCOMPARE(m_prompts.shown.at(0).icon, MessageIcon::Warning);
    QCOMPARE(m_prompts.shown.at(0).buttons, MessageButtons::Ok);
    QCOMPARE(m_db->count(), 2);
    QCOMPARE(m_db->name(0), QString("Mem 0"));
    QCOMPARE(m_db->selectedIndex(), 0);
    QCOMPARE(m_db->fileName(), path("mine.cdb"));
    QVERIFY(!m_db->isModified());
    QCOMPARE(m_status.statusText(), QString("untouched"));
}

void TestDatabaseFiles::saveWithoutNameIsRefused()
{
    fill(1);
    m_db->setModified(true);
    m_files->saveDatabase();
    QCOMPARE(m_prompts.texts(), QStringList{"Current database has no name ! Please use 'Save as' instead."});
    QCOMPARE(m_prompts.shown.at(0).icon, MessageIcon::Warning);
    QVERIFY(m_db->isModified());
    QVERIFY(QDir(m_dir->path()).isEmpty());
}

void TestDatabaseFiles::saveWritesExactlyTheEntries()
{
    // Two entries over a file that held five: the file then holds exactly two.
    put(path("mine.cdb"), fileOf(5));
    m_db->append("Alpha", M01);
    m_db->append("Beta", "1101001100100000");
    m_db->setFileName(path("mine.cdb"));
    m_db->setModified(true);
    m_files->saveDatabase();
    QCOMPARE(contents(path("mine.cdb")),
             QByteArray("ZELPRINTERSCDB0\x02\r\n"
                        "Alpha           1111000101000000\r\n"
                        "Beta            1101001100100000\r\n"));
    QVERIFY(!m_db->isModified());
    QCOMPARE(m_db->fileName(), path("mine.cdb"));
    QCOMPARE(m_status.statusText(), QString("untouched"));
    QVERIFY(m_prompts.shown.isEmpty());
}

void TestDatabaseFiles::saveAsCancelSaysSo()
{
    own(1, path("mine.cdb"));
    m_files->saveDatabaseAs();
    QCOMPARE(m_status.statusText(), QString("Save database canceled"));
    QCOMPARE(m_db->fileName(), path("mine.cdb"));
    QVERIFY(m_db->isModified());
    QVERIFY(QDir(m_dir->path()).isEmpty());
}

void TestDatabaseFiles::saveAsReplacesWritableFileAndTakesItsName()
{
    put(path("target.cdb"), fileOf(5));
    m_db->append("Mechanism 01", M01);
    m_chooser.paths << path("target.cdb");
    m_files->saveDatabaseAs();
    QCOMPARE(contents(path("target.cdb")),
             QByteArray("ZELPRINTERSCDB0\x01\r\nMechanism 01    1111000101000000\r\n"));
    QCOMPARE(m_db->fileName(), path("target.cdb"));
    QVERIFY(!m_db->isModified());
    QCOMPARE(m_status.statusText(), QString(""));
    QVERIFY(m_prompts.shown.isEmpty());

    // An empty database is the 18-byte header.
    m_db->clear();
    m_chooser.paths << path("empty.cdb");
    m_files->saveDatabaseAs();
    QCOMPARE(contents(path("empty.cdb")), QByteArray("ZELPRINTERSCDB0\x00\r\n", 18));
}

void TestDatabaseFiles::writingOntoReadOnlyFileIsRefused_data()
{
    QTest::addColumn<int>("command"); // 0 New, 1 Save, 2 Save as
    QTest::newRow("new") << 0;
    QTest::newRow("save") << 1;
    QTest::newRow("save as") << 2;
}

void TestDatabaseFiles::writingOntoReadOnlyFileIsRefused()
{
    QFETCH(int, command);
    const QString locked = path("locked.cdb");
    put(locked, fileOf(5));
    makeReadOnly(locked);
    // Not modified for New, so that no guard question comes first.
    own(2, command == 1 ? locked : path("mine.cdb"), command != 0);
    m_chooser.paths << locked;
    run(command);
    QCOMPARE(m_prompts.texts(), QStringList{"This file is Read-Only !"});
    QCOMPARE(m_prompts.shown.at(0).icon, MessageIcon::Warning);
    QCOMPARE(m_status.statusText(), QString("Couldn't write file (was read_only)."));
    QCOMPARE(contents(locked), fileOf(5));
    QCOMPARE(m_db->fileName(), command == 1 ? locked : path("mine.cdb"));
    if (command != 0)
        QVERIFY(m_db->isModified());
}

void TestDatabaseFiles::moreThan255EntriesAreNeverSaved()
{
    put(path("mine.cdb"), fileOf(1));
    own(256, path("mine.cdb"));
    m_files->saveDatabase();
    m_chooser.paths << path("other.cdb");
    m_files->saveDatabaseAs();
    QCOMPARE(m_prompts.shown.size(), 2);
    QVERIFY(m_prompts.shown.at(0).text.contains(QLatin1String("255")));
    QCOMPARE(m_prompts.shown.at(1).text, m_prompts.shown.at(0).text);
    QVERIFY(m_chooser.asked.isEmpty()); // refused before asking for a name
    QCOMPARE(contents(path("mine.cdb")), fileOf(1));
    QVERIFY(!QFile::exists(path("other.cdb")));
    QVERIFY(m_db->isModified());

    m_db->remove(255);
    m_files->saveDatabase();
    QCOMPARE(contents(path("mine.cdb")).size(), 18 + 34 * 255);
}

void TestDatabaseFiles::failedSaveKeepsOldFileNameAndModified_data()
{
    QTest::addColumn<int>("command"); // 0 New, 1 Save, 2 Save as
    QTest::addColumn<bool>("fullDisk"); // else: the folder does not exist
    QTest::newRow("new, disk full") << 0 << true;
    QTest::newRow("save, disk full") << 1 << true;
    QTest::newRow("save as, disk full") << 2 << true;
    QTest::newRow("new, no such folder") << 0 << false;
    QTest::newRow("save, no such folder") << 1 << false;
    QTest::newRow("save as, no such folder") << 2 << false;
}

void TestDatabaseFiles::failedSaveKeepsOldFileNameAndModified()
{
    QFETCH(int, command);
    QFETCH(bool, fullDisk);
    const QString target = fullDisk ? path("mine.cdb") : path("nowhere/mine.cdb");
    if (fullDisk) {
        put(target, fileOf(5));
        // The disk fills up 10 bytes into the new file.
        m_files->setOutputFilter(
            [](QIODevice &file) { return std::make_unique<FullDiskDevice>(file, 10); });
    }
    own(3, command == 1 ? target : path("before.cdb"));
    m_prompts.answer({true});
    m_chooser.paths << target;
    const QString nameBefore = m_db->fileName();

    run(command);

    const QString warning = m_prompts.shown.constLast().text;
    QVERIFY2(warning.startsWith(QLatin1String("Couldn't write the database file ")), qPrintable(warning));
    if (fullDisk)
        QVERIFY2(warning.contains(QLatin1String("No space left on device")), qPrintable(warning));
    QCOMPARE(m_prompts.shown.constLast().icon, MessageIcon::Warning);
    QCOMPARE(m_db->fileName(), nameBefore);
    QVERIFY(m_db->isModified());
    if (fullDisk)
        QCOMPARE(contents(target), fileOf(5));
    else
        QVERIFY(!QFile::exists(target));
    // No temporary file is left behind.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), fullDisk ? QStringList{"mine.cdb"} : QStringList{});
}

void TestDatabaseFiles::folderWithoutWritePermissionFailsCleanly()
{
    if (::geteuid() == 0)
        QSKIP("root writes into any folder; the full-disk rows cover the failure path");
    QVERIFY(QDir(m_dir->path()).mkdir("locked"));
    const QString target = path("locked/mine.cdb");
    put(target, fileOf(5));
    QVERIFY(QFile::setPermissions(path("locked"), QFile::ReadOwner | QFile::ExeOwner));
    own(2, target);
    m_files->saveDatabase();
    QFile::setPermissions(path("locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(m_prompts.shown.size(), 1);
    QVERIFY(m_prompts.shown.at(0).text.startsWith(QLatin1String("Couldn't write the database file ")));
    QVERIFY(m_db->isModified());
    QCOMPARE(contents(target), fileOf(5));
}

QTEST_GUILESS_MAIN(TestDatabaseFiles)
#include "tst_databasefiles.moc"
