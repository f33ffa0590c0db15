#include "shell/helpfrm.h"
#include "shell/helplocator.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>

using namespace tessary;

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// A small set of pages: an index linking to a local page, a web page and a
// mailbox; the local page links back.
void writePages(const QString &helpDir)
{
    writeFile(helpDir + "/index.html",
              "<html><head><title>Index</title></head><body><h1>Help index</h1>"
              "<p><a href=\"options.html\">Options</a></p>"
              "<p><a href=\"https://www.example.org/manual\">Web manual</a></p>"
              "<p><a href=\"mailto:someone@example.org\">Write to us</a></p></body></html>");
    writeFile(helpDir + "/options.html",
              "<html><head><title>Options</title></head><body><h1>Options</h1>"
              "<p><a href=\"index.html\">Back</a></p></body></html>");
}

// Clicks the link with this address as a user would, on the visible text.
bool clickLink(QTextBrowser *browser, const QString &href)
{
    for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().anchorHref() != href)
                continue;
            QTextCursor cursor(browser->document());
            cursor.setPosition(fragment.position() + 1);
            const QPoint at = browser->cursorRect(cursor).center();
            QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, at);
            return true;
        }
    }
    return false;
}

} // namespace

class TestHelpfrm : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensModelessOnTheIndexPage();
    void contentsTwiceGivesOneWindowOnTheIndexPage();
    void localLinksNavigateAndIndexReturns();
    void webAndMailLinksGoToTheDesktop_data();
    void webAndMailLinksGoToTheDesktop();
    void locatorPrefersTheApplicationDirectory();
    void locatorFallsBackWhenTheApplicationDirectoryHasNoHelp();
    void missingPagesSayWhereTheyWereLookedFor();

private:
    Helpfrm *open(const QString &appDirectory);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QWidget> m_mainWindow;
    QString m_appDirectory;
};

void TestHelpfrm::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_appDirectory = m_dir->path() + "/app/";
    writePages(m_appDirectory + "Help");
    m_mainWindow = std::make_unique<QWidget>();
    m_mainWindow->show();
}

void TestHelpfrm::cleanup()
{
    m_mainWindow.reset(); // takes the Help window with it
    m_dir.reset();
}

Helpfrm *TestHelpfrm::open(const QString &appDirectory)
{
    // Only the application directory counts here, no installed pages.
    return Helpfrm::showHelp(m_mainWindow.get(), HelpLocator(appDirectory, {}));
}

void TestHelpfrm::opensModelessOnTheIndexPage()
{
    Helpfrm *help = open(m_appDirectory);
    QCOMPARE(help->windowTitle(), QStringLiteral("Tessary Configurator Help"));
    QVERIFY(!help->isModal());
    QCOMPARE(help->minimumSize(), help->maximumSize());
    QVERIFY(!help->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!help->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(help->findChild<QPushButton *>(QStringLiteral("Index")));
    auto *browser = help->findChild<QTextBrowser *>(QStringLiteral("WebBrowser"));
    QVERIFY(browser);
    QCOMPARE(help->currentPage(), QUrl::fromLocalFile(m_appDirectory + "Help/index.html"));
    QCOMPARE(browser->documentTitle(), QStringLiteral("Index"));
}

void TestHelpfrm::contentsTwiceGivesOneWindowOnTheIndexPage()
{
    Helpfrm *first = open(m_appDirectory);
    auto *browser = first->findChild<QTextBrowser *>(QStringLiteral("WebBrowser"));
    QVERIFY(clickLink(browser, "options.html"));
    QCOMPARE(browser->documentTitle(), QStringLiteral("Options"));

    Helpfrm *second = open(m_appDirectory);
    QCOMPARE(second, first);
    QCOMPARE(m_mainWindow->findChildren<Helpfrm *>().size(), 1);
    QCOMPARE(second->currentPage(), QUrl::fromLocalFile(m_appDirectory + "Help/index.html"));
    QCOMPARE(browser->documentTitle(), QStringLiteral("Index"));
}

void TestHelpfrm::localLinksNavigateAndIndexReturns()
{
    QList<QUrl> handedOut;
    Helpfrm *help = open(m_appDirectory);
    help->setUrlOpener([&handedOut](const QUrl &url) { handedOut << url; });
    auto *browser = help->findChild<QTextBrowser *>(QStringLiteral("WebBrowser"));

    QVERIFY(clickLink(browser, "options.html"));
    QCOMPARE(help->currentPage(), QUrl::fromLocalFile(m_appDirectory + "Help/options.html"));
    QCOMPARE(browser->documentTitle(), QStringLiteral("Options"));
    QVERIFY(handedOut.isEmpty());

    QTest::mouseClick(help->findChild<QPushButton *>(QStringLiteral("Index")), Qt::LeftButton);
    QCOMPARE(help->currentPage(), QUrl::fromLocalFile(m_appDirectory + "Help/index.html"));
    QCOMPARE(browser->documentTitle(), QStringLiteral("Index"));

    // Index on the index page itself keeps it there.
    QTest::mouseClick(help->findChild<QPushButton *>(QStringLiteral("Index")), Qt::LeftButton);
    QCOMPARE(browser->documentTitle(), QStringLiteral("Index"));
}

void TestHelpfrm::webAndMailLinksGoToTheDesktop_data()
{
    QTest::addColumn<QString>("href");
    QTest::newRow("web page") << QStringLiteral("https://www.example.org/manual");
    QTest::newRow("mailbox") << QStringLiteral("mailto:someone@example.org");
}

void TestHelpfrm::webAndMailLinksGoToTheDesktop()
{
    QFETCH(QString, href);
    QList<QUrl> handedOut;
    Helpfrm *help = open(m_appDirectory);
    help->setUrlOpener([&handedOut](const QUrl &url) { handedOut << url; });
    auto *browser = help->findChild<QTextBrowser *>(QStringLiteral("WebBrowser"));

    QVERIFY(clickLink(browser, href));
    QCOMPARE(handedOut, QList<QUrl>{QUrl(href)});
    // The view stays on its page.
    QCOMPARE(help->currentPage(), QUrl::fromLocalFile(m_appDirectory + "Help/index.html"));
    QCOMPARE(browser->documentTitle(), QStringLiteral("Index"));
}

void TestHelpfrm::locatorPrefersTheApplicationDirectory()
{
    const QString installed = m_dir->path() + "/installed/Help";
    writePages(installed);
    const HelpLocator locator(m_appDirectory, {installed});
    QCOMPARE(locator.indexPath(), QFileInfo(m_appDirectory + "Help/index.html").absoluteFilePath());
}

void TestHelpfrm::locatorFallsBackWhenTheApplicationDirectoryHasNoHelp()
{
    const QString elsewhere = m_dir->path() + "/elsewhere/";
    QDir().mkpath(elsewhere);
    const QString emptyInstall = m_dir->path() + "/not-installed/Help";
    const QString installed = m_dir->path() + "/installed/Help";
    writePages(installed);

    const HelpLocator locator(elsewhere, {emptyInstall, installed});
    QCOMPARE(locator.candidates(),
             QStringList({elsewhere + "Help/index.html", emptyInstall + "/index.html", installed + "/index.html"}));
    QCOMPARE(locator.indexPath(), QFileInfo(installed + "/index.html").absoluteFilePath());

    Helpfrm *help = Helpfrm::showHelp(m_mainWindow.get(), locator);
    QCOMPARE(help->currentPage(), QUrl::fromLocalFile(installed + "/index.html"));
    auto *browser = help->findChild<QTextBrowser *>(QStringLiteral("WebBrowser"));
    QVERIFY(clickLink(browser, "options.html")); // relative links work from there too
    QCOMPARE(help->currentPage(), QUrl::fromLocalFile(installed + "/options.html"));
}

void TestHelpfrm::missingPagesSayWhereTheyWereLookedFor()
{
    const QString elsewhere = m_dir->path() + "/elsewhere/";
    Helpfrm *help = open(elsewhere);
    auto *browser = help->findChild<QTextBrowser *>(QStringLiteral("WebBrowser"));
    QVERIFY(help->indexPage().isEmpty());
    QVERIFY(browser->toPlainText().contains(QStringLiteral("Help pages not found")));
    QVERIFY(browser->toPlainText().contains(elsewhere + "Help/index.html"));
    // Index on the notice neither crashes nor leaves it.
    QTest::mouseClick(help->findChild<QPushButton *>(QStringLiteral("Index")), Qt::LeftButton);
    QVERIFY(browser->toPlainText().contains(QStringLiteral("Help pages not found")));
}

QTEST_MAIN(TestHelpfrm)
#include "tst_helpfrm.moc"
