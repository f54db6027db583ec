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

// The first of our private folders in temp whose names match pattern, sorted by name; empty
// when there is none. Another user may make folders of any name there, but none of ours.
QString madeBefore(const QString &temp, const QString &pattern)
{
    const QStringList names = QDir(temp).entryList({pattern}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                                                   QDir::Name);
    for (const QString &name : names) {
        const QByteArray path = QFile::encodeName(temp + QLatin1Char('/') + name);
        if (isPrivateFolder(path, false))
            return QFile::decodeName(path);
    }
    return QString();
}

} // namespace

QString runtimeFolder()
{
    // The session's own folder is trusted to be where it says, but not to be private.
    const QByteArray session = qgetenv("XDG_RUNTIME_DIR");
    if (!session.isEmpty() && session.startsWith('/') && isPrivateFolder(session, true))
        return QFile::decodeName(session);

    // The shared temporary folder: whoever comes first may have taken a name. A few fixed names
    // keep two starts of this user in the same folder; if all are taken, one nobody can guess,
    // made once and found again by every later start (the first such folder of ours by name), so
    // starts still meet and none leaves a folder of its own behind.
    const QByteArray temp = QFile::encodeName(QDir::tempPath());
    const QByteArray prefix = "vexa-runtime-" + QByteArray::number(::geteuid());
    const QByteArray base = temp + '/' + prefix;
    for (int n = 0; n < 8; ++n) {
        const QByteArray path = n == 0 ? base : base + '-' + QByteArray::number(n);
        if (claimFolder(path))
            return QFile::decodeName(path);
    }
    const QString made = madeBefore(QFile::decodeName(temp), QFile::decodeName(prefix) + QStringLiteral("-??????"));
    if (!made.isEmpty())
        return made;
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
