#include "app/appstate.h"
#include "boardsim/ptyboardthread.h"
#include "configuration/configurationeditor.h"
#include "detection/detector.h"
#include "protocol/printerqueries.h"
#include "scriptedprompts.h"
#include "serial/eventloopclock.h"
#include "serial/portnames.h"
#include "serial/qtserialline.h"
#include "serial/seriallink.h"

#include <QElapsedTimer>
#include <QTest>

using namespace tessary;
using namespace tessary::sim;
using namespace tessary::test;

// The real serial path over a pseudo-terminal, in real time: the board
// answers only at its own speed, so the scan has to walk down to it.
class TestDetectionPty : public QObject {
    Q_OBJECT

private slots:
    void scanFindsTheBoardAndTheReadBackFillsTheEditor();
};

void TestDetectionPty::scanFindsTheBoardAndTheReadBackFillsTheEditor()
{
    BoardOptions options;
    options.baud = 19200;
    options.handshake = BoardHandshake::Hardware;
    options.userMode = true;
    options.configuration1 = 0xD1;
    options.configuration2 = 0x80;
    options.identity = "PTY BOARD";
    PtyBoardThread board(options);
    if (!board.isRunning())
        QSKIP(qPrintable(QStringLiteral("no pseudo-terminal: ") + board.errorString()));

    // Only COM3 exists: the scan costs the wake-up pause and five speeds.
    QtSerialLine line(PortNames({{3, board.path()}}, {}));
    EventLoopClock clock;
    PlainStatusLine status;
    SerialLink link(line, clock, &status);
    PrinterLink printer;
    ScriptedPrompts prompts;
    Detector detector(link, printer, prompts);

    QElapsedTimer timer;
    timer.start();
    const QString result = detector.autodetect();
    qInfo("scan took %lld ms", timer.elapsed());
    QCOMPARE(result, QStringLiteral("PTY BOARD found on COM 3 at 19200 bauds"));
    QVERIFY(printer.printerFound);
    QCOMPARE(printer.comPort, 3);
    QCOMPARE(printer.baudRate, QStringLiteral("19200"));
    QCOMPARE(printer.handshake, 2);
    QVERIFY(!line.isOpen());

    ConfigurationEditor editor;
    PrinterQueries queries(link, printer);
    const ReadBackResult readBack = queries.readSettings(editor, prompts);
    QVERIFY2(prompts.shown.isEmpty(), qPrintable(prompts.texts().join(u'|')));
    QCOMPARE(readBack.code.value_or(QString()), QStringLiteral("1101000110000000"));
    QVERIFY(editor.isChecked(QStringLiteral("ConfUser")));
    QVERIFY(editor.isChecked(QStringLiteral("IdUser")));
    QCOMPARE(editor.buildConfigurationCode(), QStringLiteral("1101000110000000"));
    QCOMPARE(editor.name(), QStringLiteral("PTY BOARD"));
    QVERIFY(!line.isOpen());
}

QTEST_GUILESS_MAIN(TestDetectionPty)
#include "tst_detection_pty.moc"
