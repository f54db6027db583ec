#include "updatesystem.h"

#include "app_settings.h"
#include "command_context.h"
#include "page_events.h"
#include "http_request_worker.h"
#include "update_dlg.h"
#include "update_log.h"
#include "update_service.h"
#include "update_texts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTimer>
#include <QWidget>

namespace {

const char kSource[] = "updatesystem";
// Support knows the reply line by its number; lines of our own take numbers above it.
constexpr int kReplyLine = 112;
constexpr int kNotConfiguredLine = 600;
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
    if (!deployment.isEmpty()) {
        dialog = newDialog();
        connect(dialog, &updateDlg::needupdate, this, &UpdateCheck::on_needupdate);
        dialog->setOffer(offer, deployment);
        runDialog();
    } else if (manual) {
        // Empty: "The current version is the latest version".
        showInformation(untold);
    }
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
