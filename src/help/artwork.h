#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

namespace tessary {

// The revision that the splash and the About window show.
inline QString programRevision() { return QStringLiteral("2.3"); }

// The window icon of every window of the program.
[[nodiscard]] QIcon applicationIcon();

// Draws an SVG resource at a size in device-independent pixels, sharp on
// high-density screens. A missing resource gives a null pixmap.
[[nodiscard]] QPixmap renderSvg(const QString &resource, const QSize &size, qreal devicePixelRatio);

// Hands an address (a web page, a mail link) to the desktop's default
// handler. Tests put a recorder in its place.
using UrlOpener = std::function<void(const QUrl &)>;
[[nodiscard]] UrlOpener desktopUrlOpener();

// Centres a top-level window on the screen it is on (or the primary one).
void centreOnScreen(QWidget *window);
// Centres a window over another one, kept inside that one's screen.
void centreOver(QWidget *window, const QWidget *owner);

} // namespace tessary
