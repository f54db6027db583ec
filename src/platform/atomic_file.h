// Files the user relies on (settings, profiles, packages, the program's own files during an
// update) are replaced whole or not at all: the new content goes to a temporary file beside the
// target, is flushed to disk, and is renamed over the target only when every byte is written. A
// full disk or a crash midway leaves the old file as it was.
#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

enum class WriteMode {
    Binary, // the bytes as given
    Text,   // "\n" written as the system's line end (Windows: "\r\n"), as text files there have it
};

// False when any step fails; error (if given) then says which file and why, in a line for logs.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr,
                         WriteMode mode = WriteMode::Binary);

// The same with the content of the file at source, read in pieces, so a large file costs no
// more memory than a small one.
bool copyFileAtomically(const QString &source, const QString &path, QString *error = nullptr);

// Keeps what stands at path under the name backup (replaced if present), so that it can be put
// back with one rename: a second name where the file system has hard links (it costs nothing and
// takes the content along exactly), a copy elsewhere; a symbolic link is kept as a link.
bool keepOldFile(const QString &path, const QString &backup, QString *error = nullptr);

} // namespace platform
