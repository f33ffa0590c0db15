#include "app/version.h"

#include <QtGlobal>

namespace tessary {

QString programVersion() { return QStringLiteral(TESSARY_VERSION); }

QString versionText(const QString &program)
{
    return QStringLiteral("%1 %2 (Qt %3)\n").arg(program, programVersion(), QLatin1String(qVersion()));
}

} // namespace tessary
