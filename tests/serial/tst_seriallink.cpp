// The serial primitives against a scripted line and the virtual clock.
#include "app/prompts.h"
#include "scriptedline.h"
#include "serial/seriallink.h"
#include "serial/virtualclock.h"

#include <QTest>

#include <functional>

using namespace tessary;
using tessary::test::ScriptedLine;

namespace {

// The virtual clock with a hand on it: something happens at every wait, as
// the window's events would.
struct HookedClock : VirtualClock {
    void delay(int ms) override
    {
        ++waits;
        if (onWait)
            onWait(waits);
        VirtualClock::delay(ms);
    }
    int waits = 0;
    std::function<void(int)> onWait;
};

// Every status text shown, not only the last.
struct RecordingStatus : StatusLine {
    void showStatus(const QString &text) override { shown << text; }
    QString statusText() const override { return shown.isEmpty() ? QString() : shown.constLast(); }
    QStringList shown;
};

} // namespace

class TestSerialLink : public QObject {
    Q_OBJECT

private slots:
    void openPortConfiguresOpensAndSettles()
    {
        VirtualClock clock;
        ScriptedLine line(clock);
        SerialLink link(line, clock);
        QVERIFY(link.openPort(3, QStringLiteral("19200"), 2));
        QCOMPARE(line.opens.size(), 1);
        QCOMPARE(line.opens[0].port, 3);
        QCOMPARE(line.opens[0].baud, 19200);
        QCOMPARE(line.opens[0].handshake, 2);
        QCOMPARE(clock.now(), 50);
    }

    void openPortTwiceChangesNothingAndDoesNotPause()
    {
        VirtualClock clock;
        ScriptedLine line(clock);
        SerialLink link(line, clock);
        QVERIFY(link.openPort(1, QStringLiteral("9600"), 1));
        QVERIFY(link.openPort(2, QStringLiteral("115200"), 2));
        QCOMPARE(line.opens.size(), 1);
        QCOMPARE(line.opens[0].port, 1);
        QCOMPARE(clock.now(), 50);
    }

    void portThatCannotBeOpenedIsReportedAndReadsAsSilence()
    {
        VirtualClock clock;
        ScriptedLine line(clock);
        PlainStatusLine status;
        SerialLink link(line, clock, &status);
        line.failOpen(QStringLiteral("COM2 (/dev/ttyS1): the port is in use by another program"));
        QVERIFY(!link.openPort(2, QStringLiteral("9600"), 2));
        QCOMPARE(status.statusText(), QStringLiteral("COM2 (/dev/ttyS1): the port is in use by another program"));
        link.sendString("\x1bI");
        QCOMPARE(link.readReply(), QByteArray());
        QCOMPARE(link.getValue(), std::nullopt);
        QVERIFY(line.writes.isEmpty());
    }

    void sendCharByCharWritesOneByteAtATime()
    {
        VirtualClock clock;
        ScriptedLine line(clock);
        SerialLink link(line, clock);
        QVERIFY(link.openPort(1, QStringLiteral("9600"), 1));
        link.sendCharByChar(QByteArray::fromHex("1d53460700"));
        QCOMPARE(line.writes.size(), 5);
        QCOMPARE(line.written(), QByteArray::fromHex("1d53460700"));
        for (const auto &w : line.writes)
            QCOMPARE(w.bytes.size(), 1);
        link.sendString(QByteArray::fromHex("1b40"));
        QCOMPARE(line.writes.size(), 6);
        QCOMPARE(line.writes.last().bytes, QByteArray::fromHex("1b40"));
    }

    void readReplyOnSilenceReturnsEmptyAfterFiftyPolls()
    {
        VirtualClock clock;
        ScriptedLine line(clock);
        SerialLink link(line, clock);
        QVERIFY(link.openPort(1, QStringLiteral("9600"), 1));
        const qint64 start = clock.now();
        QCOMPARE(link.readReply(), QByteArray());
        QCOMPARE(clock.now() - start, 500);
    }

    void readReply_data()
    {
        QTest::addColumn<QList<int>>("times");
        QTest::addColumn<QList<int>>("sizes");
        // A 20-byte reply in three pieces with gaps of two polls.
        QTest::newRow("three pieces") << QList<int>{5, 25, 45} << QList<int>{7, 6, 7};
        // Longer than one read of 100 characters.
        QTest::newRow("250 bytes at once") << QList<int>{3} << QList<int>{250};
        // Gaps just short of the quiet time are still one reply.
        QTest::newRow("gap of 490 ms") << QList<int>{1, 491} << QList<int>{4, 4};
    }

    void readReply()
    {
        QFETCH(QList<int>, times);
        QFETCH(QList<int>, sizes);
        VirtualClock clock;
        ScriptedLine line(clock);
        SerialLink link(line, clock);
        QVERIFY(link.openPort(1, QStringLiteral("9600"), 1));
        const qint64 t0 = clock.now();
        QByteArray expected;
        for (int i = 0; i < times.size(); ++i) {
            QByteArray piece;
            for (int k = 0; k < sizes[i]; ++k)
                piece += char('A' + (expected.size() + k) % 26);
            line.schedule(t0 + times[i], piece);
            expected += piece;
        }
        QCOMPARE(link.readReply(), expected);
        // It returns only after the line has been quiet for 500 ms.
        QCOMPARE(clock.now(), t0 + times.last() + 500);
    }

    void readReplySplitByAQuietSpellEndsAtTheSpell()
    {
        VirtualClock clock;
        ScriptedLine line(clock);
        SerialLink link(line, clock);
        QVERIFY(link.openPort(1, QStringLiteral("9600"), 1));
        const qint64 t0 = clock.now();
        line.schedule(t0 + 1, "first");
        line.schedule(t0 + 1 + 501, "second");
        QCOMPARE(link.readReply(), QByteArray("first"));
        QCOMPARE(link.readReply(), QByteArray("second"));
    }

    void readReplyOnEndlessStreamIsCapped()
    {
        VirtualClock clock;
        ScriptedLine line(clock);
        SerialLink link(line, clock);
        QVERIFY(link.openPort(1, QStringLiteral("9600"), 1));
        line.streamForever(clock.now(), 1);
        const qint64 start = clock.now();
        const QByteArray reply = link.readReply();
        QVERIFY(reply.size() <= 4096);
        QVERIFY(clock.now() - start <= 5000 + 500);
        QVERIFY(reply.size() > 100);
    }

    void readReplyOnFastEndlessStreamStopsAtTheByteCap()
    {
        VirtualClock clock;
        ScriptedLine line(clock);
        SerialLink link(line, clock);
        QVERIFY(link.openPort(1, QStringLiteral("9600"), 1));
        line.schedule(clock.now() + 1, QByteArray(10000, 'z'));
        QCOMPARE(link.readReply().size(), 4096);
    }

    void readByte_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("at");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("elapsed");
        QTest::newRow("three bytes: the first") << QByteArray::fromHex("d18053") << 30 << 0xd1 << 30;
        QTest::newRow("byte 0 reads as no reply") << QByteArray::fromHex("00") << 10 << 0 << 10;
        QTest::newRow("nothing within 50 polls") << QByteArray() << 0 << 0 << 500;
        QTest::newRow("too late") << QByteArray::fromHex("01") << 501 << 0 << 500;
    }

    void readByte()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, at);
        QFETCH(int, expected);
        QFETCH(int, elapsed);
        VirtualClock clock;
        ScriptedLine line(clock);
        SerialLink link(line, clock);
        QVERIFY(link.openPort(1, QStringLiteral("9600"), 1));
        const qint64 t0 = clock.now();
        if (!reply.isEmpty())
            line.schedule(t0 + at, reply);
        QCOMPARE(int(link.readByte()), expected);
        QCOMPARE(clock.now() - t0, elapsed);
        // The rest of that read is dropped.
        QCOMPARE(line.bytesAvailable(), 0);
    }

    void getValue_data()
    {
        QTest::addColumn<int>("at");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<int>("expected"); // -1: no byte
        QTest::addColumn<int>("elapsed");
        QTest::newRow("at once") << 0 << QByteArray("A") << 0x41 << 0;
        QTest::newRow("late but inside 500 ms") << 480 << QByteArray("A") << 0x41 << 480;
        QTest::newRow("a byte 0") << 20 << QByteArray(1, '\0') << 0 << 20;
        QTest::newRow("missing") << 600 << QByteArray("A") << -1 << 500;
        QTest::newRow("a byte 0, missing") << 600 << QByteArray(1, '\0') << -1 << 500;
    }

    void getValue()
    {
        QFETCH(int, at);
        QFETCH(QByteArray, sent);
        QFETCH(int, expected);
        QFETCH(int, elapsed);
        VirtualClock clock;
        ScriptedLine line(clock);
        SerialLink link(line, clock);
        QVERIFY(link.openPort(1, QStringLiteral("9600"), 1));
        const qint64 t0 = clock.now();
        line.schedule(t0 + at, sent);
        const std::optional<quint8> value = link.getValue();
        QCOMPARE(value ? int(*value) : -1, expected);
        QCOMPARE(clock.now() - t0, elapsed);
    }

    void closeWaitsForTheOutputThroughTheClock_data()
    {
        QTest::addColumn<int>("heldMs");   // how long flow control holds the output, -1 for ever
        QTest::addColumn<int>("stopAt");   // the wait of the close at which a stop is requested, 0 none
        QTest::addColumn<int>("waitedMs"); // how long the two closes waited, together
        QTest::addColumn<bool>("dropped"); // the output was dropped and reported
        QTest::newRow("leaves at once") << 0 << 0 << 0 << false;
        QTest::newRow("leaves after 30 ms") << 30 << 0 << 2 * 30 << false;
        QTest::newRow("held for ever") << -1 << 0 << 2000 << true;
        // The stop lands in the third wait, which ends; no fourth.
        QTest::newRow("held, a stop at the third look") << -1 << 3 << 3 * 5 << true;
    }

    void closeWaitsForTheOutputThroughTheClock()
    {
        QFETCH(int, heldMs);
        QFETCH(int, stopAt);
        QFETCH(int, waitedMs);
        QFETCH(bool, dropped);
        HookedClock clock;
        ScriptedLine line(clock);
        RecordingStatus status;
        SerialLink link(line, clock, &status);
        link.clearStop(); // a command starts
        qint64 waited = 0;
        // Two groups of writes in one command, as programming does.
        for (int group = 0; group < 2; ++group) {
            QVERIFY(link.openPort(1, QStringLiteral("9600"), HandshakeHardware));
            line.holdOutputUntil(heldMs < 0 ? -1 : clock.now() + heldMs);
            link.sendString(QByteArray::fromHex("1b40"));
            const qint64 before = clock.now();
            clock.waits = 0;
            clock.onWait = [&](int wait) {
                if (wait == stopAt)
                    link.requestStop();
            };
            link.closePort(); // never throws, a stop included
            clock.onWait = nullptr;
            waited += clock.now() - before;
            QVERIFY(!line.isOpen());
            QCOMPARE(line.closedWithPending, 0); // the close itself never waits
            if (stopAt)
                break; // the command ended
        }
        QCOMPARE(waited, qint64(waitedMs));
        QCOMPARE(line.discards, dropped ? (stopAt ? 1 : 2) : 0);
        // Told once per command, and not when a stop (a window closing) cut the wait.
        QCOMPARE(status.shown, dropped && !stopAt ? QStringList{SerialLink::undrainedMessage()} : QStringList{});
    }

    void stopRequestEndsTheNextWait()
    {
        VirtualClock clock;
        ScriptedLine line(clock);
        SerialLink link(line, clock);
        QVERIFY(link.openPort(1, QStringLiteral("9600"), 1));
        link.requestStop();
        QVERIFY_THROWS_EXCEPTION(CommandStopped, link.delay(10));
        QVERIFY_THROWS_EXCEPTION(CommandStopped, link.readReply());
        link.clearStop();
        link.delay(10);
    }

    void speedCodes()
    {
        const QStringList speeds = {"1200", "2400", "4800", "9600", "19200", "28800", "38400", "57600", "115200"};
        QCOMPARE(speedTexts(), speeds);
        const QList<int> codes = {0, 1, 2, 3, 4, 5, 5, 6, 7};
        for (int i = 0; i < speeds.size(); ++i)
            QCOMPARE(speedCode(speeds[i]), codes[i]);
        QCOMPARE(speedCode(QStringLiteral("300")), -1);
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
