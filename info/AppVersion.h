#pragma once
// The program's version as the windows show it, from the build's project version.

#include <QString>

namespace sequora {

inline constexpr int kVersionMajor = SEQUORA_VERSION_MAJOR;
inline constexpr int kVersionMinor = SEQUORA_VERSION_MINOR;
inline constexpr int kVersionRevision = SEQUORA_VERSION_PATCH;

/// "major.minor.revision" in plain decimal, e.g. "1.1.4".
inline QString versionNumbers()
{
    return QStringLiteral("%1.%2.%3")
        .arg(QString::number(kVersionMajor), QString::number(kVersionMinor),
             QString::number(kVersionRevision));
}

} // namespace sequora
