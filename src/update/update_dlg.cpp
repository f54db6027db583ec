// The way of an offer through the dialog: what is offered, a download per package kind with its
// progress, the page installation, the firmware flash, the failures with what Retry does about
// each, and where the offer ends (settle). The window is update_dlg_window.cpp, putting packages
// in place update_dlg_install.cpp, the words update_texts.cpp.
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
#include <QJsonValue>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace {

using UpdateKinds::kClient;
using UpdateKinds::kFirmware;
using UpdateKinds::kHtml;

using UpdateTexts::Step;

const char kLogSource[] = "update_dlg";
constexpr int kFlashOutcomeLine = 700;
constexpr int kFailureLine = 701;
constexpr int kPageRecordLine = 703;

// A size the offer page waits for no longer than this; without an answer it shows none.
constexpr int kSizeQueryTimeoutMs = 10000;
// Notes longer than this are the service's fault; the page shows their start.
constexpr int kMaxNotes = 4000;
constexpr int kMaxVersion = 40;
constexpr int kProgressRefreshMs = 250;

// Package addresses come from the network and are fetched only from it: a file: address would
// read, or wait for ever on, whatever the offer names on this machine.
bool isWebAddress(const QString &text)
{
    const QUrl url(text);
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"))
           && !url.host().isEmpty();
}

// The offer's key for a package kind: "clientPackage", "deviceVersion" (the page package is the
// "device" one there), "firmwareSize".
QString offerKey(const QString &kind, const char *what)
{
    return (kind == kHtml ? QStringLiteral("device") : kind) + QLatin1String(what);
}

// A package size as the offer or a server states it; -1 for anything no package could be.
qint64 packageBytes(const QJsonValue &value)
{
    qint64 bytes = -1;
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (number >= 0 && number <= double(PsUpdateDownloader::kMaxPackageSize))
            bytes = qint64(number);
    } else if (value.isString()) {
        bool ok = false;
        bytes = value.toString().trimmed().toLongLong(&ok);
        if (!ok)
            bytes = -1;
    }
    return bytes > 0 && bytes <= PsUpdateDownloader::kMaxPackageSize ? bytes : -1;
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
    // A size still on its way would call back into a dialog half gone.
    if (m_sizeQueries) {
        const QList<QNetworkReply *> replies = m_sizeQueries->findChildren<QNetworkReply *>();
        for (QNetworkReply *reply : replies)
            reply->disconnect(this);
        delete m_sizeQueries;
    }
    // Waiting here would freeze the window for as long as an unpacking takes: the work is told
    // to stop and ends on its own threads, which the application waits for on its way out.
    for (Download *download : {&m_client, &m_html, &m_firmware})
        PsUpdateDownloader::retire(download->thread, download->downloader);
}

void updateDlg::setOffer(const QJsonObject &offerObject, const QStringList &offeredKinds)
{
    offer = offerObject;
    kinds = offeredKinds;
    for (const QString &kind : {kClient, kHtml, kFirmware}) {
        Download &download = downloadOf(kind);
        download.offeredVersion = offer.value(offerKey(kind, "Version")).toString().simplified().left(kMaxVersion);
        download.offeredSize = packageBytes(offer.value(offerKey(kind, "Size")));
    }
    showOffer();
    askPackageSizes();
}

QString updateDlg::language() const
{
    return UpdateTexts::languageOf(m_settings ? m_settings->value(QStringLiteral("language")) : QString());
}

QStringList updateDlg::offeredKinds() const
{
    QStringList offered;
    for (const QString &kind : {kClient, kHtml, kFirmware})
        if (kinds.contains(kind) && !offer.value(offerKey(kind, "Package")).toString().isEmpty())
            offered << kind;
    return offered;
}

void updateDlg::askPackageSizes()
{
    for (const QString &kind : offeredKinds()) {
        const QString url = offer.value(offerKey(kind, "Package")).toString();
        if (downloadOf(kind).offeredSize >= 0 || !isWebAddress(url))
            continue;
        if (!m_sizeQueries)
            m_sizeQueries = new QNetworkAccessManager(this);
        QNetworkRequest request{QUrl(url)};
        // The size of the file as the server stores it, which is what the download fetches.
        request.setRawHeader("Accept-Encoding", "identity");
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        request.setTransferTimeout(kSizeQueryTimeoutMs);
        QNetworkReply *reply = m_sizeQueries->head(request);
        connect(reply, &QNetworkReply::finished, this, [this, reply, kind] {
            reply->deleteLater();
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            if (reply->error() != QNetworkReply::NoError || status != 200 || !length.isValid())
                return;
            downloadOf(kind).offeredSize = packageBytes(QJsonValue(length.toDouble()));
            // Once downloads run, the offer is no longer on screen.
            if (!m_client.thread && !m_html.thread && !m_firmware.thread)
                showOffer();
        });
    }
}

void updateDlg::showOffer()
{
    const QString lang = language();
    QString html;
    for (const QString &kind : offeredKinds()) {
        const Download &download = downloadOf(kind);
        html += QStringLiteral("<div>%1</div>")
                    .arg(UpdateTexts::packageLine(lang, kind, download.offeredVersion, download.offeredSize).toHtmlEscaped());
    }
    // The service's words are shown as they are written, never read as markup.
    const QString notes = offer.value(QStringLiteral("notes")).toString().trimmed().left(kMaxNotes);
    if (!notes.isEmpty())
        html += QStringLiteral("<div style=\"margin-top: 4px; font-size: 12px; color: #a3aab3\">%1<br>%2</div>")
                    .arg(UpdateTexts::notesHeading(lang).toHtmlEscaped(),
                         notes.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>")));
    showDetails(html);
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
        addFailure(QString(), UpdateTexts::offerWithoutPackage(language()), RetryBy::Nothing);
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
        addFailure(kind, UpdateTexts::noWebAddress(language(), kind), RetryBy::Nothing);
        return;
    }
    PsUpdateDownloader::retire(download.thread, download.downloader);
    download.thread = new platform::CrashReadyThread;
    download.downloader = new PsUpdateDownloader(download.thread, download.url, kind, m_applicationDir, m_stallTimeoutMs);
    download.running = true;
    download.whole = -1;
    setStep(kind, Step::Asking);
    if (!m_progressTimer) {
        m_progressTimer = new QTimer(this);
        m_progressTimer->setInterval(kProgressRefreshMs);
        connect(m_progressTimer, &QTimer::timeout, this, &updateDlg::countDownloadedBytes);
    }
    m_progressTimer->start();
    connect(download.thread, &QThread::finished, download.downloader, &QObject::deleteLater);
    PsUpdateDownloader *downloader = download.downloader;
    connect(downloader, &PsUpdateDownloader::finishPart, this,
            [this, kind, downloader](qint64 got, qint64 total) { onDownloadProgress(kind, downloader, got, total); });
    connect(downloader, &PsUpdateDownloader::downLoadFinished, this, [this, kind, downloader] {
        if (downloadOf(kind).downloader == downloader)
            setStep(kind, Step::Unpacking);
    });
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

void updateDlg::onDownloadProgress(const QString &kind, PsUpdateDownloader *from, qint64 got, qint64 total)
{
    Download &download = downloadOf(kind);
    // A downloader replaced by Retry may still have a report on its way.
    if (download.downloader != from)
        return;
    // The reply covers only what an earlier attempt did not keep; the file holds the rest.
    const qint64 kept = qMax<qint64>(0, from->already() - got);
    download.done = kept + got;
    if (total > 0)
        download.whole = kept + total;
    download.step = Step::Downloading;
    showProgress();
}

void updateDlg::countDownloadedBytes()
{
    bool downloading = false;
    for (const QString &kind : {kClient, kHtml, kFirmware}) {
        Download &download = downloadOf(kind);
        if (!download.running || !download.downloader
            || (download.step != Step::Asking && download.step != Step::Downloading))
            continue;
        downloading = true;
        const qint64 inFile = download.downloader->already();
        if (inFile <= 0)
            continue;
        download.done = inFile;
        download.step = Step::Downloading;
        // Until the server tells the size, the offer's is the best there is.
        if (download.whole <= 0 && download.offeredSize >= inFile)
            download.whole = download.offeredSize;
    }
    if (!downloading)
        m_progressTimer->stop();
    showProgress();
}

void updateDlg::setStep(const QString &kind, Step step)
{
    Download &download = downloadOf(kind);
    download.step = step;
    // Past the download, the package counts as whole on the bar.
    if (step != Step::Asking && step != Step::Downloading && step != Step::Failed && download.whole > 0)
        download.done = download.whole;
    showProgress();
}

void updateDlg::showProgress()
{
    const QString lang = language();
    QStringList lines;
    qint64 done = 0;
    qint64 whole = 0;
    for (const QString &kind : {kClient, kHtml, kFirmware}) {
        const Download &download = downloadOf(kind);
        if (download.step == Step::None)
            continue;
        lines << UpdateTexts::stepLine(lang, kind, download.step, download.done, download.whole);
        if (download.whole > 0) {
            done += qMin(download.done, download.whole);
            whole += download.whole;
        }
    }
    lb_progress->setText(lines.join(QLatin1Char('\n')));
    // All packages on one bar, by their bytes.
    if (whole > 0)
        pb_install->setValue(int(done * 100 / whole));
}

void updateDlg::on_downLoadFaild()
{
    setLabelText(lb_install, QStringLiteral("Download failed, please check the network"));
}

void updateDlg::onPackageFailed(const QString &kind, int why)
{
    downloadOf(kind).running = false;
    downloadOf(kind).step = Step::Failed;
    addFailure(kind, UpdateTexts::downloadFailed(language(), kind, UpdateFailure(why), m_applicationDir), RetryBy::Download);
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
    m_failures.append({kFirmware, UpdateTexts::firmwareHeldBack(language()), RetryBy::Nothing});
    m_firmware.step = Step::Failed;
}

void updateDlg::updateNow()
{
    restartAfterUpdate = true;
    emit needupdate();
}

void updateDlg::on_clientPackageDownLoadFinished(QString version)
{
    m_client.running = false;
    m_client.version = version;
    preparedClient(version);
    setStep(kClient, m_clientReady ? Step::Ready : Step::Failed);
    settle();
}

void updateDlg::preparedClient(const QString &version)
{
    const QString lang = language();
    QString why;
    const bool packaged = installedByPackageManager(m_applicationDir);
    if (packaged || !applicationFolderWritable(m_applicationDir, &why)) {
        // The installer could not write there either; quitting for it would end in nothing.
        addFailure(kClient,
                   packaged ? UpdateTexts::clientManagedBySystem(lang) : UpdateTexts::clientNotInstallable(lang, why),
                   RetryBy::Nothing);
        return;
    }
    const bool prepared = prepareClientUpdate();
    if (prepared && updaterWriteProtected) {
        // The folder took the trial file but refused the installer: it would not take the rest.
        addFailure(kClient,
                   UpdateTexts::installerWriteProtected(lang, m_applicationDir + QLatin1Char('/') + installerFileName()),
                   RetryBy::Nothing);
        return;
    }
    if (!prepared) {
        addFailure(kClient, UpdateTexts::clientNotPrepared(lang, m_applicationDir), RetryBy::Download);
        return;
    }
    m_clientReady = true;
    restartToUpdate = true;
    pendingClientVersion = version;
}

void updateDlg::on_htmlPackageDownLoadFinished(QString version)
{
    m_html.running = false;
    m_html.version = version;
    setLabelText(lb_install, UpdateTexts::installingPages(language()));
    installPage();
    settle();
}

void updateDlg::installPage()
{
    setStep(kHtml, Step::Installing);
    QString failedFile;
    if (!installPagePackage(&failedFile)) {
        setStep(kHtml, Step::Failed);
        addFailure(kHtml, UpdateTexts::pageNotInstalled(language(), failedFile), RetryBy::Install);
        return;
    }
    setStep(kHtml, Step::Installed);
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

void updateDlg::on_firmPackageDownLoadFinished(QString version)
{
    m_firmware.running = false;
    m_firmware.version = version;
    // A new page may come with firmware it expects; the pad is flashed once the page is in.
    if (m_html.thread && !m_pageInstalled) {
        m_firmwareWaiting = true;
        setStep(kFirmware, Step::WaitsForPages);
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
    showProgress();
    if (workRunning())
        return;
    if (!m_failures.isEmpty()) {
        showFailurePage();
        return;
    }
    if (m_clientReady) {
        showClientReady();
        return;
    }
    // A flash's outcome stays where it was shown.
    if (m_pageInstalled && m_flashOutcome.isEmpty())
        setLabelText(lb_install, QStringLiteral("Update Complete"));
    if (m_pageInstalled || m_flashVerified)
        showDonePage();
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
        setStep(kFirmware, Step::Failed);
        addFailure(kFirmware, UpdateTexts::noPadLibrary(language()), RetryBy::Nothing);
        return;
    }
    // "Do not unplug" comes only once the flash touches the pad.
    setLabelText(lb_install, UpdateTexts::preparingFlash(language()));

    m_flashing = true;
    m_flashVerified = false;
    setStep(kFirmware, Step::Flashing);
    closeButton->setEnabled(false);
    const platform::SleepInhibitor noSleep(QStringLiteral("Writing new firmware into the pad"));
    FirmwareFlash flash(*m_rom, firmwareImagePath(m_applicationDir));
    flash.setShow([this](const QString &text) { setLabelText(lb_install, UpdateTexts::flashLine(language(), text)); });
    const FirmwareFlash::Outcome outcome =
        start == FlashStart::AlreadyInLoader ? flash.flashInLoader() : flash.flashFirmware();
    closeButton->setEnabled(true);
    m_flashing = false;
    m_flashVerified = outcome == FirmwareFlash::Outcome::Verified;
    setStep(kFirmware, m_flashVerified ? Step::Written : Step::Failed);
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
        addFailure(kFirmware, UpdateTexts::loaderMissing(language(), m_flashOutcome), RetryBy::Flash);
        break;
    case FirmwareFlash::Outcome::VerificationFailed:
        addFailure(kFirmware, UpdateTexts::firmwareNotAccepted(language(), m_flashOutcome), RetryBy::Flash);
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
