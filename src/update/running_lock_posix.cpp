#include "running_lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QFile>

bool RunningLock::hold(const QString &applicationDir, bool wait, QString *error)
{
    release();
    const QString file = path(applicationDir);
    // O_CLOEXEC: a program started while we hold the lock (the browser's sub-processes, the
    // installer itself) must not keep it alive after we end.
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("cannot open %1: %2").arg(file, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    int result;
    do {
        result = ::flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int lockError = errno;
        ::close(fd);
        if (error)
            *error = lockError == EWOULDBLOCK
                         ? QStringLiteral("%1 is held by a running vexa").arg(file)
                         : QStringLiteral("cannot lock %1: %2").arg(file, QString::fromLocal8Bit(std::strerror(lockError)));
        return false;
    }
    m_handle = fd;
    return true;
}

void RunningLock::release()
{
    if (m_handle >= 0)
        ::close(static_cast<int>(m_handle));
    m_handle = -1;
}
