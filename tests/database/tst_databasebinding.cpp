#include "configuration/configurationeditor.h"
#include "database/databasebinding.h"
#include "database/mechanismdatabase.h"
#include "scriptedprompts.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtTest>

using namespace tessary;
using tessary::test::ScriptedFileChooser;
using tessary::test::ScriptedPrompts;

// A minimal window holding the database frame's controls under their names.
class TestDatabaseBinding : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void listFollowsTheDatabase();
    void clickAndArrowKeysSelectAndShowTheName();
    void rightReleaseOpensMenuOnlyWithASelection();
    void rightClickOnAnotherRowKeepsTheSelection();
    void contextMenuKeyOpensMenuOnlyWithASelection();
    void buttonsAndMenuItemsRunTheirCommands();

private:
    QPoint rowCentre(int row) const { return m_list->visualItemRect(m_list->item(row)).center(); }
    void closeMenu();

    std::unique_ptr<QWidget> m_root;
    QListWidget *m_list = nullptr;
    QListWidget *m_codes = nullptr;
    QMenu *m_menu = nullptr;
    PlainStatusLine m_status;
    ScriptedPrompts m_prompts;
    ScriptedFileChooser m_chooser;
    std::unique_ptr<MechanismDatabase> m_db;
    std::unique_ptr<ConfigurationEditor> m_editor;
    DatabaseBinding *m_binding = nullptr;
};

void TestDatabaseBinding::init()
{
    m_root = std::make_unique<QWidget>();
    auto *layout = new QVBoxLayout(m_root.get());
    m_list = new QListWidget(m_root.get());
    m_list->setObjectName("List1");
    layout->addWidget(m_list);
    m_codes = new QListWidget(m_root.get());
    m_codes->setObjectName("List2");
    m_codes->setVisible(false);
    for (const char *name : {"DbbAnalyse", "DbbDelete", "DbUp", "DbDown"}) {
        auto *button = new QPushButton(QLatin1String(name), m_root.get());
        button->setObjectName(QLatin1String(name));
        layout->addWidget(button);
    }
    m_menu = new QMenu("Database Edition", m_root.get());
    for (const char *name : {"dbAnalyse", "dbDelete", "dbMoveup", "dbMovedown"})
        m_menu->addAction(QLatin1String(name))->setObjectName(QLatin1String(name));
    for (const char *name : {"Ndb", "Od", "sd", "Sda"})
        (new QAction(QLatin1String(name), m_root.get()))->setObjectName(QLatin1String(name));

    m_prompts = ScriptedPrompts();
    m_db = std::make_unique<MechanismDatabase>(&m_status);
    for (const char *name : {"A", "B", "C", "D", "E"})
        m_db->append(QLatin1String(name), QStringLiteral("1111000101000000"));
    m_db->replaceCode(1, QStringLiteral("1101001100100000"));
    m_editor = std::make_unique<ConfigurationEditor>();
    m_binding = new DatabaseBinding(m_root.get(), *m_db, *m_editor, m_prompts, m_chooser, m_status, m_menu,
                                    m_root.get());
    m_root->resize(300, 400);
    m_root->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_root.get()));
    m_status.showStatus("untouched");
}

void TestDatabaseBinding::cleanup()
{
    closeMenu();
    m_root.reset();
    m_editor.reset();
    m_db.reset();
}

void TestDatabaseBinding::closeMenu()
{
    if (m_menu && m_menu->isVisible())
        m_menu->close();
}

void TestDatabaseBinding::listFollowsTheDatabase()
{
    QCOMPARE(m_list->count(), 5);
    QCOMPARE(m_list->item(1)->text(), QString("B"));
    QCOMPARE(m_codes->item(1)->text(), QString("1101001100100000"));
    m_db->select(3);
    QCOMPARE(m_list->currentRow(), 3);
    QVERIFY(m_list->item(3)->isSelected());
    m_db->remove(0);
    QCOMPARE(m_list->count(), 4);
    QCOMPARE(m_codes->count(), 4);
    QCOMPARE(m_list->item(0)->text(), QString("B"));
    QCOMPARE(m_list->selectedItems().size(), 1);
    QCOMPARE(m_list->row(m_list->selectedItems().constFirst()), 2); // D moved up with its row
    m_db->clearSelection();
    QVERIFY(m_list->selectedItems().isEmpty());
}

void TestDatabaseBinding::clickAndArrowKeysSelectAndShowTheName()
{
    QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, rowCentre(1));
    QCOMPARE(m_db->selectedIndex(), 1);
    QCOMPARE(m_status.statusText(), QString("Configuration selected : B"));
    m_list->setFocus();
    QTest::keyClick(m_list, Qt::Key_Down);
    QCOMPARE(m_db->selectedIndex(), 2);
    QCOMPARE(m_status.statusText(), QString("Configuration selected : C"));
    // A click on the entry already selected shows its name again.
    m_status.showStatus("other");
    QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, rowCentre(2));
    QCOMPARE(m_status.statusText(), QString("Configuration selected : C"));
}

void TestDatabaseBinding::rightReleaseOpensMenuOnlyWithASelection()
{
    QTest::mousePress(m_list->viewport(), Qt::RightButton, {}, rowCentre(2));
    QTest::mouseRelease(m_list->viewport(), Qt::RightButton, {}, rowCentre(2));
    QVERIFY(!m_menu->isVisible());
    QCOMPARE(m_db->selectedIndex(), -1);

    m_db->select(2);
    QTest::mousePress(m_list->viewport(), Qt::RightButton, {}, rowCentre(2));
    QVERIFY(!m_menu->isVisible()); // the release opens it, not the press
    QTest::mouseRelease(m_list->viewport(), Qt::RightButton, {}, rowCentre(2));
    QVERIFY(m_menu->isVisible());
    QCOMPARE(m_menu->actions().size(), 4);
}

void TestDatabaseBinding::rightClickOnAnotherRowKeepsTheSelection()
{
    m_db->select(0);
    m_status.showStatus("untouched");
    QTest::mouseClick(m_list->viewport(), Qt::RightButton, {}, rowCentre(3));
    QCOMPARE(m_db->selectedIndex(), 0);
    QCOMPARE(m_list->row(m_list->selectedItems().value(0)), 0);
    QCOMPARE(m_status.statusText(), QString("untouched"));
    QVERIFY(m_menu->isVisible());
    // The menu acts on the selected entry, not the one under the pointer.
    closeMenu();
    m_prompts.answer({true});
    m_menu->findChild<QAction *>("dbDelete")->trigger();
    QCOMPARE(m_prompts.texts(), QStringList{"This will delete configuration <A> form the database !"});
    QCOMPARE(m_list->item(0)->text(), QString("B"));
}

void TestDatabaseBinding::contextMenuKeyOpensMenuOnlyWithASelection()
{
    m_list->setFocus();
    QContextMenuEvent none(QContextMenuEvent::Keyboard, QPoint(5, 5), m_list->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(m_list, &none);
    QVERIFY(!m_menu->isVisible());
    m_db->select(4);
    QContextMenuEvent some(QContextMenuEvent::Keyboard, QPoint(5, 5), m_list->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(m_list, &some);
    QVERIFY(m_menu->isVisible());
}

void TestDatabaseBinding::buttonsAndMenuItemsRunTheirCommands()
{
    m_root->findChild<QPushButton *>("DbDown")->click();
    QCOMPARE(m_prompts.texts(), QStringList{"Please select a database entry first !"});

    m_db->select(1);
    m_root->findChild<QPushButton *>("DbDown")->click();
    QCOMPARE(m_list->item(2)->text(), QString("B"));
    QCOMPARE(m_codes->item(2)->text(), QString("1101001100100000"));
    QCOMPARE(m_list->currentRow(), 2);
    QVERIFY(m_list->item(2)->isSelected());
    QCOMPARE(m_status.statusText(), QString("Configuration selected : B"));
    QVERIFY(m_db->isModified());

    m_root->findChild<QPushButton *>("DbbAnalyse")->click();
    QCOMPARE(m_editor->name(), QString("B"));
    QVERIFY(m_editor->configurationModeUser());

    m_menu->findChild<QAction *>("dbMoveup")->trigger();
    QCOMPARE(m_list->item(1)->text(), QString("B"));

    // The file menu items reach the file commands.
    m_root->findChild<QAction *>("Sda")->trigger();
    QCOMPARE(m_chooser.asked.size(), 1);
    QCOMPARE(m_chooser.asked.at(0).title, QString("Save configuration database as..."));
    QCOMPARE(m_status.statusText(), QString("Save database canceled"));
}

QTEST_MAIN(TestDatabaseBinding)
#include "tst_databasebinding.moc"
