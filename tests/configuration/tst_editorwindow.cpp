#include "mainwindow/mainfrm.h"
#include "scriptedline.h"
#include "scriptedprompts.h"
#include "serial/commandgate.h"
#include "serial/seriallink.h"
#include "serial/virtualclock.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace tessary;
using namespace tessary::test;

namespace {

struct Harness {
    Harness() : services{state, link, gate, prompts, files, false} {}
    VirtualClock clock;
    ScriptedLine line{clock};
    SerialLink link{line, clock};
    CommandGate gate{link};
    AppState state;
    ScriptedPrompts prompts;
    ScriptedFileChooser files;
    AppServices services;
};

} // namespace

// The configuration editor as the main window builds and binds it.
class TestEditorWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startStateShowsOnlyFiveVoltsOnWidgetsAndModel();
    void optionClicksReachTheWindowsEditor();
    void appliedCodeAndModeSelectionShowOnTheWindow();
    void saveButtonAddsTheEntryToTheDatabase();
    void entryNamingNoOptionIsListedButNeitherSavedNorProgrammed_data();
    void entryNamingNoOptionIsListedButNeitherSavedNorProgrammed();

private:
    QRadioButton *option(const char *name) const { return m_window->findChild<QRadioButton *>(name); }

    QTemporaryDir m_currentDir;
    QString m_previousDir;
    std::unique_ptr<Harness> m_harness;
    std::unique_ptr<MainFrm> m_window;
};

void TestEditorWindow::initTestCase()
{
    // Start-up reads default.cdb from the current directory: make it ours.
    QVERIFY(m_currentDir.isValid());
    m_previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_currentDir.path()));
}

void TestEditorWindow::init()
{
    m_harness = std::make_unique<Harness>();
    m_window = std::make_unique<MainFrm>(m_harness->services);
    m_window->formLoad();
}

void TestEditorWindow::cleanup()
{
    m_window.reset();
    m_harness.reset();
}

void TestEditorWindow::startStateShowsOnlyFiveVoltsOnWidgetsAndModel()
{
    ConfigurationEditor &editor = m_window->editor();
    for (const QString &name : ConfigurationEditor::buttonNames()) {
        auto *button = m_window->findChild<QRadioButton *>(name);
        QVERIFY2(button, qPrintable(name));
        if (name.startsWith("Conf") || name.startsWith("Id"))
            continue; // the selectors are not part of the start state
        QCOMPARE(button->isChecked(), name == "Voltage5");
        QCOMPARE(editor.isChecked(name), name == "Voltage5");
    }
    QCOMPARE(editor.settings().logicVoltage, qint16(1));
    QCOMPARE(editor.settings().headWidth, qint16(-1));
    QVERIFY(!option("ModeMRS")->isEnabled());
    QVERIFY(option("HW384")->isEnabled());
}

void TestEditorWindow::optionClicksReachTheWindowsEditor()
{
    option("HW448")->click();
    option("HeadST")->click();
    QCOMPARE(m_window->editor().settings().headWidth, qint16(5));
    QCOMPARE(m_window->editor().settings().headType, qint16(2));
    option("HW832")->click();
    QCOMPARE(m_window->editor().settings().headWidth, qint16(7));
    QVERIFY(!option("HW448")->isChecked());
}

void TestEditorWindow::appliedCodeAndModeSelectionShowOnTheWindow()
{
    ConfigurationEditor &editor = m_window->editor();
    editor.setName("Mechanism 11");
    editor.applyConfigurationCode("1111010010110000");
    editor.setConfigurationMode(false);
    editor.setIdentityMode(false);
    QCOMPARE(m_window->findChild<QLineEdit *>("ConfigName")->text(), QString("Mechanism 11"));
    for (const char *on : {"ModeChipset", "MechaStd", "Step1", "StepperNormal", "HeadST", "StrobeRohm",
                           "HW448", "HupInverted", "ConfRes", "IdAuto"})
        QVERIFY2(option(on)->isChecked(), on);
    QVERIFY(!option("HW448")->isEnabled());
    QVERIFY(!m_window->findChild<QLineEdit *>("ConfigName")->isEnabled());

    option("ConfUser")->click();
    option("IdUser")->click();
    QVERIFY(option("HW448")->isEnabled());
    QVERIFY(m_window->findChild<QLineEdit *>("ConfigName")->isEnabled());
    QVERIFY(editor.configurationModeUser() && editor.identityUser());
}

void TestEditorWindow::saveButtonAddsTheEntryToTheDatabase()
{
    MechanismDatabase &db = m_window->database();
    const int before = db.count();
    m_window->editor().applyConfigurationCode("1100110011100000");
    m_window->editor().setName("Bench unit");
    m_window->findChild<QPushButton *>("NewConfig")->click();
    QCOMPARE(db.count(), before + 1);
    QCOMPARE(db.name(before), QString("Bench unit"));
    QCOMPARE(db.code(before), QString("1100110011100000"));
    QCOMPARE(m_window->statusText(), QString("Configuration selected : Bench unit"));
    QVERIFY(db.isModified());
}

void TestEditorWindow::entryNamingNoOptionIsListedButNeitherSavedNorProgrammed_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("group"); // the option names of the field, which start alike
    QTest::addColumn<QString>("saveMessage"); // empty: the save goes through
    QTest::addColumn<QString>("programMessage");
    QTest::newRow("head width 000") << "1111000100000000" << "HW" << "Head width is not defined !"
                                    << "Head width is not defined !";
    QTest::newRow("head type 11") << "1111011101000000" << "Head" << "Head type is not defined !"
                                  << "Head type is not defined !";
    // The save does not check the head-up polarity (an unset one is saved as "1").
    QTest::newRow("head-up polarity 2") << "1111000101020000" << "Hup" << QString()
                                        << "Head-up polarity is not defined !";
}

void TestEditorWindow::entryNamingNoOptionIsListedButNeitherSavedNorProgrammed()
{
    QFETCH(QString, code);
    QFETCH(QString, group);
    QFETCH(QString, saveMessage);
    QFETCH(QString, programMessage);
    MechanismDatabase &db = m_window->database();
    // Every option shown first, from an entry that names one in every group.
    db.append("Every option", "1111110111110000");
    db.append("Odd entry", code);
    auto *analyse = m_window->findChild<QPushButton *>("DbbAnalyse");
    db.select(db.count() - 2);
    analyse->click();
    db.select(db.count() - 1);
    db.setModified(false);
    analyse->click();

    QCOMPARE(db.code(db.count() - 1), code); // listed as it is
    const MechanismSettings &settings = m_window->editor().settings();
    const qint16 value = group == "HW" ? settings.headWidth : group == "Head" ? settings.headType : settings.headUpPolarity;
    QCOMPARE(value, qint16(-1));
    for (const QString &name : ConfigurationEditor::buttonNames()) {
        if (name.startsWith(group)) {
            QVERIFY2(!option(qPrintable(name))->isChecked(), qPrintable(name));
            QVERIFY2(!m_window->editor().isChecked(name), qPrintable(name));
        }
    }

    const int entries = db.count();
    m_window->findChild<QPushButton *>("NewConfig")->click();
    if (!saveMessage.isEmpty()) {
        QCOMPARE(m_harness->prompts.texts(), QStringList{saveMessage});
        QCOMPARE(m_window->statusText(), QString("New configuration not created !"));
        QCOMPARE(db.count(), entries);
        QVERIFY(!db.isModified());
    }
    m_harness->prompts.clear();

    auto *configure = m_window->findChild<QPushButton *>("ConfigPrinter");
    configure->setEnabled(true); // as after a detection
    configure->click();
    QCOMPARE(m_harness->prompts.texts(), QStringList{programMessage});
    QVERIFY(m_harness->line.writes.isEmpty());
}

QTEST_MAIN(TestEditorWindow)
#include "tst_editorwindow.moc"
