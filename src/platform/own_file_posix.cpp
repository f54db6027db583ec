#include "own_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

int openOwnFileForAppend(const QString &path, QString *error)
{
    const QByteArray native = QFile::encodeName(path);
    // O_NONBLOCK: a FIFO at the name must not hold the program up until it is refused below.
    const int fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                          0600);
    if (fd < 0) {
        const int code = errno;
        *error = code == ELOOP ? QStringLiteral("%1 is a link").arg(path)
                               : QStringLiteral("cannot open %1: %2").arg(path, systemError(code));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        *error = QStringLiteral("%1 is not a file of this user's own").arg(path);
        return -1;
    }
    // Writes to a regular file never block; the flag only guarded the open.
    ::fcntl(fd, F_SETFL, O_WRONLY | O_APPEND);
    return fd;
}

bool makePrivateFolder(const QString &path, QString *error)
{
    const QByteArray native = QFile::encodeName(path);
    const QString parent = QFileInfo(path).absolutePath();
    if (parent != path && !QDir().mkpath(parent)) {
        *error = QStringLiteral("cannot create %1").arg(parent);
        return false;
    }
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("cannot create %1: %2").arg(path, systemError(errno));
        return false;
    }
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 077) != 0) {
        *error = QStringLiteral("%1 is not a private folder of this user's own").arg(path);
        return false;
    }
    return true;
}

} // namespace platform
