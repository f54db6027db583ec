#include "page_install.h"

#include "atomic_file.h"
#include "update_folders.h"
#include "update_kinds.h"
#include "user_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPair>
#include <QQueue>
#include <QThread>

#include <filesystem>
#include <system_error>

namespace {

constexpr int kCopyAttempts = 30;
constexpr unsigned long kCopyPauseMs = 100;

const char kJournalHeader[] = "vexa page install journal 1";
const char kFolderTag[] = "folder ";
const char kReplaceTag[] = "replace ";
const char kAddTag[] = "add ";

std::filesystem::path fsPath(const QString &path)
{
    return std::filesystem::path(path.toStdU16String());
}

QString viewOf(const QString &applicationDir)
{
    return applicationDir + QStringLiteral("/view");
}


bool existsOrIsLink(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Undoes what the journal of applicationDir describes: every replaced file whose old copy is in
// the backups goes back, every file the package added goes, and so do the folders it made once
// they are empty. The journal and the backups go only when all of that worked. Safe to run
// again after it was itself cut short: what was put back has no backup any more.
bool rollBackFromJournal(const QString &applicationDir, QString *why)
{
    const QString journalPath = PageInstall::journalPath(applicationDir);
    const QString backups = PageInstall::backupFolder(applicationDir);
    const QString view = viewOf(applicationDir);
    QFile journal(journalPath);
    if (!journal.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read %1: %2").arg(journalPath, journal.errorString());
        return false;
    }
    const QList<QByteArray> lines = journal.readAll().split('\n');
    journal.close();
    if (lines.isEmpty() || lines.first() != kJournalHeader) {
        *why = QStringLiteral("%1 is not a journal of a page installation").arg(journalPath);
        return false;
    }
    QStringList folders;
    QList<QPair<QString, bool>> files; // relative path, added by the package
    for (int i = 1; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines.at(i));
        if (line.isEmpty())
            continue;
        QString relative;
        if (line.startsWith(QLatin1String(kFolderTag)))
            folders << (relative = line.mid(int(qstrlen(kFolderTag))));
        else if (line.startsWith(QLatin1String(kReplaceTag)))
            files.append({relative = line.mid(int(qstrlen(kReplaceTag))), false});
        else if (line.startsWith(QLatin1String(kAddTag)))
            files.append({relative = line.mid(int(qstrlen(kAddTag))), true});
        if (!UpdateFolders::isCleanRelativePath(relative)) {
            *why = QStringLiteral("%1 holds a line that is no page file: %2").arg(journalPath, line);
            return false;
        }
    }

    QStringList stayed;
    for (auto it = files.crbegin(); it != files.crend(); ++it) {
        const QString target = view + QLatin1Char('/') + it->first;
        const QString backup = backups + QLatin1Char('/') + it->first;
        std::error_code error;
        if (existsOrIsLink(backup)) {
            std::filesystem::rename(fsPath(backup), fsPath(target), error);
        } else if (it->second && existsOrIsLink(target) && !QFileInfo(target).isDir()) {
            if (!QFile::remove(target))
                error = std::make_error_code(std::errc::io_error);
        }
        if (error)
            stayed << target;
    }
    for (auto it = folders.crbegin(); it != folders.crend(); ++it)
        QDir().rmdir(view + QLatin1Char('/') + *it);
    if (!stayed.isEmpty()) {
        *why = QStringLiteral("could not put back %1; the old files are kept in %2")
                   .arg(stayed.join(QStringLiteral(", ")), backups);
        return false;
    }
    if (!QFile::remove(journalPath) && QFileInfo::exists(journalPath)) {
        *why = QStringLiteral("cannot remove %1").arg(journalPath);
        return false;
    }
    UpdateFolders::removeTree(backups);
    return true;
}

} // namespace

PageInstall::PageInstall(const QString &applicationDir)
    : m_applicationDir(applicationDir),
      m_source(UpdateFolders::ready(applicationDir, UpdateKinds::kHtml)),
      m_target(viewOf(applicationDir)),
      m_backups(backupFolder(applicationDir))
{
}

QString PageInstall::journalPath(const QString &applicationDir)
{
    return UpdateFolders::kindFolder(applicationDir, UpdateKinds::kHtml) + QStringLiteral("/install.journal");
}

QString PageInstall::backupFolder(const QString &applicationDir)
{
    return UpdateFolders::kindFolder(applicationDir, UpdateKinds::kHtml) + QStringLiteral("/backup");
}

bool PageInstall::list(QString *stuck)
{
    // Backups of an installation that was undone only in part are the only old copies left.
    if (QFileInfo::exists(journalPath(m_applicationDir))) {
        QString why;
        if (!rollBackFromJournal(m_applicationDir, &why)) {
            *stuck = journalPath(m_applicationDir);
            return false;
        }
    }
    UpdateFolders::removeTree(m_backups);
    const QDir sourceDir(m_source);
    QQueue<QString> queue;
    queue.enqueue(m_source);
    while (!queue.isEmpty()) {
        const QString folder = queue.dequeue();
        if (folder != m_source) {
            const QString relative = sourceDir.relativeFilePath(folder);
            m_folders << relative;
            if (!QFileInfo(m_target + QLatin1Char('/') + relative).isDir())
                m_missingFolders << relative;
        }
        const QDir dir(folder);
        if (!dir.isReadable())
            return false;
        const QFileInfoList entries =
            dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
        for (const QFileInfo &entry : entries) {
            // The unpacker writes plain files and folders only; anything else was not ours.
            if (entry.isSymLink())
                continue;
            const QString relative = sourceDir.relativeFilePath(entry.absoluteFilePath());
            if (entry.isDir()) {
                queue.enqueue(entry.absoluteFilePath());
            } else if (entry.isFile()
                       && !userFiles::keepsUsersCopy(QStringLiteral("view/") + relative, m_applicationDir)) {
                Copy copy;
                copy.relative = relative;
                copy.source = entry.absoluteFilePath();
                copy.target = m_target + QLatin1Char('/') + relative;
                copy.backup = m_backups + QLatin1Char('/') + relative;
                copy.existed = existsOrIsLink(copy.target);
                m_copies.append(copy);
            }
        }
    }
    QString why;
    if (!writeJournal(&why)) {
        *stuck = journalPath(m_applicationDir);
        return false;
    }
    return true;
}

bool PageInstall::writeJournal(QString *why) const
{
    QByteArray text = QByteArray(kJournalHeader) + '\n';
    for (const QString &folder : m_missingFolders)
        text += kFolderTag + folder.toUtf8() + '\n';
    for (const Copy &copy : m_copies)
        text += static_cast<const char *>(copy.existed ? kReplaceTag : kAddTag) + copy.relative.toUtf8() + '\n';
    QDir().mkpath(UpdateFolders::kindFolder(m_applicationDir, UpdateKinds::kHtml));
    return platform::writeFileAtomically(journalPath(m_applicationDir), text, why);
}

PageInstall::Outcome PageInstall::run(QString *stuck)
{
    for (; m_foldersMade < m_folders.size(); ++m_foldersMade) {
        const QString folder = m_target + QLatin1Char('/') + m_folders.at(m_foldersMade);
        if (QFileInfo(folder).isDir())
            continue;
        if (!QDir().mkdir(folder)) {
            *stuck = folder;
            return Outcome::FolderRefused;
        }
    }
    for (; m_copied < m_copies.size(); ++m_copied) {
        Copy &copy = m_copies[m_copied];
        bool written = false;
        for (int attempt = 0; attempt < kCopyAttempts && !written; ++attempt) {
            written = keepOld(copy) && platform::copyFileAtomically(copy.source, copy.target);
            // The browser or a virus scanner may hold the file for a moment.
            if (!written)
                QThread::msleep(kCopyPauseMs);
        }
        if (!written) {
            *stuck = copy.target;
            return Outcome::FileStuck;
        }
    }
    return Outcome::Done;
}

bool PageInstall::keepOld(Copy &copy)
{
    if (copy.prior != Prior::Unknown)
        return true;
    const QFileInfo target(copy.target);
    if (!target.exists()) {
        copy.prior = Prior::Absent;
        return true;
    }
    // A folder in the way: nothing to keep, and the copy fails until the user moves it.
    if (!target.isFile())
        return true;
    QDir().mkpath(QFileInfo(copy.backup).absolutePath());
    if (!platform::keepOldFile(copy.target, copy.backup))
        return false;
    copy.prior = Prior::Kept;
    return true;
}

bool PageInstall::rollBack()
{
    QString why;
    return rollBackFromJournal(m_applicationDir, &why);
}

void PageInstall::commit()
{
    QFile::remove(journalPath(m_applicationDir));
    UpdateFolders::removeTree(m_backups);
}

QStringList PageInstall::installedFiles() const
{
    QStringList files;
    for (const Copy &copy : m_copies)
        files << copy.relative;
    return files;
}

PageInstall::Recovery PageInstall::recoverInterrupted(const QString &applicationDir, QString *why)
{
    const QString journal = journalPath(applicationDir);
    if (!QFileInfo::exists(journal)) {
        // A commit cut short between the journal and the backups: the new page is whole.
        UpdateFolders::removeTree(backupFolder(applicationDir));
        return Recovery::Nothing;
    }
    QString reason;
    if (!rollBackFromJournal(applicationDir, &reason)) {
        if (why)
            *why = reason;
        return Recovery::Failed;
    }
    UpdateFolders::removeTree(UpdateFolders::ready(applicationDir, UpdateKinds::kHtml));
    QDir().rmdir(UpdateFolders::kindFolder(applicationDir, UpdateKinds::kHtml));
    QDir().rmdir(UpdateFolders::root(applicationDir));
    return Recovery::RolledBack;
}
