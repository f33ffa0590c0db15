// The help pages delivered with the program: every page loads in the Help
// window's view, every link between them leads somewhere, and the messages
// page explains every message the program shows.
#include "app/appstate.h"
#include "boardsim/simulatedline.h"
#include "configuration/configurationeditor.h"
#include "configuration/programmer.h"
#include "detection/detector.h"
#include "protocol/printerqueries.h"
#include "scriptedprompts.h"
#include "serial/commandgate.h"
#include "serial/recordingline.h"
#include "serial/seriallink.h"
#include "serial/trafficrecord.h"
#include "serial/virtualclock.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>

namespace {

const QString HelpDir = QStringLiteral(TESSARY_HELP_SOURCE);

QString readPage(const QString &name)
{
    QFile file(HelpDir + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QStringList pages() { return QDir(HelpDir).entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name); }

// The text a reader sees: markup gone, entities decoded, blanks kept.
QString visibleText(const QString &page)
{
    QTextDocument document;
    document.setHtml(readPage(page));
    return document.toPlainText().replace(QChar::Nbsp, QLatin1Char(' '));
}

QStringList attributeValues(const QString &html, const QString &attribute)
{
    QStringList values;
    const QRegularExpression pattern(QStringLiteral("\\b%1\\s*=\\s*\"([^\"]*)\"").arg(attribute),
                                     QRegularExpression::CaseInsensitiveOption);
    for (auto it = pattern.globalMatch(html); it.hasNext();)
        values << it.next().captured(1);
    return values;
}

// The lines the program records in a fault state of the simulated board, as
// the help page on the traffic monitor shows them.
QStringList recordedIn(const QString &state)
{
    using namespace tessary;
    using namespace tessary::sim;
    VirtualClock clock;
    SimulatedLine sim(clock);
    sim.setWakeups(false);
    sim.setExistingPorts({1});
    TrafficRecord record;
    record.startWatching();
    RecordingLine line(sim, clock, record);
    RecordingClock recordingClock(clock, line);
    SerialLink link(line, recordingClock);
    CommandGate gate(link);
    QObject::connect(&gate, &CommandGate::started, &line, &RecordingLine::beginCommand);
    test::ScriptedPrompts prompts;
    PrinterLink printer;
    BoardOptions board;
    board.baud = 9600;
    if (state == QLatin1String("healthy")) {
        sim.attachBoard(1);
        printer = {true, 1, QStringLiteral("115200"), HandshakeHardware, true};
        gate.run(QStringLiteral("Check identity"), [&] { (void)PrinterQueries(link, printer).identity(); });
    } else if (state == QLatin1String("silent")) {
        board.faults.silent = true;
        sim.attachBoard(1, board);
        Detector detector(link, printer, prompts);
        gate.run(QStringLiteral("Autodetect Chipset"), [&] { detector.autodetect(); });
    } else if (state == QLatin1String("speed")) {
        sim.attachBoard(1, board, OtherSpeeds::Garbage);
        Detector detector(link, printer, prompts);
        gate.run(QStringLiteral("Detect Chipset"),
                 [&] { detector.detectSerialPrinter(1, QStringLiteral("19200"), Detector::HandshakeIndexHardware); });
    } else if (state == QLatin1String("handshake")) {
        board.configuration2 = 0x13; // the configuration byte the line takes for XOFF
        sim.attachBoard(1, board);
        printer = {true, 1, QStringLiteral("9600"), HandshakeXonXoff, true};
        ConfigurationEditor editor;
        gate.run(QStringLiteral("Check configuration"),
                 [&] { (void)PrinterQueries(link, printer).readSettings(editor, prompts); });
    } else if (state == QLatin1String("echo")) {
        board.faults.noEcho = true;
        sim.attachBoard(1, board);
        printer = {true, 1, QStringLiteral("9600"), HandshakeHardware, true};
        PlainStatusLine status;
        Programmer programmer(link, printer, prompts, status);
        ProgrammingPlan plan;
        plan.mode = ProgrammingPlan::Mode::Resistors;
        plan.identity = ProgrammingPlan::Identity::Automatic;
        gate.run(QStringLiteral("Configure printer"), [&] { (void)programmer.program(plan); });
    }
    return record.lines();
}

} // namespace

class TestHelpPages : public QObject {
    Q_OBJECT

private slots:
    void everyPageLoadsWithATitle();
    void localLinksLeadToExistingPagesAndAnchors();
    void indexReachesEveryPage();
    void messagesPageQuotesEveryMessage_data();
    void messagesPageQuotesEveryMessage();
    void pagesNameTheCommandLineOptions_data();
    void pagesNameTheCommandLineOptions();
    void monitorExcerptsAreWhatTheProgramRecords_data();
    void monitorExcerptsAreWhatTheProgramRecords();
};

void TestHelpPages::everyPageLoadsWithATitle()
{
    QVERIFY2(pages().contains(QStringLiteral("index.html")), qPrintable(HelpDir));
    QTextBrowser view;
    for (const QString &page : pages()) {
        view.setSource(QUrl::fromLocalFile(HelpDir + QLatin1Char('/') + page));
        QVERIFY2(!view.documentTitle().isEmpty(), qPrintable(page));
        QVERIFY2(view.toPlainText().size() > 200, qPrintable(page));
    }
}

void TestHelpPages::localLinksLeadToExistingPagesAndAnchors()
{
    int checked = 0;
    for (const QString &page : pages()) {
        const QString html = readPage(page);
        QStringList links = attributeValues(html, QStringLiteral("href"));
        for (const QString &link : std::as_const(links)) {
            const QUrl url(link);
            if (!url.scheme().isEmpty()) {
                QVERIFY2(QStringList({"http", "https", "mailto"}).contains(url.scheme()),
                         qPrintable(page + ": " + link));
                continue;
            }
            const QString target = url.path().isEmpty() ? page : url.path();
            const QString targetHtml = readPage(target);
            QVERIFY2(!targetHtml.isEmpty(), qPrintable(page + ": broken link " + link));
            if (url.hasFragment()) {
                const QStringList anchors =
                    attributeValues(targetHtml, "name") + attributeValues(targetHtml, "id");
                QVERIFY2(anchors.contains(url.fragment()), qPrintable(page + ": missing anchor " + link));
            }
            ++checked;
        }
    }
    QVERIFY(checked > 10);
}

void TestHelpPages::indexReachesEveryPage()
{
    QSet<QString> reached{QStringLiteral("index.html")};
    QStringList toVisit{QStringLiteral("index.html")};
    while (!toVisit.isEmpty()) {
        const QString page = toVisit.takeFirst();
        for (const QString &link : attributeValues(readPage(page), QStringLiteral("href"))) {
            const QUrl url(link);
            if (!url.scheme().isEmpty() || url.path().isEmpty() || !url.path().endsWith(".html"))
                continue;
            if (!reached.contains(url.path())) {
                reached.insert(url.path());
                toVisit << url.path();
            }
        }
    }
    for (const QString &page : pages())
        QVERIFY2(reached.contains(page), qPrintable(page + " cannot be reached from the index"));
}

void TestHelpPages::messagesPageQuotesEveryMessage_data()
{
    QTest::addColumn<QString>("message");
    const char *messages[] = {
        // leaving the program and the database guards
        "Database has been modified ! Quit anyway ?",
        "Database has been modified ! Continue anyway ?",
        // finding the printer
        "No chipset found, please",
        "perform a chipset detection",
        "Please, run chipset detection",
        "No chipset found",
        "Perform a chipset detection",
        "Please detect the printer first",
        "You must select a serial port",
        "This port does not exist",
        "No printer found yet, please start detection.",
        "Attempting to contact printer on COM ",
        "No printer found on COM ",
        " found on COM ",
        "No printer found",
        // reading and programming
        "Error while reading printer parameters !",
        "Please select a configuration mode !",
        "Please select an identity determination method !",
        "Please specify a mechanism identity !",
        "Hardware detected polarity doesn't match user choice !  Program anyway ?",
        "Programming cancelled !",
        "Programming error ! Please check cables and power.",
        "Logic voltage is not defined !",
        "Mechanism (Standard/KEL) is not defined !",
        "Motor steps is not defined !",
        "Motor rotation is not defined !",
        "Head-up polarity is not defined !",
        "Head width is not defined !",
        "Head type is not defined !",
        "Strobe polarity is not defined !",
        // saving into the database
        "Voltage is not defined !",
        "Mechanism type is not defined !",
        "Steps per dotline is not defined !",
        "Stepper sense is not defined !",
        "New configuration not created !",
        "Please enter a configuration name !",
        "Overwrite existing configuration <",
        // database files and list editing
        "This is not a valid Z.E.L configuration database !",
        "Current database has no name ! Please use 'Save as' instead.",
        "This file is Read-Only !",
        "Couldn't write file (was read_only).",
        "Default database file loaded",
        "default.cdb file error, default list created.",
        "Database file loaded.",
        "Save database canceled",
        "Configuration selected : ",
        "Couldn't write the database file ",
        "The file on disk was not changed.",
        "Couldn't open the database file ",
        "Couldn't load the database file ",
        "The current database was kept.",
        "but a database file can hold at most 255. Delete some entries, then save again.",
        "The database is full (255 entries): delete an entry first.",
        "Please select a database entry first !",
        "> form the database !",
        // serial ports on this system
        "no permission to use the port; add your user to the dialout group",
        "sudo usermod -aG dialout $USER",
        "the port is in use by another program",
        "the device is not there (unplugged?)",
        "does not exist",
        "the port was closed",
        // the traffic monitor
        "Couldn't write the traffic file ",
    };
    for (const char *message : messages)
        QTest::newRow(message) << QString::fromUtf8(message);
}

void TestHelpPages::messagesPageQuotesEveryMessage()
{
    QFETCH(QString, message);
    QVERIFY2(visibleText(QStringLiteral("messages.html")).contains(message), qPrintable(message));
}

void TestHelpPages::pagesNameTheCommandLineOptions_data()
{
    QTest::addColumn<QString>("text");
    for (const char *text : {"--port COM3=/dev/ttyUSB0", "--demo", "--help", "--version", "dialout"})
        QTest::newRow(text) << QString::fromUtf8(text);
}

void TestHelpPages::pagesNameTheCommandLineOptions()
{
    QFETCH(QString, text);
    QVERIFY2(visibleText(QStringLiteral("commandline.html")).contains(text), qPrintable(text));
}

void TestHelpPages::monitorExcerptsAreWhatTheProgramRecords_data()
{
    QTest::addColumn<QString>("state");
    for (const char *state : {"healthy", "silent", "speed", "handshake", "echo"})
        QTest::newRow(state) << QString::fromLatin1(state);
}

void TestHelpPages::monitorExcerptsAreWhatTheProgramRecords()
{
    // Each excerpt on the page, its lines in order ("..." leaves some out),
    // is what the program records against the board in that state.
    QFETCH(QString, state);
    const QRegularExpression pre(QStringLiteral("<pre class=\"traffic\" id=\"%1\">(.*?)</pre>").arg(state),
                                 QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = pre.match(readPage(QStringLiteral("monitor.html")));
    QVERIFY2(match.hasMatch(), qPrintable(state));
    QTextDocument excerpt;
    excerpt.setHtml(QStringLiteral("<pre>") + match.captured(1) + QStringLiteral("</pre>"));
    QStringList shown = excerpt.toPlainText().replace(QChar::Nbsp, QLatin1Char(' ')).split(QLatin1Char('\n'));
    shown.removeAll(QString());
    shown.removeAll(QStringLiteral("..."));
    QVERIFY(shown.size() >= 5);

    const QStringList recorded = recordedIn(state);
    qsizetype at = 0;
    for (const QString &line : std::as_const(shown)) {
        while (at < recorded.size() && recorded.at(at) != line)
            ++at;
        QVERIFY2(at < recorded.size(), qPrintable(QStringLiteral("not recorded (or out of order): \"%1\"\n%2")
                                                      .arg(line, recorded.join(QLatin1Char('\n')))));
        ++at;
    }
}

QTEST_MAIN(TestHelpPages)
#include "tst_helppages.moc"
