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
#include <cstdio>
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

Preparation refresh(const QString &pristine, const QString &user)
{
    QString error;
    for (const QString &file : filesOf(pristine)) {
        const QString source = pristine + QLatin1Char('/') + file;
        const QString target = user + QLatin1Char('/') + file;
        if (file == QLatin1String(userFiles::kSettingsFile) && QFileInfo::exists(target)) {
            QByteArray merged;
            if (userFiles::mergeSettings(readAll(target), readAll(source), &merged)) {
                if (!platform::writeFileAtomically(target, merged, &error))
                    return fail(error);
                continue;
            }
            // Unreadable for the program too; kept aside for the user, the package's takes over.
            QFile::remove(target + QStringLiteral(".unreadable"));
            QFile::copy(target, target + QStringLiteral(".unreadable"));
        } else if (userFiles::keepsUsersCopy(file, user)) {
            continue;
        }
        if (!replaceFile(source, target, &error))
            return fail(error);
    }
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

// Staging folders of starts that were broken off. Only this user's own real folders are
// removed: a link there would lead the removal elsewhere.
void removeStaleStaging(const QString &user)
{
    const QFileInfo info(user);
    const QDir parent(info.absolutePath());
    for (const QString &name : parent.entryList({info.fileName() + QStringLiteral(".new-*")},
                                                QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System)) {
        const QString path = parent.filePath(name);
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
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

QString folderRefusal(const QString &path, FolderUse use)
{
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    const int found = use == FolderUse::Parent ? ::stat(native.constData(), &st) : ::lstat(native.constData(), &st);
    if (found != 0)
        return QStringLiteral("cannot use %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("%1 is not a folder; vexa does not start from it").arg(path);
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
