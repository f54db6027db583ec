#include "user_folder.h"

#include "atomic_file.h"
#include "user_files.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <pugixml.hpp>

#include <QElapsedTimer>
#include <QThread>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace launcher {

const char kPackageStamp[] = "package-version";

namespace {

QString readStamp(const QString &folder)
{
    QFile file(folder + QLatin1Char('/') + QLatin1String(kPackageStamp));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString clientVersion(const QString &folder)
{
    const QByteArray text = readAll(folder + QLatin1Char('/') + QLatin1String(userFiles::kSettingsFile));
    pugi::xml_document doc;
    if (!doc.load_buffer(text.constData(), size_t(text.size())))
        return QString();
    return QString::fromUtf8(doc.child("root").child("client").attribute("version").value());
}

// vexa holds vexa.lock in its folder while it runs (the installer waits on the same lock).
bool vexaRunsFrom(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder + QStringLiteral("/vexa.lock")).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

// Beside the target, then renamed over it: a reader sees the old file or the new one, never
// half of one; a running program keeps the image it mapped.
bool replaceFile(const QString &source, const QString &target, QString *error)
{
    if (!QDir().mkpath(QFileInfo(target).absolutePath())) {
        *error = QStringLiteral("cannot create the folder of %1").arg(target);
        return false;
    }
    const QString temp = target + QStringLiteral(".vexa-new");
    QFile::remove(temp);
    if (!QFile::copy(source, temp)) {
        *error = QStringLiteral("cannot copy %1 to %2").arg(source, temp);
        return false;
    }
    if (std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) != 0) {
        QFile::remove(temp);
        *error = QStringLiteral("cannot replace %1").arg(target);
        return false;
    }
    return true;
}

// Every file of folder, relative, with "/"; the stamp last, so that a copy broken off halfway
// carries no stamp and is done again.
QStringList filesOf(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    const QDir base(folder);
    while (it.hasNext()) {
        const QString relative = base.relativeFilePath(it.next());
        if (relative != QLatin1String(kPackageStamp))
            files << relative;
    }
    files.sort();
    if (QFileInfo::exists(base.filePath(QLatin1String(kPackageStamp))))
        files << QLatin1String(kPackageStamp);
    return files;
}

Preparation fail(const QString &error)
{
    Preparation p;
    p.error = error;
    return p;
}

Preparation create(const QString &pristine, const QString &user)
{
    const QString parent = QFileInfo(user).absolutePath();
    if (!QDir().mkpath(parent))
        return fail(QStringLiteral("cannot create %1").arg(parent));
    // Made aside and renamed into place: a start broken off halfway leaves no folder that looks
    // ready. QTemporaryDir makes it 0700, and the folder stays private.
    QTemporaryDir staging(user + QStringLiteral(".new-XXXXXX"));
    if (!staging.isValid())
        return fail(QStringLiteral("cannot create a folder beside %1").arg(user));
    QString error;
    for (const QString &file : filesOf(pristine))
        if (!replaceFile(pristine + QLatin1Char('/') + file, staging.filePath(file), &error))
            return fail(error);
    if (std::rename(QFile::encodeName(staging.path()).constData(), QFile::encodeName(user).constData()) != 0)
        return fail(QStringLiteral("cannot move %1 to %2").arg(staging.path(), user));
    staging.setAutoRemove(false);
    Preparation p;
    p.result = Preparation::Created;
    return p;
}

// The folder as it is, in a new place, made of second names of its files (nothing is copied, and
// the files themselves stay untouched when the new place's names are replaced): folders with
// their modes, links as links; sockets and FIFOs, which nothing keeps, are left out.
bool mirror(const QString &from, const QString &to, QString *error)
{
    QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    const QDir base(from);
    // A folder gets its mode once it is filled: one the user closed to writing is filled all the same.
    QList<QPair<QByteArray, mode_t>> folders;
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = to + QLatin1Char('/') + base.relativeFilePath(source);
        const QByteArray nativeSource = QFile::encodeName(source);
        const QByteArray nativeTarget = QFile::encodeName(target);
        struct stat st {};
        if (::lstat(nativeSource.constData(), &st) != 0) {
            *error = QStringLiteral("cannot read %1: %2").arg(source, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        bool done = true;
        if (S_ISDIR(st.st_mode)) {
            done = ::mkdir(nativeTarget.constData(), 0700) == 0 || errno == EEXIST;
            folders.prepend({nativeTarget, mode_t(st.st_mode & 07777)});
        } else if (S_ISLNK(st.st_mode)) {
            QByteArray destination(PATH_MAX, '\0');
            const ssize_t length = ::readlink(nativeSource.constData(), destination.data(), size_t(destination.size()));
            done = length >= 0 && ::symlink(destination.left(int(length)).constData(), nativeTarget.constData()) == 0;
        } else if (S_ISREG(st.st_mode)) {
            // A file system without hard links, or at its limit of them, gets a copy.
            done = ::link(nativeSource.constData(), nativeTarget.constData()) == 0 ||
                   (QFile::copy(source, target) && QFile::setPermissions(target, QFile::permissions(source)));
        }
        if (!done) {
            *error = QStringLiteral("cannot put %1 into %2: %3").arg(source, to, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    for (const auto &folder : folders) {
        if (::chmod(folder.first.constData(), folder.second) != 0) {
            *error = QStringLiteral("cannot set the mode of %1: %2")
                         .arg(QFile::decodeName(folder.first), QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    return true;
}

// Exchanges the two folders in one step where the file system can (nothing can see a moment
// without either); elsewhere in two renames, undone when the second fails. Afterwards staging
// holds the old folder.
bool exchange(const QString &staging, const QString &user, QString *error)
{
    const QByteArray nativeStaging = QFile::encodeName(staging);
    const QByteArray nativeUser = QFile::encodeName(user);
    if (::renameat2(AT_FDCWD, nativeStaging.constData(), AT_FDCWD, nativeUser.constData(), RENAME_EXCHANGE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        *error = QStringLiteral("cannot put %1 in place of %2: %3").arg(staging, user, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // A start broken off between the two renames finds the old folder at this name and puts it
    // back (removeStaleStaging).
    const QByteArray old = QFile::encodeName(user + QStringLiteral(".old"));
    if (::rename(nativeUser.constData(), old.constData()) != 0) {
        *error = QStringLiteral("cannot move %1 aside: %2").arg(user, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::rename(nativeStaging.constData(), nativeUser.constData()) != 0) {
        *error = QStringLiteral("cannot move %1 to %2: %3").arg(staging, user, QString::fromLocal8Bit(std::strerror(errno)));
        ::rename(old.constData(), nativeUser.constData());
        return false;
    }
    if (::rename(old.constData(), nativeStaging.constData()) != 0)
        QDir(QFile::decodeName(old)).removeRecursively();
    return true;
}

// The package's files go into a copy of the user's folder made beside it; only a copy that
// received every file takes the folder's place. A refresh broken off at any file (a full disk,
// an unreadable file of the package) leaves the folder exactly as it was.
Preparation refresh(const QString &pristine, const QString &user)
{
    QTemporaryDir staging(user + QStringLiteral(".new-XXXXXX"));
    if (!staging.isValid())
        return fail(QStringLiteral("cannot create a folder beside %1").arg(user));
    QString error;
    if (!mirror(user, staging.path(), &error))
        return fail(error);
    for (const QString &file : filesOf(pristine)) {
        const QString source = pristine + QLatin1Char('/') + file;
        const QString target = staging.filePath(file);
        if (file == QLatin1String(userFiles::kSettingsFile) && QFileInfo::exists(target)) {
            QByteArray merged;
            if (userFiles::mergeSettings(readAll(target), readAll(source), &merged)) {
                if (!platform::writeFileAtomically(target, merged, &error))
                    return fail(error);
                continue;
            }
            // Unreadable for the program too; kept aside for the user, the package's takes over.
            QFile::remove(target + QStringLiteral(".unreadable"));
            if (!QFile::copy(target, target + QStringLiteral(".unreadable")))
                return fail(QStringLiteral("cannot keep %1 aside").arg(user + QLatin1Char('/') + file));
        } else if (userFiles::keepsUsersCopy(file, staging.path())) {
            continue;
        }
        if (!replaceFile(source, target, &error))
            return fail(error);
    }
    // A vexa started from the folder meanwhile (not through the launcher) writes into it: its
    // files would be lost with the old folder.
    if (vexaRunsFrom(user)) {
        Preparation p;
        p.result = Preparation::Busy;
        return p;
    }
    if (!exchange(staging.path(), user, &error))
        return fail(error);
    // The old folder, now at the staging name, goes with it.
    Preparation p;
    p.result = Preparation::Refreshed;
    return p;
}

} // namespace

QString userFolderLocation()
{
    const QString xdg = QFile::decodeName(qgetenv("XDG_DATA_HOME"));
    // Relative values are invalid by the base directory convention and must be ignored.
    const QString base = !xdg.isEmpty() && QDir::isAbsolutePath(xdg) ? xdg : QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(base + QStringLiteral("/vexa"));
}

namespace {

// dpkg's weight of one character of a non-digit run: "~" lowest, the end next, letters before
// everything else.
int order(QChar c)
{
    if (c.isNull())
        return 0;
    if (c == QLatin1Char('~'))
        return -1;
    if (c.isLetter())
        return c.unicode();
    return c.unicode() + 256;
}

} // namespace

int compareVersions(const QString &a, const QString &b)
{
    int i = 0, j = 0;
    const auto at = [](const QString &s, int k) { return k < s.size() ? s.at(k) : QChar(); };
    while (i < a.size() || j < b.size()) {
        while ((i < a.size() && !a.at(i).isDigit()) || (j < b.size() && !b.at(j).isDigit())) {
            const QChar ca = i < a.size() && !a.at(i).isDigit() ? a.at(i) : QChar();
            const QChar cb = j < b.size() && !b.at(j).isDigit() ? b.at(j) : QChar();
            if (order(ca) != order(cb))
                return order(ca) - order(cb);
            if (!ca.isNull())
                ++i;
            if (!cb.isNull())
                ++j;
        }
        while (at(a, i) == QLatin1Char('0'))
            ++i;
        while (at(b, j) == QLatin1Char('0'))
            ++j;
        int first = 0;
        while (at(a, i).isDigit() && at(b, j).isDigit()) {
            if (first == 0)
                first = a.at(i).unicode() - b.at(j).unicode();
            ++i;
            ++j;
        }
        if (at(a, i).isDigit())
            return 1;
        if (at(b, j).isDigit())
            return -1;
        if (first != 0)
            return first;
    }
    return 0;
}

namespace {

bool isOwnRealFolder(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// What starts that were broken off left: staging folders, and the old folder of an exchange in
// two renames (put back when the new one never took its place). Only this user's own real
// folders are touched: a link there would lead the removal elsewhere.
void removeStaleStaging(const QString &user)
{
    const QString old = user + QStringLiteral(".old");
    if (isOwnRealFolder(old)) {
        if (!QFileInfo::exists(user))
            std::rename(QFile::encodeName(old).constData(), QFile::encodeName(user).constData());
        else
            QDir(old).removeRecursively();
    }
    const QFileInfo info(user);
    const QDir parent(info.absolutePath());
    for (const QString &name : parent.entryList({info.fileName() + QStringLiteral(".new-*")},
                                                QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System)) {
        const QString path = parent.filePath(name);
        if (isOwnRealFolder(path))
            QDir(path).removeRecursively();
    }
}

} // namespace

Preparation prepareUserFolder(const QString &pristine, const QString &user)
{
    removeStaleStaging(user);
    const QString packageVersion = readStamp(pristine);
    if (packageVersion.isEmpty())
        return fail(QStringLiteral("%1 names no package version: is vexa installed?").arg(pristine));
    if (!QFileInfo::exists(user))
        return create(pristine, user);
    if (compareVersions(packageVersion, readStamp(user)) <= 0) {
        Preparation p;
        p.result = Preparation::UpToDate;
        return p;
    }
    if (vexaRunsFrom(user)) {
        Preparation p;
        p.result = Preparation::Busy;
        return p;
    }
    // The folder updated itself past what this package brings: it keeps its own program, and
    // takes the stamp so that only a later package is weighed again.
    const QString userClient = clientVersion(user);
    if (!userClient.isEmpty() && compareVersions(clientVersion(pristine), userClient) < 0) {
        QString error;
        if (!replaceFile(pristine + QLatin1Char('/') + QLatin1String(kPackageStamp),
                         user + QLatin1Char('/') + QLatin1String(kPackageStamp), &error))
            return fail(error);
        Preparation p;
        p.result = Preparation::KeptNewer;
        return p;
    }
    return refresh(pristine, user);
}

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Why a folder above one that vexa is run from may not be passed through, or empty: anybody but
// root and the user who may rename what it holds could put a folder of theirs in the way.
QString passingRefusal(const struct stat &st, const QString &path)
{
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("%1 is not a folder; vexa does not start from it").arg(path);
    if (st.st_uid != 0 && st.st_uid != ::geteuid())
        return QStringLiteral("%1 belongs to another user, who could swap what it holds for their own; vexa does "
                              "not start from below it. Point XDG_DATA_HOME to a folder of your own")
            .arg(path);
    const bool sharedLikeTmp = st.st_uid == 0 && (st.st_mode & S_ISVTX);
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !sharedLikeTmp)
        return QStringLiteral("others may write to %1, so they could swap what it holds for their own; vexa does "
                              "not start from below it. Close it to them (chmod go-w) or point XDG_DATA_HOME to a "
                              "folder of your own")
            .arg(path);
    return QString();
}

// Why the folder itself may not be used for use, or empty.
QString lastRefusal(const struct stat &st, const QString &path, FolderUse use)
{
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("%1 is not a folder; vexa does not start from it").arg(path);
    if (use == FolderUse::Package) {
        if (st.st_uid != 0 && st.st_uid != ::geteuid())
            return QStringLiteral("the installed vexa in %1 belongs to another user; it is not started").arg(path);
        if (st.st_mode & (S_IWGRP | S_IWOTH))
            return QStringLiteral("others may write to the installed vexa in %1; it is not started").arg(path);
        return QString();
    }
    if (st.st_uid != ::geteuid())
        return QStringLiteral("%1 belongs to another user; vexa does not start from it. "
                              "Point XDG_DATA_HOME to a folder of your own")
            .arg(path);
    const mode_t closed = use == FolderUse::Parent ? mode_t(S_IWGRP | S_IWOTH) : mode_t(S_IRWXG | S_IRWXO);
    if (st.st_mode & closed)
        return use == FolderUse::Parent
                   ? QStringLiteral("others may write to %1, so they could change the vexa started from it; "
                                    "close it to them (chmod go-w) or point XDG_DATA_HOME to a folder of your own")
                         .arg(path)
                   : QStringLiteral("others may enter %1, the copy of vexa started from it; "
                                    "close it to them (chmod go-rwx) and start again")
                         .arg(path);
    return QString();
}

// A folder that changed into a link or a file between resolving and opening.
QString openRefusal(int code, const QString &path)
{
    if (code == ELOOP || code == ENOTDIR)
        return QStringLiteral("%1 is not a folder; vexa does not start from it").arg(path);
    return QStringLiteral("cannot use %1: %2").arg(path, systemError(code));
}

} // namespace

int openTrustedFolder(const QString &path, FolderUse use, QString *canonical, QString *refusal)
{
    char *resolved = ::realpath(QFile::encodeName(path).constData(), nullptr);
    if (!resolved) {
        *refusal = QStringLiteral("cannot use %1: %2").arg(path, systemError(errno));
        return -1;
    }
    const QByteArray real(resolved);
    std::free(resolved);
    QList<QByteArray> names = real.split('/');
    names.removeAll(QByteArray());
    int fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    QByteArray walked; // empty: "/"
    for (int i = 0; fd >= 0; ++i) {
        const QString here = walked.isEmpty() ? QStringLiteral("/") : QFile::decodeName(walked);
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            *refusal = QStringLiteral("cannot use %1: %2").arg(here, systemError(errno));
            break;
        }
        const bool last = i == names.size();
        *refusal = last ? lastRefusal(st, here, use) : passingRefusal(st, here);
        if (!refusal->isEmpty())
            break;
        if (last) {
            *canonical = QFile::decodeName(real);
            return fd;
        }
        const int child = ::openat(fd, names.at(i).constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int code = errno;
        ::close(fd);
        fd = child;
        walked += '/' + names.at(i);
        if (fd < 0)
            *refusal = openRefusal(code, QFile::decodeName(walked));
    }
    if (fd >= 0)
        ::close(fd);
    else if (refusal->isEmpty())
        *refusal = QStringLiteral("cannot use /: %1").arg(systemError(errno));
    return -1;
}

int openCopy(int parent, const QString &name, const QString &path, QString *refusal)
{
    const int fd = ::openat(parent, QFile::encodeName(name).constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *refusal = openRefusal(errno, path);
        return -1;
    }
    struct stat st {};
    *refusal = ::fstat(fd, &st) == 0 ? lastRefusal(st, path, FolderUse::Copy)
                                     : QStringLiteral("cannot use %1: %2").arg(path, systemError(errno));
    if (refusal->isEmpty())
        return fd;
    ::close(fd);
    return -1;
}

int openProgram(int copy, const QString &name, const QString &path, QString *refusal)
{
    // Not blocking: a FIFO in its place would hold the start up until refused below.
    const int fd = ::openat(copy, QFile::encodeName(name).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        !(st.st_mode & (S_IWGRP | S_IWOTH)) && (st.st_mode & S_IXUSR))
        return fd;
    if (fd >= 0)
        ::close(fd);
    *refusal = QStringLiteral("%1 cannot be started").arg(path);
    return -1;
}

QString folderRefusal(const QString &path, FolderUse use)
{
    QString refusal;
    if (use != FolderUse::Copy) {
        QString canonical;
        const int fd = openTrustedFolder(path, use, &canonical, &refusal);
        if (fd >= 0)
            ::close(fd);
        return refusal;
    }
    const QFileInfo info(path);
    const int parent = ::open(QFile::encodeName(info.absolutePath()).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0)
        return openRefusal(errno, info.absolutePath());
    const int fd = openCopy(parent, info.fileName(), path, &refusal);
    ::close(parent);
    if (fd >= 0)
        ::close(fd);
    return refusal;
}

int takeLauncherLock(const QString &path, int timeoutMs, QString *error)
{
    // No link followed and nobody else's file: a lock someone else owns could be held for ever.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = QStringLiteral("cannot open the lock %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        ::close(fd);
        *error = QStringLiteral("the lock %1 is not a private file of your own; remove it and start again").arg(path);
        return -1;
    }
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return fd;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            *error = QStringLiteral("cannot lock %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            break;
        }
        if (clock.elapsed() >= timeoutMs) {
            *error = QStringLiteral("another start of vexa has held %1 for %2 s and has not finished preparing "
                                    "your copy; end it, or try again later")
                         .arg(path)
                         .arg(timeoutMs / 1000.0);
            break;
        }
        QThread::msleep(50);
    }
    ::close(fd);
    return -1;
}

} // namespace launcher
