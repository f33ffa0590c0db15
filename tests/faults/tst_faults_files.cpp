#include "app/prompts.h"
#include "database/databasefiles.h"
#include "database/mechanismdatabase.h"
#include "scriptedprompts.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace tessary;
using namespace tessary::test;

namespace {

const QByteArray OldFile = QByteArray("ZELPRINTERSCDB1") + QByteArray::fromHex("010d0a") + "OLD ENTRY" + QByteArray(11, ' ')
                         + "1111000101000000";

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// A device that accepts `room` bytes and then fails every write, as a disk
// that fills during the save.
class FillingDevice : public QIODevice {
public:
    FillingDevice(QIODevice &file, qint64 room) : m_file(file), m_room(room) { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        if (size > m_room) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        m_room -= size;
        return m_file.write(data, size);
    }

private:
    QIODevice &m_file;
    qint64 m_room;
};

} // namespace

// Saving a database where it cannot be saved: the old file stays as it was,
// and the user hears one clear message.
class TestFaultsFiles : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void readOnlyFileIsRefusedAndKept();
    void folderWithoutWritePermissionFailsAndKeepsTheOldFile();
    void diskFillingDuringTheSaveKeepsTheOldFile();
    void fullTmpfsKeepsTheOldFile();

private:
    // Saves a two-entry database over `path` with "Save database as".
    void saveOver(const QString &path);

    QTemporaryDir m_dir;
    ScriptedPrompts m_prompts;
    ScriptedFileChooser m_files;
    PlainStatusLine m_status;
    std::unique_ptr<MechanismDatabase> m_database;
    std::unique_ptr<DatabaseFiles> m_fileCommands;
};

void TestFaultsFiles::init()
{
    QVERIFY(m_dir.isValid());
    m_prompts.clear();
    m_prompts.defaultAnswer = true;
    m_database = std::make_unique<MechanismDatabase>(&m_status);
    m_database->append(QStringLiteral("NEW ONE"), QStringLiteral("1111000101000000"));
    m_database->append(QStringLiteral("NEW TWO"), QStringLiteral("0000000000000000"));
    m_fileCommands = std::make_unique<DatabaseFiles>(*m_database, m_prompts, m_files, m_status);
}

void TestFaultsFiles::cleanup()
{
    m_fileCommands.reset();
    m_database.reset();
    QProcess::execute(QStringLiteral("chmod"), {QStringLiteral("-R"), QStringLiteral("u+rwx"), m_dir.path()});
}

void TestFaultsFiles::saveOver(const QString &path)
{
    m_files.paths = {path};
    m_fileCommands->saveDatabaseAs();
}

void TestFaultsFiles::readOnlyFileIsRefusedAndKept()
{
    const QString path = m_dir.filePath(QStringLiteral("readonly.cdb"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(OldFile);
    f.close();
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    saveOver(path);
    QCOMPARE(contents(path), OldFile);
    QCOMPARE(m_prompts.shown.size(), 1);
}

void TestFaultsFiles::folderWithoutWritePermissionFailsAndKeepsTheOldFile()
{
    if (::geteuid() == 0)
        QSKIP("root writes into any folder: the permission cannot be taken away here (the injected write "
              "failure and the full disk cover the same path)");
    const QString folder = m_dir.filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/db.cdb");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(OldFile);
    f.close();
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);
    saveOver(path);
    QCOMPARE(contents(path), OldFile);
    QCOMPARE(m_prompts.shown.size(), 1);
}

void TestFaultsFiles::diskFillingDuringTheSaveKeepsTheOldFile()
{
    const QString path = m_dir.filePath(QStringLiteral("filling.cdb"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(OldFile);
    f.close();
    m_fileCommands->setOutputFilter([](QIODevice &file) { return std::make_unique<FillingDevice>(file, 20); });
    saveOver(path);
    QCOMPARE(contents(path), OldFile);
    QCOMPARE(m_prompts.shown.size(), 1);
    // No temporary file left behind.
    QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("filling*")}, QDir::Files),
             QStringList{QStringLiteral("filling.cdb")});
}

void TestFaultsFiles::fullTmpfsKeepsTheOldFile()
{
    const QString mountPoint = m_dir.filePath(QStringLiteral("small"));
    QVERIFY(QDir().mkpath(mountPoint));
    if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                    QStringLiteral("size=64k"), QStringLiteral("tmpfs"), mountPoint})
        != 0)
        QSKIP("mounting a small tmpfs is not allowed here (the injected write failure covers it)");
    const auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {mountPoint}); });
    const QString path = mountPoint + QStringLiteral("/db.cdb");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(OldFile);
    f.close();
    // Fill the rest of the disk, leaving too little for the new file.
    QFile filler(mountPoint + QStringLiteral("/filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly));
    const QByteArray block(1024, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();
    // Many entries, so that the new file does not fit.
    for (int i = 0; i < 200; ++i)
        m_database->append(QStringLiteral("ENTRY %1").arg(i), QStringLiteral("1111000101000000"));
    QCOMPARE(contents(path), OldFile);
    saveOver(path);
    // The bytes meet the full disk at the flush before commit(): the save is
    // cancelled and the old file stays as it was.
    QCOMPARE(contents(path), OldFile);
    QCOMPARE(m_prompts.shown.size(), 1);
}

QTEST_MAIN(TestFaultsFiles)
#include "tst_faults_files.moc"
