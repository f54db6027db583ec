// Putting what arrived in place: the page package over view/, all of it or none, and the new
// installer beside the program for the client package. The file work runs off the GUI thread;
// the dialog only asks what to do about a file that stays stuck.
#include "update_dlg.h"

#include "atomic_file.h"
#include "crash_handler.h"
#include "pspecific_wnd.h"
#include "update_folders.h"
#include "update_kinds.h"
#include "update_log.h"
#include "update_texts.h"
#include "user_files.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>
#include <QQueue>
#include <QScopeGuard>
#include <QThread>

#include <filesystem>
#include <functional>
#include <system_error>

namespace {

using UpdateKinds::kClient;
using UpdateKinds::kHtml;

const char kLogSource[] = "update_dlg";
constexpr int kRollBackLine = 702;

constexpr int kCopyAttempts = 30;
constexpr unsigned long kCopyPauseMs = 100;

std::filesystem::path fsPath(const QString &path)
{
    return std::filesystem::path(path.toStdU16String());
}

// Runs work on a thread of its own while this (the GUI) thread goes on handling events: a large
// page file must not stop the window, the page or the command bridge.
void offGuiThread(const std::function<void()> &work)
{
    platform::CrashReadyThread thread;
    QEventLoop loop;
    QObject::connect(&thread, &QThread::started, [&thread, &work] {
        work();
        thread.quit();
    });
    QObject::connect(&thread, &QThread::finished, &loop, &QEventLoop::quit);
    thread.start();
    loop.exec();
    thread.wait();
}

// A page package put over view/ as a whole or not at all: every file it replaces is kept (a hard
// link where the file system has them, a copy elsewhere) until the last file is in, and put back,
// with every file and folder the package added taken away, when the installation does not finish.
// Runs off the GUI thread; only the question what to do about a stuck file belongs to the dialog.
class PageInstall {
public:
    PageInstall(const QString &source, const QString &target, const QString &backups, const QString &applicationDir)
        : m_source(source), m_target(target), m_backups(backups), m_applicationDir(applicationDir)
    {
    }

    // Everything is listed before anything is written. False when a folder cannot be read.
    bool list()
    {
        UpdateFolders::removeTree(m_backups);
        const QDir sourceDir(m_source);
        QQueue<QString> queue;
        queue.enqueue(m_source);
        while (!queue.isEmpty()) {
            const QString folder = queue.dequeue();
            if (folder != m_source)
                m_folders << m_target + QLatin1Char('/') + sourceDir.relativeFilePath(folder);
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
                if (entry.isDir())
                    queue.enqueue(entry.absoluteFilePath());
                else if (entry.isFile() && !userFiles::keepsUsersCopy(QStringLiteral("view/") + relative, m_applicationDir))
                    m_copies.append({entry.absoluteFilePath(), m_target + QLatin1Char('/') + relative,
                                     m_backups + QLatin1Char('/') + relative});
            }
        }
        return true;
    }

    enum class Outcome { Done, FolderRefused, FileStuck };

    // From the first file not yet in on. *stuck: the folder or file that could not be written.
    Outcome run(QString *stuck)
    {
        for (; m_foldersMade < m_folders.size(); ++m_foldersMade) {
            const QString &folder = m_folders.at(m_foldersMade);
            if (QFileInfo(folder).isDir())
                continue;
            if (!QDir().mkdir(folder)) {
                *stuck = folder;
                return Outcome::FolderRefused;
            }
            m_createdFolders << folder;
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

    void rollBack()
    {
        for (int i = m_copied - 1; i >= 0; --i) {
            const Copy &copy = m_copies.at(i);
            std::error_code error;
            if (copy.prior == Prior::Kept)
                std::filesystem::rename(fsPath(copy.backup), fsPath(copy.target), error);
            else if (copy.prior == Prior::Absent && !QFile::remove(copy.target))
                error = std::make_error_code(std::errc::io_error);
            if (error)
                UpdateLog::info(kLogSource, kRollBackLine,
                                QStringLiteral("Update Error: could not restore %1 after a failed page update").arg(copy.target));
        }
        for (auto it = m_createdFolders.crbegin(); it != m_createdFolders.crend(); ++it)
            QDir().rmdir(*it);
        UpdateFolders::removeTree(m_backups);
    }

    void dropBackups() { UpdateFolders::removeTree(m_backups); }

private:
    // What stood where a package file goes before the installation began.
    enum class Prior { Unknown, Kept, Absent };
    struct Copy {
        QString source;
        QString target;
        QString backup;
        Prior prior = Prior::Unknown;
    };

    bool keepOld(Copy &copy)
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

    QString m_source;
    QString m_target;
    QString m_backups;
    QString m_applicationDir;
    QStringList m_folders;
    QList<Copy> m_copies;
    QStringList m_createdFolders;
    int m_foldersMade = 0;
    int m_copied = 0;
};

enum class InstallerCopy { Done, Refused, Failed };

InstallerCopy copyInstaller(const QString &source, const QString &target)
{
    if (platform::copyFileAtomically(source, target)) {
        // A package carries no file modes; the installer must run all the same.
        QFile::setPermissions(target, QFile::permissions(target) | QFile::ExeOwner | QFile::ExeGroup |
                                          QFile::ExeOther | QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        return InstallerCopy::Done;
    }
    const QFileInfo folder(QFileInfo(target).absolutePath());
    const QFileInfo existing(target);
    if (!folder.isWritable() || (existing.exists() && !existing.isWritable()))
        return InstallerCopy::Refused;
    return InstallerCopy::Failed;
}

} // namespace

bool updateDlg::prepareClientUpdate()
{
    const QString ready = UpdateFolders::ready(m_applicationDir, kClient);
    if (!QFileInfo(ready).isDir())
        return false;
    const QString newInstaller = ready + QLatin1Char('/') + installerFileName();
    if (!QFileInfo::exists(newInstaller))
        return true;

    // The installer cannot replace itself while it runs, so a new one is put in place now.
    switch (copyInstaller(newInstaller, m_applicationDir + QLatin1Char('/') + installerFileName())) {
    case InstallerCopy::Done:
        if (QFile::remove(newInstaller))
            return true;
        break;
    case InstallerCopy::Refused:
        updaterWriteProtected = true;
        return true;
    case InstallerCopy::Failed:
        break;
    }
    UpdateFolders::removeTree(UpdateFolders::kindFolder(m_applicationDir, kClient));
    return false;
}

bool updateDlg::installPagePackage(QString *failedFile)
{
    const QString source = UpdateFolders::ready(m_applicationDir, kHtml);
    const QString target = m_applicationDir + QStringLiteral("/view");
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.exists())
        return true;
    if (!sourceInfo.isDir()) {
        clearPageUpdate();
        return false;
    }

    m_installing = true;
    const auto done = qScopeGuard([this] { m_installing = false; });
    PageInstall install(source, target, UpdateFolders::kindFolder(m_applicationDir, kHtml) + QStringLiteral("/backup"),
                        m_applicationDir);
    bool listed = false;
    offGuiThread([&] { listed = install.list(); });
    if (!listed)
        return false;
    for (;;) {
        QString stuck;
        PageInstall::Outcome outcome = PageInstall::Outcome::Done;
        offGuiThread([&] { outcome = install.run(&stuck); });
        if (outcome == PageInstall::Outcome::Done)
            break;
        if (outcome == PageInstall::Outcome::FileStuck) {
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Update error!"), UpdateTexts::pageFileStuck(stuck),
                            QMessageBox::Retry | QMessageBox::Cancel, this);
            if (box.exec() == QMessageBox::Retry)
                continue;
        }
        // The old page comes back whole; the ready folder stays, so that Retry on the failure
        // page installs the package again.
        offGuiThread([&] { install.rollBack(); });
        if (failedFile)
            *failedFile = stuck;
        return false;
    }
    offGuiThread([&] {
        install.dropBackups();
        clearPageUpdate();
    });
    return true;
}

void updateDlg::clearPageUpdate()
{
    UpdateFolders::removeTree(UpdateFolders::ready(m_applicationDir, kHtml));
    QDir().rmdir(UpdateFolders::root(m_applicationDir));
}
