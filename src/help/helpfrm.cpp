#include "help/helpfrm.h"

#include "app/keyboardhabits.h"
#include "app/shownwindow.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace tessary {

Helpfrm *Helpfrm::showHelp(QWidget *mainWindow, const HelpLocator &locator)
{
    Helpfrm *help = shownWindow<Helpfrm>(mainWindow);
    const bool created = !help;
    if (created) {
        help = new Helpfrm(mainWindow);
        help->setAttribute(Qt::WA_DeleteOnClose);
    }
    help->setIndexPage(locator.indexPath(), locator.candidates());
    help->show();
    if (created)
        centreOnScreen(help);
    help->raise();
    help->activateWindow();
    return help;
}

Helpfrm::Helpfrm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Helpfrm"));
    setWindowTitle(QStringLiteral("Tessary Configurator Help"));
    setWindowIcon(applicationIcon());
    setModal(false);
    setFixedSize(WindowSize);

    m_indexButton = new QPushButton(QStringLiteral("Index"), this);
    m_indexButton->setObjectName(QStringLiteral("Index"));
    m_indexButton->setAutoDefault(false);
    connect(m_indexButton, &QPushButton::clicked, this, &Helpfrm::showIndex);
    applyKeyboardHabits(this);

    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("WebBrowser"));
    m_browser->setAccessibleName(QStringLiteral("Help page"));
    // Links are ours to follow: local pages in the view, the rest outside.
    m_browser->setOpenLinks(false);
    m_browser->setOpenExternalLinks(false);
    connect(m_browser, &QTextBrowser::anchorClicked, this, &Helpfrm::followLink);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_indexButton);
    buttons->addStretch(1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->addLayout(buttons);
    layout->addWidget(m_browser, 1);
}

void Helpfrm::setIndexPage(const QString &indexPath, const QStringList &searched)
{
    m_index = indexPath.isEmpty() ? QUrl() : QUrl::fromLocalFile(indexPath);
    m_searched = searched;
    showIndex();
}

void Helpfrm::showIndex()
{
    if (m_index.isEmpty()) {
        showMissingHelp();
        return;
    }
    // Contents and Index always show the index page afresh.
    if (m_browser->source() == m_index)
        m_browser->reload();
    else
        m_browser->setSource(m_index);
}

QUrl Helpfrm::currentPage() const { return m_browser->source(); }

void Helpfrm::followLink(const QUrl &link)
{
    const QUrl target = m_browser->source().resolved(link);
    if (target.isLocalFile()) {
        m_browser->setSource(target);
        return;
    }
    const QString scheme = target.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("mailto"))
        m_openUrl(target);
    // Anything else (a relative link on the notice page, an unknown scheme)
    // is not followed.
}

void Helpfrm::showMissingHelp()
{
    QString html = QStringLiteral("<h2>Help pages not found</h2>"
                                  "<p>The help pages of Tessary Configurator are not installed where "
                                  "the program looks for them:</p><ul>");
    for (const QString &page : std::as_const(m_searched))
        html += QStringLiteral("<li>") + page.toHtmlEscaped() + QStringLiteral("</li>");
    html += QStringLiteral("</ul><p>Reinstall the program, or start it from the folder that holds "
                           "the <b>Help</b> folder.</p>");
    m_browser->setHtml(html);
}

} // namespace tessary
