#include "app/appstate.h"
#include "boardsim/ptyboardthread.h"
#include "configuration/configurationeditor.h"
#include "configuration/programmer.h"
#include "scriptedprompts.h"
#include "serial/eventloopclock.h"
#include "serial/qtserialline.h"
#include "serial/seriallink.h"

#include <QElapsedTimer>
#include <QTest>

using namespace tessary;
using namespace tessary::test;

// The real serial code in real time, against the simulated board behind a
// pseudo-terminal mapped to COM3.
class TestProgrammingPty : public QObject {
    Q_OBJECT

private slots:
    void userConfigurationAndIdentityReachTheBoard();
};

void TestProgrammingPty::userConfigurationAndIdentityReachTheBoard()
{
    sim::BoardOptions options;
    options.baud = 115200;
    options.handshake = sim::BoardHandshake::Hardware;
    options.strobePolarity = 1;
    options.userMode = false;
    options.identity = "OLD NAME";
    sim::PtyBoardThread board(options);
    QVERIFY2(board.isRunning(), qPrintable(board.errorString()));

    QtSerialLine line(PortNames({{3, board.path()}}, {}));
    EventLoopClock clock;
    PlainStatusLine status;
    SerialLink link(line, clock, &status);
    ScriptedPrompts prompts;
    const PrinterLink printer{true, 3, QStringLiteral("115200"), HandshakeHardware, true};

    ConfigurationEditor editor;
    editor.resetToStartState();
    editor.applyConfigurationCode(QStringLiteral("1101101111110000")); // KEL, 3000 Ohms, negative, 832 dots
    editor.setConfigurationMode(true);
    editor.setIdentityMode(true);
    editor.setName(QStringLiteral("PTY-TEST-MECH-16"));

    Programmer programmer(link, printer, prompts, status);
    QElapsedTimer elapsed;
    elapsed.start();
    const ProgrammingResult result = programmer.programPrinter(editor);
    const qint64 ms = elapsed.elapsed();

    QVERIFY2(prompts.shown.isEmpty(), qPrintable(prompts.texts().join(u'|') + status.statusText()));
    QVERIFY(result.completed());
    QCOMPARE(result.writes.size(), 3 + 16);
    QCOMPARE(result.echoFailures(), 0);
    QCOMPARE(result.detectedPolarity, std::optional<quint8>(1));
    QVERIFY2(result.identity == QByteArray("PTY-TEST-MECH-16 FW 4.12"),
             qPrintable(QStringLiteral("identity \"%1\" after %2 ms; status: %3")
                            .arg(QString::fromLatin1(result.identity))
                            .arg(ms)
                            .arg(status.statusText())));

    quint8 mode = 0;
    std::pair<quint8, quint8> effective;
    QByteArray name;
    int resets = 0;
    board.withBoard([&](sim::Board &b) {
        mode = b.parameter(6);
        effective = b.effectiveConfiguration();
        for (int a = 9; a <= 24; ++a)
            name += char(b.parameter(a));
        resets = b.resetCount();
    });
    QCOMPARE(mode, quint8(1));
    QCOMPARE(effective.first, quint8(0xDB));
    QCOMPARE(effective.second, quint8(0xF0));
    QCOMPARE(name, QByteArray("PTY-TEST-MECH-16"));
    QCOMPARE(resets, 1);

    // The waits the exchange prescribes: 4 openings of 50 ms, the 1000 ms
    // reset pause, 100 ms before the identity reply and its 500 ms of quiet;
    // on top come the polarity reply and the 19 echoes.
    constexpr int prescribed = 4 * 50 + 1000 + 100 + 500;
    qInfo("User/User programming at 115200: %lld ms; prescribed waits %d ms plus 19 echoes and the polarity reply",
          ms, prescribed);
}

QTEST_GUILESS_MAIN(TestProgrammingPty)
#include "tst_programmingpty.moc"
