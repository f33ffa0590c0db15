#include "shell/appstate.h"

#include <QDir>

namespace tessary {

void AppState::initialise(const QString &currentDirectory)
{
    ESC = QByteArray(1, char(27));
    GS = QByteArray(1, char(29));
    CAN = QByteArray(1, char(24));
    AppDirectory = QDir::cleanPath(currentDirectory);
    if (!AppDirectory.endsWith(QLatin1Char('/')))
        AppDirectory += QLatin1Char('/');
}

} // namespace tessary
