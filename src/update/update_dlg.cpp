#include "update_dlg.h"

#include "app_settings.h"
#include "firmware_flash.h"
#include "pspecific_wnd.h"
#include "sleep_inhibitor.h"
#include "update_folders.h"
#include "update_log.h"

#include <QCoreApplication>
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
#include <QSaveFile>
#include <QStackedWidget>
#include <QThread>
#include <QWindow>

namespace {

const QString kClient = QStringLiteral("client");
const QString kHtml = QStringLiteral("html");
const QString kFirmware = QStringLiteral("firmware");
const QString kFlashingText = QStringLiteral("正在更新固件，请勿插拔鼠标");

const char kLogSource[] = "update_dlg";
constexpr int kFlashOutcomeLine = 700;

constexpr int kCopyAttempts = 30;
constexpr unsigned long kCopyPauseMs = 100;

// Writes source's bytes to a file beside target and renames it over target: readers of target
// (the browser view, a reload) see the old file or the new one, never a part of it.
bool replaceFile(const QString &source, const QString &target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = in.readAll();
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

enum class InstallerCopy { Done, Refused, Failed };

InstallerCopy copyInstaller(const QString &source, const QString &target)
{
    if (replaceFile(source, target)) {
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
    for (Download *download : {&m_client, &m_html, &m_firmware}) {
        if (!download->thread)
            continue;
        // The downloader is deleted on its own thread as the thread ends (finished →
        // deleteLater); waiting here means nothing of it outlives the dialog.
        download->thread->quit();
        download->thread->wait();
        delete download->thread;
    }
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
    setLabelText(lb_install, QStringLiteral("Downloading package resources。。。"));
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
        if (child != closeButton && child != pages && child->parentWidget() != pages)
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
    });
    pages->setCurrentWidget(pageFirst);
}

void updateDlg::showInfoPage()
{
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
    if (kinds.contains(kClient) && !clientPackage.isEmpty())
        startDownload(m_client, kClient, clientPackage, &updateDlg::on_clientPackageDownLoadFinished);
    if (kinds.contains(kHtml) && !devicePackage.isEmpty())
        startDownload(m_html, kHtml, devicePackage, &updateDlg::on_htmlPackageDownLoadFinished);
    if (kinds.contains(kFirmware) && !firmwarePackage.isEmpty())
        startDownload(m_firmware, kFirmware, firmwarePackage, &updateDlg::on_firmPackageDownLoadFinished);
}

void updateDlg::startDownload(Download &download, const QString &kind, const QString &url,
                              void (updateDlg::*finished)(QString))
{
    // One downloader per kind: two would write the same package file.
    if (download.thread)
        return;
    download.thread = new QThread;
    download.downloader = new PsUpdateDownloader(download.thread, url, kind, m_applicationDir, m_stallTimeoutMs);
    connect(download.thread, &QThread::finished, download.downloader, &QObject::deleteLater);
    connect(download.downloader, &PsUpdateDownloader::finishPart, this, &updateDlg::on_finishPart);
    connect(download.downloader, &PsUpdateDownloader::unpressFinished, this, finished);
    connect(download.downloader, &PsUpdateDownloader::downLoadFailed, this, &updateDlg::on_downLoadFaild);
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

void updateDlg::updateNow()
{
    emit needupdate();
}

void updateDlg::on_clientPackageDownLoadFinished(QString version)
{
    if (!prepareClientUpdate())
        return;
    setLabelText(lb_text, QStringLiteral("The download is complete,Restart now?"));
    uninstallButton->setText(QStringLiteral("Restart Now"));
    uninstallButton->adjustSize();
    disconnect(uninstallButton, &QPushButton::clicked, this, nullptr);
    connect(uninstallButton, &QPushButton::clicked, this, &updateDlg::updateNow);
    pages->setCurrentWidget(pageFirst);
    restartToUpdate = true;

    // Recorded only where a version is kept already.
    if (m_settings && !m_settings->value(QStringLiteral("version")).isEmpty())
        m_settings->storeAttribute(QStringLiteral("version"), version);
}

void updateDlg::on_htmlPackageDownLoadFinished(QString)
{
    setLabelText(lb_install, QStringLiteral("Update Complete"));
    installPagePackage();
    m_pageInstalled = true;
    // With a firmware package in the same offer the dialog stays: the flash follows the page
    // and its outcome is the last thing the user must read.
    if (!m_firmware.thread) {
        accept();
        return;
    }
    if (m_firmwareWaiting) {
        m_firmwareWaiting = false;
        runFirmwareStep();
    }
}

void updateDlg::on_firmPackageDownLoadFinished(QString)
{
    // A new page may come with firmware it expects; the pad is flashed once the page is in.
    if (m_html.thread && !m_pageInstalled) {
        m_firmwareWaiting = true;
        return;
    }
    runFirmwareStep();
}

void updateDlg::runFirmwareStep(FlashStart start)
{
    if (m_flashing)
        return;
    // The dialog may have been closed while the package downloaded; the flash is shown anyway.
    if (!isVisible())
        show();
    pages->setCurrentWidget(pageThird);
    setLabelText(lb_install, kFlashingText);
    if (!m_rom)
        return;

    m_flashing = true;
    closeButton->setEnabled(false);
    const platform::SleepInhibitor noSleep(QStringLiteral("Writing new firmware into the pad"));
    FirmwareFlash flash(*m_rom, firmwareImagePath(m_applicationDir));
    flash.setShow([this](const QString &text) { setLabelText(lb_install, text); });
    const FirmwareFlash::Outcome outcome =
        start == FlashStart::AlreadyInLoader ? flash.flashInLoader() : flash.flashFirmware();
    closeButton->setEnabled(true);
    m_flashing = false;
    UpdateLog::info(kLogSource, kFlashOutcomeLine,
                    QStringLiteral("firmware flash ended: %1; shown: %2")
                        .arg(QLatin1String(FirmwareFlash::outcomeName(outcome)), lb_install->text()));
}

void updateDlg::reject()
{
    if (m_flashing)
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

bool updateDlg::installPagePackage()
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

    // Everything is listed before anything is written, so a folder that cannot be read stops
    // the installation before it changes a page file.
    QStringList folders;
    QList<QPair<QString, QString>> copies;
    const QDir sourceDir(source);
    QQueue<QString> queue;
    queue.enqueue(source);
    while (!queue.isEmpty()) {
        const QString folder = queue.dequeue();
        if (folder != source)
            folders << target + QLatin1Char('/') + sourceDir.relativeFilePath(folder);
        const QDir dir(folder);
        if (!dir.isReadable()) {
            clearPageUpdate();
            return false;
        }
        const QFileInfoList entries =
            dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
        for (const QFileInfo &entry : entries) {
            // The unpacker writes plain files and folders only; anything else was not ours.
            if (entry.isSymLink())
                continue;
            if (entry.isDir())
                queue.enqueue(entry.absoluteFilePath());
            else if (entry.isFile())
                copies.append({entry.absoluteFilePath(),
                               target + QLatin1Char('/') + sourceDir.relativeFilePath(entry.absoluteFilePath())});
        }
    }

    for (const QString &folder : qAsConst(folders)) {
        if (!QDir().mkpath(folder)) {
            clearPageUpdate();
            return false;
        }
    }

    for (const auto &copy : qAsConst(copies)) {
        for (;;) {
            bool written = false;
            for (int attempt = 0; attempt < kCopyAttempts && !written; ++attempt) {
                written = replaceFile(copy.first, copy.second);
                // The browser or a virus scanner may hold the file for a moment.
                if (!written)
                    QThread::msleep(kCopyPauseMs);
            }
            if (written)
                break;
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Update error!"),
                            QStringLiteral("Failed to update vexa :(\n%1 is not accessible.")
                                .arg(QDir::toNativeSeparators(copy.second)),
                            QMessageBox::Retry | QMessageBox::Cancel, this);
            if (box.exec() != QMessageBox::Retry) {
                clearPageUpdate();
                return false;
            }
        }
    }
    clearPageUpdate();
    return true;
}

void updateDlg::clearPageUpdate()
{
    UpdateFolders::removeTree(UpdateFolders::ready(m_applicationDir, kHtml));
    QDir().rmdir(UpdateFolders::root(m_applicationDir));
}
