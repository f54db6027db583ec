#include "crash_handler.h"

#include "crash_backend.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtDebug>

namespace platform {

QString setCrashReporter(const QString &name)
{
    const bool relative = QDir::isRelativePath(name);
    QString path = name;
    if (relative && !QFileInfo::exists(name)) {
        path = QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') + name +
                               crash_backend::executableSuffix());
    } else if (relative) {
        // Started at crash time, after the working directory may have changed.
        path = QFileInfo(name).absoluteFilePath();
    }
    // The message keeps the wording of earlier releases, which support scripts look for.
    if (relative)
        qDebug("BreakpadQt: setReporter: %s -> %s", qPrintable(name), qPrintable(path));
    if (!crash_backend::storeReporterPath(QFile::encodeName(path))) {
        qWarning("crash reporter path too long, no reporter will be started: %s", qPrintable(path));
        return QString();
    }
    return path;
}

QString crashReporterPath()
{
    return QFile::decodeName(crash_backend::storedReporterPath());
}

} // namespace platform
