#include "program_locations.h"

#include <QFile>
#include <QStandardPaths>

namespace platform {

QString executablePath()
{
    // The kernel's own link to the running image: no application object, argv[0] or PATH
    // search involved.
    return QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
}

QString instanceChannelName(const QString &bareName)
{
    // A bare name would land in the shared temporary folder.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    // Without a usable private folder (one owned by someone else), Qt's own place for the bare
    // name is still better than the file system's root.
    return folder.isEmpty() ? bareName : folder + QLatin1Char('/') + bareName;
}

} // namespace platform
