// Putting what arrived in place: the page package over view/, all of it or none, and the new
// installer beside the program for the client package. The file work runs off the GUI thread;
// the dialog only asks what to do about a file that stays stuck.
#include "update_dlg.h"

#include "atomic_file.h"
#include "crash_handler.h"
#include "page_install.h"
#include "pspecific_wnd.h"
#include "update_folders.h"
#include "update_kinds.h"
#include "update_log.h"
#include "update_texts.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>
#include <QScopeGuard>
#include <QThread>

#include <functional>

namespace {

using UpdateKinds::kClient;
using UpdateKinds::kHtml;

const char kLogSource[] = "update_dlg";
constexpr int kRollBackLine = 702;

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
    m_installedPageFiles.clear();
    const QString source = UpdateFolders::ready(m_applicationDir, kHtml);
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.exists())
        return true;
    if (!sourceInfo.isDir()) {
        clearPageUpdate();
        return false;
    }

    m_installing = true;
    const auto done = qScopeGuard([this] { m_installing = false; });
    PageInstall install(m_applicationDir);
    bool listed = false;
    QString notListed;
    offGuiThread([&] { listed = install.list(&notListed); });
    if (!listed) {
        if (failedFile)
            *failedFile = notListed;
        return false;
    }
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
        // page installs the package again. What cannot be put back now is put back at the next
        // start, before the page loads.
        bool rolledBack = false;
        offGuiThread([&] { rolledBack = install.rollBack(); });
        if (!rolledBack)
            UpdateLog::info(kLogSource, kRollBackLine,
                            QStringLiteral("Update Error: could not restore view/ after a failed page update; "
                                           "the next start tries again"));
        if (failedFile)
            *failedFile = stuck;
        return false;
    }
    offGuiThread([&] {
        install.commit();
        clearPageUpdate();
    });
    m_installedPageFiles = install.installedFiles();
    return true;
}

void updateDlg::clearPageUpdate()
{
    UpdateFolders::removeTree(UpdateFolders::ready(m_applicationDir, kHtml));
    QDir().rmdir(UpdateFolders::root(m_applicationDir));
}
