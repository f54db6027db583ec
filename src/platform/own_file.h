// Files the program keeps for itself in a folder others might reach (its log): whoever could
// put a link or a file of theirs at the name would otherwise have the program write into a file
// of their choosing, with the program's rights.
#pragma once

#include <QString>

namespace platform {

// Opens path for appending, creating it private (0600): never through a symbolic link, never
// a file that is not a regular file of this user's own, never handed to a program started
// later (closed on exec). The descriptor, or -1 with *error (a line for logs).
int openOwnFileForAppend(const QString &path, QString *error);

// Makes path (and the folders above it) when missing; true when it is then a real folder of this
// user's own that nobody else may enter (a folder it made is 0700).
bool makePrivateFolder(const QString &path, QString *error);

} // namespace platform
