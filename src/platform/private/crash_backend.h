// What the shared part of crash reporting needs from each operating system's backend.
#pragma once

#include <QByteArray>
#include <QString>

namespace platform::crash_backend {

// Appended to a reporter name that is resolved beside the program (".exe" on Windows).
QString executableSuffix();
// Keeps the reporter's path (Qt's file-name encoding) where the crash path can read it without
// allocating. Answers false, keeping nothing, when it does not fit.
bool storeReporterPath(const QByteArray &encodedPath);
QByteArray storedReporterPath();

} // namespace platform::crash_backend
