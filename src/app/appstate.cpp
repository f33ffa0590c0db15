#include "app/appstate.h"

#include <QDir>

namespace tessary {

void AppState::initialise(const QString &currentDirectory)
{
    AppDirectory = QDir::cleanPath(currentDirectory);
    if (!AppDirectory.endsWith(QLatin1Char('/')))
        AppDirectory += QLatin1Char('/');
}

} // namespace tessary
