#include "app/appstate.h"
#include "boardsim/simulatedline.h"
#include "configuration/configurationeditor.h"
#include "protocol/printerqueries.h"
#include "protocol/replytext.h"
#include "scriptedprompts.h"
#include "serial/seriallink.h"
#include "serial/virtualclock.h"

#include <QTest>

using namespace tessary;
using namespace tessary::sim;
using namespace tessary::test;

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

struct Rig {
    explicit Rig(int port = 3, const QString &speed = QStringLiteral("19200"), int handshake = 2)
    {
        line.setWakeups(false);
        printer.printerFound = true;
        printer.comPort = qint16(port);
        printer.baudRate = speed;
        printer.handshake = qint16(handshake);
    }
    Board &board(BoardOptions options = {})
    {
        options.baud = printer.baudRate.toInt();
        return line.attachBoard(printer.comPort, options);
    }
    VirtualClock clock;
    SimulatedLine line{clock};
    SerialLink link{line, clock};
    PrinterLink printer;
    ScriptedPrompts prompts;
    ConfigurationEditor editor;
    PrinterQueries queries{link, printer};
};

} // namespace

class TestPrinterQueries : public QObject {
    Q_OBJECT

private slots:
    void identityOpensWithTheLinkStateAndReturnsTheWholeReply();
    void identityOfASilentBoardIsEmpty();

    void configurationReplyGivesTheCode_data();
    void configurationReplyGivesTheCode();
    void nameIsTheFirst16CharactersWithoutMrs_data();
    void nameIsTheFirst16CharactersWithoutMrs();

    void readBackFillsTheEditorFromTheBoard();
    void readBackOfFourByteReplyUsesItsLastTwo();
    void readBackOfThreeByteReplyReportsAndStillReadsTheName();
    void readBackOfSilentBoardSelectsResistorsAndAutomatic();

    void sleepSendsCanSleepCanWithTenMillisecondsBeforeTheLast();
    void wakeUpWakesEveryPortThenSendsCanToThePrinter();
    void resetSendsEscAtAndClosesAtOnce();
    void boardControlSendsNothingWithoutAPrinter();

    void printableTextReplacesControlCharacters();
};

void TestPrinterQueries::identityOpensWithTheLinkStateAndReturnsTheWholeReply()
{
    Rig rig;
    BoardOptions options;
    options.identity = "ACME 80MM";
    options.firmware = " FW 9.99\r\n";
    rig.board(options);
    const QByteArray reply = rig.queries.identity();
    QCOMPARE(reply, QByteArray("ACME 80MM        FW 9.99\r\n"));
    QCOMPARE(rig.line.opens().size(), 1);
    QCOMPARE(rig.line.opens().at(0).port, 3);
    QCOMPARE(rig.line.opens().at(0).baud, 19200);
    QCOMPARE(rig.line.opens().at(0).handshake, 2);
    QCOMPARE(rig.line.writtenBytes(), hex("1b49"));
    // The settle pause after opening, then the query.
    QCOMPARE(rig.line.writes().at(0).at - rig.line.opens().at(0).at, 50);
    QVERIFY(!rig.line.isOpen());
}

void TestPrinterQueries::identityOfASilentBoardIsEmpty()
{
    Rig rig;
    BoardOptions options;
    options.faults.silent = true;
    rig.board(options);
    QVERIFY(rig.queries.identity().isEmpty());
    QVERIFY(!rig.line.isOpen());
}

void TestPrinterQueries::configurationReplyGivesTheCode_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("code"); // empty: unusable
    QTest::newRow("two bytes") << hex("d180") << "1101000110000000";
    QTest::newRow("four bytes count by the last two") << hex("5343d180") << "1101000110000000";
    QTest::newRow("a5 00") << hex("a500") << "1010010100000000";
    QTest::newRow("three bytes") << hex("43d180") << "";
    QTest::newRow("one byte") << hex("d1") << "";
    QTest::newRow("five bytes") << hex("005343d180") << "";
    QTest::newRow("nothing") << QByteArray() << "";
}

void TestPrinterQueries::configurationReplyGivesTheCode()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, code);
    const auto result = PrinterQueries::codeFromReply(reply);
    QCOMPARE(result.has_value(), !code.isEmpty());
    if (result)
        QCOMPARE(*result, code);
}

void TestPrinterQueries::nameIsTheFirst16CharactersWithoutMrs_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("name");
    QTest::newRow("twelve letters, blank, MRS") << QByteArray("ABCDEFGHIJKL MRS FW1") << "ABCDEFGHIJKL";
    QTest::newRow("20 characters without MRS") << QByteArray(" TH576 1500 STD WXYZ") << "TH576 1500 STD";
    QTest::newRow("MRS beyond 16 is not looked at") << QByteArray("ABCDEFGHIJKLMNOPMRS") << "ABCDEFGHIJKLMNOP";
    QTest::newRow("MRS right after the name") << QByteArray("SHORTMRS") << "SHORT";
    QTest::newRow("blanks only") << QByteArray("                ") << "";
    QTest::newRow("empty") << QByteArray() << "";
}

void TestPrinterQueries::nameIsTheFirst16CharactersWithoutMrs()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, name);
    QCOMPARE(PrinterQueries::nameFromIdentity(reply), name);
}

void TestPrinterQueries::readBackFillsTheEditorFromTheBoard()
{
    Rig rig;
    BoardOptions options;
    options.userMode = true;
    options.configuration1 = 0xD1;
    options.configuration2 = 0x80;
    options.identity = "MY PRINTER";
    rig.board(options);

    const ReadBackResult result = rig.queries.readSettings(rig.editor, rig.prompts);
    QVERIFY(rig.prompts.shown.isEmpty());
    QCOMPARE(result.code.value_or(QString()), QStringLiteral("1101000110000000"));
    QVERIFY(result.configurationModeUser);
    QVERIFY(result.identityUser);
    QVERIFY(rig.editor.isChecked(QStringLiteral("ConfUser")));
    QVERIFY(rig.editor.isChecked(QStringLiteral("IdUser")));
    QCOMPARE(rig.editor.buildConfigurationCode(), QStringLiteral("1101000110000000"));
    QCOMPARE(rig.editor.name(), QStringLiteral("MY PRINTER"));
    QCOMPARE(rig.line.writtenBytes(), hex("1d536606" "1d536609" "1d5343" "1b49"));
    QCOMPARE(rig.line.opens().size(), 1);
    QVERIFY(!rig.line.isOpen());
}

void TestPrinterQueries::readBackOfFourByteReplyUsesItsLastTwo()
{
    Rig rig;
    BoardOptions options;
    options.configuration1 = 0xD1;
    options.configuration2 = 0x80;
    options.fourByteConfiguration = true;
    rig.board(options);
    const ReadBackResult result = rig.queries.readSettings(rig.editor, rig.prompts);
    QCOMPARE(result.configurationReply, hex("5343d180"));
    QCOMPARE(result.code.value_or(QString()), QStringLiteral("1101000110000000"));
    QVERIFY(rig.prompts.shown.isEmpty());
}

void TestPrinterQueries::readBackOfThreeByteReplyReportsAndStillReadsTheName()
{
    Rig rig;
    BoardOptions options;
    options.identity = "KEPT NAME";
    options.faults.threeByteConfiguration = true;
    rig.board(options);
    rig.editor.click(QStringLiteral("HW576"));
    const MechanismSettings before = rig.editor.settings();
    int errorCallbacks = 0;
    const ReadBackResult result = rig.queries.readSettings(rig.editor, rig.prompts, [&] {
        // The message has been shown by then.
        QCOMPARE(rig.prompts.shown.size(), 1);
        ++errorCallbacks;
    });
    QCOMPARE(errorCallbacks, 1);
    QCOMPARE(rig.prompts.texts(), QStringList{QStringLiteral("Error while reading printer parameters !")});
    QCOMPARE(rig.prompts.shown.at(0).icon, MessageIcon::Error);
    QVERIFY(!result.code);
    QCOMPARE(rig.editor.settings(), before);
    QVERIFY(rig.editor.isChecked(QStringLiteral("HW576")));
    QCOMPARE(rig.editor.name(), QStringLiteral("KEPT NAME"));
    QCOMPARE(rig.line.writtenBytes().right(2), hex("1b49"));
}

void TestPrinterQueries::readBackOfSilentBoardSelectsResistorsAndAutomatic()
{
    Rig rig;
    BoardOptions options;
    options.faults.silent = true;
    rig.board(options);
    rig.editor.setConfigurationMode(true);
    rig.editor.setIdentityMode(true);
    rig.editor.setName(QStringLiteral("OLD"));
    const ReadBackResult result = rig.queries.readSettings(rig.editor, rig.prompts);
    QVERIFY(rig.editor.isChecked(QStringLiteral("ConfRes")));
    QVERIFY(rig.editor.isChecked(QStringLiteral("IdAuto")));
    QCOMPARE(rig.prompts.texts(), QStringList{QStringLiteral("Error while reading printer parameters !")});
    QCOMPARE(rig.editor.name(), QString());
    QVERIFY(!result.configurationModeUser);
}

void TestPrinterQueries::sleepSendsCanSleepCanWithTenMillisecondsBeforeTheLast()
{
    Rig rig(2, QStringLiteral("9600"), 1);
    Board &board = rig.board();
    rig.queries.sleep();
    const auto &w = rig.line.writes();
    QCOMPARE(w.size(), 3);
    QCOMPARE(w.at(0).bytes, hex("18"));
    QCOMPARE(w.at(1).bytes, hex("1b53"));
    QCOMPARE(w.at(2).bytes, hex("18"));
    QVERIFY(w.at(2).at - w.at(1).at >= 10);
    QCOMPARE(rig.line.opens().at(0).handshake, 1);
    QVERIFY(!rig.line.isOpen());
    QVERIFY(board.isAsleep());
}

void TestPrinterQueries::wakeUpWakesEveryPortThenSendsCanToThePrinter()
{
    Rig rig(3, QStringLiteral("19200"), 2);
    rig.line.setExistingPorts({1, 3, 5});
    Board &board = rig.board();
    rig.queries.sleep();
    QVERIFY(board.isAsleep());
    rig.line.clearRecords();

    rig.queries.wakeUp();
    const auto &opens = rig.line.opens();
    const auto &writes = rig.line.writes();
    QCOMPARE(opens.size(), 4);
    const int wakePorts[] = {1, 3, 5};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(opens.at(i).port, wakePorts[i]);
        QCOMPARE(opens.at(i).baud, 57600);
        QCOMPARE(opens.at(i).handshake, 0);
        QCOMPARE(writes.at(i).bytes, hex("00"));
    }
    QCOMPARE(opens.at(3).port, 3);
    QCOMPARE(opens.at(3).baud, 19200);
    QCOMPARE(opens.at(3).handshake, 2);
    QCOMPARE(writes.at(3).bytes, hex("18"));
    QCOMPARE(writes.size(), 4);
    QVERIFY(opens.at(3).at - writes.at(2).at >= 1000);
    QVERIFY(!board.isAsleep());
    QVERIFY(!rig.line.isOpen());
}

void TestPrinterQueries::resetSendsEscAtAndClosesAtOnce()
{
    Rig rig;
    Board &board = rig.board();
    rig.queries.reset();
    QCOMPARE(rig.line.writtenBytes(), hex("1b40"));
    QCOMPARE(rig.line.closes().size(), 1);
    QCOMPARE(rig.line.closes().at(0).at, rig.line.writes().at(0).at);
    QCOMPARE(board.resetCount(), 1);
}

void TestPrinterQueries::boardControlSendsNothingWithoutAPrinter()
{
    Rig rig;
    rig.board();
    rig.printer.printerFound = false;
    rig.queries.sleep();
    rig.queries.reset();
    QVERIFY(rig.line.opens().isEmpty());
    // Waking still wakes every port; only the CAN to the printer is left out.
    rig.queries.wakeUp();
    QCOMPARE(rig.line.writtenBytes(), hex("00").repeated(6));
}

void TestPrinterQueries::printableTextReplacesControlCharacters()
{
    const QString shown = printableText(replyText(hex("41000a0d1b7f8542e9")));
    QCOMPARE(shown, QStringLiteral("A\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDB\u00E9"));
    QCOMPARE(trimBlanks(QStringLiteral("  a b \t ")), QStringLiteral("a b \t"));
}

QTEST_GUILESS_MAIN(TestPrinterQueries)
#include "tst_printerqueries.moc"
