#include "app/appservices.h"
#include "app/appstate.h"
#include "app/prompts.h"
#include "boardsim/simulatedline.h"
#include "configuration/configurationeditor.h"
#include "configuration/programmingbinding.h"
#include "mainwindow/mainfrm.h"
#include "scriptedprompts.h"
#include "serial/commandgate.h"
#include "serial/virtualclock.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <functional>
#include <memory>

using namespace tessary;
using namespace tessary::test;

namespace {

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

// Message boxes that also note what the window looked like while they showed.
class WatchingPrompts : public ScriptedPrompts {
public:
    struct Seen {
        bool buttonEnabled;
        bool busyPointer;
    };
    std::function<Seen()> look;
    QList<Seen> seen;

    bool message(const QString &text, MessageIcon icon, MessageButtons buttons) override
    {
        if (look)
            seen.append(look());
        return ScriptedPrompts::message(text, icon, buttons);
    }
};

const QString Factory = QStringLiteral("1111000101000000");

// The printer column of the window in miniature: the group the window
// disables while a printer command runs, the button and the label; a text
// field outside it holds the focus before the click.
struct Rig {
    explicit Rig(const sim::BoardOptions &options = {}, bool withBoard = true)
        : services{state, link, gate, prompts, files}
    {
        line.setExistingPorts({3});
        if (withBoard)
            board = &line.attachBoard(3, options);
        state.link = {true, 3, QStringLiteral("115200"), HandshakeHardware, true};

        auto *layout = new QVBoxLayout(&root);
        other = new QLineEdit(&root);
        layout->addWidget(other);
        printerColumn = new QGroupBox(QStringLiteral("Printer"), &root);
        auto *inner = new QVBoxLayout(printerColumn);
        identity = new QLabel(QStringLiteral("before"), printerColumn);
        identity->setObjectName(QStringLiteral("Identity"));
        configPrinter = new QPushButton(QStringLiteral("Configure printer"), printerColumn);
        configPrinter->setObjectName(QStringLiteral("ConfigPrinter"));
        inner->addWidget(identity);
        inner->addWidget(configPrinter);
        layout->addWidget(printerColumn);
        QObject::connect(&gate, &CommandGate::busyChanged, printerColumn,
                         [this](bool busy) { printerColumn->setEnabled(!busy); });

        binding = std::make_unique<ProgrammingBinding>(&root, editor, services, status);
        prompts.look = [this] {
            return WatchingPrompts::Seen{configPrinter->isEnabled(),
                                         root.cursor().shape() == Qt::WaitCursor};
        };
        root.show();
        other->setFocus();
    }

    void configure(bool userMode, bool userId, const QString &code = Factory, const QString &name = {})
    {
        editor.applyConfigurationCode(code);
        editor.setConfigurationMode(userMode);
        editor.setIdentityMode(userId);
        editor.setName(name);
    }

    // The button enabled with the focus, the normal pointer back.
    void checkRestored() const
    {
        QVERIFY(configPrinter->isEnabled());
        QVERIFY(printerColumn->isEnabled());
        QCOMPARE(root.focusWidget(), configPrinter);
        QCOMPARE(root.cursor().shape(), Qt::ArrowCursor);
    }

    HookedClock clock;
    sim::SimulatedLine line{clock};
    SerialLink link{line, clock};
    CommandGate gate{link};
    AppState state;
    WatchingPrompts prompts;
    ScriptedFileChooser files;
    AppServices services;
    PlainStatusLine status;
    ConfigurationEditor editor;
    sim::Board *board = nullptr;

    QWidget root;
    QLineEdit *other = nullptr;
    QGroupBox *printerColumn = nullptr;
    QLabel *identity = nullptr;
    QPushButton *configPrinter = nullptr;
    std::unique_ptr<ProgrammingBinding> binding;
};

} // namespace

class TestProgrammingBinding : public QObject {
    Q_OBJECT

private slots:
    void clickProgramsAndShowsTheIdentity();
    void buttonIsDisabledWithBusyPointerWhileProgramming();
    void cancelLeavesTheButtonReadyAndSaysSo();
    void refusedCheckSendsNothingAndKeepsTheFocus();
    void identityIsPlainTextWithControlCharactersReplaced();
    void noAnswerEmptiesTheIdentity();
    void clickWhileAnotherCommandRunsIsIgnored();
    void stopDuringProgrammingGivesTheButtonBack();
    void mainWindowProgramsFromItsEditor();
    void closingTheMainWindowWhileProgrammingStopsAndCloses();
};

void TestProgrammingBinding::clickProgramsAndShowsTheIdentity()
{
    Rig rig;
    rig.configure(false, true, Factory, QStringLiteral("WIDGET"));

    rig.configPrinter->click();

    QCOMPARE(rig.line.writtenBytes(),
             QByteArray::fromHex("1d53460600 1d53460957 1d53460a49 1d53460b44 1d53460c47 1d53460d45 1d53460e54 "
                                 "1d53460f00 1b40 1b49"));
    QCOMPARE(rig.identity->text(), QStringLiteral("WIDGET           FW 4.12"));
    rig.checkRestored();
}

void TestProgrammingBinding::buttonIsDisabledWithBusyPointerWhileProgramming()
{
    sim::BoardOptions options;
    options.faults.wrongEchoAddress = 9; // one message, shown mid-run
    Rig rig(options);
    rig.configure(false, false);

    rig.configPrinter->click();

    QCOMPARE(rig.prompts.texts(), QStringList{QStringLiteral("Programming error ! Please check cables and power.")});
    QCOMPARE(rig.prompts.seen.size(), 1);
    QVERIFY(!rig.prompts.seen.first().buttonEnabled);
    QVERIFY(rig.prompts.seen.first().busyPointer);
    rig.checkRestored();
}

void TestProgrammingBinding::cancelLeavesTheButtonReadyAndSaysSo()
{
    sim::BoardOptions options;
    options.strobePolarity = 0; // the factory code says Negative
    Rig rig(options);
    rig.configure(true, false);
    rig.prompts.answer({false});

    rig.configPrinter->click();

    QCOMPARE(rig.prompts.texts(),
             QStringList{QStringLiteral("Hardware detected polarity doesn't match user choice !  Program anyway ?")});
    QVERIFY(rig.prompts.seen.first().busyPointer);
    QCOMPARE(rig.line.writtenBytes(), QByteArray::fromHex("1d5368"));
    QCOMPARE(rig.status.statusText(), QStringLiteral("Programming cancelled !"));
    QCOMPARE(rig.identity->text(), QStringLiteral("before"));
    rig.checkRestored();
    QVERIFY(!rig.line.isOpen());
}

void TestProgrammingBinding::refusedCheckSendsNothingAndKeepsTheFocus()
{
    Rig rig;
    rig.configure(true, true, Factory, QString());
    QSignalSpy busy(&rig.gate, &CommandGate::busyChanged);

    rig.configPrinter->click();

    QCOMPARE(rig.prompts.texts(), QStringList{QStringLiteral("Please specify a mechanism identity !")});
    // Checked before anything changes: the button is still enabled then.
    QVERIFY(rig.prompts.seen.first().buttonEnabled);
    QVERIFY(!rig.prompts.seen.first().busyPointer);
    QVERIFY(rig.line.opens().isEmpty());
    QCOMPARE(busy.count(), 0);
    QVERIFY(rig.configPrinter->isEnabled());
    QCOMPARE(rig.root.focusWidget(), rig.other);
}

void TestProgrammingBinding::identityIsPlainTextWithControlCharactersReplaced()
{
    sim::BoardOptions options;
    options.firmware = QByteArray("<b>FW\x07\r\n\x85 caf\xe9</b>");
    Rig rig(options);
    rig.configure(false, false);

    rig.configPrinter->click();

    QCOMPARE(rig.identity->textFormat(), Qt::PlainText);
    QVERIFY2(rig.identity->text().endsWith(QStringLiteral("<b>FW\uFFFD\uFFFD\uFFFD\uFFFD caf\u00e9</b>")),
             qPrintable(rig.identity->text()));
}

void TestProgrammingBinding::noAnswerEmptiesTheIdentity()
{
    Rig rig({}, false);
    rig.configure(false, false);

    rig.configPrinter->click();

    QVERIFY(rig.identity->text().isEmpty());
    // 6 <- 0 and 9 <- 0 went unanswered: one programming error for each.
    QCOMPARE(rig.prompts.texts(), QStringList(2, QStringLiteral("Programming error ! Please check cables and power.")));
    rig.checkRestored();
}

void TestProgrammingBinding::clickWhileAnotherCommandRunsIsIgnored()
{
    Rig rig;
    rig.configure(false, false);

    QVERIFY(rig.gate.run([&] { rig.binding->configurePrinter(); }));

    QVERIFY(rig.line.writtenBytes().isEmpty());
    QVERIFY(rig.prompts.shown.isEmpty());
}

void TestProgrammingBinding::stopDuringProgrammingGivesTheButtonBack()
{
    Rig rig;
    rig.configure(false, true, Factory, QStringLiteral("ABCDEFGH"));
    int waits = 0;
    rig.clock.onWait = [&] {
        if (++waits == 4)
            rig.gate.requestStop();
    };

    rig.configPrinter->click();

    QCOMPARE(rig.board->resetCount(), 0);
    QVERIFY(!rig.line.isOpen());
    QVERIFY(!rig.gate.isBusy());
    QCOMPARE(rig.identity->text(), QStringLiteral("before"));
    rig.checkRestored();
}

namespace {

// The real main window over the simulated board.
struct WindowRig {
    WindowRig()
    {
        line.setExistingPorts({3});
        sim::BoardOptions options;
        options.strobePolarity = 1;
        board = &line.attachBoard(3, options);
        window.show(); // runs the window's start state
        state.link = {true, 3, QStringLiteral("115200"), HandshakeHardware, true};
        // As after a detection.
        window.findChild<QPushButton *>(QStringLiteral("ConfigPrinter"))->setEnabled(true);
        ConfigurationEditor &editor = window.editor();
        editor.applyConfigurationCode(Factory);
        editor.setConfigurationMode(true);
        editor.setIdentityMode(true);
        editor.setName(QStringLiteral("MAIN"));
        prompts.clear();
    }

    HookedClock clock;
    sim::SimulatedLine line{clock};
    SerialLink link{line, clock};
    CommandGate gate{link};
    AppState state;
    ScriptedPrompts prompts;
    ScriptedFileChooser files;
    AppServices services{state, link, gate, prompts, files};
    MainFrm window{services};
    sim::Board *board = nullptr;
};

} // namespace

void TestProgrammingBinding::mainWindowProgramsFromItsEditor()
{
    WindowRig rig;
    auto *button = rig.window.findChild<QPushButton *>(QStringLiteral("ConfigPrinter"));

    button->click();

    QVERIFY(rig.prompts.shown.isEmpty());
    QCOMPARE(rig.board->parameter(6), quint8(1));
    QCOMPARE(rig.board->parameter(7), quint8(0xF1));
    QCOMPARE(rig.board->parameter(8), quint8(0x40));
    QCOMPARE(rig.board->parameter(9), quint8('M'));
    QCOMPARE(rig.window.findChild<QLabel *>(QStringLiteral("Identity"))->text(),
             QStringLiteral("MAIN             FW 4.12"));
    QVERIFY(button->isEnabled());
    QCOMPARE(rig.window.focusWidget(), button);
}

void TestProgrammingBinding::closingTheMainWindowWhileProgrammingStopsAndCloses()
{
    WindowRig rig;
    auto *button = rig.window.findChild<QPushButton *>(QStringLiteral("ConfigPrinter"));
    QSignalSpy quit(&rig.window, &MainFrm::quitRequested);
    int waits = 0;
    rig.clock.onWait = [&] {
        if (++waits == 5)
            rig.window.close(); // the user closes the window during an echo wait
    };

    button->click();
    QTRY_COMPARE(quit.count(), 1);

    QVERIFY(!rig.window.isVisible());
    QVERIFY(!rig.line.isOpen());
    QCOMPARE(rig.board->resetCount(), 0);
    // Whole commands only: the polarity query, then 5-byte parameter writes.
    const QByteArray written = rig.line.writtenBytes();
    QVERIFY(written.startsWith(QByteArray::fromHex("1d5368")));
    QCOMPARE((written.size() - 3) % 5, 0);
}

QTEST_MAIN(TestProgrammingBinding)
#include "tst_programmingbinding.moc"
