// The main window as the program starts it, its configuration editor and its mechanism database: the
// options, the name field and the mode selectors, an entry analysed into the editor, "Save configuration to
// database" and "Configure printer" refusing what is not complete; the list and its editing commands, the
// file commands of the "Database" menu with default.cdb and the factory list, broken files and files that
// cannot be written, and the ways out of the window, which ask before unsaved changes are lost. Checked by
// the texts and states shown, the list rows, the messages, the status text, the bytes of the files and the
// bytes on the wire.
#include "databaseframe/databasebinding.h"
#include "files.h"
#include "windowrig.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>


using namespace tessary;
using namespace tessary::test;

namespace {

const QString M01 = "1111000101000000";
const QStringList Codes = {M01, "1101001100100000", "1111100110000000", "1101000110000000", "1101000101100000"};

// Entries A to E (or fewer), each with a code of its own.
QByteArray entries(int count = 5)
{
    QByteArray bytes = "ZELPRINTERSCDB0" + QByteArray(1, char(count)) + "\r\n";
    for (int i = 0; i < count; ++i)
        bytes += record(QByteArray(1, char('A' + i)), qPrintable(Codes[i]));
    return bytes;
}

QListWidget *list(const WindowRig &rig) { return rig.find<QListWidget>("List1"); }

// The database list as "name=code" rows.
QStringList rows(const WindowRig &rig)
{
    QStringList out;
    for (int i = 0; i < list(rig)->count(); ++i)
        out << list(rig)->item(i)->text() + u'=' + rig.find<QListWidget>("List2")->item(i)->text();
    return out;
}

QPoint centre(const WindowRig &rig, int row)
{
    static_cast<void>(QTest::qWaitForWindowExposed(rig.window.get()));
    return list(rig)->visualItemRect(list(rig)->item(row)).center();
}

void select(WindowRig &rig, int row) { QTest::mouseClick(list(rig)->viewport(), Qt::LeftButton, {}, centre(rig, row)); }

int selectedRow(const WindowRig &rig) { return list(rig)->selectedItems().isEmpty() ? -1 : list(rig)->currentRow(); }

QByteArray contents(const QString &path) { return fileBytes(path, "<missing>"); }

const QString Complete = "MechaStd Step1 StepperNormal HeadLV StrobeKyo HW432 HupNormal"; // 1111000101000000

} // namespace

class TestDatabase : public QObject {
    Q_OBJECT
private slots:
    void windowFitsTheScreensAvailableArea()
    {
        // Fixed at the size it needs where that fits (no maximise button, no size grip); on a smaller area
        // (150% on a 1280x800 screen leaves the window 853x533) fixed at the area's size, its content
        // scrolling to every control.
        WindowRig rig;
        QVERIFY(!rig.window->statusBar()->isSizeGripEnabled() && !(rig.window->windowFlags() & Qt::WindowMaximizeButtonHint));
        auto *scroll = rig.find<QScrollArea>("ClientScroll");
        for (const QRect area : {QRect(0, 0, 1280, 1024), QRect(0, 0, 853, 533), QRect(200, 100, 1280, 480)}) {
            rig.window->fitToScreen(area);
            QCoreApplication::processEvents();
            const bool fits = area.height() > 1000;
            QVERIFY(area.contains(rig.window->frameGeometry()) && rig.window->minimumSize() == rig.window->maximumSize());
            QCOMPARE(rig.window->size() == rig.window->sizeHint(), fits);
            QCOMPARE(scroll->verticalScrollBar()->maximum() > 0, !fits);
            scroll->ensureWidgetVisible(rig.find<QWidget>("Reset"));
            QVERIFY(!rig.find<QWidget>("Reset")->visibleRegion().isEmpty());
        }
    }

    void editorSavesItsCodeOrRefusesAFieldLeftOut_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("clicks");  // the options clicked, in this order
        QTest::addColumn<QString>("name");    // typed
        QTest::addColumn<QString>("outcome"); // the code saved, or the one warning
        // Saved: each group clicked through to its last option. The hidden 5 V option is on from the start; an
        // unset head-up polarity is saved as "1".
        const QString all = "MechaKEL Steps2 StepperInverted HupNormal HW864 HeadHS StrobeKyo";
        const QStringList saved = {
            "MechaKEL MechaStd Steps2 Step1 StepperInverted StepperNormal HeadLV StrobeKyo HW432", "1111000101010000",
            "MechaKEL Steps2 StepperInverted HeadST HeadHS StrobeKyo StrobeRohm HW864 HW384 HupInverted", "1100101000110000",
            "MechaStd Steps2 StepperNormal HeadST StrobeRohm HW576 HupNormal", "1110010001100000",
            "MechaKEL Step1 StepperInverted HeadLV StrobeKyo HW448 HupInverted", "1101100110110000",
            "MechaStd Step1 StepperNormal HeadHS StrobeRohm HW640 HupInverted HupNormal", "1111001011000000",
            "MechaKEL Steps2 StepperNormal HeadST StrobeKyo HW832", "1100010111110000", all, "1100101110000000"};
        for (qsizetype i = 0; i < saved.size(); i += 2)
            QTest::addRow("saved as %s", qPrintable(saved[i + 1])) << "NewConfig" << saved[i] << "Mine" << saved[i + 1];
        // Refused: each field the command needs, left out alone.
        const QStringList save = {"MechaKEL", "Mechanism type", "Steps2", "Steps per dotline", "StepperInverted",
                                  "Stepper sense", "HeadHS", "Head type", "StrobeKyo", "Strobe polarity", "HW864", "Head width"};
        const QStringList program = {"MechaKEL", "Mechanism (Standard/KEL)", "Steps2", "Motor steps", "StepperInverted",
                                     "Motor rotation", "HupNormal", "Head-up polarity", "HW864", "Head width", "HeadHS",
                                     "Head type", "StrobeKyo", "Strobe polarity"};
        for (const auto &[command, fields] : {std::pair("NewConfig", save), std::pair("ConfigPrinter", program)})
            for (qsizetype i = 0; i < fields.size(); i += 2)
                QTest::addRow("%s without %s", command, qPrintable(fields[i]))
                    << command << QString(all).remove(fields[i]) << "Mine" << fields[i + 1] + " is not defined !";
        QTest::newRow("NewConfig without a name") << "NewConfig" << all << "" << "Please enter a configuration name !";
        QTest::newRow("NewConfig without anything") << "NewConfig" << "" << "" << "Mechanism type is not defined !";
        QTest::newRow("ConfigPrinter without anything") << "ConfigPrinter" << "" << "" << "Mechanism (Standard/KEL) is not defined !";
    }

    // A configuration saved is appended to the list and selected. A command refused gives its one warning and
    // stops: nothing saved or sent, and the status text says only a refused save of an incomplete configuration.
    void editorSavesItsCodeOrRefusesAFieldLeftOut()
    {
        QFETCH(QString, command);
        QFETCH(QString, clicks);
        QFETCH(QString, name);
        QFETCH(QString, outcome);
        const bool saving = command == "NewConfig", saved = outcome.startsWith(u'1');
        WindowRig rig(QByteArray("ZELPRINTERSCDB0\x01\r\n") + record("Before", "1101001100100000"));
        if (!saving)
            rig.found();
        rig.click("ConfUser IdUser " + clicks);
        rig.type("ConfigName", name);
        rig.clearWire();
        rig.window->showStatus("before");
        rig.click(command);
        QCOMPARE(rig.prompts.described(), saved ? QStringList() : QStringList{"W " + outcome});
        QCOMPARE(rows(rig), QStringList{"Before=1101001100100000"} + (saved ? QStringList{"Mine=" + outcome} : QStringList()));
        QVERIFY(selectedRow(rig) == (saved ? 1 : -1) && rig.wire().isEmpty());
        QCOMPARE(rig.status(), saved ? "Configuration selected : Mine"
                               : !saving || outcome.startsWith("Please") ? "before" : "New configuration not created !");
        QCOMPARE(rig.window->database().isModified(), saved);
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
            {"Twin", true, "W? Overwrite existing configuration <Twin> ?", 0},
            {"Twin", false, "W? Overwrite existing configuration <Twin> ?", 0},
            {"ABCDEFGHIJKLMNOPQ", true, "W? Overwrite existing configuration <ABCDEFGHIJKLMNOP> ?", 2},
            {"TWIN", true, "W The database is full (255 entries): delete an entry first.", -1}};
        for (const auto &row : table) {
            WindowRig rig(full);
            rig.click(Complete);
            rig.type("ConfigName", row.typed);
            rig.prompts.answer({row.answer});
            rig.click("NewConfig");
            QCOMPARE(rig.prompts.described(), QStringList{row.message});
            QCOMPARE(rig.text("ConfigName"), row.typed.left(16));
            QCOMPARE(list(rig)->currentRow(), row.row);
            QCOMPARE(rig.status(), row.row < 0 ? "New configuration not created !"
                                               : "Configuration selected : " + row.typed.left(16));
            QCOMPARE(rig.window->database().isModified(), row.row >= 0);
            rig.files.paths << rig.folder.filePath("saved.cdb");
            rig.click("Sda");
            QCOMPARE(contents(rig.folder.filePath("saved.cdb")),
                     row.answer && row.row >= 0 ? QByteArray(full).replace(34 + 34 * row.row, 16, New) : full);
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
            {"set", QString("A\tB\nC\x01") + QChar(0x7F) + QChar(0x85) + QChar(0x100) + "D", "ABCD", 4},
            {"set", latin, latin, int(latin.size())}};
        for (const auto &row : table) {
            WindowRig rig;
            rig.click(Complete);
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
            rig.found();
            rig.click("ConfRes IdAuto");
            for (int entry : {0, 1}) {
                select(rig, entry);
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
            QVERIFY(rig.isChecked(row.button ? "ConfUser" : "ConfRes") && rig.isChecked(row.button ? "IdUser" : "IdAuto"));
            QVERIFY(!rig.window->database().isModified());
            rig.click("NewConfig"); // over the entry itself, after the overwrite question
            QCOMPARE(rows(rig).value(1), "Entry=" + row.saved);
            if (!row.program.isEmpty()) // refused before a byte is sent: see editorSavesItsCodeOrRefusesAFieldLeftOut
                rig.click("ConfigPrinter");
            QCOMPARE(rig.prompts.texts(), QStringList{row.save} + (row.program.isEmpty() ? QStringList() : QStringList{row.program}));
        }
    }

    void editingCommandsActOnTheSelectedEntry()
    {
        // Each code travels with its name. A move at an end moves nothing and Delete answered with Cancel keeps
        // the entry: both still count as a change. Without a selection each button only asks for one; the
        // pop-up items (whose menu opens only over a selection) do nothing.
        const struct { int row; QString commands; bool answer; QString after; int selected; QString status, message; }
            table[] = {
            {2, "DbDown", true, "ABDCE", 3, "Configuration selected : C", ""},
            {1, "dbMoveup", true, "BACDE", 0, "Configuration selected : B", ""},
            {0, "DbUp", true, "ABCDE", 0, "before", ""},
            {4, "dbMovedown", true, "ABCDE", 4, "before", ""},
            {1, "DbbDelete", true, "ACDE", -1, "before", "W? This will delete configuration <B> form the database !"},
            {3, "dbDelete", false, "ABCDE", 3, "before", "W? This will delete configuration <D> form the database !"},
            {-1, "DbbAnalyse DbbDelete DbUp DbDown", true, "ABCDE", -1, "before",
             "W Please select a database entry first !"},
            {-1, "dbAnalyse dbDelete dbMoveup dbMovedown", true, "ABCDE", -1, "before", ""}};
        for (const auto &row : table) {
            WindowRig rig(entries());
            if (row.row >= 0)
                select(rig, row.row);
            rig.window->showStatus("before");
            rig.prompts.answer({row.answer});
            rig.click(row.commands);
            QStringList expected;
            for (QChar c : row.after)
                expected << c + u'=' + Codes[c.unicode() - 'A'];
            QCOMPARE(rows(rig), expected);
            QCOMPARE(selectedRow(rig), row.selected);
            QCOMPARE(rig.status(), row.status);
            const QStringList messages(row.message.isEmpty() ? 0 : row.commands.count(u' ') + 1, row.message);
            QCOMPARE(rig.prompts.described(), messages); // Return answers the question with Cancel
            QVERIFY(rig.window->database().isModified() == (row.row >= 0) && rig.text("ConfigName").isEmpty());
        }
    }

    void selectingShowsTheNameAndThePopupActsOnTheSelection()
    {
        WindowRig rig(entries());
        QListWidget *view = list(rig);
        QMenu *menu = rig.window->dbOpsMenu();
        // With nothing selected a right click opens no menu.
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, centre(rig, 2));
        QVERIFY(!menu->isVisible() && selectedRow(rig) == -1);
        select(rig, 1);
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(rig.status(), QString("Configuration selected : C"));
        rig.window->showStatus("before");
        select(rig, 2); // the entry already selected shows its name again
        QCOMPARE(rig.status(), QString("Configuration selected : C"));
        // A right click elsewhere opens the menu on release and leaves the selection where it was.
        rig.window->showStatus("before");
        QTest::mousePress(view->viewport(), Qt::RightButton, {}, centre(rig, 4));
        QVERIFY(!menu->isVisible());
        QTest::mouseRelease(view->viewport(), Qt::RightButton, {}, centre(rig, 4));
        QVERIFY(menu->isVisible());
        menu->close();
        QVERIFY(selectedRow(rig) == 2 && rig.status() == "before" && rig.text("ConfigName").isEmpty());
        // The menu key opens it under the selected entry.
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, {}, {});
        QCoreApplication::sendEvent(view, &menuKey);
        QVERIFY(menu->isVisible());
        QCOMPARE(menu->pos(), view->viewport()->mapToGlobal(view->visualItemRect(view->item(2)).bottomLeft()));
        menu->close();
        // Ctrl+Space takes the selection away: the status text stays, the buttons ask for a selection.
        QTest::keyClick(view, Qt::Key_Space, Qt::ControlModifier);
        QVERIFY(selectedRow(rig) == -1 && rig.window->database().selectedIndex() == -1 && rig.status() == "before");
        // The list's rows bound a selection: the first and the last are taken, a row beyond either end
        // selects nothing, in the list or for the buttons.
        for (const int row : {0, -2, 4, 5, -1}) {
            rig.window->showStatus("before");
            rig.window->database().select(row);
            const bool taken = row >= 0 && row < 5;
            QCOMPARE(selectedRow(rig), taken ? row : -1);
            QCOMPARE(rig.window->database().selectedIndex(), taken ? row : -1);
            QCOMPARE(rig.status(), taken ? "Configuration selected : " + QString(QChar('A' + row)) : "before");
        }
    }

    void startLoadsDefaultDatabaseOrTheFactoryList()
    {
        // Missing or not a complete database, default.cdb is left as it is and the factory list stands in,
        // without a file name: "Save database" then asks for "Save as", which writes the list's 1004 bytes.
        const QList<QByteArray> codes = QByteArray(
            "1111000101000000 1101001100100000 1111100110000000 1101000110000000 1101000101100000 1111100101100000 "
            "1101001100100000 1111000101000000 1101100101000000 1100100101000000 1111010010100000 1101110010100000 "
            "1100110010100000 1111100101100000 1101100101100000 1100100101100000 1111110011000000 1101110011000000 "
            "1100110011000000 1111110011100000 1101110011100000 1100110011100000 1111100110000000 1101100110000000 "
            "1100100110000000 1111000101000000 1111010010110000 1111000101000000 1111110011000000").split(' ');
        QByteArray factory = "ZELPRINTERSCDB0\x1d\r\n";
        for (int i = 0; i < 29; ++i)
            factory += record("Mechanism " + QByteArray::number(i + 1).rightJustified(2, '0'), codes[i]);
        const QByteArray valid = entries(1);
        // (A named pipe is never opened: no program may write to it, and the start would wait for ever. The start
        // reads the file through Open's load: an empty file and one cut inside its mark are no database either,
        // as openTakesWhatTheFileHolds has them.)
        const std::optional<QByteArray> table[] = {valid, std::nullopt, QByteArray(valid).replace(0, 3, "zel"), valid.left(40), WindowRig::NamedPipe};
        for (const auto &bytes : table) {
            WindowRig rig(bytes);
            const bool loads = bytes == valid;
            QCOMPARE(rows(rig).size(), loads ? 1 : 29);
            QCOMPARE(rig.status(), loads ? "Default database file loaded"
                                         : "default.cdb file error, default list created.");
            QVERIFY(selectedRow(rig) == -1 && !rig.window->database().isModified());
            rig.click("sd"); // to default.cdb in the current folder
            QCOMPARE(rig.prompts.texts().join(u'|'),
                     loads ? "" : "Current database has no name ! Please use 'Save as' instead.");
            if (bytes != WindowRig::NamedPipe)
                QCOMPARE(contents(rig.folder.filePath("default.cdb")), bytes.value_or("<missing>"));
            rig.files.paths << rig.folder.filePath("saved.cdb");
            rig.click("Sda");
            QCOMPARE(contents(rig.folder.filePath("saved.cdb")), loads ? valid : factory);
            QVERIFY(rig.status().isEmpty() && !rig.window->database().isModified());
            rig.click("sd"); // the database has taken the new file's name
            QCOMPARE(rig.prompts.texts().size(), loads ? 0 : 1);
        }
    }

    void fileCommandsWriteAndReadTheirBytes()
    {
        WindowRig rig;
        const QString names = rig.folder.filePath("names.cdb"), fresh = rig.folder.filePath("new.cdb");
        rig.click(Complete);
        // A name is filled to 16 characters with spaces; trailing spaces are lost (a whole name, one byte a
        // character: the tessary db commands).
        for (const QString name : {"Mechanism 01", "  Lead  "}) {
            rig.find<QLineEdit>("ConfigName")->setText(name);
            rig.click("NewConfig");
        }
        rig.files.paths << names << fresh << names;
        rig.click("Sda");
        QCOMPARE(contents(names), QByteArray("ZELPRINTERSCDB0\x02\r\nMechanism 01    1111000101000000\r\n"
                                             "  Lead          1111000101000000\r\n"));
        QVERIFY(!rig.window->database().isModified());
        // "New database" writes its count in two bytes; the file reads back empty.
        rig.window->showStatus("before");
        rig.click("Ndb");
        QCOMPARE(contents(fresh), QByteArray("ZELPRINTERSCDB0\0\0\r\n", 19));
        QVERIFY(rows(rig).isEmpty() && rig.status() == "before" && !rig.window->database().isModified());
        // "Save database" writes the file it came from anew, whatever it held before.
        rig.click("Od");
        select(rig, 1);
        rig.click("DbbDelete sd");
        QCOMPARE(contents(names), QByteArray("ZELPRINTERSCDB0\x01\r\nMechanism 01    1111000101000000\r\n"));
        QVERIFY(!rig.window->database().isModified());
    }

    void newOpenAndSaveAsAskFirst()
    {
        // With unsaved changes "New" and "Open" ask first: Cancel changes nothing, and neither does a
        // cancelled dialog past the question, so "Save database" then writes the list as it was. "Save as"
        // cancelled says so.
        const QString Filter = "|Configuration databases (*.cdb)|*.cdb|cdb|";
        const struct { QString command; bool cancelQuestion; QString dialog; } table[] = {
            {"Ndb", true, ""}, {"Od", true, ""},
            {"Ndb", false, "New configuration database" + Filter + "ask to replace|"},
            {"Od", false, "Open configuration database" + Filter + "|must exist"},
            {"Sda", false, "Save configuration database as..." + Filter + "ask to replace|"}};
        for (const auto &row : table) {
            WindowRig rig(entries());
            rig.window->database().setModified(true);
            rig.window->showStatus("before");
            rig.prompts.answer({!row.cancelQuestion});
            rig.click(row.command);
            const bool saveAs = row.command == "Sda";
            QCOMPARE(rig.prompts.described().join(u'|'), saveAs ? "" : "W? Database has been modified ! Continue anyway ?");
            QString asked;
            for (const FileDialogOptions &o : rig.files.asked)
                asked += QStringList{o.title, o.filter, o.defaultSuffix, o.confirmOverwrite ? "ask to replace" : "",
                                     o.mustExist ? "must exist" : ""}.join(u'|');
            QCOMPARE(asked, row.dialog);
            QCOMPARE(rig.files.askedWasSave, asked.isEmpty() ? QList<bool>() : QList<bool>{row.command != "Od"});
            QVERIFY(rig.window->database().fileName() == "default.cdb" && rig.window->database().isModified());
            QCOMPARE(rig.status(), QString(saveAs ? "Save database canceled" : "before"));
            rig.click("sd");
            QCOMPARE(contents(rig.folder.filePath("default.cdb")), entries());
        }
    }

    void openTakesWhatTheFileHolds()
    {
        // The files of tests/data, over a list of three with B selected: a file that is not a database or
        // ends too soon is refused, and the list, its selection and its file name are kept. The bytes after
        // the count, at each record's end and after the last record are never looked at.
        const QString F = "Couldn't load the database file FILE : The file ends ";
        const QString kept = "\nThe current database was kept.", header = F + "inside its header." + kept;
        const QString notADatabase = "This is not a valid Z.E.L configuration database !";
        const struct { QString file, outcome; } table[] = {
            {"empty.cdb", notADatabase}, {"short-14-bytes.cdb", notADatabase},
            {"magic-only.cdb", header}, {"header-without-line-end.cdb", header},
            {"truncated-line-end.cdb", F + "before its 1 entries are complete (only 0 complete)." + kept},
            {"count-beyond-records.cdb", F + "before its 5 entries are complete (only 2 complete)." + kept},
            {"missing.cdb", "Couldn't open the database file FILE : No such file or directory"},
            {"odd-separators.cdb", "=First=1111000101000000|Second=1101001100100000"},
            {"trailing-bytes.cdb", "=Mechanism 01=1111000101000000"},
            {"new-over-longer-file.cdb", "="},
            {"spaces-in-code.cdb", "=Spaced=1111 0001 010000|Short code=11110001        "},
            {"name-edges.cdb", "=  Leading=" + M01 + "|Tab\t=" + M01 + QString::fromUtf8("|Café=") + M01},
            {"repeated-names.cdb", "=Twin=" + M01 + "|Twin=1101001100100000"},
            {"odd-characters.cdb", QString::fromLatin1("=Ctl\x01\x1b Del\x7f \xff=10x2\xe9\xa0\x01\x1b\r\n-1#\x7f\xff.")}};
        for (const auto &row : table) {
            WindowRig rig(entries(3));
            const QString path = qEnvironmentVariable("TESSARY_TEST_DATA") + u'/' + row.file;
            select(rig, 1);
            rig.files.paths << path;
            rig.click("Od");
            const QStringList list = rows(rig);
            QString outcome = rig.prompts.texts().join(u'|').replace(QDir::toNativeSeparators(path), "FILE");
            if (outcome.isEmpty())
                outcome = u'=' + list.join(u'|');
            QCOMPARE(outcome, row.outcome);
            const bool loaded = row.outcome.startsWith(u'=');
            if (!loaded)
                QCOMPARE(list, QStringList({"A=" + Codes[0], "B=" + Codes[1], "C=" + Codes[2]}));
            QCOMPARE(selectedRow(rig), loaded ? -1 : 1);
            QCOMPARE(rig.window->database().fileName(), loaded ? path : QString("default.cdb"));
            QCOMPARE(rig.status(), QString(loaded ? "Database file loaded." : "Configuration selected : B"));
        }
    }

    void aFailedWriteKeepsTheOldFileAndTheChanges()
    {
        // A read-only file (no write bit at all) is refused before writing; a disk that fills up (/dev/full
        // in place of the file, or a real one that the bytes meet only when flushed) or a missing folder fail
        // the write (what is no file at all: the tessary db commands). The file on disk stays as it was, no temporary file is left, and the database
        // keeps its file name and its unsaved changes.
        const QString failed = "Couldn't write the database file FILE : ";
        const QString full = failed + "No space left on device\nThe file on disk was not changed.";
        const struct { const char *command; QString fault, message; } table[] = {
            {"Ndb", "read-only", "This file is Read-Only !"}, {"sd", "read-only", "This file is Read-Only !"},
            {"Sda", "read-only", "This file is Read-Only !"}, {"Ndb", "full", full}, {"sd", "full", full},
            {"Sda", "full", full}, {"Ndb", "nowhere", failed}, {"Sda", "nowhere", failed}, {"Sda", "small", full}};
        for (const auto &row : table) {
            WindowRig rig(entries());
            const bool own = row.fault == "nowhere" || row.fault == "small"; // a folder of its own
            const QString folder = own ? rig.folder.filePath(row.fault) : rig.folder.path();
            const QString target = folder + (own ? "/db.cdb" : "/default.cdb");
            if (row.fault == "small") {
                QDir().mkpath(folder);
                if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", folder}) != 0) {
                    qInfo("mounting a small tmpfs is not allowed here: /dev/full stands for the full disk");
                    continue;
                }
                QFile filler(folder + "/filler");
                QVERIFY(writeFile(target, entries()) && filler.open(QIODevice::WriteOnly));
                while (filler.write(QByteArray(1024, 'x')) == 1024 && filler.flush()) {
                }
            }
            const auto unmount = qScopeGuard([&] { if (row.fault == "small") QProcess::execute("umount", {folder}); });
            if (row.fault == "read-only")
                QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
            if (row.fault == "full")
                rig.window->findChild<DatabaseBinding *>()->files().setOutputFilter([](QIODevice &) {
                    auto device = std::make_unique<QFile>("/dev/full");
                    device->open(QIODevice::WriteOnly | QIODevice::Unbuffered);
                    return device;
                });
            rig.window->database().setModified(true);
            rig.files.paths << target;
            rig.click(row.command);
            QString message = rig.prompts.shown.constLast().text;
            message.replace(QDir::toNativeSeparators(target), "FILE").replace(" default.cdb :", " FILE :");
            QVERIFY2(message.startsWith(row.message), qPrintable(message));
            QCOMPARE(rig.status(), row.fault == "read-only" ? "Couldn't write file (was read_only)."
                                   : QByteArray(row.command) == "Sda" ? "" : "Default database file loaded");
            QCOMPARE(contents(target), row.fault == "nowhere" ? QByteArray("<missing>") : entries());
            QCOMPARE(QDir(folder).entryList(QDir::Files), !own ? QStringList{"default.cdb"} : row.fault == "small"
                     ? QStringList({"db.cdb", "filler"}) : QStringList());
            QVERIFY(rig.window->database().fileName() == "default.cdb" && rig.window->database().isModified());
            QCOMPARE(rows(rig).size(), 5);
        }
    }

    void exitAndCloseAskBeforeChangesAreLost()
    {
        // Asked once, whichever way out; Cancel keeps the window and the changes, and is not remembered. While
        // a printer command runs, the printer column and "Detect a Printer" are disabled (each button keeps its
        // own state for later), the database column is not. A close then, once agreed to, stops the command at
        // its next wait with the port closed, and closes the window; after Cancel the command goes on to its end.
        const struct { QString way; bool modified, answer; } table[] = {
            {"Exit", false, false}, {"Exit", true, true}, {"Exit", true, false}, {"close", false, false},
            {"close", true, true}, {"close", true, false}, {"during", true, true}, {"during", true, false}};
        for (const auto &row : table) {
            WindowRig rig;
            rig.window->database().setModified(row.modified);
            rig.prompts.answer({row.answer});
            QSignalSpy quit(rig.window.get(), &MainFrm::quitRequested);
            const bool ends = !row.modified || row.answer;
            int waitsAfterClose = -1;
            if (row.way == "during") {
                rig.find<QWidget>("Wakeup")->setEnabled(true);
                QCOMPARE(rig.gate.run([&] {
                    QVERIFY(rig.link.openPort(1, "9600", HandshakeHardware));
                    rig.link.delay(10);
                    QVERIFY(!rig.isEnabled("Frame10") && !rig.isEnabled("DetectPrinter") && rig.isEnabled("Frame9"));
                    rig.window->close();
                    for (waitsAfterClose = 0; waitsAfterClose < 5; ++waitsAfterClose)
                        rig.link.delay(10);
                }), !ends);
                QVERIFY(waitsAfterClose == (ends ? 0 : 5) && !rig.line.isOpen());
                QVERIFY(rig.isEnabled("DetectPrinter") && rig.isEnabled("Wakeup") && !rig.isEnabled("Reset"));
                QCoreApplication::processEvents(); // the window closes once the command has ended
            } else {
                row.way == "Exit" ? rig.click("Exit") : void(rig.window->close());
            }
            // A warning with OK and Cancel, Cancel the default.
            QCOMPARE(rig.prompts.described().join(u'|'), row.modified ? "W? Database has been modified ! Quit anyway ?" : "");
            QVERIFY(quit.count() == (ends ? 1 : 0) && rig.window->isVisible() == !ends);
            QCOMPARE(rig.window->database().isModified(), row.modified);
            if (!ends) {
                rig.window->close();
                QVERIFY(rig.prompts.texts().size() == 2 && quit.count() == 1);
            }
        }
    }
};

QTEST_MAIN(TestDatabase)
#include "tst_database.moc"
