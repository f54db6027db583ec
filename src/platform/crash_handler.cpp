#include "crash_handler.h"

#include "crash_backend.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtDebug>

namespace platform {

namespace {

// Tried rather than judged from the mode bits: root passes every permission check, and a
// read-only mount or a full disk says no only when asked to write.
bool canCreateFilesIn(const QString &folder)
{
    QTemporaryFile probe(folder + QStringLiteral("/.vexa-dump-probe-XXXXXX"));
    return probe.open();
}

} // namespace

QString chooseDumpFolder(const QString &preferred)
{
    if (canCreateFilesIn(preferred))
        return preferred;
    const QString fallback =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/vexa/crashes");
    QDir().mkpath(fallback);
    // A dump holds whatever the program had in memory: the user's alone.
    QFile::setPermissions(fallback, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!canCreateFilesIn(fallback)) {
        qWarning("crash dumps: neither %s nor %s can be written; a crash still starts the reporter",
                 qPrintable(preferred), qPrintable(fallback));
        return preferred;
    }
    qWarning("crash dumps go to %s: %s cannot be written", qPrintable(fallback), qPrintable(preferred));
    return fallback;
}

CrashReadyThread::CrashReadyThread(QObject *parent) : QThread(parent)
{
    // started() is emitted on the new thread before run(), and slots run in the order they were
    // connected: this one, connected first, runs before any other code there.
    connect(this, &QThread::started, this, [] { prepareThreadForCrashes(); }, Qt::DirectConnection);
}

QString setCrashReporter(const QString &name)
{
    const bool relative = QDir::isRelativePath(name);
    // Never the current directory: it is wherever the user happened to start us, and a program
    // of that name there is not ours to run with the dump of our memory.
    const QString path = relative ? QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                                                    name + crash_backend::executableSuffix())
                                  : name;
    // The message keeps the wording of earlier releases, which support scripts look for.
    if (relative)
        qDebug("BreakpadQt: setReporter: %s -> %s", qPrintable(name), qPrintable(path));
    if (!crash_backend::storeReporterPath(QFile::encodeName(path))) {
        qWarning("crash reporter path too long, no reporter will be started: %s", qPrintable(path));
        return QString();
    }
    // Said now, once, where someone reads it; the crash path then passes over a reporter that is
    // still not there without a word.
    const QFileInfo program(path);
    if (!program.isFile() || !program.isExecutable())
        qWarning("crash reporter missing: %s; a crash leaves a dump but starts no reporter", qPrintable(path));
    return path;
}

QString crashReporterPath()
{
    return QFile::decodeName(crash_backend::storedReporterPath());
}

} // namespace platform
