#include "update_folders.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>

namespace UpdateFolders {

QString root(const QString &applicationDir)
{
    return applicationDir + QStringLiteral("/tupdates");
}

QString kindFolder(const QString &applicationDir, const QString &kind)
{
    return root(applicationDir) + QLatin1Char('/') + kind;
}

QString temp(const QString &applicationDir, const QString &kind)
{
    return kindFolder(applicationDir, kind) + QStringLiteral("/temp");
}

QString ready(const QString &applicationDir, const QString &kind)
{
    return kindFolder(applicationDir, kind) + QStringLiteral("/ready");
}

bool removeTree(const QString &path)
{
    // removeRecursively does not follow links out of the tree: a link is removed, not its target.
    QDir(path).removeRecursively();
    return !QFileInfo::exists(path);
}

bool isCleanRelativePath(const QString &relative)
{
    if (relative.isEmpty() || QDir::isAbsolutePath(relative) || relative.contains(QLatin1Char('\\')))
        return false;
    const QStringList parts = relative.split(QLatin1Char('/'));
    return std::none_of(parts.begin(), parts.end(), [](const QString &part) {
        return part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..");
    });
}

} // namespace UpdateFolders
