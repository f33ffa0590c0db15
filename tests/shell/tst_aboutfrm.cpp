#include "shell/aboutfrm.h"

#include <QPointer>
#include <QTest>

using namespace tessary;

class TestAboutFrm : public QObject {
    Q_OBJECT

private slots:
    void titleLabelReadsNameAndRevision();
    void windowIsAFixedModelessDialog();
    void linksOpenTheWebSiteAndTheSupportMailbox_data();
    void linksOpenTheWebSiteAndTheSupportMailbox();
    void linkLabelsLookLikeLinks();
    void secondOpeningRaisesTheSameWindow();
    void closingDestroysItAndTheNextOpeningCreatesAnew();
};

void TestAboutFrm::titleLabelReadsNameAndRevision()
{
    AboutFrm about;
    auto *title = about.findChild<QLabel *>(QStringLiteral("Label1"));
    QVERIFY(title);
    QCOMPARE(title->text(), QStringLiteral("Tessary Configurator    Rev: 2.3"));
    QVERIFY(title->font().bold());
    QVERIFY(title->alignment().testFlag(Qt::AlignHCenter));
    QCOMPARE(about.findChild<QLabel *>(QStringLiteral("Label2"))->text(), QStringLiteral("Web:"));
    QCOMPARE(about.findChild<QLabel *>(QStringLiteral("Label3"))->text(), QStringLiteral("Support:"));
    QCOMPARE(about.findChild<QLabel *>(QStringLiteral("Label4"))->text(), QStringLiteral("www.tessary.example.com"));
    QCOMPARE(about.findChild<QLabel *>(QStringLiteral("Label5"))->text(),
             QStringLiteral("support@tessary.example.com"));
    auto *logo = about.findChild<QLabel *>(QStringLiteral("Image1"));
    QVERIFY(logo);
    QVERIFY(!logo->pixmap().isNull());
}

void TestAboutFrm::windowIsAFixedModelessDialog()
{
    QWidget mainWindow;
    mainWindow.show();
    AboutFrm *about = AboutFrm::showAbout(&mainWindow);
    QCOMPARE(about->windowTitle(), QStringLiteral("About"));
    QVERIFY(!about->isModal());
    QCOMPARE(about->minimumSize(), about->maximumSize());
    QVERIFY(!about->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!about->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!about->windowIcon().isNull());
    QVERIFY(mainWindow.isEnabled()); // modeless: the main window goes on working
}

void TestAboutFrm::linksOpenTheWebSiteAndTheSupportMailbox_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("byKeyboard");
    QTest::addColumn<QUrl>("expected");
    const QUrl web(QStringLiteral("https://www.tessary.example.com"));
    const QUrl mail(QStringLiteral("mailto:support@tessary.example.com"));
    QTest::newRow("web by mouse") << QStringLiteral("Label4") << false << web;
    QTest::newRow("web by keyboard") << QStringLiteral("Label4") << true << web;
    QTest::newRow("support by mouse") << QStringLiteral("Label5") << false << mail;
    QTest::newRow("support by keyboard") << QStringLiteral("Label5") << true << mail;
}

void TestAboutFrm::linksOpenTheWebSiteAndTheSupportMailbox()
{
    QFETCH(QString, label);
    QFETCH(bool, byKeyboard);
    QFETCH(QUrl, expected);

    AboutFrm about;
    QList<QUrl> opened;
    about.setUrlOpener([&opened](const QUrl &url) { opened << url; });
    about.show();
    auto *link = about.findChild<LinkLabel *>(label);
    QVERIFY(link);
    if (byKeyboard) {
        link->setFocus();
        QTest::keyClick(link, Qt::Key_Return);
    } else {
        QTest::mouseClick(link, Qt::LeftButton);
    }
    QCOMPARE(opened, QList<QUrl>{expected});
}

void TestAboutFrm::linkLabelsLookLikeLinks()
{
    AboutFrm about;
    for (const QString &name : {QStringLiteral("Label4"), QStringLiteral("Label5")}) {
        auto *link = about.findChild<LinkLabel *>(name);
        QVERIFY(link);
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QVERIFY(link->font().underline());
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    }
}

void TestAboutFrm::secondOpeningRaisesTheSameWindow()
{
    QWidget mainWindow;
    mainWindow.show();
    AboutFrm *first = AboutFrm::showAbout(&mainWindow);
    AboutFrm *second = AboutFrm::showAbout(&mainWindow);
    QCOMPARE(second, first);
    QCOMPARE(mainWindow.findChildren<AboutFrm *>().size(), 1);
    QVERIFY(first->isVisible());
}

void TestAboutFrm::closingDestroysItAndTheNextOpeningCreatesAnew()
{
    QWidget mainWindow;
    mainWindow.show();
    QPointer<AboutFrm> first = AboutFrm::showAbout(&mainWindow);
    first->close();
    // Opened again before the closed one is gone: a fresh window, never the
    // one about to be deleted.
    QPointer<AboutFrm> second = AboutFrm::showAbout(&mainWindow);
    QVERIFY(second != first);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(first.isNull());
    QVERIFY(!second.isNull());
    QVERIFY(second->isVisible());
    QCOMPARE(mainWindow.findChildren<AboutFrm *>().size(), 1);
}

QTEST_MAIN(TestAboutFrm)
#include "tst_aboutfrm.moc"
