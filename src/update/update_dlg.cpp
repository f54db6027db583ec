// The way of an offer through the dialog: a download per package kind, the page installation,
// the firmware flash, the failures with what Retry does about each, and where the offer ends
// (settle). The window is update_dlg_window.cpp, putting packages in place
// update_dlg_install.cpp, the failure texts update_texts.cpp.
#include "update_dlg.h"

#include "app_settings.h"
#include "crash_handler.h"
#include "firmware_flash.h"
#include "install_records.h"
#include "install_rights.h"
#include "pspecific_wnd.h"
#include "sleep_inhibitor.h"
#include "update_folders.h"
#include "update_kinds.h"
#include "update_log.h"
#include "update_texts.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QThread>
#include <QUrl>

#include <algorithm>

namespace {

using UpdateKinds::kClient;
using UpdateKinds::kFirmware;
using UpdateKinds::kHtml;

const QString kPreparingFlashText = QStringLiteral("Preparing the firmware update。。。");

const char kLogSource[] = "update_dlg";
constexpr int kFlashOutcomeLine = 700;
constexpr int kFailureLine = 701;
constexpr int kPageRecordLine = 703;

// Package addresses come from the network and are fetched only from it: a file: address would
// read, or wait for ever on, whatever the offer names on this machine.
bool isWebAddress(const QString &text)
{
    const QUrl url(text);
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"))
           && !url.host().isEmpty();
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

void updateDlg::setOffer(const QJsonObject &offerObject, const QStringList &offeredKinds)
{
    offer = offerObject;
    kinds = offeredKinds;
}

QString updateDlg::firmwareImagePath(const QString &applicationDir)
{
    return UpdateFolders::ready(applicationDir, kFirmware) + QStringLiteral("/update.bin");
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
        addFailure(QString(), UpdateTexts::offerWithoutPackage(), RetryBy::Nothing);
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
        addFailure(kind, UpdateTexts::noWebAddress(kind), RetryBy::Nothing);
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
    addFailure(kind, UpdateTexts::downloadFailed(kind, UpdateFailure(why), m_applicationDir), RetryBy::Download);
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
    m_failures.append({kFirmware, UpdateTexts::firmwareHeldBack(), RetryBy::Nothing});
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
        addFailure(kClient, packaged ? UpdateTexts::clientManagedBySystem() : UpdateTexts::clientNotInstallable(why),
                   RetryBy::Nothing);
        return;
    }
    const bool prepared = prepareClientUpdate();
    if (prepared && updaterWriteProtected) {
        // The folder took the trial file but refused the installer: it would not take the rest.
        addFailure(kClient,
                   UpdateTexts::installerWriteProtected(m_applicationDir + QLatin1Char('/') + installerFileName()),
                   RetryBy::Nothing);
        return;
    }
    if (!prepared) {
        addFailure(kClient, UpdateTexts::clientNotPrepared(m_applicationDir), RetryBy::Download);
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
        addFailure(kHtml, UpdateTexts::pageNotInstalled(failedFile), RetryBy::Install);
        return;
    }
    m_pageInstalled = true;
    // So that the service's next offer of this very package is not made again.
    const QByteArray digest = m_html.downloader ? m_html.downloader->packageDigest() : QByteArray();
    if (!InstallRecords::recordPagePackage(m_applicationDir, m_html.url, digest, m_installedPageFiles))
        UpdateLog::info(kLogSource, kPageRecordLine,
                        QStringLiteral("the installed page package could not be recorded: it may be offered again"));
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

void updateDlg::on_pb_retry_clicked()
{
    const QList<Failure> failures = m_failures;
    m_failures.clear();
    pages->setCurrentWidget(pageThird);
    pb_install->setValue(0);
    setLabelText(lb_install, UpdateTexts::downloading());
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
        addFailure(kFirmware, UpdateTexts::noPadLibrary(), RetryBy::Nothing);
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
        addFailure(kFirmware, UpdateTexts::loaderMissing(m_flashOutcome), RetryBy::Flash);
        break;
    case FirmwareFlash::Outcome::VerificationFailed:
        addFailure(kFirmware, UpdateTexts::firmwareNotAccepted(m_flashOutcome), RetryBy::Flash);
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
