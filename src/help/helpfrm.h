#pragma once

#include "help/artwork.h"
#include "help/helplocator.h"

#include <QDialog>
#include <QUrl>

class QPushButton;
class QTextBrowser;

namespace tessary {

// The Help window: the local help pages in a browser view, with a button
// back to the index. Links between the pages are followed in the view; web
// and mail addresses go to the desktop's own programs. Modeless, at most one.
class Helpfrm : public QDialog {
    Q_OBJECT
public:
    static constexpr QSize WindowSize{658, 522};

    // Help > Contents: brings the open Help window forward, or creates one
    // centred on the screen, and loads the index page.
    static Helpfrm *showHelp(QWidget *mainWindow, const HelpLocator &locator);
    static Helpfrm *showHelp(QWidget *mainWindow, const QString &appDirectory)
    {
        return showHelp(mainWindow, HelpLocator(appDirectory));
    }

    explicit Helpfrm(QWidget *parent = nullptr);

    // The index page to show; empty when none was found, and then the view
    // says where the pages were looked for.
    void setIndexPage(const QString &indexPath, const QStringList &searched = {});
    // Loads the index page again (the Index button).
    void showIndex();

    [[nodiscard]] QUrl currentPage() const;
    [[nodiscard]] QUrl indexPage() const { return m_index; }

    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }

private:
    void followLink(const QUrl &link);
    void showMissingHelp();

    QStringList m_searched;
    QPushButton *m_indexButton = nullptr;
    QTextBrowser *m_browser = nullptr;
    QUrl m_index;
    UrlOpener m_openUrl = desktopUrlOpener();
};

} // namespace tessary
