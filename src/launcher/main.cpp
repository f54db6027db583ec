// /usr/bin/vexa: brings the user's own application folder up to the installed package, then
// becomes the vexa in it with every argument passed through.
#include "user_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

// A first start copies some hundred megabytes; far less than this.
constexpr int kLockWaitMs = 10000;

void complain(const QString &text)
{
    std::fprintf(stderr, "vexa: %s\n", text.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char *argv[])
{
    // The package's folder sits at ../lib/vexa from the launcher, wherever the tree was unpacked.
    const QString self = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    const QString pristine = QDir::cleanPath(QFileInfo(self).absolutePath() + QStringLiteral("/../lib/vexa"));
    const QString user = launcher::userFolderLocation();

    // What the user's folder holds is executed: a folder others may write to would let them
    // run code as this user.
    const QString parent = QFileInfo(user).absolutePath();
    QDir().mkpath(parent);
    QString refusal = launcher::folderRefusal(parent, launcher::FolderUse::Parent);
    if (refusal.isEmpty() && QFileInfo::exists(user))
        refusal = launcher::folderRefusal(user, launcher::FolderUse::Copy);
    if (!refusal.isEmpty()) {
        complain(refusal);
        return 1;
    }

    // Two starts at once (a double click) must not copy over each other; the second then finds
    // the folder ready. The lock ends with exec; a start that holds it longer is stuck.
    QString lockError;
    const int lock = launcher::takeLauncherLock(parent + QStringLiteral("/.vexa-launcher.lock"), kLockWaitMs, &lockError);
    if (lock < 0) {
        complain(lockError);
        return 1;
    }

    const launcher::Preparation prepared = launcher::prepareUserFolder(pristine, user);
    if (prepared.result == launcher::Preparation::Failed)
        complain(prepared.error);
    else if (prepared.result == launcher::Preparation::Busy)
        complain(QStringLiteral("a newer package is installed; it takes over after vexa has ended"));

    refusal = launcher::folderRefusal(user, launcher::FolderUse::Copy);
    if (!refusal.isEmpty()) {
        complain(refusal);
        return 1;
    }
    const QByteArray program = QFile::encodeName(user + QStringLiteral("/vexa"));
    if (::access(program.constData(), X_OK) != 0) {
        complain(QStringLiteral("%1 cannot be started").arg(QFile::decodeName(program)));
        return 1;
    }
    // The program names the launcher in its autostart entry, so that a log-in start also
    // brings the folder up to the package. Its runtime log lands in its working directory.
    ::setenv("VEXA_LAUNCHER", QFile::encodeName(self).constData(), 1);
    if (::chdir(QFile::encodeName(user).constData()) != 0)
        complain(QStringLiteral("cannot enter %1").arg(user));

    std::vector<char *> arguments;
    arguments.push_back(const_cast<char *>(program.constData()));
    for (int i = 1; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    ::execv(program.constData(), arguments.data());
    complain(QStringLiteral("cannot start %1: %2").arg(QFile::decodeName(program), QString::fromLocal8Bit(std::strerror(errno))));
    return 1;
}
