// Files the user relies on (settings, profiles, packages, the program's own files during an
// update) are replaced whole or not at all: the new content goes to a temporary file beside the
// target, is flushed to disk, and is renamed over the target only when every byte is written. A
// full disk or a crash midway leaves the old file as it was.
#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// False when any step fails; error (if given) then says which file and why, in a line for logs.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr);

// The same with the content of the file at source, read in pieces, so a large file costs no
// more memory than a small one.
bool copyFileAtomically(const QString &source, const QString &path, QString *error = nullptr);

} // namespace platform
