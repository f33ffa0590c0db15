#include "help/aboutfrm.h"

#include "app/shownwindow.h"

#include <QApplication>
#include <QGridLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QVBoxLayout>

namespace tessary {

LinkLabel::LinkLabel(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    QFont linkFont = font();
    linkFont.setUnderline(true);
    setFont(linkFont);
    QPalette linkPalette = palette();
    linkPalette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    setPalette(linkPalette);
    setCursor(Qt::PointingHandCursor);
    // After the interaction flags, which set a label's focus policy of their own.
    setTextInteractionFlags(Qt::NoTextInteraction);
    setFocusPolicy(Qt::StrongFocus);
}

void LinkLabel::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void LinkLabel::mouseReleaseEvent(QMouseEvent *event)
{
    // A click is a press and a release over the label, as on a button.
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (click)
        emit clicked();
}

void LinkLabel::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space) {
        event->accept();
        emit clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

void LinkLabel::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    // The style's focus frame, so a keyboard user sees which link Return opens.
    if (hasFocus()) {
        QStylePainter painter(this);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
    }
}

AboutFrm *AboutFrm::showAbout(QWidget *mainWindow)
{
    AboutFrm *about = shownWindow<AboutFrm>(mainWindow);
    if (!about) {
        about = new AboutFrm(mainWindow);
        about->setAttribute(Qt::WA_DeleteOnClose);
        centreOver(about, mainWindow);
    }
    about->show();
    about->raise();
    about->activateWindow();
    return about;
}

AboutFrm::AboutFrm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("AboutFrm"));
    setWindowTitle(QStringLiteral("About"));
    setWindowIcon(applicationIcon());
    setModal(false);
    setFixedSize(WindowSize);

    // About load: the name with the revision.
    auto *title = new QLabel(QStringLiteral("Tessary Configurator    Rev: ") + programRevision(), this);
    title->setObjectName(QStringLiteral("Label1"));
    title->setAlignment(Qt::AlignCenter);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);

    auto *webCaption = new QLabel(QStringLiteral("Web:"), this);
    webCaption->setObjectName(QStringLiteral("Label2"));
    auto *web = new LinkLabel(webAddress(), this);
    web->setObjectName(QStringLiteral("Label4"));
    auto *supportCaption = new QLabel(QStringLiteral("Support:"), this);
    supportCaption->setObjectName(QStringLiteral("Label3"));
    auto *support = new LinkLabel(supportAddress(), this);
    support->setObjectName(QStringLiteral("Label5"));
    webCaption->setBuddy(web);
    supportCaption->setBuddy(support);

    connect(web, &LinkLabel::clicked, this, [this] { m_openUrl(webUrl()); });
    connect(support, &LinkLabel::clicked, this, [this] { m_openUrl(supportUrl()); });

    auto *picture = new QFrame(this);
    picture->setObjectName(QStringLiteral("Picture1"));
    picture->setFrameShape(QFrame::StyledPanel);
    picture->setAutoFillBackground(true);
    QPalette picturePalette = picture->palette();
    picturePalette.setColor(QPalette::Window, Qt::white);
    picture->setPalette(picturePalette);
    auto *image = new QLabel(picture);
    image->setObjectName(QStringLiteral("Image1"));
    image->setAlignment(Qt::AlignCenter);
    image->setPixmap(renderSvg(QStringLiteral(":/logo.svg"), QSize(190, 68), devicePixelRatioF()));
    image->setAccessibleName(QStringLiteral("Tessary"));
    auto *pictureLayout = new QVBoxLayout(picture);
    pictureLayout->addWidget(image);

    // Each address on its own line below its caption: the window is narrow.
    auto *links = new QGridLayout;
    links->setVerticalSpacing(2);
    links->setColumnMinimumWidth(0, 12);
    links->addWidget(webCaption, 0, 0, 1, 2);
    links->addWidget(web, 1, 1);
    links->addItem(new QSpacerItem(0, 6), 2, 0);
    links->addWidget(supportCaption, 3, 0, 1, 2);
    links->addWidget(support, 4, 1);
    links->setColumnStretch(1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 12, 8, 10);
    layout->addWidget(title);
    layout->addSpacing(10);
    layout->addLayout(links);
    layout->addSpacing(10);
    layout->addWidget(picture, 1);
}

} // namespace tessary
