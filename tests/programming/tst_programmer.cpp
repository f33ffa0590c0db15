#include "app/appstate.h"
#include "boardsim/simulatedline.h"
#include "configuration/configurationeditor.h"
#include "configuration/programmer.h"
#include "protocol/printerqueries.h"
#include "scriptedprompts.h"
#include "serial/commandgate.h"
#include "serial/seriallink.h"
#include "serial/virtualclock.h"

#include <QTest>

#include <functional>

using namespace tessary;
using namespace tessary::test;

namespace {

// A virtual clock that asks the command to stop at its n-th wait, as a
// window closing in the middle of the programming would.
class StoppingClock : public VirtualClock {
public:
    std::function<void()> onWait;
    void delay(int ms) override
    {
        tick();
        VirtualClock::delay(ms);
    }
    bool waitForInput(SerialLine &line, int ms) override
    {
        tick();
        return VirtualClock::waitForInput(line, ms);
    }
    int waits = 0;

private:
    void tick()
    {
        ++waits;
        if (onWait)
            onWait();
    }
};

// The board on COM3 at 115200 with hardware handshake, as a detection found it.
struct Rig {
    explicit Rig(const sim::BoardOptions &options = {}, bool withBoard = true)
    {
        line.setExistingPorts({3});
        if (withBoard)
            board = &line.attachBoard(3, options);
    }

    StoppingClock clock;
    sim::SimulatedLine line{clock};
    SerialLink link{line, clock};
    CommandGate gate{link};
    ScriptedPrompts prompts;
    PlainStatusLine status;
    PrinterLink printer{true, 3, QStringLiteral("115200"), HandshakeHardware, true};
    ConfigurationEditor editor;
    Programmer programmer{link, printer, prompts, status};
    sim::Board *board = nullptr;
};

enum Mode { NoMode, Resistors, User };
enum Id { NoId, Auto, UserId };

void configure(ConfigurationEditor &editor, Mode mode, Id id, const QString &code = {}, const QString &name = {})
{
    if (!code.isEmpty())
        editor.applyConfigurationCode(code);
    if (mode != NoMode)
        editor.setConfigurationMode(mode == User);
    if (id != NoId)
        editor.setIdentityMode(id == UserId);
    editor.setName(name);
}

const QString Factory = QStringLiteral("1111000101000000"); // Negative strobe

// A board whose hardware detects the negative strobe the factory code asks for.
sim::BoardOptions negativeStrobe()
{
    sim::BoardOptions options;
    options.strobePolarity = 1;
    return options;
}

const QString ProgrammingError = QStringLiteral("Programming error ! Please check cables and power.");

// Every parameter write in the bytes the board received.
QList<QByteArray> parameterWrites(const QByteArray &written)
{
    QList<QByteArray> writes;
    for (qsizetype i = written.indexOf("\x1dSF"); i >= 0; i = written.indexOf("\x1dSF", i + 5))
        writes.append(written.mid(i, 5));
    return writes;
}

} // namespace

class TestProgrammer : public QObject {
    Q_OBJECT

private slots:
    void writesExactBytesInOrder_data();
    void writesExactBytesInOrder();
    void eachParameterGoesOutByteByByteAndTheIdentityFollowsTheResetPause();
    void portIsOpenedWithPrinterLinkAroundEachGroup();
    void boardHoldsAndReadsBackTheProgrammedConfiguration_data();
    void boardHoldsAndReadsBackTheProgrammedConfiguration();
    void polarityQuestion_data();
    void polarityQuestion();
    void polarityCancelWritesNothingAndSaysSo();
    void missingBoardGivesOneMessagePerWrite_data();
    void missingBoardGivesOneMessagePerWrite();
    void wrongEchoGivesOneMessageAndTheRestIsWritten();
    void portThatCannotBeOpenedIsOneMessageNotOnePerWrite();
    void checksStopBeforeAnyByte_data();
    void checksStopBeforeAnyByte();
    void stopLandsOnlyBetweenWholeParameterCommands();
    void planIsTakenOnceBeforeTheFirstByte();
};

void TestProgrammer::writesExactBytesInOrder_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray tail = QByteArray::fromHex("1b40 1b49");
    QTest::newRow("resistors, automatic identity")
        << int(Resistors) << int(Auto) << QString()
        << QByteArray::fromHex("1d53460600 1d53460900") + tail;
    QTest::newRow("user mode, factory code")
        << int(User) << int(Auto) << QString()
        << QByteArray::fromHex("1d5368 1d53460601 1d534607f1 1d53460840 1d53460900") + tail;
    QTest::newRow("5-character identity with a Latin-1 letter")
        << int(Resistors) << int(UserId) << QStringLiteral("Caf\u00e9!")
        << QByteArray::fromHex("1d53460600 1d53460943 1d53460a61 1d53460b66 1d53460ce9 1d53460d21 1d53460e00")
               + tail;
    const QByteArray sixteen = QByteArray::fromHex(
        "1d53460600 1d53460941 1d53460a42 1d53460b43 1d53460c44 1d53460d45 1d53460e46 1d53460f47 1d53461048 "
        "1d53461149 1d5346124a 1d5346134b 1d5346144c 1d5346154d 1d5346164e 1d5346174f 1d53461850");
    QTest::newRow("16-character identity has no end mark")
        << int(Resistors) << int(UserId) << QStringLiteral("ABCDEFGHIJKLMNOP") << sixteen + tail;
    QTest::newRow("20-character identity writes its first 16")
        << int(Resistors) << int(UserId) << QStringLiteral("ABCDEFGHIJKLMNOPQRST") << sixteen + tail;
    QTest::newRow("1-character identity")
        << int(Resistors) << int(UserId) << QStringLiteral("Z")
        << QByteArray::fromHex("1d53460600 1d5346095a 1d53460a00") + tail;
}

void TestProgrammer::writesExactBytesInOrder()
{
    QFETCH(int, mode);
    QFETCH(int, id);
    QFETCH(QString, name);
    QFETCH(QByteArray, expected);

    Rig rig(negativeStrobe());
    configure(rig.editor, Mode(mode), Id(id), Factory, name);

    const ProgrammingResult result = rig.programmer.programPrinter(rig.editor);

    QCOMPARE(rig.line.writtenBytes(), expected);
    QVERIFY(result.completed());
    QCOMPARE(result.echoFailures(), 0);
    QCOMPARE(result.writes.size(), parameterWrites(expected).size());
    QVERIFY(rig.prompts.shown.isEmpty());
    QCOMPARE(rig.board->resetCount(), 1);
    QVERIFY(!rig.line.isOpen());
}

void TestProgrammer::eachParameterGoesOutByteByByteAndTheIdentityFollowsTheResetPause()
{
    Rig rig;
    configure(rig.editor, Resistors, UserId, {}, QStringLiteral("AB"));
    const ProgrammingResult result = rig.programmer.programPrinter(rig.editor);

    QList<QByteArray> chunks;
    for (const auto &w : rig.line.writes())
        chunks.append(w.bytes);
    // 4 parameters of 5 single-byte writes, then the reset and the identity
    // query as one write each.
    QCOMPARE(chunks.size(), 4 * 5 + 2);
    for (int i = 0; i < 20; ++i)
        QCOMPARE(chunks.at(i).size(), 1);
    QCOMPARE(chunks.at(20), QByteArray::fromHex("1b40"));
    QCOMPARE(chunks.at(21), QByteArray::fromHex("1b49"));

    // The 1000 ms pause, then the port's 50 ms settle before the query.
    const qint64 resetAt = rig.line.writes().at(20).at;
    const qint64 queryAt = rig.line.writes().at(21).at;
    QVERIFY2(queryAt - resetAt >= 1050, qPrintable(QString::number(queryAt - resetAt)));
    QCOMPARE(result.identity, rig.board->identityReply());
    QVERIFY(result.identityRead);
}

void TestProgrammer::portIsOpenedWithPrinterLinkAroundEachGroup()
{
    Rig rig(negativeStrobe());
    configure(rig.editor, User, UserId, Factory, QStringLiteral("ABC"));
    (void)rig.programmer.programPrinter(rig.editor);

    // Configuration group (with the polarity query), identity group, reset,
    // identity query.
    QCOMPARE(rig.line.opens().size(), 4);
    QCOMPARE(rig.line.closes().size(), 4);
    for (const auto &open : rig.line.opens()) {
        QCOMPARE(open.port, 3);
        QCOMPARE(open.baud, 115200);
        QCOMPARE(open.handshake, int(HandshakeHardware));
    }
    // Each group's bytes went out while its own opening lasted.
    const auto &opens = rig.line.opens();
    const auto &closes = rig.line.closes();
    const QList<QByteArray> groups = {QByteArray::fromHex("1d5368 1d53460601 1d534607f1 1d53460840"),
                                      QByteArray::fromHex("1d53460941 1d53460a42 1d53460b43 1d53460c00"),
                                      QByteArray::fromHex("1b40"), QByteArray::fromHex("1b49")};
    for (int g = 0; g < 4; ++g) {
        QByteArray inside;
        for (const auto &w : rig.line.writes())
            if (w.at >= opens.at(g).at && w.at <= closes.at(g).at)
                inside += w.bytes;
        QCOMPARE(inside, groups.at(g));
    }
}

void TestProgrammer::boardHoldsAndReadsBackTheProgrammedConfiguration_data()
{
    QTest::addColumn<bool>("userMode");
    QTest::addColumn<bool>("userId");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("name");
    QTest::newRow("user, user: factory, 432 dots") << true << true << Factory << QStringLiteral("TH432 PROTO");
    QTest::newRow("user, user: KEL, 2 steps, inverted, 3000 Ohms, 832 dots")
        << true << true << QStringLiteral("1100101011110000") << QStringLiteral("KEL-832-INV-3K0X");
    QTest::newRow("user, user: 1-character name") << true << true << QStringLiteral("1110010000100000")
                                                  << QStringLiteral("x");
    QTest::newRow("user, automatic: 800 Ohms, positive, 384 dots")
        << true << false << QStringLiteral("1110010000100000") << QString();
    QTest::newRow("resistors, user") << false << true << Factory << QStringLiteral("STRAPS");
}

void TestProgrammer::boardHoldsAndReadsBackTheProgrammedConfiguration()
{
    QFETCH(bool, userMode);
    QFETCH(bool, userId);
    QFETCH(QString, code);
    QFETCH(QString, name);
    // A board that starts in resistors mode with zero bytes and another name.
    sim::BoardOptions options;
    options.userMode = false;
    options.configuration1 = 0x00;
    options.configuration2 = 0x00;
    options.strobePolarity = code.at(7) == QLatin1Char('1') ? 1 : 0;
    options.identity = "OLD NAME";
    Rig rig(options);
    // The editor starts from its start state, as the window's does.
    rig.editor.resetToStartState();
    configure(rig.editor, userMode ? User : Resistors, userId ? UserId : Auto, code, name);

    const ProgrammingResult programmed = rig.programmer.programPrinter(rig.editor);
    QVERIFY(programmed.completed());

    sim::Board &board = *rig.board;
    QCOMPARE(board.isUserMode(), userMode);
    if (userMode) {
        QCOMPARE(codeFromBytes(board.effectiveConfiguration().first, board.effectiveConfiguration().second), code);
        QCOMPARE(board.parameter(7), rig.editor.configurationByte1());
        QCOMPARE(board.parameter(8), rig.editor.configurationByte2());
    }
    QByteArray stored;
    for (int a = 9; a <= 24 && board.parameter(a) != 0; ++a)
        stored += char(board.parameter(a));
    QCOMPARE(QString::fromLatin1(stored), name);
    if (userId)
        QVERIFY(programmed.identity.startsWith(name.toLatin1()));

    // A fresh editor filled from the board, as "Check configuration" does.
    ConfigurationEditor readBack;
    PrinterQueries queries(rig.link, rig.printer);
    const ReadBackResult result = queries.readSettings(readBack, rig.prompts);

    QVERIFY(rig.prompts.shown.isEmpty());
    QCOMPARE(result.configurationModeUser, userMode);
    QCOMPARE(result.identityUser, userId);
    QCOMPARE(readBack.configurationModeUser(), userMode);
    QCOMPARE(readBack.identityUser(), userId);
    // In resistors mode the board runs on its straps, not on the bytes.
    if (userMode)
        QCOMPARE(readBack.buildConfigurationCode(), code);
    else
        QCOMPARE(result.code, std::optional<QString>(QStringLiteral("1110000101100000")));
    if (userId)
        QCOMPARE(result.name, name);
}

void TestProgrammer::polarityQuestion_data()
{
    QTest::addColumn<int>("boardPolarity");
    QTest::addColumn<bool>("boardSilentToSh"); // no answer reads as Positive
    QTest::addColumn<int>("userPolarity");
    QTest::addColumn<bool>("asked");

    QTest::newRow("both positive") << 0 << false << 0 << false;
    QTest::newRow("both negative") << 1 << false << 1 << false;
    QTest::newRow("board negative, user positive") << 1 << false << 0 << true;
    QTest::newRow("board positive, user negative") << 0 << false << 1 << true;
    QTest::newRow("no answer, user positive") << 1 << true << 0 << false;
    QTest::newRow("no answer, user negative") << 1 << true << 1 << true;
}

void TestProgrammer::polarityQuestion()
{
    QFETCH(int, boardPolarity);
    QFETCH(bool, boardSilentToSh);
    QFETCH(int, userPolarity);
    QFETCH(bool, asked);

    sim::BoardOptions options;
    options.strobePolarity = boardPolarity;
    options.faults.silent = boardSilentToSh;
    Rig rig(options);
    configure(rig.editor, User, Auto,
              userPolarity ? QStringLiteral("1111000101000000") : QStringLiteral("1111000001000000"));
    rig.prompts.answer({true}); // OK: program anyway

    const ProgrammingResult result = rig.programmer.programPrinter(rig.editor);

    const QString question = QStringLiteral("Hardware detected polarity doesn't match user choice !  Program anyway ?");
    QCOMPARE(rig.prompts.texts().contains(question), asked);
    if (asked) {
        const auto &shown = rig.prompts.shown.first();
        QCOMPARE(shown.text, question);
        QCOMPARE(shown.icon, MessageIcon::Warning);
        QCOMPARE(shown.buttons, MessageButtons::OkCancel);
    }
    QVERIFY(result.completed());
    QCOMPARE(result.detectedPolarity, std::optional<quint8>(boardSilentToSh ? 0 : boardPolarity));
    // OK goes on with every write.
    QCOMPARE(parameterWrites(rig.line.writtenBytes()).size(), 4);
}

void TestProgrammer::polarityCancelWritesNothingAndSaysSo()
{
    sim::BoardOptions options;
    options.strobePolarity = 0;
    options.userMode = false;
    Rig rig(options);
    configure(rig.editor, User, UserId, Factory, QStringLiteral("NEW"));
    rig.prompts.answer({false});

    const ProgrammingResult result = rig.programmer.programPrinter(rig.editor);

    QCOMPARE(result.outcome, ProgrammingResult::Outcome::Cancelled);
    QCOMPARE(rig.line.writtenBytes(), QByteArray::fromHex("1d5368"));
    QCOMPARE(rig.status.statusText(), QStringLiteral("Programming cancelled !"));
    QVERIFY(!rig.line.isOpen());
    QCOMPARE(rig.board->resetCount(), 0);
    QCOMPARE(rig.board->parameter(6), quint8(0));
    QVERIFY(result.writes.isEmpty());
    QVERIFY(!result.resetSent);
}

void TestProgrammer::missingBoardGivesOneMessagePerWrite_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("id");
    QTest::addColumn<bool>("attached"); // a silent board, or nothing at all on the port
    QTest::addColumn<int>("messages");
    // A missing echo is a failed one, also for the writes of 0: the end mark
    // 14 <- 0 of "ABCDE", and 6 <- 0, 9 <- 0 of Resistors + Automatic.
    QTest::newRow("User + User, nothing on the port") << int(User) << int(UserId) << false << 3 + 5 + 1;
    QTest::newRow("User + User, silent board") << int(User) << int(UserId) << true << 3 + 5 + 1;
    QTest::newRow("Resistors + Automatic, nothing on the port") << int(Resistors) << int(Auto) << false << 2;
}

void TestProgrammer::missingBoardGivesOneMessagePerWrite()
{
    QFETCH(int, mode);
    QFETCH(int, id);
    QFETCH(bool, attached);
    QFETCH(int, messages);

    sim::BoardOptions options;
    options.faults.silent = true;
    Rig rig(options, attached);
    configure(rig.editor, Mode(mode), Id(id), QStringLiteral("1111000001000000"), QStringLiteral("ABCDE"));

    const ProgrammingResult result = rig.programmer.programPrinter(rig.editor);

    // Positive strobe: no answer to "Sh" reads as Positive, so no question.
    QCOMPARE(rig.prompts.shown.size(), messages);
    for (const auto &shown : rig.prompts.shown) {
        QCOMPARE(shown.text, ProgrammingError);
        QCOMPARE(shown.icon, MessageIcon::None);
        QCOMPARE(shown.buttons, MessageButtons::Ok);
    }
    QCOMPARE(result.echoFailures(), messages);
    QCOMPARE(result.writes.size(), messages);
    for (const ProgrammingResult::Write &w : result.writes)
        QVERIFY2(!w.echo, qPrintable(QStringLiteral("parameter %1").arg(w.address)));
    QVERIFY(result.completed());
    QVERIFY(result.identityRead);
    QVERIFY(result.identity.isEmpty());
    QVERIFY(rig.line.writtenBytes().endsWith(QByteArray::fromHex("1b40 1b49")));
}

void TestProgrammer::wrongEchoGivesOneMessageAndTheRestIsWritten()
{
    sim::BoardOptions options = negativeStrobe();
    options.faults.wrongEchoAddress = 7;
    Rig rig(options);
    configure(rig.editor, User, UserId, Factory, QStringLiteral("AB"));

    const ProgrammingResult result = rig.programmer.programPrinter(rig.editor);

    QCOMPARE(rig.prompts.texts(), QStringList{ProgrammingError});
    QCOMPARE(rig.line.writtenBytes(),
             QByteArray::fromHex("1d5368 1d53460601 1d534607f1 1d53460840 1d53460941 1d53460a42 1d53460b00 1b40 1b49"));
    QCOMPARE(result.echoFailures(), 1);
    const auto failed = std::find_if(result.writes.cbegin(), result.writes.cend(),
                                     [](const auto &w) { return !w.verified(); });
    QCOMPARE(failed->address, quint8(7));
    QCOMPARE(failed->value, quint8(0xF1));
    QCOMPARE(failed->echo, quint8(0xF0));
    QVERIFY(result.completed());
    QVERIFY(!result.identity.isEmpty());
}

void TestProgrammer::portThatCannotBeOpenedIsOneMessageNotOnePerWrite()
{
    Rig rig;
    rig.line.failOpen(3, QStringLiteral("COM3 is in use by another program."));
    rig.link.setStatusLine(&rig.status);
    configure(rig.editor, Resistors, UserId, {}, QStringLiteral("AB"));

    const ProgrammingResult result = rig.programmer.programPrinter(rig.editor);

    // Six writes ("A", "B", the 0, mode 0...) cannot go out: one message.
    QCOMPARE(rig.prompts.texts(), QStringList{QStringLiteral("Programming error ! Please check cables and power.")});
    QVERIFY(rig.line.writtenBytes().isEmpty());
    QVERIFY(result.identity.isEmpty());
    QCOMPARE(rig.status.statusText(), QStringLiteral("COM3 is in use by another program."));
    QVERIFY(!rig.line.isOpen());
}

void TestProgrammer::checksStopBeforeAnyByte_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");

    QTest::newRow("no configuration mode") << int(NoMode) << int(NoId) << Factory << QStringLiteral("A")
                                           << QStringLiteral("Please select a configuration mode !");
    QTest::newRow("no identity method") << int(User) << int(NoId) << Factory << QStringLiteral("A")
                                        << QStringLiteral("Please select an identity determination method !");
    QTest::newRow("user mode, nothing chosen but the voltage")
        << int(User) << int(Auto) << QString() << QString()
        << QStringLiteral("Mechanism (Standard/KEL) is not defined !");
    QTest::newRow("user identity, empty name") << int(Resistors) << int(UserId) << QString() << QString()
                                               << QStringLiteral("Please specify a mechanism identity !");
}

void TestProgrammer::checksStopBeforeAnyByte()
{
    QFETCH(int, mode);
    QFETCH(int, id);
    QFETCH(QString, code);
    QFETCH(QString, name);
    QFETCH(QString, message);

    Rig rig;
    rig.editor.resetToStartState();
    configure(rig.editor, Mode(mode), Id(id), code, name);

    const ProgrammingResult result = rig.programmer.programPrinter(rig.editor);

    QCOMPARE(result.outcome, ProgrammingResult::Outcome::Refused);
    QCOMPARE(rig.prompts.texts(), QStringList{message});
    QCOMPARE(rig.prompts.shown.first().icon, MessageIcon::Warning);
    QVERIFY(rig.line.opens().isEmpty());
    QVERIFY(rig.line.writtenBytes().isEmpty());
}

void TestProgrammer::stopLandsOnlyBetweenWholeParameterCommands()
{
    // Stop at every wait of a full run in turn: what reached the board is
    // always whole 5-byte commands, and the port is closed afterwards.
    int totalWaits = 0;
    {
        Rig rig(negativeStrobe());
        configure(rig.editor, User, UserId, Factory, QStringLiteral("ABCDEFGHIJKLMNOP"));
        QVERIFY(rig.gate.run([&] { (void)rig.programmer.programPrinter(rig.editor); }));
        totalWaits = rig.clock.waits;
    }
    QVERIFY(totalWaits > 19);
    for (int stopAt = 1; stopAt <= totalWaits; ++stopAt) {
        Rig rig(negativeStrobe());
        configure(rig.editor, User, UserId, Factory, QStringLiteral("ABCDEFGHIJKLMNOP"));
        rig.clock.onWait = [&] {
            if (rig.clock.waits == stopAt)
                rig.gate.requestStop();
        };
        QVERIFY(!rig.gate.run([&] { (void)rig.programmer.programPrinter(rig.editor); }));

        QByteArray written = rig.line.writtenBytes();
        if (written.startsWith(QByteArray::fromHex("1d5368")))
            written.remove(0, 3);
        const QList<QByteArray> commands = parameterWrites(written);
        QCOMPARE(written.left(commands.size() * 5), commands.join());
        const QByteArray rest = written.mid(commands.size() * 5);
        QVERIFY2(QByteArray::fromHex("1b401b49").startsWith(rest), qPrintable(rest.toHex()));
        // Every command sent was checked, except one whose echo wait was stopped.
        const qsizetype checked = rig.programmer.progress().writes.size();
        QVERIFY(checked == commands.size() || checked == commands.size() - 1);
        QVERIFY(!rig.line.isOpen());
    }
}

void TestProgrammer::planIsTakenOnceBeforeTheFirstByte()
{
    // The editor stays usable while the board is written; a change made
    // during a wait must not reach the board in the same run.
    Rig rig(negativeStrobe());
    configure(rig.editor, User, UserId, Factory, QStringLiteral("FIRST"));
    rig.clock.onWait = [&] {
        if (rig.clock.waits == 3) {
            rig.editor.setName(QStringLiteral("OTHER"));
            rig.editor.click(QStringLiteral("HW864"));
        }
    };

    (void)rig.programmer.programPrinter(rig.editor);

    QCOMPARE(rig.board->parameter(8), quint8(0x40));
    QCOMPARE(rig.board->parameter(9), quint8('F'));
}

QTEST_GUILESS_MAIN(TestProgrammer)
#include "tst_programmer.moc"
