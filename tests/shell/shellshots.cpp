// Saves pictures of the splash, About and Help windows for the docs:
//   xvfb-run -a -s "-screen 0 1280x800x24" shellshots <folder> [help page]
// Not a test: built beside them so the pictures can be made again.
#include "shell/aboutfrm.h"
#include "shell/helpfrm.h"
#include "shell/splashscreen.h"

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QTextBrowser>

using namespace tessary;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString folder = args.value(1, QStringLiteral("."));
    const QString page = args.value(2);

    QWidget owner;
    owner.resize(800, 600);
    owner.show();

    auto *splash = new SplashScreen([] {}, 60000);
    splash->show();
    QTest::qWait(300);
    splash->grab().save(folder + QStringLiteral("/splash.png"));
    splash->close();

    AboutFrm *about = AboutFrm::showAbout(&owner);
    QTest::qWait(300);
    about->grab().save(folder + QStringLiteral("/about.png"));

    Helpfrm *help = Helpfrm::showHelp(&owner, HelpLocator(QStringLiteral(TESSARY_HELP_SOURCE_PARENT)));
    if (!page.isEmpty())
        help->findChild<QTextBrowser *>(QStringLiteral("WebBrowser"))->setSource(
            QUrl::fromLocalFile(QStringLiteral(TESSARY_HELP_SOURCE_PARENT "/Help/") + page));
    QTest::qWait(300);
    help->grab().save(folder + QStringLiteral("/help.png"));
    return 0;
}
