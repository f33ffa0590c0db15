// COM1 to COM6 on Linux: explicit mappings first, then the system's ports.
#include "serial/portnames.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tessary;

class TestPortNames : public QObject {
    Q_OBJECT

private slots:
    void slotsAreFilled_data()
    {
        QTest::addColumn<QStringList>("mappings");
        QTest::addColumn<QStringList>("system");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("system only, natural order")
            << QStringList{} << QStringList{"/dev/ttyUSB10", "/dev/ttyS0", "/dev/ttyUSB2", "/dev/ttyS1"}
            << QStringList{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB2", "/dev/ttyUSB10", "", ""};
        QTest::newRow("explicit takes its slot, mapped device skipped")
            << QStringList{"COM3=/dev/ttyUSB0"} << QStringList{"/dev/ttyUSB0", "/dev/ttyS0", "/dev/ttyS1"}
            << QStringList{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB0", "", "", ""};
        QTest::newRow("more than six devices")
            << QStringList{} << QStringList{"/dev/a1", "/dev/a2", "/dev/a3", "/dev/a4", "/dev/a5", "/dev/a6", "/dev/a7"}
            << QStringList{"/dev/a1", "/dev/a2", "/dev/a3", "/dev/a4", "/dev/a5", "/dev/a6"};
        QTest::newRow("nothing") << QStringList{} << QStringList{} << QStringList{"", "", "", "", "", ""};
    }

    void slotsAreFilled()
    {
        QFETCH(QStringList, mappings);
        QFETCH(QStringList, system);
        QFETCH(QStringList, expected);
        QMap<int, QString> explicitMappings;
        for (const QString &m : mappings) {
            QString error;
            const auto parsed = PortNames::parseMapping(m, &error);
            QVERIFY2(parsed.has_value(), qPrintable(error));
            explicitMappings.insert(parsed->first, parsed->second);
        }
        const PortNames names(explicitMappings, system);
        for (int port = 1; port <= 6; ++port)
            QCOMPARE(names.device(port), expected[port - 1]);
    }

    void malformedMappingsAreRefused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("no equals") << "COM3";
        QTest::newRow("port 7") << "COM7=/dev/ttyUSB0";
        QTest::newRow("port 0") << "COM0=/dev/ttyUSB0";
        QTest::newRow("no path") << "COM1=";
        QTest::newRow("not COM") << "LPT1=/dev/lp0";
    }

    void malformedMappingsAreRefused()
    {
        QFETCH(QString, text);
        QString error;
        QVERIFY(!PortNames::parseMapping(text, &error).has_value());
        QVERIFY(error.contains(text));
    }

    void existenceAndCaptions()
    {
        QTemporaryDir dir;
        const QString present = dir.filePath("ttyUSB0");
        QFile f(present);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const PortNames names({{1, present}, {2, dir.filePath("gone")}}, {});
        QVERIFY(names.exists(1));
        QVERIFY(!names.exists(2));
        QVERIFY(!names.exists(3));
        QCOMPARE(names.caption(1), QStringLiteral("COM 1 (ttyUSB0)"));
        QCOMPARE(names.caption(3), QStringLiteral("COM 3"));
        const PortNames devices({{1, QStringLiteral("/dev/ttyUSB0")}, {2, QStringLiteral("/dev/pts/3")}}, {});
        QCOMPARE(devices.caption(1), QStringLiteral("COM 1 (ttyUSB0)"));
        QCOMPARE(devices.caption(2), QStringLiteral("COM 2 (pts/3)"));
    }
};

QTEST_GUILESS_MAIN(TestPortNames)
#include "tst_portnames.moc"
