#include "help/artwork.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>
#include <QWidget>

namespace tessary {

QIcon applicationIcon() { return QIcon(QStringLiteral(":/icons/app.svg")); }

QPixmap renderSvg(const QString &resource, const QSize &size, qreal devicePixelRatio)
{
    QSvgRenderer renderer(resource);
    if (!renderer.isValid() || size.isEmpty())
        return {};
    renderer.setAspectRatioMode(Qt::KeepAspectRatio);
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QImage image((QSizeF(size) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    QPixmap pixmap = QPixmap::fromImage(std::move(image));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

UrlOpener desktopUrlOpener()
{
    // The desktop's answer is not looked at: a failure is not reported.
    return [](const QUrl &url) { QDesktopServices::openUrl(url); };
}

static QRect availableArea(const QWidget *widget)
{
    QScreen *screen = widget ? widget->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void centreOnScreen(QWidget *window)
{
    const QRect area = availableArea(window);
    if (area.isEmpty())
        return;
    QRect frame(QPoint(), window->frameGeometry().size());
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}

void centreOver(QWidget *window, const QWidget *owner)
{
    if (!owner || !owner->isVisible()) {
        centreOnScreen(window);
        return;
    }
    QRect frame(QPoint(), window->frameGeometry().size());
    frame.moveCenter(owner->frameGeometry().center());
    const QRect area = availableArea(owner);
    if (!area.isEmpty()) {
        // Keep the title bar reachable when the owner sits at a screen edge.
        frame.moveLeft(qBound(area.left(), frame.left(), qMax(area.left(), area.right() - frame.width() + 1)));
        frame.moveTop(qBound(area.top(), frame.top(), qMax(area.top(), area.bottom() - frame.height() + 1)));
    }
    window->move(frame.topLeft());
}

} // namespace tessary
