#include "update_dlg.h"

#include "app_settings.h"
#include "atomic_file.h"
#include "crash_handler.h"
#include "firmware_flash.h"
#include "install_rights.h"
#include "pspecific_wnd.h"
#include "sleep_inhibitor.h"
#include "update_folders.h"
#include "update_log.h"
#include "user_files.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QQueue>
#include <QScopeGuard>
#include <QStackedWidget>
#include <QThread>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <system_error>

namespace {

const QString kClient = QStringLiteral("client");
const QString kHtml = QStringLiteral("html");
const QString kFirmware = QStringLiteral("firmware");
const QString kPreparingFlashText = QStringLiteral("Preparing the firmware update。。。");
const QString kDownloadingText = QStringLiteral("Downloading package resources。。。");

const char kLogSource[] = "update_dlg";
constexpr int kFlashOutcomeLine = 700;
constexpr int kFailureLine = 701;
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

// How the user knows each package kind in a sentence.
QString packageName(const QString &kind)
{
    if (kind == kClient)
        return QStringLiteral("The new version of vexa");
    if (kind == kHtml)
        return QStringLiteral("The new pages");
    return QStringLiteral("The new firmware");
}

// Package addresses come from the network and are fetched only from it: a file: address would
// read, or wait for ever on, whatever the offer names on this machine.
bool isWebAddress(const QString &text)
{
    const QUrl url(text);
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"))
           && !url.host().isEmpty();
}

// Things the folder of vexa (or the disk) has to do with, a package that is not what it says, and
// the network or the server: each in words that say what to do about it.
QString failureText(const QString &kind, UpdateFailure why, const QString &applicationDir)
{
    switch (why) {
    case UpdateFailure::Network:
        return QStringLiteral("%1 could not be downloaded: please check the network.").arg(packageName(kind));
    case UpdateFailure::Server:
        return QStringLiteral("%1 could not be downloaded: the update server did not deliver it. Please try again later.")
            .arg(packageName(kind));
    case UpdateFailure::Damaged:
        return QStringLiteral("%1 arrived damaged and was thrown away. Retry downloads it again.").arg(packageName(kind));
    case UpdateFailure::Disk:
        return QStringLiteral("%1 could not be saved in %2: please check that the disk has free space.")
            .arg(packageName(kind), QDir::toNativeSeparators(UpdateFolders::root(applicationDir)));
    }
    return QString();
}

} // namespace

updateDlg::updateDlg(AppSettings *settings, const QString &applicationDir)
    : m_settings(settings),
      m_applicationDir(applicationDir.isEmpty() ? QCoreApplication::applicationDirPath() : applicationDir),
      m_stallTimeoutMs(PsUpdateDownloader::kDefaultStallTimeoutMs),
      m_background(QStringLiteral(":/image/background"))
{
    setObjectName(QStringLiteral("updateDlg"));
    setWindowTitle(QStringLiteral("vexa update"));
    setFixedSize(600, 380);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowIcon(QIcon(QStringLiteral(":/marlith/icon.png")));
    setContentsMargins(borderWidth, borderWidth, borderWidth, borderWidth);
    buildWidgets();
}

updateDlg::~updateDlg()
{
    // Waiting here would freeze the window for as long as an unpacking takes: the work is told
    // to stop and ends on its own threads, which the application waits for on its way out.
    for (Download *download : {&m_client, &m_html, &m_firmware})
        PsUpdateDownloader::retire(download->thread, download->downloader);
}

void updateDlg::buildWidgets()
{
    closeButton = new QPushButton(this);
    closeButton->setObjectName(QStringLiteral("btn_closeSetuper"));
    closeButton->move(562, 20);
    closeButton->setFixedSize(18, 18);
    connect(closeButton, &QPushButton::clicked, this, &updateDlg::on_btn_closeSetuper_clicked);

    pages = new QStackedWidget(this);
    pages->move(10, 60);
    pages->setFixedSize(580, 310);
    pages->setContentsMargins(0, 0, 0, 0);

    pageFirst = new QFrame;
    pageFirst->setObjectName(QStringLiteral("pageFirst"));
    pageFirst->resize(580, 310);
    lb_text = new QLabel(pageFirst);
    lb_text->setObjectName(QStringLiteral("lb_text"));
    lb_text->move(110, 70);
    setLabelText(lb_text, QStringLiteral("Found the new version,update now?"));
    cancelButton = new QPushButton(QStringLiteral("cancel"), pageFirst);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->move(180, 190);
    connect(cancelButton, &QPushButton::clicked, this, &updateDlg::on_btn_closeSetuper_clicked);
    uninstallButton = new QPushButton(QStringLiteral("Update"), pageFirst);
    uninstallButton->setObjectName(QStringLiteral("uninstallButton"));
    uninstallButton->move(300, 190);
    connect(uninstallButton, &QPushButton::clicked, this, &updateDlg::on_uninstallButton_clicekd);
    pages->addWidget(pageFirst);

    pageThird = new QFrame;
    pageThird->setObjectName(QStringLiteral("pageThird"));
    pageThird->resize(580, 310);
    lb_logo = new QLabel(pageThird);
    lb_logo->setObjectName(QStringLiteral("lb_logo"));
    lb_logo->move(156, 50);
    lb_install = new QLabel(pageThird);
    lb_install->setObjectName(QStringLiteral("lb_install"));
    lb_install->move(10, 195);
    lb_install->setFixedWidth(580);
    lb_install->setAlignment(Qt::AlignCenter);
    setLabelText(lb_install, kDownloadingText);
    pb_install = new QProgressBar(pageThird);
    pb_install->setObjectName(QStringLiteral("pb_install"));
    pb_install->move(47, 240);
    pb_install->setRange(0, 100);
    pb_install->setValue(0);
    pages->addWidget(pageThird);

    pageInfo = new QFrame;
    pageInfo->setObjectName(QStringLiteral("pageInfo"));
    pageInfo->resize(580, 310);
    lb_info = new QLabel(pageInfo);
    lb_info->setObjectName(QStringLiteral("lb_info"));
    lb_info->move(110, 70);
    setLabelText(lb_info, QStringLiteral("The current version is the latest version"));
    pb_ok = new QPushButton(QStringLiteral("confirm"), pageInfo);
    pb_ok->setObjectName(QStringLiteral("pb_ok"));
    pb_ok->move(240, 190);
    connect(pb_ok, &QPushButton::clicked, this, &updateDlg::on_pb_ok_clicked);
    pages->addWidget(pageInfo);

    pageFailed = new QFrame;
    pageFailed->setObjectName(QStringLiteral("pageFailed"));
    pageFailed->resize(580, 310);
    lb_failed = new QLabel(pageFailed);
    lb_failed->setObjectName(QStringLiteral("lb_failed"));
    lb_failed->setGeometry(30, 20, 520, 160);
    lb_failed->setWordWrap(true);
    lb_failed->setAlignment(Qt::AlignCenter);
    pb_close = new QPushButton(QStringLiteral("Close"), pageFailed);
    pb_close->setObjectName(QStringLiteral("pb_close"));
    pb_close->move(180, 190);
    connect(pb_close, &QPushButton::clicked, this, [this] {
        // A client package that made it waits behind the failures of the others.
        if (!m_clientReady) {
            reject();
            return;
        }
        m_failures.clear();
        settle();
    });
    pb_retry = new QPushButton(QStringLiteral("Retry"), pageFailed);
    pb_retry->setObjectName(QStringLiteral("pb_retry"));
    pb_retry->move(300, 190);
    connect(pb_retry, &QPushButton::clicked, this, &updateDlg::on_pb_retry_clicked);
    pages->addWidget(pageFailed);

    pages->setCurrentWidget(pageFirst);
}

void updateDlg::setLabelText(QLabel *label, const QString &text)
{
    label->setText(text);
    // Placed without a layout, a label keeps the size it was made with unless told to fit.
    label->ensurePolished();
    label->adjustSize();
}

void updateDlg::showEvent(QShowEvent *event)
{
    // The style sheet (fonts, button faces, the logo's size) applies at polish time, which for
    // a window comes with showing it; sizes taken before are those of the default style.
    const QList<QWidget *> children = findChildren<QWidget *>();
    for (QWidget *child : children) {
        child->ensurePolished();
        // Wrapped texts keep the box they were given; adjusted, they would shrink to one column.
        const auto *label = qobject_cast<QLabel *>(child);
        if (child != closeButton && child != pages && child->parentWidget() != pages && !(label && label->wordWrap()))
            child->adjustSize();
    }
    QDialog::showEvent(event);
}

void updateDlg::setOffer(const QJsonObject &offerObject, const QStringList &offeredKinds)
{
    offer = offerObject;
    kinds = offeredKinds;
}

QString updateDlg::firmwareImagePath(const QString &applicationDir)
{
    return UpdateFolders::ready(applicationDir, kFirmware) + QStringLiteral("/update.bin");
}

void updateDlg::offerReflash()
{
    // On one line the question would run past the page.
    setLabelText(lb_text, QStringLiteral("A firmware update was interrupted.\nFlash the firmware again?"));
    uninstallButton->setText(QStringLiteral("Flash again"));
    uninstallButton->adjustSize();
    disconnect(uninstallButton, &QPushButton::clicked, this, nullptr);
    connect(uninstallButton, &QPushButton::clicked, this, [this] {
        pb_install->setTextVisible(false);
        runFirmwareStep(FlashStart::AlreadyInLoader);
        settle();
    });
    pages->setCurrentWidget(pageFirst);
}

void updateDlg::showInfoPage(const QString &text)
{
    if (!text.isEmpty()) {
        // A reason runs longer than the one line the note was laid out for.
        lb_info->setWordWrap(true);
        lb_info->setAlignment(Qt::AlignCenter);
        lb_info->setGeometry(30, 20, 520, 160);
        lb_info->setText(text);
    }
    pages->setCurrentWidget(pageInfo);
}

void updateDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(rect(), m_background);
}

bool updateDlg::isDragArea(const QPoint &position) const
{
    // Buttons, labels and the progress bar keep their clicks; the background, the margins and
    // the empty parts of a page move the window.
    const QWidget *child = childAt(position);
    return !child || child == pages || child == pages->currentWidget();
}

void updateDlg::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !isDragArea(event->pos())) {
        QDialog::mousePressEvent(event);
        return;
    }
    if (windowHandle() && windowHandle()->startSystemMove())
        return;
    m_dragging = true;
    m_dragOffset = event->globalPos() - frameGeometry().topLeft();
}

void updateDlg::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton))
        move(event->globalPos() - m_dragOffset);
    else
        QDialog::mouseMoveEvent(event);
}

void updateDlg::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}

void updateDlg::on_btn_closeSetuper_clicked()
{
    reject();
}

void updateDlg::on_pb_ok_clicked()
{
    reject();
}

void updateDlg::on_uninstallButton_clicekd()
{
    pages->setCurrentWidget(pageThird);
    pb_install->setTextVisible(true);
    const QString firmwarePackage = offer.value(QStringLiteral("firmwarePackage")).toString();
    const QString clientPackage = offer.value(QStringLiteral("clientPackage")).toString();
    const QString devicePackage = offer.value(QStringLiteral("devicePackage")).toString();
    if (kinds.contains(kClient) && !clientPackage.isEmpty()) {
        m_client.url = clientPackage;
        startDownload(kClient);
    }
    if (kinds.contains(kHtml) && !devicePackage.isEmpty()) {
        m_html.url = devicePackage;
        startDownload(kHtml);
    }
    if (kinds.contains(kFirmware) && !firmwarePackage.isEmpty()) {
        m_firmware.url = firmwarePackage;
        startDownload(kFirmware);
    }
    // An offer of kinds without addresses would leave the progress page up for ever.
    if (!m_client.thread && !m_html.thread && !m_firmware.thread && m_failures.isEmpty())
        addFailure(QString(), QStringLiteral("The update offer names no package to download. Please try again later."),
                   RetryBy::Nothing);
    settle();
}

updateDlg::Download &updateDlg::downloadOf(const QString &kind)
{
    return kind == kClient ? m_client : kind == kHtml ? m_html : m_firmware;
}

void updateDlg::startDownload(const QString &kind)
{
    Download &download = downloadOf(kind);
    // One downloader per kind: two would write the same package file.
    if (download.running)
        return;
    if (!isWebAddress(download.url)) {
        addFailure(kind,
                   QStringLiteral("The update offer is not valid: it gives no web address for %1. Please try again later.")
                       .arg(packageName(kind).toLower()),
                   RetryBy::Nothing);
        return;
    }
    PsUpdateDownloader::retire(download.thread, download.downloader);
    download.thread = new platform::CrashReadyThread;
    download.downloader = new PsUpdateDownloader(download.thread, download.url, kind, m_applicationDir, m_stallTimeoutMs);
    download.running = true;
    connect(download.thread, &QThread::finished, download.downloader, &QObject::deleteLater);
    connect(download.downloader, &PsUpdateDownloader::finishPart, this, &updateDlg::on_finishPart);
    void (updateDlg::*finished)(QString) = kind == kClient ? &updateDlg::on_clientPackageDownLoadFinished
                                           : kind == kHtml ? &updateDlg::on_htmlPackageDownLoadFinished
                                                           : &updateDlg::on_firmPackageDownLoadFinished;
    connect(download.downloader, &PsUpdateDownloader::unpressFinished, this, finished);
    connect(download.downloader, &PsUpdateDownloader::downLoadFailed, this, &updateDlg::on_downLoadFaild);
    connect(download.downloader, &PsUpdateDownloader::downLoadFailed, this,
            [this, kind] { onPackageFailed(kind, int(UpdateFailure::Network)); });
    connect(download.downloader, &PsUpdateDownloader::packageFailed, this,
            [this, kind](UpdateFailure why) { onPackageFailed(kind, int(why)); });
    download.thread->start(QThread::InheritPriority);
}

void updateDlg::on_finishPart(qint64 part, qint64 total)
{
    if (total > 0)
        pb_install->setValue(int(part * 100 / total));
}

void updateDlg::on_downLoadFaild()
{
    setLabelText(lb_install, QStringLiteral("Download failed, please check the network"));
}

void updateDlg::onPackageFailed(const QString &kind, int why)
{
    downloadOf(kind).running = false;
    addFailure(kind, failureText(kind, UpdateFailure(why), m_applicationDir), RetryBy::Download);
    settle();
}

void updateDlg::addFailure(const QString &kind, const QString &text, RetryBy retry)
{
    m_failures.append({kind, text, retry});
    UpdateLog::info(kLogSource, kFailureLine, QStringLiteral("update step failed (%1): %2").arg(kind, text));
    // Firmware that waits for the page it belongs with is not written without it.
    if (kind == kHtml && m_firmwareWaiting)
        addFirmwareHeldBack();
}

void updateDlg::addFirmwareHeldBack()
{
    // Retry of the page's own failure lets the waiting firmware follow; nothing to retry here.
    m_failures.append({kFirmware,
                       QStringLiteral("The new firmware was not written to the pad, because the new pages it "
                                      "needs are not installed."),
                       RetryBy::Nothing});
}

void updateDlg::updateNow()
{
    restartAfterUpdate = true;
    emit needupdate();
}

void updateDlg::on_clientPackageDownLoadFinished(QString version)
{
    m_client.running = false;
    preparedClient(version);
    settle();
}

void updateDlg::preparedClient(const QString &version)
{
    QString why;
    const bool packaged = installedByPackageManager(m_applicationDir);
    if (packaged || !applicationFolderWritable(m_applicationDir, &why)) {
        // The installer could not write there either; quitting for it would end in nothing.
        addFailure(kClient,
                   packaged
                       ? QStringLiteral("This installation is managed by the system's package manager: please update "
                                        "vexa with it. vexa keeps running as it is.")
                       : QStringLiteral("The new version of vexa cannot be installed: %1. vexa keeps running as it is.")
                             .arg(why),
                   RetryBy::Nothing);
        return;
    }
    const bool prepared = prepareClientUpdate();
    if (prepared && updaterWriteProtected) {
        // The folder took the trial file but refused the installer: it would not take the rest.
        addFailure(kClient,
                   QStringLiteral("The new version of vexa cannot be installed: %1 may not be changed. vexa keeps "
                                  "running as it is.")
                       .arg(QDir::toNativeSeparators(m_applicationDir + QLatin1Char('/') + installerFileName())),
                   RetryBy::Nothing);
        return;
    }
    if (!prepared) {
        addFailure(kClient,
                   QStringLiteral("The new version of vexa could not be prepared for installation in %1. Retry "
                                  "downloads it again.")
                       .arg(QDir::toNativeSeparators(m_applicationDir)),
                   RetryBy::Download);
        return;
    }
    m_clientReady = true;
    restartToUpdate = true;
    pendingClientVersion = version;
}

void updateDlg::on_htmlPackageDownLoadFinished(QString)
{
    m_html.running = false;
    setLabelText(lb_install, QStringLiteral("Installing the new pages。。。"));
    installPage();
    settle();
}

void updateDlg::installPage()
{
    QString failedFile;
    if (!installPagePackage(&failedFile)) {
        addFailure(kHtml,
                   failedFile.isEmpty()
                       ? QStringLiteral("The new pages were not installed. Retry finishes the installation.")
                       : QStringLiteral("The new pages were not installed: %1 is not accessible. Retry finishes the "
                                        "installation.")
                             .arg(QDir::toNativeSeparators(failedFile)),
                   RetryBy::Install);
        return;
    }
    m_pageInstalled = true;
    emit pagePackageInstalled();
    // With a firmware package in the same offer the flash follows the page.
    if (m_firmwareWaiting) {
        m_firmwareWaiting = false;
        runFirmwareStep();
    }
}

void updateDlg::on_firmPackageDownLoadFinished(QString)
{
    m_firmware.running = false;
    // A new page may come with firmware it expects; the pad is flashed once the page is in.
    if (m_html.thread && !m_pageInstalled) {
        m_firmwareWaiting = true;
        const bool pageFailed = std::any_of(m_failures.cbegin(), m_failures.cend(),
                                            [](const Failure &failure) { return failure.kind == kHtml; });
        if (pageFailed)
            addFirmwareHeldBack();
        settle();
        return;
    }
    runFirmwareStep();
    settle();
}

bool updateDlg::workRunning() const
{
    return m_flashing || m_installing || m_client.running || m_html.running || m_firmware.running;
}

void updateDlg::settle()
{
    if (workRunning())
        return;
    if (!m_failures.isEmpty()) {
        showFailurePage();
        return;
    }
    if (m_clientReady) {
        // After a flash its outcome stays on the page, above the question.
        setLabelText(lb_text, m_flashOutcome.isEmpty()
                                  ? QStringLiteral("The download is complete,Restart now?")
                                  : m_flashOutcome + QStringLiteral("\nThe download is complete,Restart now?"));
        uninstallButton->setText(QStringLiteral("Restart Now"));
        uninstallButton->adjustSize();
        disconnect(uninstallButton, &QPushButton::clicked, this, nullptr);
        connect(uninstallButton, &QPushButton::clicked, this, &updateDlg::updateNow);
        pages->setCurrentWidget(pageFirst);
        return;
    }
    if (!m_flashOutcome.isEmpty())
        return;
    if (m_pageInstalled) {
        setLabelText(lb_install, QStringLiteral("Update Complete"));
        accept();
    }
}

void updateDlg::showFailurePage()
{
    QStringList lines;
    bool retryHelps = false;
    for (const Failure &failure : qAsConst(m_failures)) {
        lines << failure.text;
        retryHelps = retryHelps || failure.retry != RetryBy::Nothing;
    }
    if (m_clientReady)
        lines << QStringLiteral("The new version of vexa is ready to be installed.");
    lb_failed->setText(lines.join(QStringLiteral("\n\n")));
    pb_retry->setVisible(retryHelps);
    pb_close->setText(m_clientReady ? QStringLiteral("Continue") : QStringLiteral("Close"));
    pb_close->move(retryHelps ? 180 : 240, 190);
    pages->setCurrentWidget(pageFailed);
    bringBack();
}

void updateDlg::bringBack()
{
    // Closed while the work went on: what went wrong is said all the same.
    if (!isVisible())
        show();
    raise();
    activateWindow();
}

void updateDlg::on_pb_retry_clicked()
{
    const QList<Failure> failures = m_failures;
    m_failures.clear();
    pages->setCurrentWidget(pageThird);
    pb_install->setValue(0);
    setLabelText(lb_install, kDownloadingText);
    bool flashAgain = false;
    for (const Failure &failure : failures) {
        switch (failure.retry) {
        case RetryBy::Nothing:
            break;
        case RetryBy::Download:
            startDownload(failure.kind);
            break;
        case RetryBy::Install:
            installPage();
            break;
        case RetryBy::Flash:
            flashAgain = true;
            break;
        }
    }
    if (flashAgain && m_rom)
        runFirmwareStep(FirmwareFlash::padWaitsInLoader(*m_rom) ? FlashStart::AlreadyInLoader
                                                                : FlashStart::RestartIntoLoader);
    settle();
}

void updateDlg::runFirmwareStep(FlashStart start)
{
    if (m_flashing)
        return;
    // The dialog may have been closed while the package downloaded; the flash is shown anyway.
    bringBack();
    pages->setCurrentWidget(pageThird);
    if (!m_rom) {
        addFailure(kFirmware, QStringLiteral("The new firmware cannot be written: the pad's library is not loaded."),
                   RetryBy::Nothing);
        return;
    }
    // "Do not unplug" comes only once the flash touches the pad.
    setLabelText(lb_install, kPreparingFlashText);

    m_flashing = true;
    closeButton->setEnabled(false);
    const platform::SleepInhibitor noSleep(QStringLiteral("Writing new firmware into the pad"));
    FirmwareFlash flash(*m_rom, firmwareImagePath(m_applicationDir));
    flash.setShow([this](const QString &text) { setLabelText(lb_install, text); });
    const FirmwareFlash::Outcome outcome =
        start == FlashStart::AlreadyInLoader ? flash.flashInLoader() : flash.flashFirmware();
    closeButton->setEnabled(true);
    m_flashing = false;
    emit firmwareFlashEnded();
    m_flashOutcome = lb_install->text();
    UpdateLog::info(kLogSource, kFlashOutcomeLine,
                    QStringLiteral("firmware flash ended: %1; shown: %2")
                        .arg(QLatin1String(FirmwareFlash::outcomeName(outcome)), m_flashOutcome));
    switch (outcome) {
    case FirmwareFlash::Outcome::Verified:
        break;
    case FirmwareFlash::Outcome::NoPad:
        addFailure(kFirmware, m_flashOutcome, RetryBy::Flash);
        break;
    case FirmwareFlash::Outcome::ImageIgnored:
    case FirmwareFlash::Outcome::ImageRefused:
        addFailure(kFirmware, m_flashOutcome, RetryBy::Nothing);
        break;
    case FirmwareFlash::Outcome::LoaderMissing:
        addFailure(kFirmware,
                   m_flashOutcome + QStringLiteral("\nThe pad did not start its update mode. Reconnect it and choose Retry."),
                   RetryBy::Flash);
        break;
    case FirmwareFlash::Outcome::VerificationFailed:
        addFailure(kFirmware,
                   m_flashOutcome + QStringLiteral("\nThe pad did not accept the new firmware. Keep it connected and "
                                                   "choose Retry to write it again."),
                   RetryBy::Flash);
        break;
    }
}

void updateDlg::reject()
{
    // A page half put in place would be left so by a close; the installation ends soon.
    if (m_flashing || m_installing)
        return;
    QDialog::reject();
}

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
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Update error!"),
                            QStringLiteral("Failed to update vexa :(\n%1 is not accessible.").arg(QDir::toNativeSeparators(stuck)),
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
