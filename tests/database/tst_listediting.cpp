#include "configuration/configurationeditor.h"
#include "database/factorylist.h"
#include "database/listediting.h"
#include "database/mechanismdatabase.h"
#include "scriptedprompts.h"

#include <QtTest>

using namespace tessary;
using tessary::test::ScriptedPrompts;

namespace {

const QStringList Names{"A", "B", "C", "D", "E"};
const QStringList Codes{"1111000101000000", "1101001100100000", "1111100110000000",
                        "1101000110000000", "1101000101100000"};

} // namespace

class TestListEditing : public QObject {
    Q_OBJECT
private slots:
    void init();

    void moveTakesNameAndCodeAlong_data();
    void moveTakesNameAndCodeAlong();

    void deleteAskedThenRemovesBothAndClearsSelection();
    void deleteCancelledKeepsRowsButMarksModified();
    void deletingTheOnlyEntryLeavesAnEmptyDatabase();

    void buttonsWithoutSelectionOnlyAsk_data();
    void buttonsWithoutSelectionOnlyAsk();
    void popupWithoutSelectionDoesNothing();

    void analyseShowsTheEntry_data();
    void analyseShowsTheEntry();
    void rowsWithTheSameCodeAnalyseAlike();

private:
    [[nodiscard]] QStringList names() const;
    [[nodiscard]] QStringList codes() const;
    void run(int command, CommandSource source);

    PlainStatusLine m_status;
    std::unique_ptr<MechanismDatabase> m_db;
    ScriptedPrompts m_prompts;
    std::unique_ptr<ConfigurationEditor> m_editor;
    std::unique_ptr<ListEditing> m_editing;
};

void TestListEditing::init()
{
    m_status.showStatus(QStringLiteral("untouched"));
    m_db = std::make_unique<MechanismDatabase>(&m_status);
    for (int i = 0; i < Names.size(); ++i)
        m_db->append(Names.at(i), Codes.at(i));
    m_prompts = ScriptedPrompts();
    m_editor = std::make_unique<ConfigurationEditor>();
    m_editing = std::make_unique<ListEditing>(*m_db, m_prompts, *m_editor);
}

QStringList TestListEditing::names() const
{
    QStringList list;
    for (int i = 0; i < m_db->count(); ++i)
        list << m_db->name(i);
    return list;
}

QStringList TestListEditing::codes() const
{
    QStringList list;
    for (int i = 0; i < m_db->count(); ++i)
        list << m_db->code(i);
    return list;
}

void TestListEditing::run(int command, CommandSource source)
{
    switch (command) {
    case 0: m_editing->analyse(source); break;
    case 1: m_editing->deleteEntry(source); break;
    case 2: m_editing->moveUp(source); break;
    default: m_editing->moveDown(source); break;
    }
}

void TestListEditing::moveTakesNameAndCodeAlong_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("up");
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("order"); // the rows afterwards, by their first names
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("status"); // empty: not checked
    const int button = int(CommandSource::Button), popup = int(CommandSource::PopupMenu);
    QTest::newRow("down, button") << 2 << false << button << "ABDCE" << 3 << "Configuration selected : C";
    QTest::newRow("up, popup") << 1 << true << popup << "BACDE" << 0 << "Configuration selected : B";
    // At an end nothing moves, yet the database counts as modified.
    QTest::newRow("first up") << 0 << true << button << "ABCDE" << 0 << "";
    QTest::newRow("last down") << 4 << false << button << "ABCDE" << 4 << "";
}

void TestListEditing::moveTakesNameAndCodeAlong()
{
    QFETCH(int, row);
    QFETCH(bool, up);
    QFETCH(int, source);
    QFETCH(QString, order);
    QFETCH(int, selected);
    QFETCH(QString, status);
    m_db->select(row);
    m_status.showStatus(QStringLiteral("untouched"));
    run(up ? 2 : 3, CommandSource(source));
    QStringList expectedNames, expectedCodes;
    for (QChar c : order) {
        expectedNames << QString(c);
        expectedCodes << Codes.at(c.unicode() - 'A');
    }
    QCOMPARE(names(), expectedNames);
    QCOMPARE(codes(), expectedCodes);
    QCOMPARE(m_db->selectedIndex(), selected);
    if (!status.isEmpty())
        QCOMPARE(m_status.statusText(), status);
    QVERIFY(m_db->isModified());
    QVERIFY(m_prompts.shown.isEmpty());
}

void TestListEditing::deleteAskedThenRemovesBothAndClearsSelection()
{
    m_db->select(1);
    m_status.showStatus(QStringLiteral("untouched"));
    m_prompts.answer({true});
    m_editing->deleteEntry(CommandSource::Button);
    QCOMPARE(m_prompts.texts(), QStringList{"This will delete configuration <B> form the database !"});
    QCOMPARE(m_prompts.shown.at(0).icon, MessageIcon::Warning);
    QCOMPARE(m_prompts.shown.at(0).buttons, MessageButtons::OkCancel);
    QCOMPARE(names(), (QStringList{"A", "C", "D", "E"}));
    QCOMPARE(codes(), (QStringList{Codes[0], Codes[2], Codes[3], Codes[4]}));
    QCOMPARE(m_db->selectedIndex(), -1);
    QCOMPARE(m_status.statusText(), QString("untouched"));
    QVERIFY(m_db->isModified());

    m_editing->deleteEntry(CommandSource::Button);
    QCOMPARE(m_prompts.texts().constLast(), QString("Please select a database entry first !"));
    QCOMPARE(m_db->count(), 4);
}

void TestListEditing::deleteCancelledKeepsRowsButMarksModified()
{
    m_db->select(3);
    m_prompts.answer({false});
    m_editing->deleteEntry(CommandSource::PopupMenu);
    QCOMPARE(m_prompts.texts(), QStringList{"This will delete configuration <D> form the database !"});
    QCOMPARE(names(), Names);
    QCOMPARE(codes(), Codes);
    QCOMPARE(m_db->selectedIndex(), 3);
    QVERIFY(m_db->isModified());
}

void TestListEditing::deletingTheOnlyEntryLeavesAnEmptyDatabase()
{
    m_db->clear();
    m_db->append("Only", Codes[0]);
    m_db->select(0);
    m_editing->deleteEntry(CommandSource::Button);
    QCOMPARE(m_db->count(), 0);
    QCOMPARE(m_db->selectedIndex(), -1);
}

void TestListEditing::buttonsWithoutSelectionOnlyAsk_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("empty");
    const char *labels[] = {"analyse", "delete", "move up", "move down"};
    for (int c = 0; c < 4; ++c) {
        QTest::addRow("%s, no selection", labels[c]) << c << false;
        QTest::addRow("%s, empty list", labels[c]) << c << true;
    }
}

void TestListEditing::buttonsWithoutSelectionOnlyAsk()
{
    QFETCH(int, command);
    QFETCH(bool, empty);
    if (empty)
        m_db->clear();
    m_editor->setName("Before");
    run(command, CommandSource::Button);
    QCOMPARE(m_prompts.texts(), QStringList{"Please select a database entry first !"});
    QCOMPARE(m_prompts.shown.at(0).icon, MessageIcon::Warning);
    QCOMPARE(m_prompts.shown.at(0).buttons, MessageButtons::Ok);
    QCOMPARE(names(), empty ? QStringList{} : Names);
    QVERIFY(!m_db->isModified());
    QCOMPARE(m_editor->name(), QString("Before"));
    QVERIFY(!m_editor->configurationModeUser());
}

void TestListEditing::popupWithoutSelectionDoesNothing()
{
    for (int command = 0; command < 4; ++command)
        run(command, CommandSource::PopupMenu);
    QVERIFY(m_prompts.shown.isEmpty());
    QCOMPARE(names(), Names);
    QVERIFY(!m_db->isModified());
}

void TestListEditing::analyseShowsTheEntry_data()
{
    QTest::addColumn<bool>("fromButton");
    QTest::addColumn<int>("row");
    // The button also switches both mode groups to User; the popup leaves them.
    QTest::newRow("button") << true << 1;
    QTest::newRow("popup") << false << 2;
}

void TestListEditing::analyseShowsTheEntry()
{
    QFETCH(bool, fromButton);
    QFETCH(int, row);
    m_editor->setConfigurationMode(false);
    m_editor->setIdentityMode(false);
    QVERIFY(!m_editor->isEnabled("MechaStd"));
    m_db->select(row);
    m_status.showStatus(QStringLiteral("untouched"));
    m_editing->analyse(fromButton ? CommandSource::Button : CommandSource::PopupMenu);
    QCOMPARE(m_editor->name(), Names.at(row));
    QCOMPARE(m_editor->buildConfigurationCode(), Codes.at(row));
    QCOMPARE(m_editor->configurationModeUser(), fromButton);
    QCOMPARE(m_editor->configurationModeResistors(), !fromButton);
    QCOMPARE(m_editor->identityUser(), fromButton);
    QCOMPARE(m_editor->identityAuto(), !fromButton);
    QCOMPARE(m_editor->isEnabled("MechaStd"), fromButton);
    QCOMPARE(m_editor->isNameEnabled(), fromButton);
    if (fromButton) { // B: KEL, 3000 Ohms, 384 dots
        for (const char *on : {"MechaKEL", "HeadHS", "HW384"})
            QVERIFY2(m_editor->isChecked(on), on);
    }
    // The database itself is untouched.
    QCOMPARE(names(), Names);
    QCOMPARE(m_db->selectedIndex(), row);
    QVERIFY(!m_db->isModified());
    QCOMPARE(m_status.statusText(), QString("untouched"));
    QVERIFY(m_prompts.shown.isEmpty());
}

void TestListEditing::rowsWithTheSameCodeAnalyseAlike()
{
    m_db->clear();
    FillFactoryList(*m_db);
    m_db->select(0);
    m_editing->analyse(CommandSource::Button);
    const MechanismSettings first = m_editor->settings();
    for (int row : {7, 25, 27}) {
        ConfigurationEditor fresh;
        ListEditing editing(*m_db, m_prompts, fresh);
        m_db->select(row);
        editing.analyse(CommandSource::Button);
        QCOMPARE(fresh.settings(), first);
        QCOMPARE(fresh.name(), QStringLiteral("Mechanism %1").arg(row + 1, 2, 10, QLatin1Char('0')));
    }
}

QTEST_GUILESS_MAIN(TestListEditing)
#include "tst_listediting.moc"
