#include "configuration/configurationeditor.h"
#include "configuration/editorbinding.h"
#include "database/mechanismdatabase.h"
#include "scriptedprompts.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QButtonGroup>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QVBoxLayout>

using namespace tessary;
using tessary::test::ScriptedPrompts;

// A few option groups, the name box and the save button, named as on the
// main window.
struct EditorWidgets {
    QWidget root;
    QHash<QString, QRadioButton *> options;
    QLineEdit *name = nullptr;
    QPushButton *save = nullptr;

    EditorWidgets()
    {
        auto *layout = new QVBoxLayout(&root);
        const QList<QStringList> groups = {{"HW384", "HW432", "HW640"},
                                           {"MechaStd", "MechaKEL"},
                                           {"Step1", "Steps2"},
                                           {"StepperNormal", "StepperInverted"},
                                           {"HeadLV", "HeadHS", "HeadST"},
                                           {"StrobeRohm", "StrobeKyo"},
                                           {"ConfRes", "ConfUser"}};
        for (const QStringList &names : groups) {
            auto *group = new QButtonGroup(&root);
            group->setExclusive(true);
            for (const QString &n : names) {
                auto *option = new QRadioButton(n, &root);
                option->setObjectName(n);
                group->addButton(option);
                layout->addWidget(option);
                options.insert(n, option);
            }
        }
        name = new QLineEdit(&root);
        name->setObjectName("ConfigName");
        layout->addWidget(name);
        save = new QPushButton("Save configuration to database", &root);
        save->setObjectName("NewConfig");
        layout->addWidget(save);
    }
};

// The widgets bound to an editor (left at its start state) and an in-memory database.
struct Bench : EditorWidgets {
    ConfigurationEditor editor;
    MechanismDatabase db;
    ScriptedPrompts prompts;
    PlainStatusLine status;
    std::unique_ptr<EditorBinding> binding;

    Bench() { editor.resetToStartState(); }
    [[nodiscard]] bool bind(bool show = true)
    {
        binding = std::make_unique<EditorBinding>(&root, editor, db, prompts, status);
        if (!show)
            return true;
        root.show();
        return QTest::qWaitForWindowExposed(&root);
    }
};

// Clicks the indicator: a radio button takes clicks on its indicator and
// caption only, not anywhere in its (stretched) rectangle.
static void clickOption(QAbstractButton *option)
{
    QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
}

class TestEditorBinding : public QObject {
    Q_OBJECT
private slots:
    void clickingAnOptionUpdatesTheModel();
    void modelChangesShowOnTheWidgets();
    void modeSelectorDisablesTheOptionWidgets();
    void nameIsWhatTheFieldShowsHoweverItGotThere_data();
    void nameIsWhatTheFieldShowsHoweverItGotThere();
};

void TestEditorBinding::clickingAnOptionUpdatesTheModel()
{
    Bench w;
    QVERIFY(w.bind());

    clickOption(w.options["HW640"]);
    QCOMPARE(w.editor.settings().headWidth, qint16(6));
    QVERIFY(w.editor.isChecked("HW640"));
    clickOption(w.options["HW432"]);
    QCOMPARE(w.editor.settings().headWidth, qint16(2));
    QVERIFY(!w.editor.isChecked("HW640"));
    QVERIFY(!w.options["HW640"]->isChecked());
}

void TestEditorBinding::modelChangesShowOnTheWidgets()
{
    Bench w;
    QVERIFY(w.bind(false));

    w.editor.applyConfigurationCode("1101001100100000");
    for (const char *on : {"HW384", "MechaKEL", "Step1", "StepperNormal", "HeadHS", "StrobeKyo"})
        QVERIFY2(w.options[on]->isChecked(), on);
    for (const char *off : {"HW432", "HW640", "MechaStd", "Steps2", "HeadLV", "HeadST", "StrobeRohm"})
        QVERIFY2(!w.options[off]->isChecked(), off);

    // Back to the start state: every option of an exclusive group goes off.
    w.editor.resetToStartState();
    for (QRadioButton *option : std::as_const(w.options))
        QVERIFY2(!option->isChecked(), qPrintable(option->objectName()));

    w.editor.setName("From the board");
    QCOMPARE(w.name->text(), QString("From the board"));
}

void TestEditorBinding::modeSelectorDisablesTheOptionWidgets()
{
    Bench w;
    w.editor.setIdentityMode(false);
    QVERIFY(w.bind());

    QVERIFY(!w.name->isEnabled());
    clickOption(w.options["ConfRes"]);
    QVERIFY(w.editor.configurationModeResistors());
    QVERIFY(!w.options["HW384"]->isEnabled());
    QVERIFY(!w.options["StrobeKyo"]->isEnabled());
    QVERIFY(w.options["ConfUser"]->isEnabled());

    clickOption(w.options["ConfUser"]);
    QVERIFY(w.options["HW384"]->isEnabled());
    QVERIFY(!w.options["ConfRes"]->isChecked());
}

void TestEditorBinding::nameIsWhatTheFieldShowsHoweverItGotThere_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("cursor");
    // Characters beyond Latin-1 and control characters are dropped, the
    // cursor stays after the same kept characters.
    QTest::newRow("typed") << "typed" << "Abc" << 3;
    QTest::newRow("set by an assistive tool") << "accessible value" << "VWXYZ" << 5;
    QTest::newRow("inserted by an assistive tool") << "accessible insert" << "AXYB" << 4;
    QTest::newRow("pasted") << "paste" << "Paste" << 5;
    QTest::newRow("undone") << "undo" << "Name" << 4;
}

void TestEditorBinding::nameIsWhatTheFieldShowsHoweverItGotThere()
{
    QFETCH(QString, way);
    QFETCH(QString, expected);
    QFETCH(int, cursor);
    Bench w;
    QVERIFY(w.bind());
    w.editor.applyConfigurationCode("1111000101000000");
    w.name->setFocus();
    const QString euro(QChar(0x20AC));

    if (way == "typed") {
        QTest::keyClicks(w.name, "Ab");
        // A character beyond Latin-1, as a keyboard layout would type it.
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, euro);
        QApplication::sendEvent(w.name, &key);
        QTest::keyClicks(w.name, "c");
    } else if (way == "accessible value") {
        QTest::keyClicks(w.name, "Old name");
        QAccessible::queryAccessibleInterface(w.name)->setText(QAccessible::Value, "VWX" + euro + "YZ");
    } else if (way == "accessible insert") {
        QTest::keyClicks(w.name, "AB");
        QAccessibleInterface *field = QAccessible::queryAccessibleInterface(w.name);
        QVERIFY(field->editableTextInterface());
        field->editableTextInterface()->insertText(1, "X\t" + euro + "Y");
    } else if (way == "paste") {
        QApplication::clipboard()->setText("Pa" + euro + "ste");
        w.name->paste();
    } else if (way == "undo") {
        QTest::keyClicks(w.name, "Name");
        w.name->selectAll();
        w.name->del();
        QCOMPARE(w.editor.name(), QString());
        w.name->undo();
    }
    QCOMPARE(w.editor.name(), expected);
    QCOMPARE(w.name->text(), expected);
    QCOMPARE(w.name->cursorPosition(), cursor);

    QTest::mouseClick(w.save, Qt::LeftButton);
    QCOMPARE(w.db.count(), 1);
    QCOMPARE(w.db.name(0), expected);
    QCOMPARE(w.db.code(0), QString("1111000101000000"));
    QVERIFY(w.db.isModified());
    QVERIFY2(w.prompts.shown.isEmpty(), qPrintable(w.prompts.texts().join(u'|')));
}

QTEST_MAIN(TestEditorBinding)
#include "tst_editorbinding.moc"
