#include "shell/splashscreen.h"

#include <QLabel>
#include <QPointer>
#include <QTest>

using namespace tessary;

class TestSplashScreen : public QObject {
    Q_OBJECT

private slots:
    void showsTheRevisionOnTheArtwork();
    void showsTheMainWindowOnceAfterTheRealDelayThenGoes();
    void closingEarlyStillShowsTheMainWindowOnce();

private:
    static void deleteClosedWindows() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
};

void TestSplashScreen::showsTheRevisionOnTheArtwork()
{
    SplashScreen splash([] {});
    splash.show();
    QVERIFY(splash.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(splash.size(), QSize(376, 279));

    auto *picture = splash.findChild<QLabel *>(QStringLiteral("Picture1"));
    QVERIFY(picture);
    QVERIFY(!picture->pixmap().isNull()); // the artwork came from the resources
    auto *rev = splash.findChild<QLabel *>(QStringLiteral("Rev"));
    QVERIFY(rev);
    QCOMPARE(rev->text(), QStringLiteral("Rev: 2.3"));
    QVERIFY(rev->font().bold());
    QCOMPARE(rev->font().pointSize(), 20);
    QCOMPARE(rev->palette().color(QPalette::Window), QColor(Qt::white));
    // Lower right, inside the picture.
    QVERIFY(picture->rect().contains(rev->geometry()));
    QVERIFY(rev->geometry().center().x() > picture->width() / 2);
    QVERIFY(rev->geometry().center().y() > picture->height() / 2);
}

void TestSplashScreen::showsTheMainWindowOnceAfterTheRealDelayThenGoes()
{
    int shown = 0;
    QPointer<SplashScreen> splash = new SplashScreen([&shown] { ++shown; });
    splash->show();
    QCOMPARE(splash->timer().interval(), 1500);
    QVERIFY(splash->timer().isSingleShot());
    QVERIFY(splash->timer().isActive());

    // A timer never fires early, so this holds on any machine.
    QTest::qWait(300);
    QCOMPARE(shown, 0);
    QVERIFY(splash->isVisible());

    QTRY_COMPARE_WITH_TIMEOUT(shown, 1, 10000);
    // The main window is shown before the splash goes, so the program never
    // has no window.
    deleteClosedWindows();
    QVERIFY(splash.isNull());
    QTest::qWait(50);
    QCOMPARE(shown, 1);
}

void TestSplashScreen::closingEarlyStillShowsTheMainWindowOnce()
{
    int shown = 0;
    QPointer<SplashScreen> splash = new SplashScreen([&shown] { ++shown; }, 20);
    splash->show();
    splash->close();
    QCOMPARE(shown, 1);
    deleteClosedWindows();
    QVERIFY(splash.isNull());
    QTest::qWait(60); // past the shortened delay: no second call from a stale tick
    QCOMPARE(shown, 1);
}

QTEST_MAIN(TestSplashScreen)
#include "tst_splashscreen.moc"
