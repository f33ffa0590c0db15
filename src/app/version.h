#pragma once

#include <QString>

namespace tessary {

// The release every program reports, from the build's project version.
[[nodiscard]] QString programVersion();

// What --version prints: the program, its release and the Qt it runs on
// (the library loaded, which a crash report needs, not the one built with):
// "tessary 2.3 (Qt 6.4.2)\n".
[[nodiscard]] QString versionText(const QString &program);

} // namespace tessary
