// Every command goes out as its exact bytes.
#include "protocol/commands.h"

#include <QTest>

using namespace tessary;

class TestCommands : public QObject {
    Q_OBJECT

private slots:
    void bytes_data()
    {
        QTest::addColumn<QByteArray>("actual");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("identity") << Command::identity() << QByteArray::fromHex("1b49");
        QTest::newRow("probe") << Command::probe() << QByteArray::fromHex("1b76");
        QTest::newRow("reset") << Command::reset() << QByteArray::fromHex("1b40");
        QTest::newRow("sleep") << Command::sleep() << QByteArray::fromHex("1b53");
        QTest::newRow("cancel") << Command::cancel() << QByteArray::fromHex("18");
        QTest::newRow("wake") << Command::wake() << QByteArray::fromHex("00");
        QTest::newRow("read 6") << Command::readParameter(6) << QByteArray::fromHex("1d536606");
        QTest::newRow("read 28") << Command::readParameter(28) << QByteArray::fromHex("1d53661c");
        QTest::newRow("read configuration") << Command::readConfiguration() << QByteArray::fromHex("1d5343");
        QTest::newRow("write 7 A5") << Command::writeParameter(7, 0xa5) << QByteArray::fromHex("1d534607a5");
        QTest::newRow("write raw 00") << Command::writeParameter(9, 0x00) << QByteArray::fromHex("1d53460900");
        QTest::newRow("write raw 1B") << Command::writeParameter(0x1b, 0x1b) << QByteArray::fromHex("1d53461b1b");
        QTest::newRow("write FF") << Command::writeParameter(24, 0xff) << QByteArray::fromHex("1d534618ff");
        QTest::newRow("strobe polarity") << Command::strobePolarity() << QByteArray::fromHex("1d5368");
    }

    void bytes()
    {
        QFETCH(QByteArray, actual);
        QFETCH(QByteArray, expected);
        QCOMPARE(actual, expected);
    }
};

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
