#pragma once

#include "help/artwork.h"

#include <QDialog>
#include <QLabel>
#include <QUrl>

namespace tessary {

// A label that acts as a link: blue, underlined, a hand pointer, opened by a
// click or, when it has the keyboard focus, by Enter or Space.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit LinkLabel(const QString &text, QWidget *parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_pressed = false;
};

// The About window: the program's name and revision, the maker's web site and
// support mailbox, and the maker's logo. Modeless, at most one at a time.
class AboutFrm : public QDialog {
    Q_OBJECT
public:
    static constexpr QSize WindowSize{236, 268};

    static QString webAddress() { return QStringLiteral("www.tessary.example.com"); }
    static QString supportAddress() { return QStringLiteral("support@tessary.example.com"); }
    static QUrl webUrl() { return QUrl(QStringLiteral("https://") + webAddress()); }
    static QUrl supportUrl() { return QUrl(QStringLiteral("mailto:") + supportAddress()); }

    // Brings the open About window forward, or creates one centred over the
    // main window; it deletes itself when closed.
    static AboutFrm *showAbout(QWidget *mainWindow);

    explicit AboutFrm(QWidget *parent = nullptr);

    // Where the two links are handed; the desktop's default handler unless
    // replaced.
    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }

private:
    UrlOpener m_openUrl = desktopUrlOpener();
};

} // namespace tessary
