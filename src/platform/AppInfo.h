#pragma once

#include <QString>

namespace AppInfo {
inline const QString title = QStringLiteral("Brennwerk-Editor v2.3");
inline const QString name = QStringLiteral("Brennwerk-Editor");
inline const QString version = QStringLiteral("2.3");
} // namespace AppInfo
