#include "app/prompts.h"
#include "database/cdbfile.h"
#include "database/factorylist.h"
#include "database/mechanismdatabase.h"

#include <QtTest>

using namespace tessary;

namespace {

// The factory table as it is saved: each row name, filled to 16, its code, CR LF.
const QByteArray FactoryRecords =
    "Mechanism 01    1111000101000000\r\n"
    "Mechanism 02    1101001100100000\r\n"
    "Mechanism 03    1111100110000000\r\n"
    "Mechanism 04    1101000110000000\r\n"
    "Mechanism 05    1101000101100000\r\n"
    "Mechanism 06    1111100101100000\r\n"
    "Mechanism 07    1101001100100000\r\n"
    "Mechanism 08    1111000101000000\r\n"
    "Mechanism 09    1101100101000000\r\n"
    "Mechanism 10    1100100101000000\r\n"
    "Mechanism 11    1111010010100000\r\n"
    "Mechanism 12    1101110010100000\r\n"
    "Mechanism 13    1100110010100000\r\n"
    "Mechanism 14    1111100101100000\r\n"
    "Mechanism 15    1101100101100000\r\n"
    "Mechanism 16    1100100101100000\r\n"
    "Mechanism 17    1111110011000000\r\n"
    "Mechanism 18    1101110011000000\r\n"
    "Mechanism 19    1100110011000000\r\n"
    "Mechanism 20    1111110011100000\r\n"
    "Mechanism 21    1101110011100000\r\n"
    "Mechanism 22    1100110011100000\r\n"
    "Mechanism 23    1111100110000000\r\n"
    "Mechanism 24    1101100110000000\r\n"
    "Mechanism 25    1100100110000000\r\n"
    "Mechanism 26    1111000101000000\r\n"
    "Mechanism 27    1111010010110000\r\n"
    "Mechanism 28    1111000101000000\r\n"
    "Mechanism 29    1111110011000000\r\n";

} // namespace

class TestFactoryList : public QObject {
    Q_OBJECT
private slots:
    void factoryListIsTheThousandAndFourByteFileAndReadsBack();
    void appendsAfterExistingEntriesAndTouchesNothingElse();
};

void TestFactoryList::factoryListIsTheThousandAndFourByteFileAndReadsBack()
{
    MechanismDatabase db;
    FillFactoryList(db);
    QCOMPARE(db.count(), 29);
    const QByteArray bytes = cdb::encode(db.entries());
    QCOMPARE(bytes.size(), 1004);
    QCOMPARE(bytes.left(18), QByteArray("ZELPRINTERSCDB0\x1d\r\n"));
    QCOMPARE(bytes.mid(18), FactoryRecords);
    const cdb::ReadResult back = cdb::read(QByteArray("ZELPRINTERSCDB0\x1d\r\n") + FactoryRecords);
    QVERIFY(back.ok());
    QCOMPARE(back.entries, db.entries());
}

void TestFactoryList::appendsAfterExistingEntriesAndTouchesNothingElse()
{
    PlainStatusLine status;
    status.showStatus("before");
    MechanismDatabase db(&status);
    db.append("Mine", "1111111111111111");
    db.select(0);
    status.showStatus("before");
    db.setFileName("mine.cdb");
    db.setModified(true);

    FillFactoryList(db);

    QCOMPARE(db.count(), 30);
    QCOMPARE(db.name(0), QString("Mine"));
    QCOMPARE(db.name(1), QString("Mechanism 01"));
    QCOMPARE(db.code(29), QString("1111110011000000"));
    QCOMPARE(db.selectedIndex(), 0);
    QCOMPARE(db.fileName(), QString("mine.cdb"));
    QVERIFY(db.isModified());
    QCOMPARE(status.statusText(), QString("before"));
}

QTEST_GUILESS_MAIN(TestFactoryList)
#include "tst_factorylist.moc"
