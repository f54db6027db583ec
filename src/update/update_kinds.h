// The package kinds an update offer names. Each has its own folder under tupdates/
// (update_folders.h) and its own downloader in the update dialog.
#pragma once

#include <QString>

namespace UpdateKinds {

inline const QString kClient = QStringLiteral("client");
inline const QString kHtml = QStringLiteral("html");
inline const QString kFirmware = QStringLiteral("firmware");

} // namespace UpdateKinds
