// Paths handed to the program from outside (the page, a file dialog, the command line) may name
// a FIFO, a device or a socket. Opening one of those can block for ever, and replacing one by
// rename turns it into a plain file; so only regular files are read or replaced through these.
#pragma once

#include <QByteArray>
#include <QString>

namespace RegularFile {

enum class Kind {
    Absent,  // nothing there: a write may create it
    Regular, // a regular file, the path's last component not a symbolic link
    Other,   // a folder, FIFO, device, socket, or a symbolic link (which is not followed)
};

// What the path itself names; a symbolic link is reported as Other whatever it points to.
Kind kindAt(const QString &path);

// The whole file, with "\r\n" read as "\n" when textMode is set. False, without waiting, when the
// path (symbolic links followed) is not a regular file, cannot be opened, or holds more than
// maxBytes.
bool read(const QString &path, qint64 maxBytes, bool textMode, QByteArray *bytes);

} // namespace RegularFile
