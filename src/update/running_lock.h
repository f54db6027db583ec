// The lock that says "vexa is running in this application directory". vexa holds it from start
// to exit; the installer takes it before it replaces any file, so it waits exactly as long as
// vexa lives, however long that is, and a crashed vexa lets go at once (the system drops the
// lock with the process). The lock is never inherited by programs started while it is held.
//
// The lock file is <application directory>/vexa.lock. It stays out of tupdates/, whose plain
// files the downloaders delete: a lock on a deleted file no longer keeps anyone out.
//
// This file is also compiled into the installer program, so it needs Qt Core alone.
#pragma once

#include <QString>

class RunningLock {
public:
    RunningLock() = default;
    ~RunningLock();
    RunningLock(const RunningLock &) = delete;
    RunningLock &operator=(const RunningLock &) = delete;

    static QString path(const QString &applicationDir);

    // Takes the lock of applicationDir if nobody holds it; false with a reason otherwise.
    bool tryHold(const QString &applicationDir, QString *error = nullptr);
    // Blocks until the lock is free, then takes it; false only when the lock file cannot be used.
    bool waitAndHold(const QString &applicationDir, QString *error = nullptr);
    void release();
    bool isHeld() const;

    // For the application: holds the lock of applicationDir until the process ends. Call it once
    // the process knows it is the one instance; false (with a reason) when another holder has it
    // or the folder does not allow the file, in which case an installer would not wait for us.
    static bool holdForLifetime(const QString &applicationDir, QString *error = nullptr);

private:
    bool hold(const QString &applicationDir, bool wait, QString *error);

    qintptr m_handle = -1;
};
