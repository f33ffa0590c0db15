// One printer command at a time; a stop ends a command at its next wait.
#include "scriptedline.h"
#include "serial/commandgate.h"
#include "serial/eventloopclock.h"
#include "serial/virtualclock.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace tessary;
using tessary::test::ScriptedLine;

class TestCommandGate : public QObject {
    Q_OBJECT

private slots:
    void secondCommandIsRefusedWhileOneRuns()
    {
        VirtualClock clock;
        ScriptedLine line(clock);
        SerialLink link(line, clock);
        CommandGate gate(link);
        QSignalSpy busy(&gate, &CommandGate::busyChanged);
        int inner = 0;
        bool innerAccepted = true;
        QVERIFY(gate.run([&] {
            QVERIFY(gate.isBusy());
            innerAccepted = gate.run([&] { ++inner; });
        }));
        QVERIFY(!innerAccepted);
        QCOMPARE(inner, 0);
        QCOMPARE(busy.size(), 2);
        QVERIFY(!gate.isBusy());
    }

    void stopEndsTheCommandAtItsNextWaitWithThePortClosed()
    {
        // The real clock, so that the stop arrives from the event loop during a wait.
        EventLoopClock clock;
        ScriptedLine line(clock);
        SerialLink link(line, clock);
        CommandGate gate(link);
        int waitsCompleted = 0;
        QTimer::singleShot(30, &gate, &CommandGate::requestStop);
        QElapsedTimer elapsed;
        elapsed.start();
        const bool completed = gate.run([&] {
            QVERIFY(link.openPort(1, QStringLiteral("9600"), 2));
            for (int i = 0; i < 100; ++i) {
                link.delay(1000);
                ++waitsCompleted;
            }
        });
        QVERIFY(!completed);
        QCOMPARE(waitsCompleted, 0);
        QVERIFY(!line.isOpen());
        QVERIFY(elapsed.elapsed() < 1000);
        // The gate is usable again.
        QVERIFY(gate.run([&] { link.delay(1); }));
    }
};

QTEST_GUILESS_MAIN(TestCommandGate)
#include "tst_commandgate.moc"
