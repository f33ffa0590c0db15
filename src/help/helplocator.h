#pragma once

#include <QString>
#include <QStringList>

namespace tessary {

// Finds the help pages. They are looked for in the "Help" folder under the
// application directory first (the current directory at start-up), then in
// the folders where an installation or a build puts them, so the program
// started from any folder still finds its help.
class HelpLocator {
public:
    // appDirectory ends with a separator, as AppState::AppDirectory does.
    explicit HelpLocator(QString appDirectory, QStringList fallbackHelpDirectories = defaultFallbacks());

    // The installed pages, then the Help folder beside the program (and where
    // a relocated installation keeps it), then the source tree's.
    [[nodiscard]] static QStringList defaultFallbacks();

    // Every index page looked for, in order.
    [[nodiscard]] QStringList candidates() const;
    // The first index page that exists; empty when there is none.
    [[nodiscard]] QString indexPath() const;

private:
    QString m_appDirectory;
    QStringList m_fallbacks;
};

} // namespace tessary
