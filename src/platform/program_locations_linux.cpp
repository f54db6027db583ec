#include "program_locations.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

QString executablePath()
{
    // The kernel's own link to the running image: no application object, argv[0] or PATH
    // search involved.
    return QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
}

namespace {

// A folder only this user may enter: a real folder (a link could be turned elsewhere by whoever
// made it), the user's own, with no rights for group or others.
bool isPrivateFolder(const QByteArray &path, bool followLink)
{
    struct stat st {};
    const int found = followLink ? ::stat(path.constData(), &st) : ::lstat(path.constData(), &st);
    return found == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// Creates path as a private folder, or takes it when it already is one of this user's.
bool claimFolder(const QByteArray &path)
{
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    return isPrivateFolder(path, false);
}

} // namespace

QString runtimeFolder()
{
    // The session's own folder is trusted to be where it says, but not to be private.
    const QByteArray session = qgetenv("XDG_RUNTIME_DIR");
    if (!session.isEmpty() && session.startsWith('/') && isPrivateFolder(session, true))
        return QFile::decodeName(session);

    // The shared temporary folder: whoever comes first may have taken a name. A few fixed names
    // keep two starts of this user in the same folder; if all are taken, one nobody can guess.
    const QByteArray base = QFile::encodeName(QDir::tempPath()) + "/vexa-runtime-" + QByteArray::number(::geteuid());
    for (int n = 0; n < 8; ++n) {
        const QByteArray path = n == 0 ? base : base + '-' + QByteArray::number(n);
        if (claimFolder(path))
            return QFile::decodeName(path);
    }
    QByteArray pattern = base + "-XXXXXX";
    if (::mkdtemp(pattern.data()))
        return QFile::decodeName(pattern);
    return QString();
}

QString instanceChannelName(const QString &bareName)
{
    // A bare name would land in the shared temporary folder, where another user's socket could
    // answer in our place. Without any private folder there is no name to listen on.
    const QString folder = runtimeFolder();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + bareName;
}

} // namespace platform
