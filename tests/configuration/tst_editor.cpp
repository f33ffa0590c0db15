// The main window as the program starts it, and its configuration editor: the options, the name field and
// the mode selectors, an entry analysed into it, and "Save configuration to database" and "Configure
// printer" refusing what is not complete. Checked by the texts and states shown, the list rows, the
// messages, the files and the bytes on the wire.
#include "windowrig.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>

using namespace tessary;
using namespace tessary::test;

namespace {

QByteArray record(const QByteArray &name, const char *code) { return name.leftJustified(16, ' ') + code + "\r\n"; }

// The database list as "name=code" rows.
QStringList rows(const WindowRig &rig)
{
    QStringList out;
    for (int i = 0; i < rig.find<QListWidget>("List1")->count(); ++i)
        out << rig.find<QListWidget>("List1")->item(i)->text() + u'=' + rig.find<QListWidget>("List2")->item(i)->text();
    return out;
}

void clickAll(WindowRig &rig, const QString &names)
{
    for (const QString &name : names.split(u' ', Qt::SkipEmptyParts))
        rig.click(qPrintable(name));
}

const QString Complete = "MechaStd Step1 StepperNormal HeadLV StrobeKyo HW432 HupNormal"; // 1111000101000000

} // namespace

class TestEditor : public QObject {
    Q_OBJECT
private slots:
    void startState()
    {
        WindowRig rig;
        // Every control with a caption; the labels hold their start texts.
        const QStringList captions = {
            "Frame9=Mechanism database", "DbbAnalyse=Analyse current entry", "DbbDelete=Delete current entry",
            "DbUp=Move up", "DbDown=Move down", "Frame8=Configuration editor", "IdEditor=Mechanism identity",
            "ConfigName=", "Frame1=Logic voltage", "Voltage5=5     Volts", "Voltage3=3.3  Volts", "ModeMRS=MRS",
            "Printermode=Printer mode", "ModeChipset=Chipset", "Frame2=Mechanism", "MechaStd=Standard",
            "MechaKEL=KEL", "Frame11=Head-up polarity", "HupNormal=Normal", "HupInverted=Inverted",
            "Frame3=Motor steps", "Step1=1 step/dotline", "Steps2=2 steps/dotline", "Frame4=Motor rotation",
            "StepperNormal=Normal", "StepperInverted=Inverted", "Frame7=Head width",
            "HW384=2''               384 pixels", "HW432=2''               432 pixels",
            "HW448=2''               448 pixels", "HW576=3''               576 pixels",
            "HW640=3''               640 pixels", "HW832=4 ''              832 pixels",
            "HW864=4 ''              864 pixels", "Frame5=Head type", "HeadST=800 Ohms", "HeadHS=3000 Ohms",
            "HeadLV=1500 Ohms", "Frame6=Strobe polarity", "StrobeRohm=Positive", "StrobeKyo=Negative",
            "NewConfig=Save configuration to database", "Frame10=Printer", "Identityf=Firmware Identity",
            "Identity=Please, run chipset detection", "GetID=Check identity", "Frame12=Configuration mode",
            "ConfRes=Resistors", "ConfUser=User", "Frame13=Identity determination", "IdAuto=Automatic",
            "IdUser=User", "GetSettings=Check configuration", "ConfigPrinter=Configure printer",
            "Frame14=Communication", "LabelCom=No chipset found, please",
            "LabelBauds=perform a chipset detection", "Wakeup=Wake up", "SleepButton=Sleep", "Reset=Reset",
            "List1=", "List2="};
        // Until a printer is found only "Check identity" can reach it; the printer mode is shown, not chosen.
        const QStringList disabled = {"ModeMRS", "ModeChipset", "GetSettings", "ConfigPrinter", "Wakeup",
                                      "SleepButton", "Reset"};
        const QStringList hidden = {"Frame1", "Voltage5", "Voltage3", "List2"};
        for (const QString &entry : captions) {
            const QString name = entry.section(u'=', 0, 0);
            const QWidget *control = rig.find<QWidget>(qPrintable(name));
            QVERIFY2(control, qPrintable(name));
            const auto *box = qobject_cast<const QGroupBox *>(control);
            QCOMPARE(name + u'=' + (box ? box->title() : control->property("text").toString()), entry);
            QCOMPARE(control->isEnabled(), !disabled.contains(name));
            QCOMPARE(control->isVisible(), !hidden.contains(name));
            if (box) // read out by screen readers, and what tells the two "Normal" options apart
                QCOMPARE(box->accessibleName(), box->title());
        }
        QStringList checked;
        for (const QRadioButton *option : rig.window->findChildren<QRadioButton *>())
            if (option->isChecked())
                checked << option->objectName();
        QCOMPARE(checked, QStringList{"Voltage5"});
        QCOMPARE(rig.status(), QString("Default database file loaded"));
        QCOMPARE(rig.state.AppDirectory, QDir(rig.folder.path()).canonicalPath() + u'/');
        QCOMPARE(rig.window->windowTitle(), QString("Tessary Configurator "));
        // A fixed size: no maximise button, no size grip.
        QVERIFY(rig.window->minimumSize() == rig.window->maximumSize() && !rig.window->statusBar()->isSizeGripEnabled()
                && !(rig.window->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(WindowRig(WindowRig::emptyDatabase(), true).window->windowTitle(),
                 QString("Tessary Configurator - demo board on COM1"));
    }

    void optionsAreSavedAsTheirCode()
    {
        // Each row clicks through a group to its last option. The hidden 5 V option is on from the start; an
        // unset head-up polarity is saved as "1". The new entry is appended and selected. (864 dots: see
        // configurePrinterChecksEveryFieldFirst.)
        const struct { QString clicks, code; } table[] = {
            {"MechaKEL MechaStd Steps2 Step1 StepperInverted StepperNormal HeadLV StrobeKyo HW432", "1111000101010000"},
            {"MechaKEL Steps2 StepperInverted HeadST HeadHS StrobeKyo StrobeRohm HW864 HW384 HupInverted",
             "1100101000110000"},
            {"MechaStd Steps2 StepperNormal HeadST StrobeRohm HW576 HupNormal", "1110010001100000"},
            {"MechaKEL Step1 StepperInverted HeadLV StrobeKyo HW448 HupInverted", "1101100110110000"},
            {"MechaStd Step1 StepperNormal HeadHS StrobeRohm HW640 HupInverted HupNormal", "1111001011000000"},
            {"MechaKEL Steps2 StepperNormal HeadST StrobeKyo HW832", "1100010111110000"}};
        for (const auto &row : table) {
            WindowRig rig(QByteArray("ZELPRINTERSCDB0\x01\r\n") + record("Before", "1101001100100000"));
            clickAll(rig, row.clicks);
            rig.type("ConfigName", "Saved");
            rig.click("NewConfig");
            QCOMPARE(rows(rig), QStringList({"Before=1101001100100000", "Saved=" + row.code}));
            QCOMPARE(rig.find<QListWidget>("List1")->currentRow(), 1);
            QCOMPARE(rig.status(), QString("Configuration selected : Saved"));
            QVERIFY(rig.prompts.texts().isEmpty() && rig.window->database().isModified());
        }
    }

    void saveChecksTheFieldsThenTheName()
    {
        // The head-up polarity is not among the checks. A refusal changes nothing but the status text.
        WindowRig rig;
        rig.type("ConfigName", "Mine");
        for (const char *option : {"MechaStd", "Step1", "StepperNormal", "HeadST", "StrobeKyo", "HW576"}) {
            rig.window->showStatus("before");
            rig.click("NewConfig");
            QCOMPARE(rig.status(), QString("New configuration not created !"));
            rig.click(option);
        }
        rig.type("ConfigName", "");
        rig.window->showStatus("before");
        rig.click("NewConfig");
        QCOMPARE(rig.status(), QString("before"));
        QCOMPARE(rig.prompts.texts(), QStringList({"Mechanism type is not defined !",
                                                   "Steps per dotline is not defined !",
                                                   "Stepper sense is not defined !", "Head type is not defined !",
                                                   "Strobe polarity is not defined !", "Head width is not defined !",
                                                   "Please enter a configuration name !"}));
        for (const auto &shown : rig.prompts.shown)
            QVERIFY(shown.icon == MessageIcon::Warning && shown.buttons == MessageButtons::Ok);
        QVERIFY(rows(rig).isEmpty() && !rig.window->database().isModified());
        rig.type("ConfigName", "Mine");
        rig.click("NewConfig");
        QCOMPARE(rows(rig), QStringList{"Mine=1111010101110000"});
    }

    void saveOverwritesTheFirstEntryOfThatName()
    {
        // 255 entries, as many as a file counts. The name is cut to 16 characters in the field, then the first
        // entry of exactly that name is overwritten after a question; Cancel changes no entry but counts as
        // a change. Letter case makes another name, which the full database refuses.
        const QByteArray Old = "1101001100100000", New = "1111000101000000";
        QByteArray full = QByteArray("ZELPRINTERSCDB0\xff\r\n") + record("Twin", Old) + record("twin", Old)
                          + record("ABCDEFGHIJKLMNOP", Old) + record("Twin", Old);
        for (int i = 4; i < 255; ++i)
            full += record(QByteArray::number(i), Old);
        const struct { QString typed; bool answer; QString message; int row; } table[] = {
            {"Twin", true, "Overwrite existing configuration <Twin> ?", 0},
            {"Twin", false, "Overwrite existing configuration <Twin> ?", 0},
            {"ABCDEFGHIJKLMNOPQ", true, "Overwrite existing configuration <ABCDEFGHIJKLMNOP> ?", 2},
            {"TWIN", true, "The database is full (255 entries): delete an entry first.", -1}};
        for (const auto &row : table) {
            WindowRig rig(full);
            clickAll(rig, Complete);
            rig.type("ConfigName", row.typed);
            rig.prompts.answer({row.answer});
            rig.click("NewConfig");
            QCOMPARE(rig.prompts.texts(), QStringList{row.message});
            QCOMPARE(rig.prompts.shown[0].buttons, row.row < 0 ? MessageButtons::Ok : MessageButtons::OkCancel);
            QCOMPARE(rig.text("ConfigName"), row.typed.left(16));
            QCOMPARE(rig.find<QListWidget>("List1")->currentRow(), row.row);
            const QString cut = rig.text("ConfigName");
            QCOMPARE(rig.status(), row.row < 0 ? "New configuration not created !" : "Configuration selected : " + cut);
            QCOMPARE(rig.window->database().isModified(), row.row >= 0);
            rig.files.paths << rig.folder.filePath("saved.cdb");
            rig.click("Sda");
            QFile saved(rig.folder.filePath("saved.cdb"));
            QVERIFY(saved.open(QIODevice::ReadOnly));
            const bool overwritten = row.answer && row.row >= 0;
            QCOMPARE(saved.readAll(), overwritten ? QByteArray(full).replace(34 + 34 * row.row, 16, New) : full);
        }
    }

    void nameIsWhatTheFieldShowsHoweverItGotThere()
    {
        // Typed, pasted, undone, or set by an assistive tool (screen readers and voice control set the text
        // without an edit): the field keeps printable Latin-1, the cursor after the same kept characters.
        const QString euro(QChar(0x20AC)), latin = QString::fromUtf8("Kühl ½ é") + QChar(0xA0);
        const struct { QString way, input, kept; int cursor; } table[] = {
            {"typed", "Ab" + euro + "c", "Abc", 3}, {"pasted", "Pa" + euro + "ste", "Paste", 5},
            {"undone", "Name", "Name", 4}, {"set", "VWX" + euro + "YZ", "VWXYZ", 5},
            {"set", QString("A\tB\nC\x01") + QChar(0x7F) + QChar(0x85) + "D", "ABCD", 4},
            {"set", latin, latin, int(latin.size())}};
        for (const auto &row : table) {
            WindowRig rig;
            clickAll(rig, Complete);
            auto *field = rig.find<QLineEdit>("ConfigName");
            rig.type("ConfigName", row.way == "undone" ? row.input : "Old name");
            if (row.way == "typed") {
                field->clear();
                for (QChar c : row.input) {
                    QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
                    QApplication::sendEvent(field, &key);
                }
            } else if (row.way == "pasted") {
                QApplication::clipboard()->setText(row.input);
                field->selectAll();
                field->paste();
            } else if (row.way == "undone") {
                field->selectAll();
                field->del();
                field->undo();
            } else {
                QAccessible::queryAccessibleInterface(field)->setText(QAccessible::Value, row.input);
            }
            QCOMPARE(field->text(), row.kept);
            QCOMPARE(field->cursorPosition(), row.cursor);
            rig.click("NewConfig");
            QCOMPARE(rows(rig), QStringList{row.kept + "=1111000101000000"});
            QCOMPARE(rig.prompts.texts(), QStringList());
        }
    }

    void analysedEntryFillsTheEditor()
    {
        // With "Resistors" and "Automatic" chosen (which disable the 20 mechanism options and the name; the
        // hidden voltage options and the display-only printer mode are never touched) and an entry shown that
        // has an option in every group, another entry is analysed from the button (which then selects "User"
        // twice, enabling them again) or the pop-up menu (which leaves the selectors). The logic voltage is
        // always 5 V; the printer-mode digit is shown, not kept. A field whose digits name no option (head type
        // "11", head width "000", a head-up digit other than 0 and 1) is shown with no option and refused by
        // both commands; the entry stays listed as it is.
        const QString Chipset = "Voltage5 ModeChipset MechaStd ";
        const QString Overwrite = "Overwrite existing configuration <Entry> ?";
        const struct { QByteArray code; bool button; QString checked, saved, save, program; } table[] = {
            {"0100110011110000", false, "Voltage5 ModeMRS MechaKEL HupInverted Steps2 StepperInverted HW832 HeadST "
             "StrobeRohm", "1100110011110000", Overwrite, ""},
            {"1011000101000000", true, Chipset + "HupNormal Step1 StepperNormal HW432 HeadLV StrobeKyo",
             "1111000101000000", Overwrite, ""},
            {"1111000100000000", true, Chipset + "HupNormal Step1 StepperNormal HeadLV StrobeKyo", "1111000100000000",
             "Head width is not defined !", "Head width is not defined !"},
            {"1111011101000000", true, Chipset + "HupNormal Step1 StepperNormal HW432 StrobeKyo", "1111011101000000",
             "Head type is not defined !", "Head type is not defined !"},
            {"1111000101020000", true, Chipset + "Step1 StepperNormal HW432 HeadLV StrobeKyo", "1111000101010000",
             Overwrite, "Head-up polarity is not defined !"}};
        for (const auto &row : table) {
            WindowRig rig(QByteArray("ZELPRINTERSCDB0\x02\r\n") + record("Every option", "1111110111110000")
                          + record("Entry", row.code));
            rig.board();
            rig.checkIdentity();
            clickAll(rig, "ConfRes IdAuto");
            auto *list = rig.find<QListWidget>("List1");
            QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
            for (int entry : {0, 1}) {
                const QPoint centre = list->visualItemRect(list->item(entry)).center();
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
                rig.click(entry == 0 || !row.button ? "dbAnalyse" : "DbbAnalyse");
            }
            QStringList on;
            int enabled = rig.isEnabled("ConfigName") ? 100 : 0; // 100 for the name, 1 for each option
            for (const QRadioButton *option : rig.find<QWidget>("Frame8")->findChildren<QRadioButton *>()) {
                on << (option->isChecked() ? option->objectName() : QString());
                enabled += option->isEnabled() ? 1 : 0;
            }
            QCOMPARE(on.join(u' ').simplified(), row.checked);
            QCOMPARE(enabled, row.button ? 122 : 2);
            QCOMPARE(rig.text("ConfigName"), QString("Entry"));
            QCOMPARE(rig.isChecked("ConfUser") && rig.isChecked("IdUser"), row.button);
            QCOMPARE(rig.isChecked("ConfRes") && rig.isChecked("IdAuto"), !row.button);
            QCOMPARE(rig.status(), QString("Configuration selected : Entry"));
            QVERIFY(!rig.window->database().isModified());
            rig.click("NewConfig"); // over the entry itself, after the overwrite question
            QCOMPARE(rig.prompts.texts(), QStringList{row.save});
            QCOMPARE(rows(rig).value(1), "Entry=" + row.saved);
            rig.prompts.clear();
            rig.clearWire();
            if (!row.program.isEmpty()) {
                rig.click("ConfigPrinter");
                QCOMPARE(rig.prompts.texts(), QStringList{row.program});
                QCOMPARE(rig.wire(), QByteArray());
            }
        }
    }

    void configurePrinterChecksEveryFieldFirst()
    {
        // In "User" configuration mode each field must be chosen; nothing goes to the board before.
        WindowRig rig;
        rig.board();
        rig.checkIdentity();
        clickAll(rig, "ConfUser IdAuto");
        rig.clearWire();
        for (const char *option :
             {"MechaKEL", "Steps2", "StepperInverted", "HupInverted", "HW864", "HeadHS", "StrobeKyo"}) {
            rig.click("ConfigPrinter");
            QCOMPARE(rig.wire(), QByteArray());
            rig.click(option);
        }
        QCOMPARE(rig.prompts.texts(), QStringList({"Mechanism (Standard/KEL) is not defined !",
                                                   "Motor steps is not defined !", "Motor rotation is not defined !",
                                                   "Head-up polarity is not defined !", "Head width is not defined !",
                                                   "Head type is not defined !", "Strobe polarity is not defined !"}));
        rig.prompts.clear();
        rig.click("ConfigPrinter");
        // User mode, the configuration bytes 0xCB and 0x90, then the automatic identity.
        const QByteArray wire = rig.wire();
        QVERIFY2(wire.contains(QByteArray::fromHex("1d534606011d534607cb1d534608901d53460900")),
                 wire.toHex().constData());
        QCOMPARE(rig.prompts.texts(), QStringList());
    }
};

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
