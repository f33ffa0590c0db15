#include "database/cdbfile.h"

#include <QBuffer>
#include <QFile>
#include <QtTest>

using namespace tessary;

namespace {

// A device whose every read or write fails, as a failing disk would.
class BrokenDevice : public QIODevice {
public:
    BrokenDevice() { open(QIODevice::ReadWrite); }

protected:
    qint64 readData(char *, qint64) override
    {
        setErrorString(QStringLiteral("Input/output error"));
        return -1;
    }
    qint64 writeData(const char *, qint64) override
    {
        setErrorString(QStringLiteral("No space left on device"));
        return -1;
    }
};

QByteArray written(const QList<DatabaseEntry> &entries, bool *ok = nullptr)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const cdb::WriteResult result = cdb::write(buffer, entries);
    if (ok)
        *ok = result.ok;
    return buffer.data();
}

QString dataFile(const char *name)
{
    return qEnvironmentVariable("TESSARY_TEST_DATA") + QLatin1Char('/') + QLatin1String(name);
}

} // namespace

class TestCdbFile : public QObject {
    Q_OBJECT
private slots:
    void wholeFilesAreExactBytesAndReadBack_data();
    void wholeFilesAreExactBytesAndReadBack();
    void namesAreFilledOrCutToSixteenCharacters_data();
    void namesAreFilledOrCutToSixteenCharacters();
    void codesAreWrittenExactlyAsHeld();
    void atMost255EntriesAreWritten();
    void writeFailureIsReportedWithTheDeviceReason();
    void readFailureIsReported();
    void brokenAndOddFiles_data();
    void brokenAndOddFiles();
};

void TestCdbFile::wholeFilesAreExactBytesAndReadBack_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<DatabaseEntry>>("entries");
    QTest::addColumn<bool>("newDatabase"); // the bytes of "New", else written from the entries
    QTest::newRow("empty: 18-byte header")
        << QByteArray::fromHex("5a454c5052494e54455253434442300d0a").insert(15, '\0')
        << QList<DatabaseEntry>{} << false;
    QTest::newRow("new: 19 bytes") << QByteArray::fromHex("5a454c5052494e54455253434442300000" "0d0a")
                                   << QList<DatabaseEntry>{} << true;
    QTest::newRow("one entry: 52 bytes")
        << QByteArray("ZELPRINTERSCDB0\x01\r\nMechanism 01    1111000101000000\r\n")
        << QList<DatabaseEntry>{{"Mechanism 01", "1111000101000000"}} << false;
}

void TestCdbFile::wholeFilesAreExactBytesAndReadBack()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<DatabaseEntry>, entries);
    QFETCH(bool, newDatabase);
    QCOMPARE(bytes.size(), newDatabase ? 19 : 18 + 34 * entries.size());
    QCOMPARE(newDatabase ? cdb::newDatabaseBytes() : written(entries), bytes);
    const cdb::ReadResult back = cdb::read(bytes);
    QVERIFY(back.ok());
    QCOMPARE(back.entries, entries);
}

void TestCdbFile::namesAreFilledOrCutToSixteenCharacters_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("readBack");
    QTest::newRow("three characters") << "ABC" << QByteArray("ABC             ") << "ABC";
    QTest::newRow("exactly sixteen") << "0123456789abcdef" << QByteArray("0123456789abcdef")
                                     << "0123456789abcdef";
    QTest::newRow("twenty cut to sixteen") << "0123456789abcdefWXYZ"
                                           << QByteArray("0123456789abcdef") << "0123456789abcdef";
    QTest::newRow("trailing spaces lost") << "Spaced   " << QByteArray("Spaced          ") << "Spaced";
    QTest::newRow("leading spaces kept") << "  Lead" << QByteArray("  Lead          ") << "  Lead";
    QTest::newRow("empty name") << "" << QByteArray(16, ' ') << "";
    QTest::newRow("latin-1 byte") << QString::fromUtf8("Café") << QByteArray("Caf\xe9            ")
                                  << QString::fromUtf8("Café");
}

void TestCdbFile::namesAreFilledOrCutToSixteenCharacters()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, field);
    QFETCH(QString, readBack);
    const QByteArray bytes = written({{name, "1100100101000000"}});
    QCOMPARE(bytes.size(), 52);
    QCOMPARE(bytes.mid(18, 16), field);
    QCOMPARE(bytes.mid(34), QByteArray("1100100101000000\r\n"));
    const cdb::ReadResult back = cdb::read(bytes);
    QVERIFY(back.ok());
    QCOMPARE(back.entries.value(0).name, readBack);
}

void TestCdbFile::codesAreWrittenExactlyAsHeld()
{
    // A code that is not 16 characters goes out as held; the records then
    // no longer line up, which is why the editor only produces full codes.
    QCOMPARE(written({{"A", "101"}, {"B", "1111000101000000"}}),
             QByteArray("ZELPRINTERSCDB0\x02\r\n"
                        "A               101\r\n"
                        "B               1111000101000000\r\n"));
}

void TestCdbFile::atMost255EntriesAreWritten()
{
    QList<DatabaseEntry> entries(255, DatabaseEntry{"X", "1111000101000000"});
    bool ok = false;
    const QByteArray bytes = written(entries, &ok);
    QVERIFY(ok);
    QCOMPARE(bytes.size(), 18 + 34 * 255);
    QCOMPARE(quint8(bytes.at(15)), quint8(0xff));
    QCOMPARE(cdb::read(bytes).entries.size(), 255);

    // One more is refused without writing a byte.
    entries.append(entries.first());
    QVERIFY(!cdb::encodable(entries));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const cdb::WriteResult result = cdb::write(buffer, entries);
    QVERIFY(!result.ok);
    QVERIFY(result.reason.contains(QLatin1String("255")));
    QCOMPARE(buffer.data(), QByteArray());
}

void TestCdbFile::writeFailureIsReportedWithTheDeviceReason()
{
    BrokenDevice device;
    const cdb::WriteResult result = cdb::write(device, {{"A", "1111000101000000"}});
    QVERIFY(!result.ok);
    QVERIFY2(result.reason.contains(QLatin1String("No space left on device")), qPrintable(result.reason));
}

void TestCdbFile::readFailureIsReported()
{
    BrokenDevice device;
    const cdb::ReadResult result = cdb::read(device);
    QCOMPARE(result.status, cdb::ReadResult::Status::ReadError);
    QVERIFY(result.entries.isEmpty());
    QVERIFY2(result.reason.contains(QLatin1String("Input/output error")), qPrintable(result.reason));
}

using Status = cdb::ReadResult::Status;

void TestCdbFile::brokenAndOddFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<Status>("status");
    QTest::addColumn<QList<DatabaseEntry>>("entries"); // all, or the first ones checked

    const QString m01 = "1111000101000000";
    QTest::newRow("empty") << dataFile("empty.cdb") << Status::NotADatabase << QList<DatabaseEntry>{};
    QTest::newRow("14 bytes") << dataFile("short-14-bytes.cdb") << Status::NotADatabase
                              << QList<DatabaseEntry>{};
    QTest::newRow("lower-case magic") << dataFile("lowercase-magic.cdb") << Status::NotADatabase
                                      << QList<DatabaseEntry>{};
    QTest::newRow("magic only") << dataFile("magic-only.cdb") << Status::Truncated
                                << QList<DatabaseEntry>{};
    QTest::newRow("header without line end")
        << dataFile("header-without-line-end.cdb") << Status::Truncated << QList<DatabaseEntry>{};
    QTest::newRow("anything in the separators")
        << dataFile("odd-separators.cdb") << Status::Ok
        << QList<DatabaseEntry>{{"First", m01}, {"Second", "1101001100100000"}};
    QTest::newRow("trailing bytes") << dataFile("trailing-bytes.cdb") << Status::Ok
                                    << QList<DatabaseEntry>{{"Mechanism 01", m01}};
    QTest::newRow("new database over a longer file")
        << dataFile("new-over-longer-file.cdb") << Status::Ok << QList<DatabaseEntry>{};
    QTest::newRow("cut inside a record") << dataFile("truncated-inside-record.cdb") << Status::Truncated
                                         << QList<DatabaseEntry>{};
    QTest::newRow("last line end missing") << dataFile("truncated-line-end.cdb") << Status::Truncated
                                           << QList<DatabaseEntry>{};
    QTest::newRow("count beyond records") << dataFile("count-beyond-records.cdb") << Status::Truncated
                                          << QList<DatabaseEntry>{};
    QTest::newRow("spaces in codes")
        << dataFile("spaces-in-code.cdb") << Status::Ok
        << QList<DatabaseEntry>{{"Spaced", "1111 0001 010000"}, {"Short code", "11110001        "}};
    QTest::newRow("name edges") << dataFile("name-edges.cdb") << Status::Ok
                                << QList<DatabaseEntry>{{"  Leading", m01},
                                                        {"Tab\t", m01},
                                                        {QString::fromUtf8("Café"), m01}};
    QList<DatabaseEntry> many;
    for (int i = 0; i < 255; ++i)
        many.append({QStringLiteral("Entry %1").arg(i, 3, 10, QLatin1Char('0')), m01});
    QTest::newRow("count 255") << dataFile("count-255.cdb") << Status::Ok << many;
}

void TestCdbFile::brokenAndOddFiles()
{
    QFETCH(QString, file);
    QFETCH(Status, status);
    QFETCH(QList<DatabaseEntry>, entries);
    QFile f(file);
    QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(file));
    const cdb::ReadResult result = cdb::read(f);
    QCOMPARE(result.status, status);
    QCOMPARE(result.entries, entries);
    QCOMPARE(result.reason.isEmpty(), status == Status::Ok);
}

QTEST_GUILESS_MAIN(TestCdbFile)
#include "tst_cdbfile.moc"
