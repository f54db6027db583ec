#include "updatesystem.h"

#include "app_settings.h"
#include "command_context.h"
#include "page_events.h"
#include "http_request_worker.h"
#include "install_records.h"
#include "update_dlg.h"
#include "update_kinds.h"
#include "update_log.h"
#include "update_package.h"
#include "update_service.h"
#include "update_texts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace {

const char kSource[] = "updatesystem";
// Support knows the reply line by its number; lines of our own take numbers above it.
constexpr int kReplyLine = 112;
constexpr int kNotConfiguredLine = 600;
constexpr int kPageInstalledLine = 601;
// The head of a package is 148 bytes; a service that cannot send those in this time would not
// deliver the package either, and the offer then stands.
constexpr int kDigestTimeoutMs = 15000;
constexpr int kLoggedReplyBytes = 2048;

} // namespace

const QString UpdateCheck::kPageUpdatedMessage = QStringLiteral("pageUpdated");

UpdateCheck::UpdateCheck(CommandContext &context, QObject *parent, const QString &applicationDir)
    : QObject(parent),
      m_context(context),
      m_applicationDir(applicationDir.isEmpty() ? QCoreApplication::applicationDirPath() : applicationDir)
{
}

UpdateCheck::~UpdateCheck()
{
    if (worker)
        worker->deleteLater();
    delete dialog;
}

void UpdateCheck::checkNow(const QString &deviceId, const QString &fwVersion, const QString &clientVersion,
                           bool manualCheck)
{
    manual = manualCheck;
    if (!UpdateService::configured()) {
        UpdateLog::info(kSource, kNotConfiguredLine, UpdateService::notConfiguredReason());
        // Shown from the event loop: the page's command that asked is answered first.
        if (manual)
            runSoon([this] { showInformation(UpdateTexts::noService(language())); });
        return;
    }
    // Fields go out in key order: deviceid, fwversion, noencrypt, test, version.
    HttpRequestSpec spec(UpdateService::upgradeUrl().toString(), QStringLiteral("GET"));
    spec.addField(QStringLiteral("deviceid"), deviceId);
    spec.addField(QStringLiteral("test"), QStringLiteral("1"));
    spec.addField(QStringLiteral("fwversion"), fwVersion);
    spec.addField(QStringLiteral("version"), clientVersion);
    spec.addField(QStringLiteral("noencrypt"), QStringLiteral("1"));

    if (worker)
        worker->deleteLater();
    worker = new HttpRequestWorker(this);
    connect(worker, &HttpRequestWorker::on_execution_finished, this, &UpdateCheck::handle_doCheckUpdate);
    worker->startRequest(spec);
}

void UpdateCheck::handle_doCheckUpdate(HttpRequestWorker *finished)
{
    QString logText;
    // What a check the user asked for shows when it ends without a dialog of its own.
    QString untold;
    const QString lang = language();
    const QString kNetworkText = UpdateTexts::serviceUnreachable(lang);
    const QString kNotUnderstoodText = UpdateTexts::answerNotUnderstood(lang);
    const QString kNothingForUsText = UpdateTexts::nothingToInstall(lang);
    QJsonObject offer;
    QStringList deployment;
    if (finished->responseTooLarge) {
        logText = QStringLiteral("Error: ") + finished->errorText;
        untold = kNotUnderstoodText;
    } else if (finished->errorType != QNetworkReply::NoError) {
        logText = QStringLiteral("Error: ") + finished->errorText;
        untold = kNetworkText;
    } else {
        const QByteArray &body = finished->response;
        // Support needs to see what came; a log that grows by every reply does not help them.
        logText = QString::fromUtf8(body.left(kLoggedReplyBytes));
        if (body.size() > kLoggedReplyBytes)
            logText += QStringLiteral(" [%1 bytes in all]").arg(body.size());
        const QJsonDocument document = QJsonDocument::fromJson(body);
        untold = kNotUnderstoodText;
        if (document.isObject()) {
            const QJsonObject reply = document.object();
            // A "code" that is not a number reads as 0, as the service's old clients read it.
            const bool hasCode = reply.contains(QStringLiteral("code"));
            const int code = reply.value(QStringLiteral("code")).toInt();
            if (hasCode && code == 0 && reply.contains(QStringLiteral("ret"))) {
                untold = kNothingForUsText;
                const QJsonObject ret = reply.value(QStringLiteral("ret")).toObject();
                emit FindNewVersion();
                const QString type = ret.value(QStringLiteral("type")).toString();
                const QString kinds = ret.value(QStringLiteral("deployment")).toString();
                if (!kinds.isEmpty() && type == QLatin1String("0")) {
                    offer = ret;
                    deployment = kinds.split(QLatin1Char(','));
                    untold.clear();
                }
            }
            if (hasCode && code == 1)
                untold.clear();
        }
    }
    // The dialog may stay up for long; the reply is not needed while it does.
    finished->response = QByteArray();
    UpdateLog::info(kSource, kReplyLine, logText);
    if (deployment.isEmpty()) {
        // Empty: "The current version is the latest version".
        if (manual)
            showInformation(untold);
        return;
    }
    // The service hears only the client version, so it offers the page package it has for it
    // even when that package is installed already. It is, when it comes from the address
    // recorded at its installation, view/ still holds its files, and the package there now
    // carries the digest recorded then (the package's head is enough to tell).
    const QString pageAddress = offer.value(QStringLiteral("devicePackage")).toString();
    const QByteArray installed = deployment.contains(UpdateKinds::kHtml)
                                     ? InstallRecords::installedPageDigest(m_applicationDir, pageAddress)
                                     : QByteArray();
    if (installed.isEmpty()) {
        offerKinds(offer, deployment);
        return;
    }
    askPackageDigest(pageAddress, [this, offer, deployment, installed, pageAddress](const QByteArray &offered) {
        QStringList kinds = deployment;
        if (offered == installed) {
            UpdateLog::info(kSource, kPageInstalledLine,
                            QStringLiteral("Update Info: the page package %1 is installed already").arg(pageAddress));
            kinds.removeAll(UpdateKinds::kHtml);
            if (!kinds.contains(UpdateKinds::kClient) && !kinds.contains(UpdateKinds::kFirmware)) {
                if (manual)
                    showInformation(UpdateTexts::pagesInstalled(language()));
                return;
            }
        }
        offerKinds(offer, kinds);
    });
}

void UpdateCheck::offerKinds(const QJsonObject &offer, const QStringList &kinds)
{
    dialog = newDialog();
    connect(dialog, &updateDlg::needupdate, this, &UpdateCheck::on_needupdate);
    dialog->setOffer(offer, kinds);
    emit updateOffered();
    runDialog();
}

void UpdateCheck::askPackageDigest(const QString &address, const std::function<void(const QByteArray &)> &answer)
{
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkRequest request{QUrl(address)};
    // Only the head: the digest lies at a fixed place in it. A server that ignores the range
    // sends the whole package, which is cut off once the head is in.
    constexpr int headSize = UpdatePackage::kDigestOffset + UpdatePackage::kDigestSize;
    request.setRawHeader("Range", "bytes=0-" + QByteArray::number(headSize - 1));
    request.setRawHeader("Accept-Encoding", "identity");
    QNetworkReply *reply = m_network->get(request);
    auto *timer = new QTimer(reply);
    timer->setSingleShot(true);
    auto head = std::make_shared<QByteArray>();
    auto done = std::make_shared<bool>(false);
    const auto finish = [reply, head, done, answer] {
        if (*done)
            return;
        *done = true;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool headIn = (status == 200 || status == 206) && head->size() >= headSize;
        reply->abort();
        reply->deleteLater();
        // Unknown (no answer, no head): the offer stands, as it would without a record.
        answer(headIn ? head->mid(UpdatePackage::kDigestOffset, UpdatePackage::kDigestSize) : QByteArray());
    };
    connect(reply, &QNetworkReply::readyRead, this, [reply, head, finish] {
        *head += reply->read(headSize - head->size());
        if (head->size() >= headSize)
            finish();
    });
    connect(reply, &QNetworkReply::finished, this, [reply, head, finish] {
        if (head->size() < headSize)
            *head += reply->read(headSize - head->size());
        finish();
    });
    connect(timer, &QTimer::timeout, this, finish);
    timer->start(kDigestTimeoutMs);
}

void UpdateCheck::showInformation(const QString &text)
{
    dialog = newDialog();
    dialog->showInfoPage(text);
    runDialog();
}

bool UpdateCheck::offerReflash()
{
    if (dialog || !QFileInfo::exists(updateDlg::firmwareImagePath(m_applicationDir)))
        return false;
    dialog = newDialog();
    dialog->offerReflash();
    // The caller is still starting the program; the dialog's own event loop starts once its
    // main loop runs.
    runSoon([this] { runDialog(); });
    return true;
}

void UpdateCheck::runSoon(const std::function<void()> &show)
{
    // Busy from now on, so that no new check deletes this one before the window is up.
    m_offerPending = true;
    QTimer::singleShot(0, this, [this, show] {
        m_offerPending = false;
        show();
    });
}

updateDlg *UpdateCheck::newDialog()
{
    auto *created = new updateDlg(&m_context.settings(), m_applicationDir);
    created->setFirmwareRom(m_rom);
    connect(created, &updateDlg::firmwareFlashEnded, this, &UpdateCheck::firmwareFlashEnded);
    connect(created, &updateDlg::pagePackageInstalled, this,
            [this] { m_context.events().onBrowserMsg(kPageUpdatedMessage); });
    // The main window's own reload: no page, old or new, has to know of it.
    connect(created, &updateDlg::reloadPageRequested, this, [this] {
        QWidget *mainWindow = m_context.mainWidget();
        if (mainWindow && mainWindow->metaObject()->indexOfSlot("reload_currentPage()") >= 0)
            QMetaObject::invokeMethod(mainWindow, "reload_currentPage", Qt::QueuedConnection);
    });
    return created;
}

QString UpdateCheck::language() const
{
    return UpdateTexts::languageOf(m_context.settings().value(QStringLiteral("language")));
}

bool UpdateCheck::busy() const
{
    return m_offerPending || m_dialogRunning || (dialog && (dialog->flashRunning() || dialog->installRunning()));
}

void UpdateCheck::runDialog()
{
    if (QWidget *mainWindow = m_context.mainWidget())
        dialog->move(mainWindow->pos() + QPoint(mainWindow->width() / 2, mainWindow->height() / 2) -
                     QPoint(dialog->width() / 2, dialog->height() / 2));
    m_dialogRunning = true;
    dialog->exec();
    m_dialogRunning = false;
}

void UpdateCheck::on_needupdate()
{
    emit closeApp();
}

void UpdateCheck::bringForward()
{
    if (!dialog)
        return;
    if (!dialog->isVisible())
        dialog->show();
    dialog->raise();
    dialog->activateWindow();
}
