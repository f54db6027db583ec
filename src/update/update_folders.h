// Where update data lives: tupdates/ under the application directory, one folder per package
// kind ("client", "html", "firmware") with the downloaded package file, temp/ while unpacking
// and ready/ once a package waits for installation.
#pragma once

#include <QString>

namespace UpdateFolders {

// applicationDir without a trailing "/".
QString root(const QString &applicationDir);
QString kindFolder(const QString &applicationDir, const QString &kind);
QString temp(const QString &applicationDir, const QString &kind);
QString ready(const QString &applicationDir, const QString &kind);

// Deletes a folder with everything in it, silently; true when nothing is left of it.
bool removeTree(const QString &path);

// A path below a folder, written with "/" and without empty, "." or ".." parts: what a package,
// a journal or a record may name. Anything else was not written by us.
bool isCleanRelativePath(const QString &relative);

} // namespace UpdateFolders
