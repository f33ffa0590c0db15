// The traffic monitor as the user meets it: opened from the Communication
// menu of the main window, over the simulated board on the virtual clock,
// through the same recording wrappers as the program.
#include "boardsim/simulatedline.h"
#include "mainwindow/mainfrm.h"
#include "protocol/printerbinding.h"
#include "detection/portselection.h"
#include "scriptedprompts.h"
#include "serial/commandgate.h"
#include "serial/recordingline.h"
#include "serial/seriallink.h"
#include "serial/trafficmonitorwindow.h"
#include "serial/trafficrecord.h"
#include "serial/virtualclock.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace tessary;
using namespace tessary::sim;
using namespace tessary::test;

namespace {

// The main window over the simulated board on COM1 at 115200 bauds, wired as
// the program wires it.
struct Harness {
    Harness()
    {
        sim.setWakeups(false);
        sim.setExistingPorts({1});
        sim.attachBoard(1);
        QObject::connect(&gate, &CommandGate::started, &line, &RecordingLine::beginCommand);
    }
    VirtualClock clock;
    SimulatedLine sim{clock};
    TrafficRecord record;
    RecordingLine line{sim, clock, record};
    RecordingClock recordingClock{clock, line};
    SerialLink link{line, recordingClock};
    CommandGate gate{link};
    AppState state;
    ScriptedPrompts prompts;
    ScriptedFileChooser files;
    AppServices services{state, link, gate, prompts, files, false, &record};
};

// Whether the lines hold the expected ones in this order (others between).
QString missingInOrder(const QStringList &lines, const QStringList &expected)
{
    qsizetype at = 0;
    for (const QString &want : expected) {
        while (at < lines.size() && lines.at(at) != want)
            ++at;
        if (at == lines.size())
            return want;
        ++at;
    }
    return {};
}

} // namespace

class TestTrafficMonitor : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void showsScanReadBackAndProgrammingAndSavesThem();
    void savingWhereNoFileCanBeWrittenSaysSo();
    void keepsTheNewest20000Lines();
    void clearEmptiesTheViewAndTheRecord();
    void followsTheEndUnlessScrolledUp();
    void recordsOnlyWhileOpen();

private:
    TrafficMonitorWindow *openMonitor();
    void click(const char *name) { QTest::mouseClick(m_window->findChild<QPushButton *>(QLatin1String(name)), Qt::LeftButton); }
    QStringList shown(TrafficMonitorWindow *monitor)
    {
        QCoreApplication::processEvents();
        return monitor->text().split(QLatin1Char('\n'));
    }

    std::unique_ptr<Harness> m_harness;
    std::unique_ptr<MainFrm> m_window;
    QTemporaryDir m_dir;
};

void TestTrafficMonitor::init()
{
    QVERIFY(QDir::setCurrent(m_dir.path())); // start-up reads default.cdb here
    m_harness = std::make_unique<Harness>();
    m_window = std::make_unique<MainFrm>(m_harness->services);
    m_window->findChild<PrinterBinding *>()->setPortSelectionRunner([](PortSelection &dialog) {
        dialog.autodetect();
        dialog.accept();
    });
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestTrafficMonitor::cleanup()
{
    m_window.reset();
    m_harness.reset();
}

TrafficMonitorWindow *TestTrafficMonitor::openMonitor()
{
    m_window->findChild<QAction *>(QStringLiteral("TrafficMonitor"))->trigger();
    return m_window->findChild<TrafficMonitorWindow *>();
}

void TestTrafficMonitor::showsScanReadBackAndProgrammingAndSavesThem()
{
    TrafficMonitorWindow *monitor = openMonitor();
    QVERIFY(monitor && monitor->isVisible() && !monitor->isModal());
    QCOMPARE(monitor->windowTitle(), QStringLiteral("Traffic monitor"));
    QCOMPARE(openMonitor(), monitor); // one at a time
    QCOMPARE(m_window->findChildren<TrafficMonitorWindow *>().size(), 1);
    QStringList captions;
    for (const char *name : {"CopyTraffic", "ClearTraffic", "SaveTraffic"})
        captions << monitor->findChild<QPushButton *>(QLatin1String(name))->text();
    QCOMPARE(captions, (QStringList{"Copy", "Clear", "Save as..."}));
    QCOMPARE(monitor->findChild<QPlainTextEdit *>(QStringLiteral("TrafficView"))->accessibleName(),
             QStringLiteral("Serial traffic"));

    click("GetID");       // the scan, then the identity
    click("GetSettings"); // Check configuration
    click("ConfigPrinter");
    QVERIFY(m_harness->prompts.shown.isEmpty());

    const QStringList lines = shown(monitor);
    const QString missing = missingInOrder(lines, {
        "---- Autodetect Chipset ----",
        // the wake-up
        "COM1      0 ms  opened at 57600 bauds, no handshake",
        "COM1      0 ms  sent      00                                               <NUL>",
        "COM1      0 ms  closed",
        "                waited 1000 ms",
        // the probe, answered twice at the first speed
        "COM1      0 ms  opened at 115200 bauds, no handshake",
        "COM1      0 ms  sent      1B 76                                            <ESC>v",
        "COM1      0 ms  waited 100 ms, 1 byte waiting",
        "COM1    100 ms  sent      18                                               <CAN>",
        "COM1    100 ms  cleared   04                                               <EOT>",
        "COM1    100 ms  waited 100 ms, nothing came",
        "COM1    200 ms  sent      1B 76                                            <ESC>v",
        "COM1    200 ms  waited 100 ms, 1 byte waiting",
        "COM1    300 ms  received  04                                               <EOT>",
        "COM1    300 ms  closed",
        // the identity and the settings byte, with hardware handshake
        "COM1      0 ms  opened at 115200 bauds, hardware handshake",
        "COM1      0 ms  sent      1B 49                                            <ESC>I",
        "COM1      0 ms  waited 250 ms, 24 bytes waiting",
        "COM1    250 ms  received  54 48 34 33 32 20 31 4B 35 20 53 54 44 20 20 20 20 46 57 20 34 2E 31 32  "
        "TH432 1K5 STD    FW 4.12",
        "COM1    350 ms  sent      1D 53 66 1C                                      <GS>Sf<FS>",
        "COM1    350 ms  waited 100 ms, 1 byte waiting",
        "COM1    450 ms  sent      18                                               <CAN>",
        "COM1    450 ms  received  87                                               .",
        "COM1    450 ms  closed",
        "---- Check identity ----",
        "COM1     50 ms  sent      1B 49                                            <ESC>I",
        "COM1    150 ms  waited 500 ms, nothing came",
        "COM1    650 ms  closed",
        "---- Check configuration ----",
        "COM1      0 ms  opened at 115200 bauds, hardware handshake",
        "COM1      0 ms  waited 50 ms, nothing came",
        "COM1     50 ms  sent      1D 53 66 06                                      <GS>Sf<ACK>",
        "COM1     53 ms  received  01                                               <SOH>",
        "COM1     53 ms  sent      1D 53 66 09                                      <GS>Sf<HT>",
        "COM1     56 ms  received  00                                               <NUL>",
        "COM1     56 ms  sent      1D 53 43                                         <GS>SC",
        "COM1     59 ms  received  F1 40                                            .@",
        "COM1     59 ms  waited 500 ms, nothing came",
        "COM1    559 ms  sent      1B 49                                            <ESC>I",
        "COM1   1064 ms  closed",
        "---- Configure printer ----",
        "COM1     50 ms  sent      1D 53 68                                         <GS>Sh",
        "COM1     53 ms  received  01                                               <SOH>",
        "COM1     53 ms  sent      1D 53 46 06 01                                   <GS>SF<ACK><SOH>",
        "COM1     59 ms  received  01                                               <SOH>",
        "COM1     59 ms  sent      1D 53 46 07 F1                                   <GS>SF<BEL>.",
        "COM1     65 ms  received  F1                                               .",
        "COM1     65 ms  sent      1D 53 46 08 40                                   <GS>SF<BS>@",
        "COM1     71 ms  received  40                                               @",
        "COM1     71 ms  closed",
        "COM1     50 ms  sent      1D 53 46 09 00                                   <GS>SF<HT><NUL>",
        "COM1     56 ms  received  00                                               <NUL>",
        "COM1     50 ms  sent      1B 40                                            <ESC>@",
        "COM1     50 ms  closed",
        "                waited 1000 ms",
        "COM1     50 ms  sent      1B 49                                            <ESC>I",
        "COM1    150 ms  received  54 48 34 33 32 20 31 4B 35 20 53 54 44 20 20 20 20 46 57 20 34 2E 31 32  "
        "TH432 1K5 STD    FW 4.12",
        "COM1    650 ms  closed",
    });
    QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("missing or out of order: \"%1\"\n%2").arg(missing, lines.join('\n'))));

    monitor->findChild<QPushButton *>(QStringLiteral("CopyTraffic"))->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), lines.join(QLatin1Char('\n')));

    const QString path = m_dir.filePath(QStringLiteral("traffic.txt"));
    m_harness->files.paths = {path};
    monitor->findChild<QPushButton *>(QStringLiteral("SaveTraffic"))->click();
    const FileDialogOptions &asked = m_harness->files.asked.constLast();
    QCOMPARE(asked.title, QStringLiteral("Save traffic as..."));
    QCOMPARE(asked.filter, QStringLiteral("Text files (*.txt)|*.txt"));
    QCOMPARE(asked.defaultSuffix, QStringLiteral("txt"));
    QVERIFY(asked.confirmOverwrite);
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(saved.readAll()), lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    QVERIFY(m_harness->prompts.shown.isEmpty());
}

void TestTrafficMonitor::savingWhereNoFileCanBeWrittenSaysSo()
{
    TrafficMonitorWindow *monitor = openMonitor();
    m_harness->record.append(QStringLiteral("a line"));
    const QString path = m_dir.filePath(QStringLiteral("missing/traffic.txt"));
    m_harness->files.paths = {path};
    monitor->saveAs();
    QCOMPARE(m_harness->prompts.shown.size(), 1);
    QCOMPARE(m_harness->prompts.shown.constFirst().icon, MessageIcon::Warning);
    QVERIFY2(m_harness->prompts.texts().constFirst().startsWith(QStringLiteral("Couldn't write the traffic file ") + path
                                                                 + QStringLiteral(" : ")),
             qPrintable(m_harness->prompts.texts().constFirst()));
    QVERIFY(m_harness->prompts.texts().constFirst().endsWith(QStringLiteral("\nThe file on disk was not changed.")));
    QVERIFY(!QFile::exists(path));
}

void TestTrafficMonitor::keepsTheNewest20000Lines()
{
    TrafficMonitorWindow *monitor = openMonitor();
    for (int i = 0; i < 20010; ++i)
        m_harness->record.append(QStringLiteral("line %1").arg(i));
    const QStringList lines = shown(monitor);
    QCOMPARE(lines.size(), 20000);
    QCOMPARE(lines.constFirst(), QStringLiteral("line 10"));
    QCOMPARE(lines.constLast(), QStringLiteral("line 20009"));
    // And so many more in small batches, as a long day of work brings them.
    for (int i = 20010; i < 20500; ++i) {
        m_harness->record.append(QStringLiteral("line %1").arg(i));
        if (i % 50 == 0)
            QCoreApplication::processEvents();
    }
    QCOMPARE(shown(monitor).constFirst(), QStringLiteral("line 500"));
    QCOMPARE(shown(monitor).size(), 20000);
}

void TestTrafficMonitor::clearEmptiesTheViewAndTheRecord()
{
    TrafficMonitorWindow *monitor = openMonitor();
    click("GetID");
    QVERIFY(shown(monitor).contains(QStringLiteral("---- Check identity ----")));
    monitor->findChild<QPushButton *>(QStringLiteral("ClearTraffic"))->click();
    QCOMPARE(monitor->text(), QString());
    QVERIFY(m_harness->record.lines().isEmpty());
    // What comes next is shown from the top.
    click("Reset");
    QCOMPARE(shown(monitor).constFirst(), QStringLiteral("---- Reset ----"));
}

void TestTrafficMonitor::followsTheEndUnlessScrolledUp()
{
    TrafficMonitorWindow *monitor = openMonitor();
    QScrollBar *bar = monitor->findChild<QPlainTextEdit *>()->verticalScrollBar();
    const auto more = [this](int n) {
        for (int i = 0; i < n; ++i)
            m_harness->record.append(QStringLiteral("line"));
        QCoreApplication::processEvents();
    };
    more(300);
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    more(10);
    QCOMPARE(bar->value(), bar->maximum());

    bar->setValue(bar->maximum() / 2); // the user reads further up
    const int reading = bar->value();
    more(100);
    QCOMPARE(bar->value(), reading);
    QVERIFY(!monitor->followsEnd());

    bar->setValue(bar->maximum()); // back at the end: it follows again
    more(100);
    QCOMPARE(bar->value(), bar->maximum());
}

void TestTrafficMonitor::recordsOnlyWhileOpen()
{
    click("GetID");
    QCOMPARE(m_harness->record.end(), 0); // nobody watched: nothing taken

    TrafficMonitorWindow *monitor = openMonitor();
    click("Reset");
    const QStringList whileOpen = shown(monitor);
    QCOMPARE(whileOpen.constFirst(), QStringLiteral("---- Reset ----"));
    monitor->close(); // and so deleted
    QTRY_VERIFY(!m_window->findChild<TrafficMonitorWindow *>());
    QVERIFY(!m_harness->record.isRecording());
    click("Wakeup");

    // Opened again, it still shows what it took before.
    QCOMPARE(shown(openMonitor()), whileOpen);
}

QTEST_MAIN(TestTrafficMonitor)
#include "tst_trafficmonitor.moc"
