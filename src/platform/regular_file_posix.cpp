#include "regular_file.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RegularFile {

Kind kindAt(const QString &path)
{
    struct stat status;
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return errno == ENOENT ? Kind::Absent : Kind::Other;
    return S_ISREG(status.st_mode) ? Kind::Regular : Kind::Other;
}

bool read(const QString &path, qint64 maxBytes, bool textMode, QByteArray *bytes)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat status;
    // Looked at before opening: opening a device can act on it, opening a FIFO waits for a writer.
    if (native.contains('\0') || ::stat(native.constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    // Non-blocking all the same, in case something else took the path's place in between.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > maxBytes) {
        ::close(fd);
        return false;
    }
    QFile file;
    const QIODevice::OpenMode mode = textMode ? QIODevice::ReadOnly | QIODevice::Text : QIODevice::ReadOnly;
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    // One byte more than allowed tells a file that grew after fstat.
    QByteArray content = file.read(maxBytes + 1);
    if (content.size() > maxBytes || file.error() != QFileDevice::NoError)
        return false;
    *bytes = content;
    return true;
}

} // namespace RegularFile
