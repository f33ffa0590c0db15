#include "app/prompts.h"
#include "configuration/configurationcode.h"
#include "database/mechanismdatabase.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

using namespace tessary;

class TestMechanismDatabaseModel : public QObject {
    Q_OBJECT
private slots:
    void randomEditsKeepNamesAndCodesPaired_data();
    void randomEditsKeepNamesAndCodesPaired();
    void selectingShowsTheNameAndClearingLeavesTheStatus();
    void findIsExactAndCaseSensitive();
};

void TestMechanismDatabaseModel::randomEditsKeepNamesAndCodesPaired_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {1u, 7u, 42u, 1234u, 99991u})
        QTest::addRow("seed %u", seed) << seed;
}

void TestMechanismDatabaseModel::randomEditsKeepNamesAndCodesPaired()
{
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    PlainStatusLine status;
    MechanismDatabase db(&status);
    QList<DatabaseEntry> shadow; // what the lists must hold, in order
    int serial = 0;

    const auto randomCode = [&random] {
        return codeFromBytes(quint8(random.bounded(256)), quint8(random.bounded(8) << 5));
    };

    for (int step = 0; step < 2000; ++step) {
        const int n = db.count();
        switch (random.bounded(6)) {
        case 0:
        case 1: { // add (twice as likely, so the list grows)
            const DatabaseEntry entry{QString("Entry %1").arg(serial++), randomCode()};
            db.append(entry.name, entry.code);
            shadow.append(entry);
            break;
        }
        case 2: // replace a code
            if (n) {
                const int row = random.bounded(n);
                const QString code = randomCode();
                db.replaceCode(row, code);
                shadow[row].code = code;
            }
            break;
        case 3: // remove
            if (n) {
                const int row = random.bounded(n);
                db.remove(row);
                shadow.removeAt(row);
            }
            break;
        case 4: // exchange
            if (n) {
                const int a = random.bounded(n), b = random.bounded(n);
                db.exchange(a, b);
                shadow.swapItemsAt(a, b);
            }
            break;
        case 5: { // select a row, or clear the selection
            const QString before = status.statusText();
            if (n && random.bounded(4) != 0) {
                const int row = random.bounded(n);
                db.select(row);
                QCOMPARE(db.selectedIndex(), row);
                QCOMPARE(status.statusText(), "Configuration selected : " + shadow.at(row).name);
            } else {
                db.clearSelection();
                QCOMPARE(db.selectedIndex(), -1);
                QCOMPARE(status.statusText(), before);
            }
            break;
        }
        }
        QCOMPARE(db.count(), shadow.size());
        QCOMPARE(db.entries(), shadow);
        QVERIFY(db.selectedIndex() >= -1 && db.selectedIndex() < db.count());
    }
    QVERIFY(db.count() > 0); // the walk ends with rows left to compare
}

void TestMechanismDatabaseModel::selectingShowsTheNameAndClearingLeavesTheStatus()
{
    PlainStatusLine status;
    MechanismDatabase db(&status);
    db.append("Mechanism 01", "1111000101000000");
    db.append("Mechanism 02", "1101001100100000");
    QSignalSpy modified(&db, &MechanismDatabase::modifiedChanged);
    db.select(1);
    QCOMPARE(status.statusText(), QString("Configuration selected : Mechanism 02"));
    db.clearSelection();
    QCOMPARE(status.statusText(), QString("Configuration selected : Mechanism 02"));
    QCOMPARE(db.selectedIndex(), -1);
    QVERIFY(!db.isModified());
    QCOMPARE(modified.count(), 0);
}

void TestMechanismDatabaseModel::findIsExactAndCaseSensitive()
{
    MechanismDatabase db;
    db.append("Twin", "1111000101000000");
    db.append("twin", "1101001100100000");
    db.append("Twin", "1100110011100000");
    QCOMPARE(db.find("Twin"), 0);
    QCOMPARE(db.find("twin"), 1);
    QCOMPARE(db.find("Twi"), -1);
    QCOMPARE(db.find("Twin "), -1);
}

QTEST_APPLESS_MAIN(TestMechanismDatabaseModel)
#include "tst_mechanismdatabasemodel.moc"
