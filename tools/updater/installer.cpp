#include "installer.h"

#include "atomic_file.h"
#include "update_folders.h"
#include "user_files.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

fs::path fsPath(const QString &path)
{
    return fs::u8path(path.toUtf8().toStdString());
}

QString text(const std::error_code &error)
{
    return QString::fromStdString(error.message());
}

bool isReserved(const QString &relative)
{
    // The lock and the log belong to this installation run; tupdates/ holds the ready folder
    // being installed from.
    return relative == QLatin1String("vexa.lock") || relative == QLatin1String("updater.log")
           || relative == QLatin1String("tupdates") || relative.startsWith(QLatin1String("tupdates/"));
}


// A program or a script: the kernel runs it only with an execute bit, which the unpacker,
// knowing only names and bytes, never sets.
bool isRunnable(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(4);
    return head.startsWith("\x7f" "ELF") || head.startsWith("#!");
}

// Execute for whoever may read, as a package manager installs programs.
QFile::Permissions withExecute(QFile::Permissions mode)
{
    mode |= QFile::ExeOwner;
    if (mode & QFile::ReadGroup)
        mode |= QFile::ExeGroup;
    if (mode & QFile::ReadOther)
        mode |= QFile::ExeOther;
    return mode;
}

} // namespace

Installer::Installer(const QString &applicationDir, const QString &readyDir, Log log)
    : m_applicationDir(QDir::cleanPath(applicationDir)),
      m_canonicalApplicationDir(QFileInfo(applicationDir).canonicalFilePath()),
      m_readyDir(QDir::cleanPath(readyDir)),
      m_log(std::move(log))
{
}

bool Installer::install()
{
    if (!plan())
        return false;
    for (Item &item : m_items) {
        if (!makeParentFolders(item) || !replace(item)) {
            rollBack();
            removeLeftovers(false);
            return false;
        }
        ++m_installed;
    }
    removeLeftovers(true);
    return true;
}

bool Installer::plan()
{
    if (m_canonicalApplicationDir.isEmpty()) {
        m_error = QStringLiteral("the application folder %1 does not exist").arg(m_applicationDir);
        return false;
    }
    const QDir ready(m_readyDir);
    // Without FollowSymlinks the walk lists a linked folder as an entry and does not descend.
    QDirIterator walk(m_readyDir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                      QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QFileInfo entry(walk.next());
        const QString relative = ready.relativeFilePath(entry.filePath());
        if (entry.isSymLink()) {
            m_error = QStringLiteral("%1 in the ready folder is a link; nothing was installed").arg(relative);
            return false;
        }
        if (entry.isDir())
            continue;
        if (!entry.isFile()) {
            m_error = QStringLiteral("%1 in the ready folder is not a plain file; nothing was installed").arg(relative);
            return false;
        }
        if (!UpdateFolders::isCleanRelativePath(relative)) {
            m_error = QStringLiteral("%1 is not a plain relative name; nothing was installed").arg(relative);
            return false;
        }
        if (isReserved(relative)) {
            m_log(QStringLiteral("skipped %1: it belongs to the installer").arg(relative));
            continue;
        }
        Item item;
        item.relative = relative;
        item.source = entry.filePath();
        item.target = m_applicationDir + QLatin1Char('/') + relative;
        const QString folder = QFileInfo(item.target).path();
        const QString name = QFileInfo(item.target).fileName();
        item.temporary = folder + QStringLiteral("/.") + name + QStringLiteral(".vexa-new");
        item.backup = folder + QStringLiteral("/.") + name + QStringLiteral(".vexa-old");
        if (!isInsideApplicationDir(item.target)) {
            m_error = QStringLiteral("%1 would be written outside the application folder; nothing was installed")
                          .arg(relative);
            return false;
        }
        if (takeUsersFileIntoAccount(item))
            m_items.append(item);
    }
    std::sort(m_items.begin(), m_items.end(), [](const Item &a, const Item &b) { return a.relative < b.relative; });
    return true;
}

bool Installer::takeUsersFileIntoAccount(Item &item)
{
    if (!userFiles::keepsUsersCopy(item.relative, m_applicationDir))
        return true;
    const QFileInfo target(item.target);
    // A link in place of the settings file is the user's arrangement: kept like the other files.
    if (item.relative != QLatin1String(userFiles::kSettingsFile) || target.isSymLink() || !target.isFile()) {
        m_log(QStringLiteral("kept the user's %1").arg(item.relative));
        return false;
    }
    QFile users(item.target);
    QFile package(item.source);
    if (!users.open(QIODevice::ReadOnly) || !package.open(QIODevice::ReadOnly)
        || !userFiles::mergeSettings(users.readAll(), package.readAll(), &item.mergedSettings)) {
        // The program cannot read it either, but it is the user's to repair: nothing of it is lost.
        m_log(QStringLiteral("kept the user's %1: it cannot be read as settings, so the package's were not merged in")
                  .arg(item.relative));
        return false;
    }
    item.merged = true;
    return true;
}

bool Installer::isInsideApplicationDir(const QString &target) const
{
    // The nearest folder above the target that exists decides where the target really lands;
    // folders still to be made lie below it. A link to the target itself is replaced, not followed.
    QString folder = QFileInfo(target).path();
    while (!QFileInfo::exists(folder)) {
        const QString above = QFileInfo(folder).path();
        if (above == folder)
            return false;
        folder = above;
    }
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical == m_canonicalApplicationDir
           || canonical.startsWith(m_canonicalApplicationDir + QLatin1Char('/'));
}

bool Installer::makeParentFolders(const Item &item)
{
    const QStringList parts = item.relative.split(QLatin1Char('/'));
    QString folder = m_applicationDir;
    for (int i = 0; i + 1 < parts.size(); ++i) {
        folder += QLatin1Char('/') + parts.at(i);
        std::error_code error;
        const fs::file_status status = fs::status(fsPath(folder), error);
        if (fs::is_directory(status))
            continue;
        if (fs::exists(status)) {
            m_error = QStringLiteral("%1 is in the way of the folder %2").arg(parts.mid(0, i + 1).join('/'), folder);
            return false;
        }
        if (!QDir().mkdir(folder)) {
            m_error = QStringLiteral("cannot make the folder %1").arg(folder);
            return false;
        }
        m_createdFolders.append(folder);
    }
    return true;
}

bool Installer::replace(Item &item)
{
    std::error_code error;
    const fs::file_status target = fs::symlink_status(fsPath(item.target), error);
    if (fs::is_directory(target)) {
        m_error = QStringLiteral("a folder is in the way of %1").arg(item.relative);
        return false;
    }
    item.targetExisted = fs::exists(target);

    QFile::remove(item.temporary);
    if (item.merged ? !platform::writeFileAtomically(item.temporary, item.mergedSettings, &m_error)
                    : !platform::copyFileAtomically(item.source, item.temporary, &m_error))
        return false;
    item.written = true;
    // An executable stays executable: the ready folder's copy carries whatever mode the unpacker
    // gave it, the file it replaces carries the mode the installation needs.
    QFile::Permissions mode;
    if (item.targetExisted && fs::is_regular_file(target))
        mode = QFile::permissions(item.target);
    else if (isRunnable(item.source))
        mode = withExecute(QFile::permissions(item.source));
    else
        mode = QFile::permissions(item.source);
    QFile::setPermissions(item.temporary, mode);

    if (item.targetExisted) {
        if (!platform::keepOldFile(item.target, item.backup, &m_error))
            return false;
        item.backedUp = true;
    }

    fs::rename(fsPath(item.temporary), fsPath(item.target), error);
    if (error) {
        m_error = QStringLiteral("cannot replace %1: %2").arg(item.relative, text(error));
        return false;
    }
    item.replaced = true;
    return true;
}

void Installer::rollBack()
{
    for (auto it = m_items.rbegin(); it != m_items.rend(); ++it) {
        if (!it->replaced)
            continue;
        std::error_code error;
        if (it->backedUp) {
            fs::rename(fsPath(it->backup), fsPath(it->target), error);
            if (!error)
                it->backedUp = false;
        } else {
            fs::remove(fsPath(it->target), error);
        }
        if (error)
            m_log(QStringLiteral("could not restore %1: %2").arg(it->relative, text(error)));
        else
            it->replaced = false;
    }
    for (auto it = m_createdFolders.crbegin(); it != m_createdFolders.crend(); ++it)
        QDir().rmdir(*it);
    m_installed = 0;
}

void Installer::removeLeftovers(bool installed)
{
    for (Item &item : m_items) {
        if (item.written && !item.replaced)
            QFile::remove(item.temporary);
        if (!item.backedUp)
            continue;
        // A file that could not be put back keeps its old copy: it is the only one left.
        if (!installed && item.replaced)
            m_log(QStringLiteral("the old %1 is kept as %2").arg(item.relative, item.backup));
        else if (!QFile::remove(item.backup))
            m_log(QStringLiteral("could not remove %1").arg(item.backup));
    }
}
