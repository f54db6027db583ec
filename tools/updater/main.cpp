// Updater -update [-version V] [-restart], started by vexa as it exits, with the application folder
// as working folder.
//
// 1. Waits until vexa has ended: it takes vexa's running lock (<application folder>/vexa.lock),
//    which vexa holds for as long as it lives, so there is no guessing how long the exit takes.
// 2. Installs tupdates/client/ready over the application folder, every file or none (installer.h),
//    and removes the ready folder once everything is in place. After a failure the ready folder
//    stays for the next attempt and the reason is in updater.log.
// 3. With -version, and only once every file is in place, records V as the installed client's
//    version in the settings file (where the file keeps one): a version recorded any earlier
//    would name a program that a rollback or a failed start never put there.
// 4. Lets go of the lock. With -restart (the user chose "Restart Now") it starts vexa again in
//    the application folder, on the new files or, after a failure, on the old ones, so the user
//    is not left without the program. Without it vexa was quit for another reason (the tray,
//    the session's end) and stays ended.
//
// Exit code: 0 installed (or nothing to install), 1 not installed, 2 wrong arguments.
#include "detached_process.h"
#include "installer.h"
#include "running_lock.h"
#include "update_folders.h"
#include "updater_log.h"
#include "user_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

void startVexa(const QString &applicationDir, UpdaterLog &log)
{
    platform::DetachedProgram vexa;
    vexa.program = applicationDir + QStringLiteral("/" VEXA_PROGRAM_NAME);
    vexa.workingDirectory = applicationDir;
    // vexa outlives us; it must not write into whatever console or pipe we were given, nor keep
    // any other descriptor we were handed.
    vexa.discardOutput = true;
    qint64 pid = 0;
    QString why;
    if (platform::startDetached(vexa, &pid, &why))
        log.write(QStringLiteral("started %1 (process %2)").arg(vexa.program).arg(pid));
    else
        log.write(QStringLiteral("could not start %1: %2").arg(vexa.program, why));
}

struct Arguments {
    bool update = false;
    bool restart = false;
    QString version;
};

bool parse(const QStringList &arguments, Arguments *parsed)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("-update"))
            parsed->update = true;
        else if (argument == QLatin1String("-restart"))
            parsed->restart = true;
        else if (argument == QLatin1String("-version") && (i + 1 == arguments.size() || arguments.at(i + 1).isEmpty()))
            return false;
        else if (argument == QLatin1String("-version"))
            parsed->version = arguments.at(++i);
        // Anything else is ignored: a newer vexa may ask more than this installer knows.
    }
    return parsed->update;
}

void recordVersion(const QString &applicationDir, const QString &version, UpdaterLog &log)
{
    QString why;
    switch (userFiles::setClientVersion(applicationDir, version, &why)) {
    case userFiles::VersionRecord::Recorded:
        log.write(QStringLiteral("recorded client version %1").arg(version));
        break;
    case userFiles::VersionRecord::NotKept:
        log.write(QStringLiteral("client version %1 not recorded: the settings keep no version").arg(version));
        break;
    case userFiles::VersionRecord::Failed:
        log.write(QStringLiteral("client version %1 not recorded: %2").arg(version, why));
        break;
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Arguments arguments;
    if (!parse(app.arguments(), &arguments)) {
        std::fputs("usage: Updater -update [-version VERSION] [-restart]\n"
                   "Run in the application folder after vexa has been asked to quit; installs\n"
                   "tupdates/client/ready, records VERSION as the client's and, with -restart,\n"
                   "starts vexa again.\n",
                   stderr);
        return 2;
    }

    const QString applicationDir = QDir::currentPath();
    UpdaterLog log(applicationDir + QStringLiteral("/updater.log"));
    log.write(QStringLiteral("installer started in %1").arg(applicationDir));
    const auto restartVexa = [&] {
        if (arguments.restart)
            startVexa(applicationDir, log);
        else
            log.write(QStringLiteral("vexa not started again: it was not asked for"));
    };

    RunningLock lock;
    QString why;
    if (!lock.tryHold(applicationDir, &why)) {
        log.write(QStringLiteral("waiting for vexa to end (%1)").arg(why));
        if (!lock.waitAndHold(applicationDir, &why)) {
            // Without the lock there is no knowing whether vexa still runs from these files.
            log.write(QStringLiteral("nothing installed: %1").arg(why));
            restartVexa();
            return 1;
        }
    }

    const QString ready = UpdateFolders::ready(applicationDir, QStringLiteral("client"));
    int status = 0;
    if (!QFileInfo(ready).isDir()) {
        log.write(QStringLiteral("nothing to install: %1 does not exist").arg(ready));
    } else {
        Installer installer(applicationDir, ready, [&log](const QString &line) { log.write(line); });
        if (installer.install()) {
            log.write(QStringLiteral("installed %1 files from %2").arg(installer.installedCount()).arg(ready));
            if (!UpdateFolders::removeTree(ready))
                log.write(QStringLiteral("could not remove %1").arg(ready));
            if (!arguments.version.isEmpty())
                recordVersion(applicationDir, arguments.version, log);
        } else {
            log.write(QStringLiteral("nothing installed: %1").arg(installer.error()));
            status = 1;
        }
    }

    // Free before vexa starts: the new vexa takes the lock itself, and must get it.
    lock.release();
    restartVexa();
    return status;
}
