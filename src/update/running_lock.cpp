#include "running_lock.h"

RunningLock::~RunningLock()
{
    release();
}

QString RunningLock::path(const QString &applicationDir)
{
    return applicationDir + QStringLiteral("/vexa.lock");
}

bool RunningLock::tryHold(const QString &applicationDir, QString *error)
{
    return hold(applicationDir, false, error);
}

bool RunningLock::waitAndHold(const QString &applicationDir, QString *error)
{
    return hold(applicationDir, true, error);
}

bool RunningLock::isHeld() const
{
    return m_handle != -1;
}

bool RunningLock::holdForLifetime(const QString &applicationDir, QString *error)
{
    // Never destroyed: the system lets go of the lock when the process ends, however it ends.
    static RunningLock *lock = new RunningLock;
    return lock->isHeld() || lock->tryHold(applicationDir, error);
}
