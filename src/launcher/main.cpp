// /usr/bin/vexa: brings the user's own application folder up to the installed package, then
// becomes the vexa in it with every argument passed through.
#include "desktop_notice.h"
#include "user_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

// A first start copies some hundred megabytes; far less than this.
constexpr int kLockWaitMs = 10000;

enum class Tell {
    OnlyStandardError,
    NotStarted,    // vexa does not start
    NotRefreshed,  // vexa starts, but not brought up to the package
};

// Started from the desktop's menu, the launcher has nobody reading its standard error: what
// keeps vexa from starting, or from being brought up to the package, is also shown as a
// notification of the desktop.
void complain(const QString &text, Tell tell = Tell::NotStarted)
{
    std::fprintf(stderr, "vexa: %s\n", text.toLocal8Bit().constData());
    if (tell == Tell::NotStarted)
        launcher::showDesktopNotice(QStringLiteral("vexa did not start"), text, true);
    else if (tell == Tell::NotRefreshed)
        launcher::showDesktopNotice(QStringLiteral("vexa was not brought up to the installed version"), text, false);
}

} // namespace

int main(int argc, char *argv[])
{
    // The package's folder sits at ../lib/vexa from the launcher, wherever the tree was unpacked.
    const QString self = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    QString pristine = QDir::cleanPath(QFileInfo(self).absolutePath() + QStringLiteral("/../lib/vexa"));

    // What the user's folder holds is executed, and so is what is copied into it from the
    // package's: a folder others may write to, here or anywhere above, would let them run code
    // as this user. Each folder is checked through the descriptor it is then used by.
    const QString data = QFileInfo(launcher::userFolderLocation()).absolutePath();
    QDir().mkpath(data);
    QString refusal;
    QString parent;
    const int parentFd = launcher::openTrustedFolder(data, launcher::FolderUse::Parent, &parent, &refusal);
    QString packageFolder;
    const int packageFd =
        parentFd < 0 ? -1 : launcher::openTrustedFolder(pristine, launcher::FolderUse::Package, &packageFolder, &refusal);
    if (parentFd < 0 || packageFd < 0) {
        complain(refusal);
        return 1;
    }
    ::close(packageFd);
    pristine = packageFolder;
    // Below a folder that only root and the user may change, the path leads where the checks
    // were made for as long as the launcher runs.
    const QString user = parent + QStringLiteral("/vexa");
    struct stat st {};
    if (::fstatat(parentFd, "vexa", &st, AT_SYMLINK_NOFOLLOW) == 0) {
        const int existing = launcher::openCopy(parentFd, QStringLiteral("vexa"), user, &refusal);
        if (existing < 0) {
            complain(refusal);
            return 1;
        }
        ::close(existing);
    }

    // Two starts at once (a double click) must not copy over each other; the second then finds
    // the folder ready. The lock ends with exec; a start that holds it longer is stuck.
    QString lockError;
    const int lock = launcher::takeLauncherLock(parent + QStringLiteral("/.vexa-launcher.lock"), kLockWaitMs, &lockError);
    if (lock < 0) {
        complain(lockError);
        return 1;
    }

    // A refresh that fails leaves the copy as it was (it is made aside and swapped in whole), so
    // the user's vexa still starts, and the user learns why it is not the package's.
    const launcher::Preparation prepared = launcher::prepareUserFolder(pristine, user);
    if (prepared.result == launcher::Preparation::Failed)
        complain(QStringLiteral("%1. %2")
                     .arg(prepared.error,
                          QFileInfo::exists(user) ? QStringLiteral("The vexa you had starts unchanged; the next start tries again.")
                                                  : QStringLiteral("There is no copy of vexa to start yet.")),
                 QFileInfo::exists(user) ? Tell::NotRefreshed : Tell::NotStarted);
    else if (prepared.result == launcher::Preparation::Busy)
        complain(QStringLiteral("a newer package is installed; it takes over after vexa has ended"), Tell::OnlyStandardError);

    const int copy = launcher::openCopy(parentFd, QStringLiteral("vexa"), user, &refusal);
    const int program = copy < 0 ? -1 : launcher::openProgram(copy, QStringLiteral("vexa"), user + QStringLiteral("/vexa"), &refusal);
    if (program < 0) {
        complain(refusal);
        return 1;
    }
    // The program names the launcher in its autostart entry, so that a log-in start also
    // brings the folder up to the package.
    ::setenv("VEXA_LAUNCHER", QFile::encodeName(self).constData(), 1);
    if (::fchdir(copy) != 0)
        complain(QStringLiteral("cannot enter %1").arg(user), Tell::OnlyStandardError);

    const QByteArray name = QFile::encodeName(user + QStringLiteral("/vexa"));
    std::vector<char *> arguments;
    arguments.push_back(const_cast<char *>(name.constData()));
    for (int i = 1; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    // Exactly the file checked above, whatever its path leads to by now.
    ::fexecve(program, arguments.data(), environ);
    complain(QStringLiteral("cannot start %1: %2").arg(QFile::decodeName(name), QString::fromLocal8Bit(std::strerror(errno))));
    return 1;
}
