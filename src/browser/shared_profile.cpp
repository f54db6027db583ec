// The profile every browser shares, with the page script it injects, and what the profile
// itself handles: downloads and the page's desktop notifications.
#include "notification_pacer.h"
#include "runtime_qt.h"
#include "runtime_state.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QWebEngineDownloadItem>
#include <QWebEngineNotification>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <memory>

// Resources of a static library are registered by hand, from outside any namespace.
static void initBrowserResources()
{
    Q_INIT_RESOURCE(browser);
}

namespace vexa_runtime {

namespace {

QString scriptSource(std::initializer_list<const char *> paths)
{
    QString source;
    for (const char *path : paths) {
        QFile file(QString::fromLatin1(path));
        if (file.open(QIODevice::ReadOnly))
            source += QString::fromUtf8(file.readAll()) + QLatin1Char('\n');
        else
            qWarning("page script %s is missing", path);
    }
    return source;
}

void onDownloadRequested(QWebEngineDownloadItem *item);

// The right is the page's own documents' (BrowserWindow::onFeaturePermissionRequested), but the
// web engine keeps one right for every file page and names only the origin of a notification:
// while any browser shows a file page outside the application's, none is shown.
bool mayNotifyNow(const QUrl &origin)
{
    return origin.scheme() == QLatin1String("file") && !BrowserWindow::anyShowsForeignFile();
}

void presentNotification(std::unique_ptr<QWebEngineNotification> notification)
{
    NotificationPacer *pacer = runtime().notificationPacer;
    if (!pacer || !mayNotifyNow(notification->origin()))
        return;
    std::shared_ptr<QWebEngineNotification> held(std::move(notification));
    pacer->offer([held] {
        const NotificationSink &sink = runtime().notificationSink;
        if (!sink || !mayNotifyNow(held->origin()))
            return;
        sink(held->title(), held->message());
        held->show();
    });
}

} // namespace

QWebEngineProfile *sharedProfile()
{
    Runtime &state = runtime();
    if (state.profile)
        return state.profile;
    initBrowserResources();
    QWebEngineProfile *profile = state.profile = QWebEngineProfile::defaultProfile();
    const CefSettings &settings = state.settings;
    if (!settings.cache_path.isEmpty()) {
        // Made private, as the browser's own folders are, before anything is written to it.
        QDir().mkpath(settings.cache_path);
        QFile::setPermissions(settings.cache_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        profile->setCachePath(settings.cache_path);
        profile->setPersistentStoragePath(settings.cache_path);
    }
    profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
    profile->setPersistentCookiesPolicy(settings.persist_session_cookies ? QWebEngineProfile::ForcePersistentCookies
                                                                           : QWebEngineProfile::AllowPersistentCookies);
    if (!settings.user_agent.isEmpty())
        profile->setHttpUserAgent(settings.user_agent);

    QWebEngineScript bridge;
    bridge.setName(QStringLiteral("vexa-page-bridge"));
    bridge.setInjectionPoint(QWebEngineScript::DocumentCreation);
    bridge.setWorldId(QWebEngineScript::MainWorld);
    bridge.setRunsOnSubFrames(false);
    bridge.setSourceCode(scriptSource({":/qtwebchannel/qwebchannel.js", ":/browser/page_bridge.js"}));
    profile->scripts()->insert(bridge);
    // In every frame too, and out of the pages' reach (drop_guard.js says why).
    QWebEngineScript dropGuard;
    dropGuard.setName(QStringLiteral("vexa-drop-guard"));
    dropGuard.setInjectionPoint(QWebEngineScript::DocumentCreation);
    dropGuard.setWorldId(QWebEngineScript::ApplicationWorld);
    dropGuard.setRunsOnSubFrames(true);
    dropGuard.setSourceCode(scriptSource({":/browser/drop_guard.js"}));
    profile->scripts()->insert(dropGuard);

    QObject::connect(profile, &QWebEngineProfile::downloadRequested, profile, &onDownloadRequested);
    state.notificationPacer = new NotificationPacer(profile);
    profile->setNotificationPresenter(&presentNotification);
    // Pop-up windows have no owner among the program's widgets; close them while the
    // application object still exists, as its pages must go before QtWebEngine does. So must
    // the notifications held back.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, profile, [] {
        if (NotificationPacer *pacer = runtime().notificationPacer)
            pacer->clear();
        QList<QPointer<BrowserWindow>> &popups = runtime().topLevelBrowsers;
        for (const QPointer<BrowserWindow> &window : popups)
            if (window)
                delete window.data();
        popups.clear();
    });
    if (CefBrowserProcessHandler *handler = state.app ? state.app->GetBrowserProcessHandler() : nullptr)
        handler->OnContextInitialized();
    return profile;
}

namespace {

BrowserWindow *windowForPage(QWebEnginePage *page)
{
    auto *browserPage = qobject_cast<BrowserPage *>(page);
    return browserPage ? qobject_cast<BrowserWindow *>(browserPage->parent()) : nullptr;
}

class DownloadCallback : public CefBeforeDownloadCallback {
public:
    DownloadCallback(QWebEngineDownloadItem *item, QWidget *dialogParent) : m_item(item), m_parent(dialogParent) {}
    void Continue(const CefString &path, bool showDialog) override
    {
        if (!m_item || m_item->state() != QWebEngineDownloadItem::DownloadRequested)
            return;
        QString target = path;
        if (showDialog) {
            target = QFileDialog::getSaveFileName(m_parent, QString(), path);
            if (target.isEmpty())
                return; // cancelled: the item stays unaccepted and is dropped
        }
        const QFileInfo info(target);
        m_item->setDownloadDirectory(info.absolutePath());
        m_item->setDownloadFileName(info.fileName());
        m_item->accept();
    }

private:
    QPointer<QWebEngineDownloadItem> m_item;
    QPointer<QWidget> m_parent;
};

void onDownloadRequested(QWebEngineDownloadItem *item)
{
    BrowserWindow *window = windowForPage(item->page());
    CefDownloadHandler *handler = window ? window->client()->GetDownloadHandler() : nullptr;
    if (!handler) {
        item->cancel();
        return;
    }
    window->downloadStarted();
    CefRefPtr<CefBrowser> browser = window->browser();
    handler->OnBeforeDownload(browser, new CefDownloadItem(false, QString()), item->suggestedFileName(),
                              new DownloadCallback(item, window->window()));
    if (item->state() != QWebEngineDownloadItem::DownloadInProgress) {
        item->cancel();
        return;
    }
    QObject::connect(item, &QWebEngineDownloadItem::finished, item, [item, browser, handler] {
        const QString path = QDir(item->downloadDirectory()).filePath(item->downloadFileName());
        handler->OnDownloadUpdated(browser, new CefDownloadItem(item->state() == QWebEngineDownloadItem::DownloadCompleted, path));
    });
}

} // namespace

void setNotificationSink(NotificationSink sink)
{
    runtime().notificationSink = std::move(sink);
}

} // namespace vexa_runtime
