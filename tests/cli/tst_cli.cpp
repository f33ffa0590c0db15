#include "boardsim/simulatedline.h"
#include "cliapp.h"
#include "clienvironment.h"
#include "productionlog.h"
#include "serial/virtualclock.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

using namespace tessary;
using namespace tessary::sim;

namespace {

// A virtual clock that runs a hook at every wait, so a test can change the
// board in the middle of a command.
class HookedClock : public VirtualClock {
public:
    std::function<void()> onWait;
    void delay(int ms) override
    {
        if (onWait)
            onWait();
        VirtualClock::delay(ms);
    }
    bool waitForInput(SerialLine &line, int ms) override
    {
        if (onWait)
            onWait();
        return VirtualClock::waitForInput(line, ms);
    }
};

// A port's own line in a scan of every port at once: it hands what was
// written on it over when it ends.
class PortLine : public SimulatedLine {
public:
    PortLine(const Clock &clock, std::function<void(const QList<Write> &)> ended)
        : SimulatedLine(clock), m_ended(std::move(ended))
    {
    }
    ~PortLine() override { m_ended(writes()); }

private:
    std::function<void(const QList<Write> &)> m_ended;
};

// The machine of the tests: six serial devices the system lists, the
// simulated line behind them and a clock that costs no time. A scan of every
// port at once gets a line and a virtual clock per port, sharing the port's
// device with the main line, starting at the main clock's time.
class SimEnvironment : public CliEnvironment {
public:
    QStringList systemDevices() const override { return devices; }
    SerialLine &line(const PortNames &table) override
    {
        QSet<int> existing;
        for (int port = PortNames::FirstPort; port <= PortNames::LastPort; ++port)
            if (!table.device(port).isEmpty() && present.contains(port))
                existing.insert(port);
        simLine.setExistingPorts(existing);
        return simLine;
    }
    Clock &clock() override { return virtualClock; }
    PortSession portSession(const PortNames &table, int port) override
    {
        Q_UNUSED(table); // the main line was made over the same table
        auto clock = std::make_unique<VirtualClock>();
        clock->advance(virtualClock.now());
        auto line = std::make_unique<PortLine>(*clock, [this, port](const QList<SimulatedLine::Write> &writes) {
            const std::lock_guard lock(portMutex);
            portWrites += writes;
            endedPorts.insert(port);
            portEnded.notify_all();
        });
        line->setWakeups(false);
        line->setExistingPorts({});
        std::unique_lock lock(portMutex);
        simLine.sharePort(port, *line);
        // The threads run as fast as they can, whatever the virtual time: let
        // them end from the highest port down, the order a wrong merge would
        // trip on.
        for (int higher = port + 1; lowestPortLast && higher <= PortNames::LastPort; ++higher)
            if (!portEnded.wait_for(lock, std::chrono::seconds(10), [&] {
                    return !simLine.portExists(higher) || endedPorts.contains(higher);
                }))
                qFatal("COM%d waited for COM%d for ever", port, higher);
        PortSession session;
        session.clock = std::move(clock);
        session.line = std::move(line);
        return session;
    }
    void portSessionsEnded(qint64 time) override { virtualClock.advance(qMax<qint64>(0, time - virtualClock.now())); }

    // Every write on the main line and on the ports' own lines, in time order.
    [[nodiscard]] QList<SimulatedLine::Write> allWrites() const
    {
        QList<SimulatedLine::Write> all = simLine.writes() + portWrites;
        std::stable_sort(all.begin(), all.end(), [](const auto &a, const auto &b) { return a.at < b.at; });
        return all;
    }

    QStringList devices = {QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyS1"), QStringLiteral("/dev/ttyS2"),
                           QStringLiteral("/dev/ttyS3"), QStringLiteral("/dev/ttyS4"), QStringLiteral("/dev/ttyS5")};
    QSet<int> present = {1, 2, 3, 4, 5, 6};
    HookedClock virtualClock;
    SimulatedLine simLine{virtualClock};
    std::mutex portMutex;
    QList<SimulatedLine::Write> portWrites;
    bool lowestPortLast = false; // each port's scan waits until the higher ports' have ended
    QSet<int> endedPorts;
    std::condition_variable portEnded;
};

struct Rig {
    SimEnvironment env;
    QString out;
    QString err;

    int run(const QStringList &arguments)
    {
        out.clear();
        err.clear();
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        CliApp app(env, outStream, errStream);
        app.setNow([] { return QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9), Qt::UTC); });
        const int status = app.run(QStringList{QStringLiteral("tessary")} + arguments);
        outStream.flush();
        errStream.flush();
        if (qEnvironmentVariableIsSet("TST_CLI_TRACE"))
            qDebug("%s\n--- out:\n%s--- err:\n%s", qPrintable(arguments.join(' ')), qPrintable(out), qPrintable(err));
        return status;
    }
    [[nodiscard]] QJsonObject json() const
    {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(out.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError)
            qWarning("not JSON: %s", qPrintable(out));
        return document.object();
    }
    Board &board(int port, const BoardOptions &options = {}) { return env.simLine.attachBoard(port, options); }
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray record(const QByteArray &name, const QByteArray &code)
{
    return name.leftJustified(16, ' ') + code + "\r\n";
}

// A board whose hardware detects a positive strobe, as Fields576 asks.
BoardOptions positiveStrobe()
{
    BoardOptions options;
    options.strobePolarity = 0;
    return options;
}

const QStringList Fields576 = {
    QStringLiteral("--head-width"), QStringLiteral("576"),     QStringLiteral("--head-type"), QStringLiteral("1500"),
    QStringLiteral("--mechanism"),  QStringLiteral("standard"), QStringLiteral("--steps"),    QStringLiteral("1"),
    QStringLiteral("--rotation"),   QStringLiteral("normal"),   QStringLiteral("--strobe"),   QStringLiteral("positive"),
    QStringLiteral("--head-up"),    QStringLiteral("normal")};

// Puts what the words name on the ports: "2:9600" a board at 9600 bauds,
// "4:xon@38400" one with XON/XOFF, "5:noisy@4800" one that answers other
// speeds with noise, "1:once" a device that answers a probe but not the probe
// after CAN, "2:double" one that answers a probe with two bytes, "3:probes"
// one that answers every probe and nothing else, "1:locked" a port that
// cannot be opened.
void place(Rig &rig, const QString &spec)
{
    for (const QString &word : spec.split(u' ', Qt::SkipEmptyParts)) {
        const int port = word.section(u':', 0, 0).toInt();
        const QString what = word.section(u':', 1);
        const auto answerProbe = [](int bytes, bool afterCancel) {
            auto lastWasCancel = std::make_shared<bool>(false);
            return std::make_shared<ScriptedDevice>([=](const QByteArray &received, const LineSettings &) {
                const bool answer = received == QByteArray::fromHex("1b76") && (afterCancel || !*lastWasCancel);
                *lastWasCancel = received == QByteArray::fromHex("18");
                return answer ? QByteArray(bytes, '\x01') : QByteArray();
            });
        };
        if (what == QLatin1String("once")) {
            rig.env.simLine.attachDevice(port, answerProbe(1, false));
        } else if (what == QLatin1String("double")) {
            rig.env.simLine.attachDevice(port, answerProbe(2, true));
        } else if (what == QLatin1String("probes")) {
            rig.env.simLine.attachDevice(port, answerProbe(1, true));
        } else if (what == QLatin1String("locked")) {
            rig.env.simLine.failOpen(port, QStringLiteral("/dev/ttyS%1 is in use by another program").arg(port - 1));
        } else {
            BoardOptions options;
            options.baud = what.section(u'@', -1).toInt();
            if (what.startsWith(QLatin1String("xon@")))
                options.handshake = BoardHandshake::XonXoff;
            rig.env.simLine.attachBoard(port, options,
                                        what.startsWith(QLatin1String("noisy@")) ? OtherSpeeds::Garbage
                                                                                 : OtherSpeeds::Silence);
        }
    }
}

// What went over each port, in order, as speed and bytes.
QMap<int, QStringList> wirePerPort(const SimEnvironment &env)
{
    QMap<int, QStringList> wire;
    for (const SimulatedLine::Write &write : env.allWrites())
        wire[write.port] << QStringLiteral("%1:%2").arg(write.baud).arg(QString::fromLatin1(write.bytes.toHex()));
    return wire;
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    // ---- the command line itself ----
    void usageErrorsExitTwoAndSendNothing_data();
    void usageErrorsExitTwoAndSendNothing();
    void everyCommandAnswersHelp_data();
    void everyCommandAnswersHelp();

    // ---- ports ----
    void portsListsTheSixSlotsWithDevicesAndWhetherTheyExist();

    // ---- detection ----
    void detectScansEveryPortAndReportsWhereTheBoardIs();
    void detectProgressGoesToStandardErrorUnlessQuiet();
    void portAndSpeedProbeOnlyThatPortAtThatSpeed();
    void portAloneScansOnlyThatPort();
    void devicePathTakesTheFirstSlot();
    void withoutABoardEveryBoardCommandExitsOne_data();
    void withoutABoardEveryBoardCommandExitsOne();
    void aPortThatCannotBeOpenedIsNamedWithItsReason();
    void aMissingDeviceIsNamed();
    void parallelScanAnswersAsTheSequentialScan_data();
    void parallelScanAnswersAsTheSequentialScan();
    void repeatedPortsAreScannedAtOnceAfterOneWakeUp();
    void traceWritesTheExchangesOfEveryPort();

    // ---- identity, read, wake, sleep, reset ----
    void identityPrintsTheBoardsReply();
    void readReportsModesCodeFieldsAndName();
    void readWithAnUnusableConfigurationReplyExitsOne();
    void sleepThenWakeThenReset();
    void wakeSendsOneWakeUpRound_data();
    void wakeSendsOneWakeUpRound();

    // ---- program ----
    void programWritesTheCodeAndIdentityAndVerifies();
    void programFromADatabaseEntry();
    void programResistorsModeWritesModeAndAutomaticIdentityOnly();
    void polarityMismatchStopsUnlessYes();
    void echoErrorExitsOneAndIsLogged_data();
    void echoErrorExitsOneAndIsLogged();
    void verificationMismatchExitsOne();
    void programWithoutABoardLogsTheFailure();
    void programFromFieldOptionsLogsOneHeaderAndOneRowPerBoard();
    void unwritableLogStopsBeforeTheBoardIsTouched();
    void csvFieldsAreQuotedAndKeptOnOneLine_data();
    void csvFieldsAreQuotedAndKeptOnOneLine();

    // ---- db ----
    void factoryWritesTheTwentyNineMechanismsAndKeepsExistingFiles();
    void addMoveShowRemoveAndOverwriteOnlyWithYes();
    void readOnlyDatabaseIsRefusedAndUnchanged();
    void notADatabaseIsRefused();
    void importExportImportRoundTripIsByteForByte();
    void importRefusesWhatAFileCannotHold_data();
    void importRefusesWhatAFileCannotHold();

    // ---- code ----
    void codeDecodeGivesBytesAndFields();
    void codeEncodeBuildsTheCodeFromFieldOptions();
};

// ---- the command line itself -------------------------------------------------

void TestCli::usageErrorsExitTwoAndSendNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("no command") << QStringList{} << "Usage: tessary <command>";
    QTest::newRow("unknown command") << QStringList{"frobnicate"} << "unknown command";
    QTest::newRow("unknown option") << QStringList{"detect", "--fast"} << "Unknown option";
    QTest::newRow("speed without port") << QStringList{"detect", "--speed", "9600"} << "--speed needs --port";
    QTest::newRow("COM7") << QStringList{"detect", "--port", "COM7"} << "COM1 to COM6";
    QTest::newRow("odd speed") << QStringList{"read", "--port", "COM1", "--speed", "9601"} << "--speed takes";
    QTest::newRow("handshake without speed") << QStringList{"read", "--port", "COM1", "--handshake", "xon"}
                                             << "--handshake needs --speed";
    QTest::newRow("odd handshake") << QStringList{"read", "--port", "COM1", "--speed", "9600", "--handshake", "rts"}
                                   << "--handshake takes xon or hw";
    QTest::newRow("short code") << QStringList{"program", "--code", "11110001"} << "16 characters 0 or 1";
    QTest::newRow("two sources") << QStringList{"program", "--code", "1111000101000000", "--head-width", "576"}
                                 << "one way";
    QTest::newRow("db without entry") << QStringList{"program", "--db", "x.cdb"} << "--db and --entry go together";
    QTest::newRow("resistors with a code")
        << QStringList{"program", "--mode", "resistors", "--code", "1111000101000000"} << "straps";
    QTest::newRow("odd mode") << QStringList{"program", "--mode", "auto"} << "--mode takes user or resistors";
    QTest::newRow("id and auto-id") << QStringList{"program", "--id", "A", "--auto-id"} << "not both";
    QTest::newRow("id beyond Latin-1") << QStringList{"program", "--mode", "resistors", "--id", "Ω-1"} << "Latin-1";
    QTest::newRow("empty id") << QStringList{"program", "--mode", "resistors", "--id", ""}
                              << "Please specify a mechanism identity !";
    QTest::newRow("head type no option names")
        << QStringList{"program", "--code", "1111011101000000"} << "names no head type";
    QTest::newRow("odd width") << QStringList{"code", "encode", "--head-width", "500"} << "--head-width takes";
    QTest::newRow("decode short") << QStringList{"code", "decode", "1010"} << "16 characters 0 or 1";
    QTest::newRow("code without action") << QStringList{"code"} << "needs decode or encode";
    QTest::newRow("db without action") << QStringList{"db"} << "needs an action";
    QTest::newRow("db list without file") << QStringList{"db", "list"} << "needs one FILE";
    QTest::newRow("fields without head-up") << QStringList{"program"} + Fields576.mid(0, Fields576.size() - 2)
                                            << "Head-up polarity is not defined !";
    QTest::newRow("db move two ways") << QStringList{"db", "move", "x.cdb", "A", "--up", "--down"}
                                      << "one of --up, --down or --to";
    QTest::newRow("a port twice") << QStringList{"detect", "--port", "COM2", "--port", "COM2=/dev/pts/1"}
                                  << "COM2 is named twice";
    QTest::newRow("speed for two ports") << QStringList{"detect", "--port", "COM1", "--port", "COM2", "--speed", "9600"}
                                         << "--speed probes one port";
}

void TestCli::usageErrorsExitTwoAndSendNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    Rig rig;
    rig.board(1);
    QCOMPARE(rig.run(arguments), int(CliApp::UsageError));
    QVERIFY2(rig.err.contains(message), qPrintable(rig.err));
    QVERIFY(rig.env.simLine.opens().isEmpty());
    QVERIFY(rig.env.simLine.writes().isEmpty());
    QVERIFY(rig.out.isEmpty());
}

void TestCli::everyCommandAnswersHelp_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("usageLine");
    const QStringList simple = {"ports", "detect", "identity", "read", "wake", "sleep", "reset", "program"};
    for (const QString &command : simple)
        QTest::newRow(qPrintable(command)) << QStringList{command, "--help"} << "Usage: tessary " + command;
    for (const char *action : {"list", "show", "add", "remove", "move", "factory", "export", "import"})
        QTest::newRow(qPrintable(QStringLiteral("db ") + action))
            << QStringList{"db", action, "--help"} << QStringLiteral("Usage: tessary db ") + action;
    QTest::newRow("code decode") << QStringList{"code", "decode", "-h"} << "Usage: tessary code decode";
    QTest::newRow("code encode") << QStringList{"code", "encode", "--help"} << "Usage: tessary code encode";
    QTest::newRow("overview") << QStringList{"--help"} << "Usage: tessary <command>";
}

void TestCli::everyCommandAnswersHelp()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, usageLine);
    Rig rig;
    QCOMPARE(rig.run(arguments), int(CliApp::Success));
    QVERIFY2(rig.out.startsWith(usageLine), qPrintable(rig.out));
    QVERIFY(rig.out.contains(QLatin1String("--port")));
    QVERIFY(rig.env.simLine.opens().isEmpty());
}

// ---- ports -------------------------------------------------------------------

void TestCli::portsListsTheSixSlotsWithDevicesAndWhetherTheyExist()
{
    Rig rig;
    rig.env.devices = {QStringLiteral("/dev/ttyUSB10"), QStringLiteral("/dev/ttyUSB2")};
    rig.env.present = {1};
    QCOMPARE(rig.run({"ports", "--json"}), 0);
    const QJsonArray ports = rig.json().value("ports").toArray();
    QCOMPARE(ports.size(), 6);
    QCOMPARE(ports[0].toObject().value("port").toString(), QStringLiteral("COM1"));
    QCOMPARE(ports[0].toObject().value("device").toString(), QStringLiteral("/dev/ttyUSB2")); // natural order
    QCOMPARE(ports[0].toObject().value("exists").toBool(), true);
    QCOMPARE(ports[1].toObject().value("device").toString(), QStringLiteral("/dev/ttyUSB10"));
    QCOMPARE(ports[1].toObject().value("exists").toBool(), false);
    QCOMPARE(ports[2].toObject().value("device").toString(), QString());

    // A mapping takes its slot; the listed devices fill the others.
    QCOMPARE(rig.run({"ports", "--port", "COM4=/dev/pts/7"}), 0);
    QVERIFY2(rig.out.contains(QRegularExpression("COM4\\s+/dev/pts/7")), qPrintable(rig.out));
    QVERIFY(rig.out.contains(QRegularExpression("COM1\\s+/dev/ttyUSB2\\s+exists")));
    QVERIFY(rig.out.contains(QRegularExpression("COM3\\s+-\\s+no device")));
}

// ---- detection ---------------------------------------------------------------

void TestCli::detectScansEveryPortAndReportsWhereTheBoardIs()
{
    Rig rig;
    BoardOptions options;
    options.baud = 9600;
    options.handshake = BoardHandshake::XonXoff;
    Board &board = rig.board(3, options);
    QCOMPARE(rig.run({"detect", "--json"}), 0);
    const QJsonObject json = rig.json();
    QCOMPARE(json.value("ok").toBool(), true);
    QCOMPARE(json.value("port").toString(), QStringLiteral("COM3"));
    QCOMPARE(json.value("device").toString(), QStringLiteral("/dev/ttyS2"));
    QCOMPARE(json.value("speed").toString(), QStringLiteral("9600"));
    QCOMPARE(json.value("handshake").toString(), QStringLiteral("xon"));
    QCOMPARE(json.value("identity").toString(), QString::fromLatin1(board.identityReply()));

    QCOMPARE(rig.run({"detect"}), 0);
    QVERIFY(rig.out.contains(QLatin1String("Port: COM3 (/dev/ttyS2)\nBaudrate: 9600\nHandshake: Xon-Xoff\n")));
    QVERIFY(rig.out.contains(QLatin1String("Identity: TH432 1K5 STD")));
}

void TestCli::detectProgressGoesToStandardErrorUnlessQuiet()
{
    Rig rig;
    rig.board(2);
    QCOMPARE(rig.run({"detect"}), 0);
    QVERIFY(rig.err.contains(QLatin1String("Attempting to contact printer on COM 1 at 115200 bauds.\n")));
    QVERIFY(rig.err.contains(QLatin1String("Attempting to contact printer on COM 1 at 1200 bauds.\n")));
    QVERIFY(rig.err.contains(QLatin1String(" found on COM 2 at 115200 bauds\n")));
    QVERIFY(!rig.out.contains(QLatin1String("Attempting")));

    // The board's identity reaches the terminal without control characters.
    Rig escaping;
    BoardOptions options;
    options.identity = "EVIL\x1b[2J";
    escaping.board(1, options);
    QCOMPARE(escaping.run({"detect"}), 0);
    QVERIFY(!escaping.err.contains(QChar(0x1b)));
    QVERIFY(!escaping.out.contains(QChar(0x1b)));
    QVERIFY(escaping.err.contains(QStringLiteral("EVIL\uFFFD[2J found on COM 1")));

    QCOMPARE(rig.run({"detect", "--quiet"}), 0);
    QCOMPARE(rig.err, QString());
    QVERIFY(rig.out.contains(QLatin1String("Port: COM2")));
}

void TestCli::portAndSpeedProbeOnlyThatPortAtThatSpeed()
{
    Rig rig;
    BoardOptions options;
    options.baud = 19200;
    rig.board(1, options);
    rig.board(4, options);
    QCOMPARE(rig.run({"detect", "--port", "COM4", "--speed", "19200", "--handshake", "xon", "--json"}), 0);
    QCOMPARE(rig.json().value("port").toString(), QStringLiteral("COM4"));
    QCOMPARE(rig.json().value("handshake").toString(), QStringLiteral("hw")); // the board's settings byte says so
    QVERIFY(!rig.env.simLine.opens().isEmpty());
    for (const SimulatedLine::Open &open : rig.env.simLine.opens()) {
        QCOMPARE(open.port, 4);
        QCOMPARE(open.baud, 19200);
    }
    // The probe opened with the handshake asked for.
    QCOMPARE(rig.env.simLine.opens().first().handshake, int(HandshakeXonXoff));
}

void TestCli::portAloneScansOnlyThatPort()
{
    Rig rig;
    BoardOptions options;
    options.baud = 2400;
    rig.board(5, options);
    rig.board(1);
    QCOMPARE(rig.run({"identity", "--port", "COM5", "--json"}), 0);
    QCOMPARE(rig.json().value("speed").toString(), QStringLiteral("2400"));
    for (const SimulatedLine::Open &open : rig.env.simLine.opens())
        QCOMPARE(open.port, 5);
    // The wake-up NUL went to COM5 alone.
    QCOMPARE(rig.env.simLine.writtenBytes(1), QByteArray());
    QVERIFY(rig.env.simLine.writtenBytes(5).startsWith(QByteArray::fromHex("00")));
}

void TestCli::devicePathTakesTheFirstSlot()
{
    Rig rig;
    rig.board(1);
    QCOMPARE(rig.run({"detect", "--port", "/dev/pts/9", "--speed", "115200", "--json"}), 0);
    QCOMPARE(rig.json().value("port").toString(), QStringLiteral("COM1"));
    QCOMPARE(rig.json().value("device").toString(), QStringLiteral("/dev/pts/9"));

    // A listed device keeps its slot.
    Rig listed;
    listed.board(3);
    QCOMPARE(listed.run({"detect", "--port", "/dev/ttyS2", "--speed", "115200", "--json"}), 0);
    QCOMPARE(listed.json().value("port").toString(), QStringLiteral("COM3"));
}

void TestCli::withoutABoardEveryBoardCommandExitsOne_data()
{
    QTest::addColumn<QStringList>("arguments");
    for (const char *command : {"detect", "identity", "read", "wake", "sleep", "reset"})
        QTest::newRow(command) << QStringList{command, "--json"};
    QTest::newRow("program") << QStringList{"program", "--code", "1111000101000000", "--json"};
    QTest::newRow("probe") << QStringList{"read", "--port", "COM2", "--speed", "9600", "--json"};
}

void TestCli::withoutABoardEveryBoardCommandExitsOne()
{
    QFETCH(QStringList, arguments);
    Rig rig;
    QCOMPARE(rig.run(arguments), int(CliApp::Failure));
    QVERIFY2(rig.err.contains(QLatin1String("No printer found")), qPrintable(rig.err));
    QVERIFY(rig.err.contains(QLatin1String("the board did not answer")));
    QCOMPARE(rig.json().value("ok").toBool(true), false);
    QVERIFY(!rig.env.simLine.isOpen());
}

void TestCli::aPortThatCannotBeOpenedIsNamedWithItsReason()
{
    Rig rig;
    rig.board(3);
    const QString reason = QStringLiteral("No permission to open /dev/ttyS2: add your user to the dialout group "
                                          "and log in again");
    rig.env.simLine.failOpen(3, reason);
    QCOMPARE(rig.run({"detect", "--port", "COM3", "--speed", "115200"}), int(CliApp::Failure));
    QVERIFY2(rig.err.contains(reason), qPrintable(rig.err));
    QCOMPARE(rig.err.count(reason), 1);
}

void TestCli::aMissingDeviceIsNamed()
{
    Rig rig;
    rig.env.present = {};
    QCOMPARE(rig.run({"detect", "--port", "/dev/ttyUSB7"}), int(CliApp::Failure));
    QVERIFY2(rig.err.contains(QLatin1String("/dev/ttyUSB7 does not exist")), qPrintable(rig.err));
    rig.env.devices = {};
    QCOMPARE(rig.run({"detect"}), int(CliApp::Failure));
    QVERIFY2(rig.err.contains(QLatin1String("lists no serial port")), qPrintable(rig.err));
    QVERIFY(rig.env.simLine.opens().isEmpty());
}

void TestCli::parallelScanAnswersAsTheSequentialScan_data()
{
    QTest::addColumn<QString>("placement");
    QTest::addColumn<QString>("answer"); // port, speed, handshake; empty: no board
    QTest::newRow("none") << "" << "";
    QTest::newRow("COM1 at 115200") << "1:115200" << "COM1 115200 hw";
    QTest::newRow("COM6 at 1200") << "6:1200" << "COM6 1200 hw";
    QTest::newRow("two boards, the lower one slower") << "2:1200 5:115200" << "COM2 1200 hw";
    QTest::newRow("two boards, the higher one slower") << "3:57600 4:2400" << "COM3 57600 hw";
    QTest::newRow("XON/XOFF board") << "4:xon@38400" << "COM4 38400 xon";
    QTest::newRow("answers only the first probe") << "1:once 4:4800" << "COM4 4800 hw";
    QTest::newRow("two bytes to a probe") << "2:double 3:19200" << "COM3 19200 hw";
    QTest::newRow("probes answered, identity not") << "2:probes 5:9600" << "";
    QTest::newRow("port in use") << "1:locked 2:28800" << "COM2 28800 hw";
    QTest::newRow("noise at other speeds") << "1:noisy@2400 3:noisy@9600" << "COM1 2400 hw";
}

// The same answer, from the same steps on every port the one-port-after-
// another scan reaches, at the same speeds in the same order.
void TestCli::parallelScanAnswersAsTheSequentialScan()
{
    QFETCH(QString, placement);
    QFETCH(QString, answer);
    Rig sequential;
    place(sequential, placement);
    const int sequentialStatus = sequential.run({"detect", "--sequential", "--json"});
    const QMap<int, QStringList> sequentialWire = wirePerPort(sequential.env);
    QCOMPARE(sequentialStatus, answer.isEmpty() ? int(CliApp::Failure) : int(CliApp::Success));
    const QJsonObject json = sequential.json();
    if (!answer.isEmpty())
        QCOMPARE(QStringList({json.value("port").toString(), json.value("speed").toString(),
                              json.value("handshake").toString()})
                     .join(u' '),
                 answer);

    // The ports' threads in whatever order they come, and lowest port last.
    for (const bool lowestPortLast : {false, true}) {
        Rig parallel;
        parallel.env.lowestPortLast = lowestPortLast;
        place(parallel, placement);
        QCOMPARE(parallel.run({"detect", "--json"}), sequentialStatus);
        QCOMPARE(parallel.json(), json);
        QCOMPARE(parallel.err.count(QLatin1String("in use by another program")),
                 sequential.err.count(QLatin1String("in use by another program")));
        const QMap<int, QStringList> parallelWire = wirePerPort(parallel.env);
        for (int port = 1; port <= 6; ++port) {
            // The ports the sequential scan reached: more than the wake-up.
            if (sequentialWire.value(port).size() > 1)
                QCOMPARE(parallelWire.value(port), sequentialWire.value(port));
        }
    }
}

// Each --port takes its slot; the scan wakes and tries those ports alone, all
// at once: the board on the slowest port is asked its identity after the
// wake-up and that port's steps, where one port after another takes longer.
void TestCli::traceWritesTheExchangesOfEveryPort()
{
    QTemporaryDir dir;
    const QString trace = dir.filePath(QStringLiteral("trace.txt"));
    Rig rig;
    place(rig, "4:9600");
    QCOMPARE(rig.run({"identity", "--port", "COM2", "--port", "COM4", "--trace", trace}), 0);
    const QStringList lines = QString::fromUtf8(readFile(trace)).split(u'\n');
    // Each port's scan under a heading of its own (a port below the answer
    // runs to its end), then the board's identity on the command's own line.
    for (const char *line :
         {"---- tessary identity ----", "---- tessary identity: COM2 of the scan ----",
          "---- tessary identity: COM4 of the scan ----",
          "COM2      0 ms  sent      1B 76                                            <ESC>v",
          "COM2      0 ms  waited 100 ms, nothing came",
          "COM4      0 ms  waited 100 ms, 1 byte waiting",
          "COM4     50 ms  sent      1B 49                                            <ESC>I"})
        QVERIFY2(lines.contains(QLatin1String(line)), line);
    QCOMPARE(lines.filter(QLatin1String("opened at 1200 bauds, no handshake")).size(), 1); // COM2's last speed
    QVERIFY(lines.filter(QRegularExpression("^COM4 +\\d+ ms  received  54 48 34 33 32 .*TH432 1K5 STD")).size() >= 2);
    // A trace that cannot be written stops the command before the board is touched.
    const qsizetype writes = rig.env.allWrites().size();
    QCOMPARE(rig.run({"identity", "--port", "COM4", "--trace", dir.filePath(QStringLiteral("none/trace.txt"))}), 1);
    QVERIFY2(rig.err.startsWith(QLatin1String("tessary: cannot write the trace")), qPrintable(rig.err));
    QCOMPARE(rig.env.allWrites().size(), writes);
}

void TestCli::repeatedPortsAreScannedAtOnceAfterOneWakeUp()
{
    const QStringList ports = {"--port", "COM2=/dev/pts/3", "--port", "COM6=/dev/pts/7", "--port", "COM4"};
    for (const bool sequential : {false, true}) {
        Rig rig;
        place(rig, "6:1200");
        QCOMPARE(rig.run(QStringList{"detect", "--json"} + ports + (sequential ? QStringList{"--sequential"} : QStringList{})),
                 0);
        QCOMPARE(rig.json().value("device").toString(), QStringLiteral("/dev/pts/7"));
        QList<int> woken;
        qint64 identityAt = -1;
        for (const SimulatedLine::Write &write : rig.env.allWrites()) {
            if (write.bytes == QByteArray(1, '\0'))
                woken << write.port;
            if (write.bytes == QByteArray::fromHex("1b49") && identityAt < 0)
                identityAt = write.at;
        }
        QCOMPARE(woken, QList<int>({2, 4, 6}));
        // 1000 ms of wake-up; 100 ms at each speed without a board; 300 ms at
        // the speed that answers. COM6 tries 9 speeds; COM2 and COM4 9 each.
        QCOMPARE(identityAt, sequential ? 1000 + 2 * 900 + 800 + 300 : 1000 + 800 + 300);
        QVERIFY2(rig.err.contains(QLatin1String("Attempting to contact printer on COM 6 at 1200 bauds.\n")),
                 qPrintable(rig.err));
    }
}

// ---- identity, read, wake, sleep, reset ----------------------------------------

void TestCli::identityPrintsTheBoardsReply()
{
    Rig rig;
    BoardOptions options;
    options.identity = "LINE 7";
    rig.board(2, options);
    QCOMPARE(rig.run({"identity", "--quiet"}), 0);
    QCOMPARE(rig.out, QStringLiteral("LINE 7           FW 4.12\n"));
    QCOMPARE(rig.err, QString());
}

void TestCli::readReportsModesCodeFieldsAndName()
{
    Rig rig;
    BoardOptions options;
    options.configuration1 = 0xD1; // KEL, 1 step, normal, 1500 Ohms, negative
    options.configuration2 = 0x90; // 864 dots, head-up inverted
    options.identity = "PLANT A";
    rig.board(1, options);
    QCOMPARE(rig.run({"read", "--json"}), 0);
    const QJsonObject json = rig.json();
    QCOMPARE(json.value("configurationMode").toString(), QStringLiteral("user"));
    QCOMPARE(json.value("identityMode").toString(), QStringLiteral("user"));
    QCOMPARE(json.value("code").toString(), QStringLiteral("1101000110010000"));
    const QJsonObject fields = json.value("fields").toObject();
    QCOMPARE(fields.value("mechanism").toString(), QStringLiteral("KEL"));
    QCOMPARE(fields.value("headWidth").toString(), QStringLiteral("864 dots"));
    QCOMPARE(fields.value("headUpPolarity").toString(), QStringLiteral("Inverted"));
    QCOMPARE(fields.value("strobePolarity").toString(), QStringLiteral("Negative"));
    QCOMPARE(json.value("name").toString(), QStringLiteral("PLANT A"));

    QCOMPARE(rig.run({"read"}), 0);
    QVERIFY(rig.out.contains(QLatin1String("Configuration mode: User\nIdentity determination: User\n"
                                           "Configuration code: 1101000110010000\n")));
    QVERIFY(rig.out.contains(QLatin1String("  Head type: 1500 Ohms\n")));
    QVERIFY(rig.out.endsWith(QLatin1String("Name: PLANT A\n")));
}

void TestCli::readWithAnUnusableConfigurationReplyExitsOne()
{
    Rig rig;
    BoardOptions options;
    options.faults.threeByteConfiguration = true;
    rig.board(1, options);
    QCOMPARE(rig.run({"read", "--json"}), int(CliApp::Failure));
    QVERIFY(rig.err.contains(QLatin1String("Error while reading printer parameters !")));
    const QJsonObject json = rig.json();
    QVERIFY(json.value("code").isNull());
    QCOMPARE(json.value("name").toString(), QStringLiteral("TH432 1K5 STD")); // still read
}

void TestCli::sleepThenWakeThenReset()
{
    Rig rig;
    Board &board = rig.board(2);
    QCOMPARE(rig.run({"sleep", "--port", "COM2", "--speed", "115200"}), 0);
    QVERIFY(board.isAsleep());
    QVERIFY(rig.env.simLine.writtenBytes(2).endsWith(QByteArray::fromHex("181b5318")));

    // Asleep, the board does not answer a probe ...
    QCOMPARE(rig.run({"identity", "--port", "COM2", "--speed", "115200"}), int(CliApp::Failure));
    // ... until it is woken.
    QCOMPARE(rig.run({"wake", "--port", "COM2", "--speed", "115200"}), 0);
    QVERIFY(!board.isAsleep());
    QVERIFY(rig.out.contains(QLatin1String("Woke the board on COM2 (/dev/ttyS1)")));

    const int resets = board.resetCount();
    rig.env.simLine.clearRecords();
    QCOMPARE(rig.run({"reset", "--port", "COM2", "--speed", "115200", "--quiet"}), 0);
    QCOMPARE(board.resetCount(), resets + 1);
    QVERIFY(rig.env.simLine.writtenBytes(2).endsWith(QByteArray::fromHex("1b40")));
    QCOMPARE(rig.out, QString());
}

void TestCli::wakeSendsOneWakeUpRound_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("portsWoken");
    QTest::newRow("probe") << QStringList{"wake", "--port", "COM2", "--speed", "115200"} << 1;
    QTest::newRow("scan of one port") << QStringList{"wake", "--port", "COM2"} << 1;
    QTest::newRow("scan") << QStringList{"wake"} << 6;
}

// Finding the board wakes every port already: the wake-up round is not
// repeated, only the CAN to the board follows.
void TestCli::wakeSendsOneWakeUpRound()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, portsWoken);
    Rig rig;
    Board &board = rig.board(2);
    QCOMPARE(rig.run({"sleep", "--port", "COM2", "--speed", "115200"}), 0);
    QVERIFY(board.isAsleep());
    rig.env.simLine.clearRecords();
    QCOMPARE(rig.run(arguments), 0);
    QVERIFY(!board.isAsleep());
    int nuls = 0;
    for (const SimulatedLine::Write &write : rig.env.simLine.writes())
        if (write.bytes == QByteArray(1, '\0')) {
            QCOMPARE(write.baud, 57600);
            ++nuls;
        }
    QCOMPARE(nuls, portsWoken);
    const SimulatedLine::Write &last = rig.env.simLine.writes().constLast();
    QCOMPARE(last.port, 2);
    QCOMPARE(last.bytes, QByteArray::fromHex("18"));
}

// ---- program -----------------------------------------------------------------

void TestCli::programWritesTheCodeAndIdentityAndVerifies()
{
    Rig rig;
    BoardOptions options;
    options.configuration1 = 0x80;
    options.configuration2 = 0x20;
    options.strobePolarity = 1; // as the code asks
    Board &board = rig.board(2, options);
    QTemporaryDir dir;
    const QString log = dir.filePath("line.csv");
    QCOMPARE(rig.run({"program", "--code", "1111000101000000", "--id", "LINE-7", "--verify", "--log", log, "--json"}),
             0);
    QCOMPARE(board.parameter(6), quint8(1));
    QCOMPARE(board.parameter(7), quint8(0xF1));
    QCOMPARE(board.parameter(8), quint8(0x40));
    for (int i = 0; i < 6; ++i)
        QCOMPARE(board.parameter(9 + i), quint8("LINE-7"[i]));
    QCOMPARE(board.parameter(15), quint8(0));
    // The parameter writes went out byte for byte as the board expects them.
    const QByteArray written = rig.env.simLine.writtenBytes(2);
    QVERIFY(written.contains(QByteArray::fromHex("1d534606011d534607f11d53460840")));

    const QJsonObject json = rig.json();
    QCOMPARE(json.value("result").toString(), QStringLiteral("ok"));
    QCOMPARE(json.value("verified").toBool(), true);
    QCOMPARE(json.value("echoFailures").toInt(), 0);
    QCOMPARE(json.value("writes").toArray().size(), 3 + 7);
    QCOMPARE(json.value("identityBefore").toString(), QStringLiteral("TH384 1K5 KEL    FW 4.12"));
    QCOMPARE(json.value("identityAfter").toString(), QStringLiteral("LINE-7           FW 4.12"));

    QCOMPARE(readFile(log), QByteArray("time,port,speed,identity_before,identity_after,code,result\n"
                                       "2024-05-06T07:08:09Z,/dev/ttyS1,115200,TH384 1K5 KEL    FW 4.12,"
                                       "LINE-7           FW 4.12,1111000101000000,ok\n"));
}

void TestCli::programFromADatabaseEntry()
{
    Rig rig;
    Board &board = rig.board(1, positiveStrobe()); // Mechanism 11 has a positive strobe
    QTemporaryDir dir;
    const QString file = dir.filePath("line.cdb");
    QCOMPARE(rig.run({"db", "factory", file}), 0);
    QCOMPARE(rig.run({"program", "--db", file, "--entry", "Mechanism 11", "--json"}), 0);
    QCOMPARE(rig.json().value("code").toString(), QStringLiteral("1111010010100000"));
    QCOMPARE(board.parameter(7), quint8(0xF4));
    QCOMPARE(board.parameter(8), quint8(0xA0));

    QCOMPARE(rig.run({"program", "--db", file, "--entry", "Mechanism 99"}), int(CliApp::Failure));
    QVERIFY(rig.err.contains(QLatin1String("has no entry named \"Mechanism 99\"")));
}

void TestCli::programResistorsModeWritesModeAndAutomaticIdentityOnly()
{
    Rig rig;
    Board &board = rig.board(1);
    QCOMPARE(rig.run({"program", "--port", "COM1", "--speed", "115200", "--mode", "resistors", "--verify", "--json"}),
             0);
    QCOMPARE(board.parameter(6), quint8(0));
    const QJsonArray writes = rig.json().value("writes").toArray();
    QCOMPARE(writes.size(), 2);
    QCOMPARE(writes[0].toObject().value("address").toInt(), 6);
    QCOMPARE(writes[0].toObject().value("value").toInt(), 0);
    QCOMPARE(writes[1].toObject().value("address").toInt(), 9);
    QVERIFY(!rig.env.simLine.writtenBytes(1).contains(QByteArray::fromHex("1d5368"))); // no polarity query
    QCOMPARE(rig.json().value("verified").toBool(), true);
}

void TestCli::polarityMismatchStopsUnlessYes()
{
    Rig rig;
    Board &board = rig.board(1, positiveStrobe()); // the code asks for a negative one
    QCOMPARE(rig.run({"program", "--code", "1111000101000000", "--id", "X", "--json"}), int(CliApp::Failure));
    QVERIFY(rig.err.contains(QLatin1String(
        "Hardware detected polarity doesn't match user choice !  Program anyway ?")));
    QVERIFY(rig.err.contains(QLatin1String("Programming cancelled !")));
    QCOMPARE(rig.json().value("result").toString(), QStringLiteral("cancelled"));
    QVERIFY(!rig.env.simLine.writtenBytes(1).contains(QByteArray::fromHex("1d5346")));
    QCOMPARE(board.parameter(9), quint8(0));

    QCOMPARE(rig.run({"program", "--code", "1111000101000000", "--id", "X", "--yes"}), 0);
    QCOMPARE(board.parameter(7), quint8(0xF1));
    QCOMPARE(board.parameter(9), quint8('X'));
}

void TestCli::echoErrorExitsOneAndIsLogged_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("noEcho"); // no echo at all, or a wrong one to parameter 8
    QTest::addColumn<QString>("echoes"); // each write's echo in the JSON, "-" for null
    QTest::addColumn<QByteArray>("logEnd");
    QTest::newRow("wrong echo") << QStringList{"--id", "ABC"} + Fields576 << false << "01 f0 61 41 42 43 00"
                                << QByteArray(",1111000001100000,echo-error\n");
    // Every value written is 0: a silence must not pass for their echo.
    QTest::newRow("no echo, resistors and automatic") << QStringList{"--mode", "resistors", "--auto-id"} << true
                                                      << "- -" << QByteArray(",resistors,echo-error\n");
}

void TestCli::echoErrorExitsOneAndIsLogged()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, noEcho);
    QFETCH(QString, echoes);
    QFETCH(QByteArray, logEnd);
    Rig rig;
    BoardOptions options = positiveStrobe();
    options.faults.noEcho = noEcho;
    options.faults.wrongEchoAddress = noEcho ? -1 : 8;
    rig.board(1, options);
    QTemporaryDir dir;
    const QString log = dir.filePath("line.csv");
    QCOMPARE(rig.run(QStringList{"program", "--log", log, "--json"} + arguments), int(CliApp::Failure));
    const QStringList shown = echoes.split(u' ');
    QCOMPARE(rig.err.count(QLatin1String("Programming error ! Please check cables and power.")),
             shown.count(QStringLiteral("-")) + (noEcho ? 0 : 1));
    const QJsonObject json = rig.json();
    QCOMPARE(json.value("result").toString(), QStringLiteral("echo-error"));
    QCOMPARE(json.value("echoFailures").toInt(), noEcho ? shown.size() : 1);
    QStringList got;
    for (const QJsonValue &write : json.value("writes").toArray()) {
        const QJsonValue echo = write.toObject().value("echo");
        got << (echo.isNull() ? QStringLiteral("-") : QStringLiteral("%1").arg(echo.toInt(), 2, 16, QLatin1Char('0')));
    }
    QCOMPARE(got.join(u' '), echoes);
    QVERIFY2(readFile(log).endsWith(logEnd), readFile(log).constData());
}

void TestCli::verificationMismatchExitsOne()
{
    Rig rig;
    Board &board = rig.board(1, positiveStrobe());
    // A board that forgets its configuration mode when it restarts.
    rig.env.virtualClock.onWait = [&board] {
        if (board.resetCount() > 0)
            board.setParameter(6, 0);
    };
    QCOMPARE(rig.run(QStringList{"program", "--verify", "--json"} + Fields576), int(CliApp::Failure));
    rig.env.virtualClock.onWait = nullptr;
    const QJsonObject json = rig.json();
    QCOMPARE(json.value("echoFailures").toInt(), 0);
    QCOMPARE(json.value("verified").toBool(true), false);
    QCOMPARE(json.value("result").toString(), QStringLiteral("verify-failed"));
    QVERIFY(json.value("differences").toArray().first().toString().startsWith(
        QLatin1String("configuration mode: wrote User, the board holds Resistors")));
    QVERIFY(rig.err.contains(QLatin1String("verification failed")));
}

void TestCli::programWithoutABoardLogsTheFailure()
{
    Rig rig;
    QTemporaryDir dir;
    const QString log = dir.filePath("line.csv");
    QCOMPARE(rig.run(QStringList{"program", "--log", log} + Fields576), int(CliApp::Failure));
    QCOMPARE(readFile(log), QByteArray("time,port,speed,identity_before,identity_after,code,result\n"
                                       "2024-05-06T07:08:09Z,,,,,1111000001100000,no-board\n"));
}

void TestCli::programFromFieldOptionsLogsOneHeaderAndOneRowPerBoard()
{
    Rig rig;
    Board &board = rig.board(1, positiveStrobe());
    QTemporaryDir dir;
    const QString log = dir.filePath("line.csv");
    for (int i = 0; i < 3; ++i)
        QCOMPARE(rig.run(QStringList{"program", "--log", log, "--quiet"} + Fields576), 0);
    QCOMPARE(rig.out, QString());
    // The field options' bytes, and an automatic identity by default.
    QCOMPARE(board.parameter(7), quint8(0xF0));
    QCOMPARE(board.parameter(8), quint8(0x60));
    QCOMPARE(board.parameter(9), quint8(0));
    const QList<QByteArray> lines = readFile(log).split('\n');
    QCOMPARE(lines.size(), 5); // header, three rows, the empty rest after the last line end
    QCOMPARE(lines[0], QByteArray("time,port,speed,identity_before,identity_after,code,result"));
    QVERIFY(lines[3].endsWith(",ok"));
}

void TestCli::unwritableLogStopsBeforeTheBoardIsTouched()
{
    Rig rig;
    rig.board(1);
    QTemporaryDir dir;
    QCOMPARE(rig.run(QStringList{"program", "--log", dir.filePath("no/such/folder/line.csv")} + Fields576),
             int(CliApp::Failure));
    QVERIFY(rig.err.contains(QLatin1String("cannot write the log file")));
    QVERIFY(rig.env.simLine.opens().isEmpty());
}

void TestCli::csvFieldsAreQuotedAndKeptOnOneLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::newRow("plain") << "TH432 1K5 STD" << "TH432 1K5 STD";
    QTest::newRow("comma") << "A,B" << "\"A,B\"";
    QTest::newRow("quote") << "say \"hi\"" << "\"say \"\"hi\"\"\"";
    QTest::newRow("outer blanks") << "X   " << "\"X   \"";
    QTest::newRow("line break") << "A\r\nB" << QStringLiteral("A\uFFFD\uFFFDB");
    QTest::newRow("empty") << "" << "";
}

void TestCli::csvFieldsAreQuotedAndKeptOnOneLine()
{
    QFETCH(QString, text);
    QFETCH(QString, field);
    QCOMPARE(ProductionLog::field(text), field);
}

// ---- db ----------------------------------------------------------------------

void TestCli::factoryWritesTheTwentyNineMechanismsAndKeepsExistingFiles()
{
    Rig rig;
    QTemporaryDir dir;
    const QString file = dir.filePath("f.cdb");
    QCOMPARE(rig.run({"db", "factory", file}), 0);
    const QByteArray bytes = readFile(file);
    QCOMPARE(bytes.size(), 1004);
    QVERIFY(bytes.startsWith(QByteArray("ZELPRINTERSCDB0\x1d\r\n") + record("Mechanism 01", "1111000101000000")));

    QCOMPARE(rig.run({"db", "list", file, "--json"}), 0);
    const QJsonArray entries = rig.json().value("entries").toArray();
    QCOMPARE(entries.size(), 29);
    QCOMPARE(entries[28].toObject().value("name").toString(), QStringLiteral("Mechanism 29"));
    QCOMPARE(entries[28].toObject().value("code").toString(), QStringLiteral("1111110011000000"));

    writeFile(file, "keep me");
    QCOMPARE(rig.run({"db", "factory", file}), int(CliApp::Failure));
    QVERIFY(rig.err.contains(QLatin1String("give --yes")));
    QCOMPARE(readFile(file), QByteArray("keep me"));
    QCOMPARE(rig.run({"db", "factory", file, "--yes"}), 0);
    QCOMPARE(readFile(file).size(), 1004);
}

void TestCli::addMoveShowRemoveAndOverwriteOnlyWithYes()
{
    Rig rig;
    QTemporaryDir dir;
    const QString file = dir.filePath("new.cdb");
    QCOMPARE(rig.run({"db", "add", file, "Mechanism 01", "--code", "1111000101000000"}), 0); // created
    QCOMPARE(rig.run(QStringList{"db", "add", file, "A name of twenty chars"} + Fields576), 0);
    QVERIFY(rig.err.contains(QLatin1String("cut to its first 16 characters")));
    QCOMPARE(readFile(file), QByteArray("ZELPRINTERSCDB0\x02\r\n") + record("Mechanism 01", "1111000101000000")
                                 + record("A name of twenty", "1111000001100000"));

    QCOMPARE(rig.run({"db", "move", file, "A name of twenty", "--up"}), 0);
    QCOMPARE(rig.run({"db", "show", file, "--index", "1", "--json"}), 0);
    QCOMPARE(rig.json().value("name").toString(), QStringLiteral("A name of twenty"));
    QCOMPARE(rig.json().value("fields").toObject().value("headWidth").toString(), QStringLiteral("576 dots"));
    QCOMPARE(rig.run({"db", "move", file, "--index", "1", "--to", "2"}), 0);
    QCOMPARE(rig.run({"db", "move", file, "--index", "2", "--down"}), int(CliApp::Failure));

    QCOMPARE(rig.run({"db", "remove", file, "Mechanism 01"}), 0);
    QCOMPARE(readFile(file), QByteArray("ZELPRINTERSCDB0\x01\r\n") + record("A name of twenty", "1111000001100000"));
    QCOMPARE(rig.run({"db", "remove", file, "--index", "2"}), int(CliApp::Failure));
    QVERIFY(rig.err.contains(QLatin1String("has no entry 2")));

    const QByteArray before = readFile(file);
    QCOMPARE(rig.run({"db", "add", file, "A name of twenty", "--code", "1101001100100000"}), int(CliApp::Failure));
    QVERIFY(rig.err.contains(QLatin1String("Overwrite existing configuration <A name of twenty> ?")));
    QCOMPARE(readFile(file), before);
    QCOMPARE(rig.run({"db", "add", file, "A name of twenty", "--code", "1101001100100000", "--yes", "--json"}), 0);
    QCOMPARE(rig.json().value("replaced").toBool(), true);
    QCOMPARE(readFile(file), QByteArray("ZELPRINTERSCDB0\x01\r\n") + record("A name of twenty", "1101001100100000"));
}

void TestCli::readOnlyDatabaseIsRefusedAndUnchanged()
{
    Rig rig;
    QTemporaryDir dir;
    const QString file = dir.filePath("ro.cdb");
    QCOMPARE(rig.run({"db", "add", file, "M", "--code", "1111000101000000"}), 0);
    const QByteArray before = readFile(file);
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    QCOMPARE(rig.run({"db", "add", file, "N", "--code", "1111000101000000", "--json"}), int(CliApp::Failure));
    QVERIFY(rig.err.contains(QLatin1String("This file is Read-Only !")));
    QCOMPARE(rig.json().value("ok").toBool(true), false);
    QCOMPARE(rig.run({"db", "remove", file, "M"}), int(CliApp::Failure));
    QCOMPARE(rig.run({"db", "factory", file, "--yes"}), int(CliApp::Failure));
    QCOMPARE(readFile(file), before);
    const QString json = dir.filePath("ro.json");
    writeFile(json, "{}");
    QVERIFY(QFile::setPermissions(json, QFileDevice::ReadOwner));
    QCOMPARE(rig.run({"db", "export", file, "--output", json}), int(CliApp::Failure));
    QCOMPARE(readFile(json), QByteArray("{}"));
    // Reading it is fine.
    QCOMPARE(rig.run({"db", "list", file}), 0);
}

void TestCli::notADatabaseIsRefused()
{
    Rig rig;
    QTemporaryDir dir;
    const QString file = dir.filePath("lower.cdb");
    writeFile(file, QByteArray("zelprinterscdb0\x00\r\n", 18));
    QCOMPARE(rig.run({"db", "list", file}), int(CliApp::Failure));
    QVERIFY(rig.err.contains(QLatin1String("This is not a valid Z.E.L configuration database !")));
    QCOMPARE(rig.run({"db", "add", file, "M", "--code", "1111000101000000"}), int(CliApp::Failure));
    QCOMPARE(readFile(file), QByteArray("zelprinterscdb0\x00\r\n", 18));
    QCOMPARE(rig.run({"db", "list", dir.filePath("missing.cdb")}), int(CliApp::Failure));
    QVERIFY(rig.err.contains(QLatin1String("Couldn't open the database file")));
}

void TestCli::importExportImportRoundTripIsByteForByte()
{
    Rig rig;
    QTemporaryDir dir;
    const QString json = dir.filePath("in.json");
    // Odd but storable: Latin-1 letters, an empty name.
    writeFile(json, QStringLiteral(R"({"format": "tessary-cdb", "version": 1, "entries": [
        {"name": "Mechanism 01", "code": "1111000101000000"},
        {"name": "Größe 16 Zeichen", "code": "1111000110000000"},
        {"name": "", "code": "0000000000000000"}]})").toUtf8());
    const QString first = dir.filePath("first.cdb");
    QCOMPARE(rig.run({"db", "import", json, first}), 0);
    const QByteArray bytes = readFile(first);
    QCOMPARE(bytes, QByteArray("ZELPRINTERSCDB0\x03\r\n") + record("Mechanism 01", "1111000101000000")
                        + record("Gr\xf6\xdf" "e 16 Zeichen", "1111000110000000")
                        + record("", "0000000000000000"));

    QCOMPARE(rig.run({"db", "export", first}), 0);
    const QString exported = rig.out;
    QVERIFY(exported.contains(QStringLiteral("Größe 16 Zeichen")));
    const QString again = dir.filePath("again.json");
    QCOMPARE(rig.run({"db", "export", first, "--output", again}), 0);
    QCOMPARE(QString::fromUtf8(readFile(again)), exported);

    const QString second = dir.filePath("second.cdb");
    QCOMPARE(rig.run({"db", "import", again, second}), 0);
    QCOMPARE(readFile(second), bytes);

    // Replacing an existing file needs --yes.
    QCOMPARE(rig.run({"db", "import", again, first}), int(CliApp::Failure));
    QCOMPARE(rig.run({"db", "import", again, first, "--yes"}), 0);
    QCOMPARE(readFile(first), bytes);
}

void TestCli::importRefusesWhatAFileCannotHold_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("reason");
    const QByteArray head = R"({"format": "tessary-cdb", "version": 1, "entries": )";
    QTest::newRow("not JSON") << QByteArray("ZELPRINTERSCDB0") << "not valid JSON";
    QTest::newRow("other format") << QByteArray(R"({"format": "csv", "version": 1, "entries": []})") << "format";
    QTest::newRow("other version") << QByteArray(R"({"format": "tessary-cdb", "version": 2, "entries": []})")
                                   << "version";
    QTest::newRow("short code") << head + R"([{"name": "A", "code": "111100010100000"}]})" << "not 16 characters";
    QTest::newRow("long name") << head + R"([{"name": "seventeen chars!!", "code": "1111000101000000"}]})"
                               << "longer than 16";
    QTest::newRow("trailing blank") << head + R"([{"name": "A ", "code": "1111000101000000"}]})" << "ends in a space";
    QTest::newRow("beyond Latin-1") << head + QByteArray(R"([{"name": "Ω", "code": "1111000101000000"}]})")
                                    << "Latin-1";
    QTest::newRow("number as code") << head + R"([{"name": "A", "code": 1111000101000000}]})" << "both texts";
    // What the window never writes: a control character in a name, a code of other digits.
    const QByteArray first = R"({"name": "M", "code": "1111000101000000"}, )";
    QTest::newRow("NUL in a name") << head + "[" + first + R"({"name": "a\u0000b", "code": "1111000101000000"}]})"
                                   << QStringLiteral("entry 2 \"a\uFFFDb\": the name holds a character");
    QTest::newRow("sixteen 2s") << head + "[" + first + R"({"name": "B", "code": "2222222222222222"}]})"
                                << "entry 2 \"B\": the code \"2222222222222222\" is not 16 characters 0 or 1";
    QTest::newRow("code with a blank") << head + R"([{"name": "C", "code": "11110001 1000000"}]})"
                                       << "entry 1 \"C\": the code";
    QByteArray many = head + "[";
    for (int i = 0; i < 256; ++i)
        many += QByteArray(i ? "," : "") + R"({"name": "M", "code": "1111000101000000"})";
    QTest::newRow("256 entries") << many + "]}" << "at most 255";
}

void TestCli::importRefusesWhatAFileCannotHold()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, reason);
    Rig rig;
    QTemporaryDir dir;
    writeFile(dir.filePath("in.json"), json);
    QCOMPARE(rig.run({"db", "import", dir.filePath("in.json"), dir.filePath("out.cdb")}), int(CliApp::Failure));
    QVERIFY2(rig.err.contains(reason), qPrintable(rig.err));
    QVERIFY(!QFile::exists(dir.filePath("out.cdb")));
}

// ---- code --------------------------------------------------------------------

void TestCli::codeDecodeGivesBytesAndFields()
{
    Rig rig;
    QCOMPARE(rig.run({"code", "decode", "1100110011100000", "--json"}), 0);
    const QJsonObject json = rig.json();
    QCOMPARE(json.value("byte1").toString(), QStringLiteral("CC"));
    QCOMPARE(json.value("byte2").toString(), QStringLiteral("E0"));
    const QJsonObject fields = json.value("fields").toObject();
    QCOMPARE(fields.value("motorSteps").toString(), QStringLiteral("2 steps/dotline"));
    QCOMPARE(fields.value("headType").toString(), QStringLiteral("800 Ohms"));
    QCOMPARE(fields.value("headWidth").toString(), QStringLiteral("832 dots"));
    QCOMPARE(fields.value("logicVoltage").toString(), QStringLiteral("5 V"));

    QCOMPARE(rig.run({"code", "decode", "1011011100001111"}), 0);
    QVERIFY(rig.out.startsWith(QLatin1String("Configuration code: 1011011100001111 (bytes B7 0F)\n")));
    QVERIFY(rig.out.contains(QLatin1String("  Logic voltage: 3.3 V\n")));
    QVERIFY(rig.out.contains(QLatin1String("  Head type: not defined\n")));
    QVERIFY(rig.out.contains(QLatin1String("reserved")));
}

void TestCli::codeEncodeBuildsTheCodeFromFieldOptions()
{
    Rig rig;
    QCOMPARE(rig.run(QStringList{"code", "encode"} + Fields576), 0);
    QCOMPARE(rig.out, QStringLiteral("1111000001100000\n"));
    QCOMPARE(rig.run({"code", "encode", "--voltage", "3.3", "--head-width", "448", "--head-type", "800",
                      "--mechanism", "kel", "--steps", "2", "--rotation", "inverted", "--strobe", "negative",
                      "--head-up", "inverted"}),
             0);
    QCOMPARE(rig.out, QStringLiteral("1000110110110000\n"));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
