#include "install_rights.h"

#include "update_folders.h"
#include "user_files.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>
#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

bool fail(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return false;
}

// A file made and removed again: the one test that also meets read-only mounts, immutable
// folders and whatever else the mode bits do not show.
bool takesNewFiles(const QString &folder, QString *why)
{
    QTemporaryFile trial(folder + QStringLiteral("/.vexa-write-test-XXXXXX"));
    if (!trial.open())
        return fail(why, QStringLiteral("no file can be made in %1: %2").arg(folder, trial.errorString()));
    trial.close();
    if (!trial.remove())
        return fail(why, QStringLiteral("no file can be removed from %1: %2").arg(folder, trial.errorString()));
    return true;
}

bool writable(const QString &file, QString *why)
{
#ifdef Q_OS_WIN
    if (QFileInfo(file).isWritable())
        return true;
    return fail(why, QStringLiteral("%1 may not be changed").arg(file));
#else
    // The system's answer for this process: root passes mode bits, not a read-only mount.
    if (::access(QFile::encodeName(file).constData(), W_OK) == 0)
        return true;
    const int error = errno;
    return fail(why, QStringLiteral("%1 may not be changed: %2").arg(file, QString::fromLocal8Bit(std::strerror(error))));
#endif
}

} // namespace

bool applicationFolderWritable(const QString &applicationDir, QString *why)
{
    const QString folder = QDir::cleanPath(applicationDir);
    if (!QFileInfo(folder).isDir())
        return fail(why, QStringLiteral("%1 is not a folder").arg(folder));
    if (!takesNewFiles(folder, why))
        return false;

    // A link is replaced, not written through, so only plain files count.
    for (const QFileInfo &file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks))
        if (!writable(file.filePath(), why))
            return false;

    const QString ready = UpdateFolders::ready(folder, QStringLiteral("client"));
    QSet<QString> folders;
    QDirIterator walk(ready, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QString relative = QDir(ready).relativeFilePath(walk.next());
        // The user's files are kept, and the settings merged and renamed into place: neither is
        // written itself, but the merge needs its folder.
        const bool kept = userFiles::keepsUsersCopy(relative, folder);
        if (kept && relative != QLatin1String(userFiles::kSettingsFile))
            continue;
        const QFileInfo target(folder + QLatin1Char('/') + relative);
        if (!kept && target.isFile() && !target.isSymLink() && !writable(target.filePath(), why))
            return false;
        // The nearest folder that exists receives the file, or the folders made for it.
        QString receiving = target.path();
        while (!QFileInfo(receiving).isDir() && receiving != folder)
            receiving = QFileInfo(receiving).path();
        folders.insert(receiving);
    }
    folders.remove(folder);
    for (const QString &receiving : qAsConst(folders))
        if (!takesNewFiles(receiving, why))
            return false;
    return true;
}

bool installedByPackageManager(const QString &applicationDir, const QString &dpkgList)
{
    const QFileInfo info(applicationDir);
    const QString folder = QDir::cleanPath(info.absoluteFilePath());
    const QString canonical = info.canonicalFilePath();
    const QString pristine = QStringLiteral("/usr/lib/vexa");
    if (folder == pristine || canonical == pristine)
        return true;

    QFile list(dpkgList);
    if (!list.open(QIODevice::ReadOnly))
        return false;
    const QString program = QStringLiteral("/" VEXA_PROGRAM_NAME);
    while (!list.atEnd()) {
        const QString listed = QFile::decodeName(list.readLine().trimmed());
        if (listed == folder + program || (!canonical.isEmpty() && listed == canonical + program))
            return true;
    }
    return false;
}
