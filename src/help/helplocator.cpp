#include "help/helplocator.h"

#include "tessary_helpdirs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace tessary {

HelpLocator::HelpLocator(QString appDirectory, QStringList fallbackHelpDirectories)
    : m_appDirectory(std::move(appDirectory)), m_fallbacks(std::move(fallbackHelpDirectories))
{
}

QStringList HelpLocator::defaultFallbacks()
{
    QStringList folders{QStringLiteral(TESSARY_HELP_INSTALL_DIR)};
    if (QCoreApplication::instance()) {
        const QString programDir = QCoreApplication::applicationDirPath();
        folders << programDir + QStringLiteral("/Help")
                << programDir + QStringLiteral("/../share/tessary-configurator/Help");
    }
    folders << QStringLiteral(TESSARY_HELP_SOURCE_DIR);
    return folders;
}

QStringList HelpLocator::candidates() const
{
    QStringList pages;
    auto add = [&pages](const QString &page) {
        const QString clean = QDir::cleanPath(page);
        if (!pages.contains(clean))
            pages << clean;
    };
    if (!m_appDirectory.isEmpty())
        add(m_appDirectory + QStringLiteral("/Help/index.html"));
    for (const QString &folder : m_fallbacks) {
        if (!folder.isEmpty())
            add(folder + QStringLiteral("/index.html"));
    }
    return pages;
}

QString HelpLocator::indexPath() const
{
    for (const QString &page : candidates()) {
        if (QFileInfo(page).isFile())
            return QFileInfo(page).absoluteFilePath();
    }
    return {};
}

} // namespace tessary
