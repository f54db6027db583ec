#include "program_locations.h"

#include <QDir>
#include <QStandardPaths>

namespace platform {

QString documentsFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QDir().mkpath(documents) ? documents : QString();
}

} // namespace platform
