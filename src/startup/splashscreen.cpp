#include "startup/splashscreen.h"

#include "help/artwork.h"

#include <QFont>
#include <QLabel>
#include <QPalette>

namespace tessary {

namespace {
constexpr int Margin = 4; // the artwork fills the window but for this
}

SplashScreen::SplashScreen(std::function<void()> showMainWindow, int delayMs, QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint), m_showMainWindow(std::move(showMainWindow))
{
    setObjectName(QStringLiteral("SplashScreen"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(WindowSize);
    setAccessibleName(QStringLiteral("Tessary Configurator"));
    setStyleSheet(QStringLiteral("tessary--SplashScreen { background: #1d4f80; }"));
    setAttribute(Qt::WA_StyledBackground);

    m_picture = new QLabel(this);
    m_picture->setObjectName(QStringLiteral("Picture1"));
    m_picture->setGeometry(Margin, Margin, width() - 2 * Margin, height() - 2 * Margin);
    m_picture->setPixmap(renderSvg(QStringLiteral(":/splash.svg"), m_picture->size(), devicePixelRatioF()));
    m_picture->setAccessibleName(QStringLiteral("Tessary Configurator"));

    m_rev = new QLabel(m_picture);
    m_rev->setObjectName(QStringLiteral("Rev"));
    QFont revFont(QStringLiteral("DejaVu Serif"));
    revFont.setStyleHint(QFont::Serif);
    revFont.setPointSize(20);
    revFont.setBold(true);
    m_rev->setFont(revFont);
    m_rev->setAutoFillBackground(true);
    QPalette revPalette = m_rev->palette();
    revPalette.setColor(QPalette::Window, Qt::white);
    revPalette.setColor(QPalette::WindowText, Qt::black);
    m_rev->setPalette(revPalette);
    m_rev->setContentsMargins(6, 0, 6, 0);

    // Splash load: the revision, then the one tick that ends the splash.
    m_rev->setText(QStringLiteral("Rev: ") + programRevision());
    m_rev->adjustSize();
    m_rev->move(m_picture->width() - m_rev->width() - 8, m_picture->height() - m_rev->height() - 8);

    m_timer.setObjectName(QStringLiteral("Timer"));
    m_timer.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the splash stands its full time.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(delayMs);
    connect(&m_timer, &QTimer::timeout, this, &SplashScreen::splashEnd);
    m_timer.start();

    centreOnScreen(this);
}

void SplashScreen::splashEnd() { close(); }

void SplashScreen::closeEvent(QCloseEvent *event)
{
    // Closed early (Alt+F4) or by its tick: the main window comes up either
    // way, exactly once, and while the splash is still on the screen.
    if (!m_ended) {
        m_ended = true;
        m_timer.stop();
        if (m_showMainWindow)
            m_showMainWindow();
    }
    QWidget::closeEvent(event);
}

} // namespace tessary
