// One browser: its widget, loads and their errors, the life of its documents and the events
// held while a document starts, permissions, and the widget's own events.
#include "runtime_qt.h"
#include "runtime_state.h"

#include "page_access.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWebChannel>
#include <QWebEngineHistory>
#include <QWebEngineQuotaRequest>
#include <QWebEngineSettings>

#include <algorithm>

namespace vexa_runtime {

BrowserWindow::BrowserWindow(CefRefPtr<CefClient> client, const CefWindowInfo &info, const CefBrowserSettings &settings,
                             bool popup)
    : QWebEngineView(info.parent_widget), m_client(client),
      m_hold([this](CefRefPtr<CefProcessMessage> message) { deliverNow(message); })
{
    Runtime &state = runtime();
    m_browser = new CefBrowser(state.nextBrowserId++, popup, this);
    state.liveWindows.append(this);
    m_page = new BrowserPage(sharedProfile(), this);
    m_page->setBackgroundColor(QColor::fromRgba(state.settings.background_color));

    QWebEngineSettings *web = m_page->settings();
    auto apply = [web](QWebEngineSettings::WebAttribute attribute, cef_state_t state) {
        if (state != STATE_DEFAULT)
            web->setAttribute(attribute, state == STATE_ENABLED);
    };
    // Access from file pages is off unless asked for, as in Chromium (QtWebEngine's own default
    // lets file pages script one another, pop-ups included).
    web->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls,
                      settings.universal_access_from_file_urls == STATE_ENABLED);
    web->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, settings.file_access_from_file_urls == STATE_ENABLED);
    apply(QWebEngineSettings::LinksIncludedInFocusChain, settings.tab_to_links);
    // Failed loads are reported to the client; no error page replaces the page.
    web->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    web->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);

    m_transport = new PageTransport(this);
    m_channel = new QWebChannel(m_page);
    m_channel->registerObject(QStringLiteral("vexaBridge"), m_transport);
    m_page->setWebChannel(m_channel);
    setPage(m_page);

    connect(m_page, &QWebEnginePage::loadStarted, this, &BrowserWindow::onLoadStarted);
    connect(m_page, &QWebEnginePage::loadFinished, this, &BrowserWindow::onLoadFinished);
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this, &BrowserWindow::onRenderProcessTerminated);
    connect(m_page, &QWebEnginePage::featurePermissionRequested, this, &BrowserWindow::onFeaturePermissionRequested);
    connect(m_page, &QWebEnginePage::quotaRequested, this, &BrowserWindow::onQuotaRequested);
    connect(m_page, &QWebEnginePage::windowCloseRequested, this, [this] { closeBrowser(false); });

    if (info.parent_widget)
        setGeometry(info.bounds);
    else if (info.bounds.isValid())
        resize(info.bounds.size());
    else
        resize(800, 600);
    if (info.parent_widget)
        show();
    else
        state.topLevelBrowsers.append(this);

    // The render side exists before any page of this browser runs.
    if (CefRenderProcessHandler *render = renderHandler())
        render->OnBrowserCreated(m_browser);

    // Creation is reported from the event loop, as the runtime's asynchronous creation does.
    QPointer<BrowserWindow> self(this);
    CefPostTask(TID_UI, [self] {
        if (!self || self->m_closed)
            return;
        if (CefLifeSpanHandler *handler = self->m_client->GetLifeSpanHandler())
            handler->OnAfterCreated(self->m_browser);
    });
}

BrowserWindow::~BrowserWindow()
{
    // A browser whose parent widget goes away is closed with it.
    closeBrowser(true);
    runtime().liveWindows.removeAll(this);
}

QList<BrowserWindow *> BrowserWindow::allWindows()
{
    return runtime().liveWindows;
}

QString BrowserWindow::frameUrl() const
{
    return m_urlOverride.isEmpty() ? m_page->url().toString(QUrl::FullyEncoded) : m_urlOverride;
}

void BrowserWindow::startLoading(const QString &url)
{
    m_page->load(QUrl(url));
}

void BrowserWindow::requestStop()
{
    m_stopRequested = true;
    m_page->triggerAction(QWebEnginePage::Stop);
}

void BrowserWindow::closeBrowser(bool force)
{
    if (m_closed)
        return;
    CefLifeSpanHandler *handler = m_client->GetLifeSpanHandler();
    if (!force && handler && handler->DoClose(m_browser))
        return;
    m_closed = true;
    m_hold.abandon();
    releaseContext();
    settleNotificationRight();
    if (CefRenderProcessHandler *render = renderHandler())
        render->OnBrowserDestroyed(m_browser);
    if (handler)
        handler->OnBeforeClose(m_browser);
    if (!force)
        deleteLater();
}

void BrowserWindow::contextCreated(const QString &token)
{
    if (m_closed || token.isEmpty() || isCurrentContext(token))
        return;
    releaseContext();
    // The document's right to the bridge is fixed now, by the address it was created with: what
    // it shows, if that is where the last navigation led, up to query and fragment. Its script
    // may already have changed the address through the history API (which keeps a file page to
    // its own path, and any other page to its origin), and a page that is still leaving may say
    // hello late, after a navigation set out: then no address is known and there is no right.
    const QString shown = m_page->url().toString(QUrl::FullyEncoded);
    const QString documentUrl =
        isSameDocumentAddress(shown, m_navigationUrl.toString(QUrl::FullyEncoded)) ? shown : QString();
    m_context = new CefV8Context(m_browser, token, m_transport, documentUrl);
    if (CefRenderProcessHandler *render = renderHandler())
        render->OnContextCreated(m_browser, m_browser->GetMainFrame(), m_context);
}

void BrowserWindow::releaseContext()
{
    if (!m_context)
        return;
    CefRefPtr<CefV8Context> old = m_context;
    m_context = nullptr;
    if (CefRenderProcessHandler *render = renderHandler())
        render->OnContextReleased(m_browser, m_browser->GetMainFrame(), old);
    old->invalidate();
}

void BrowserWindow::endDocumentStartup()
{
    m_hold.documentReady();
}

bool BrowserWindow::documentMayUseBridge() const
{
    return m_context && bridgeRefusal(m_context->documentUrl(), frameUrl(), QCoreApplication::applicationDirPath()).isEmpty();
}

namespace {
bool isForeignFile(const QUrl &url)
{
    return url.isLocalFile() && !isApplicationPage(url.toString(QUrl::FullyEncoded), QCoreApplication::applicationDirPath());
}
} // namespace

bool BrowserWindow::showsForeignFile() const
{
    return !m_closed && (m_foreignFrame || isForeignFile(m_navigationUrl));
}

bool BrowserWindow::anyShowsForeignFile()
{
    const QList<BrowserWindow *> &windows = runtime().liveWindows;
    return std::any_of(windows.cbegin(), windows.cend(), [](BrowserWindow *window) { return window->showsForeignFile(); });
}

int BrowserWindow::openPopups()
{
    QList<QPointer<BrowserWindow>> &popups = runtime().topLevelBrowsers;
    popups.removeAll(nullptr);
    return int(std::count_if(popups.cbegin(), popups.cend(), [](const QPointer<BrowserWindow> &popup) { return !popup->isClosed(); }));
}

void BrowserWindow::popupRefused(const QString &reason)
{
    // A page may ask in a loop; one line says it.
    if (m_popupRefusalLogged == m_loadSerial + 1)
        return;
    m_popupRefusalLogged = m_loadSerial + 1;
    CEF_LOG_WARNING(QStringLiteral("pop-up of %1 refused: %2").arg(frameUrl(), reason));
}

void BrowserWindow::deliverToPage(CefRefPtr<CefProcessMessage> message)
{
    m_hold.post(message);
}

void BrowserWindow::deliverNow(CefRefPtr<CefProcessMessage> message)
{
    // Events are for the application's own pages only: another page that registers for them
    // would hear the pads, the foreground program and the keys being recorded.
    if (!documentMayUseBridge())
        return;
    if (CefRenderProcessHandler *render = renderHandler())
        render->OnProcessMessageReceived(m_browser, PID_BROWSER, message);
}

void BrowserWindow::findOutWhichDocumentIsShown()
{
    // The page script has run in any document the load committed by the time the load ends, and
    // the document's token is readable without its channel.
    const quint64 serial = m_loadSerial;
    QPointer<BrowserWindow> self(this);
    m_page->runJavaScript(QStringLiteral("window.__vexaContext"), [self, serial](const QVariant &answer) {
        if (!self || self->m_closed || !self->m_hold.isHolding() || self->m_loadSerial != serial)
            return;
        const QString shown = answer.toString();
        if (shown.isEmpty()) {
            // A document without the page script replaced the last one; nothing will say hello.
            self->releaseContext();
            self->endDocumentStartup();
        } else if (self->isCurrentContext(shown)) {
            self->endDocumentStartup(); // the load left the document in place
        }
        // Otherwise a new document is there and its hello is on the way.
    });
}

bool BrowserWindow::navigationRequested(const QUrl &url)
{
    CefRequestHandler *handler = m_client->GetRequestHandler();
    const bool cancelled =
        handler && handler->OnBeforeBrowse(m_browser, m_browser->GetMainFrame(), url.toString(QUrl::FullyEncoded), false);
    if (!cancelled) {
        m_navigationUrl = url;
        m_foreignFrame = false;
        // Before the next document runs anything: an outside file page must not find the right
        // to notify that the page's documents were given.
        settleNotificationRight();
    }
    return cancelled;
}

void BrowserWindow::frameNavigationRequested(const QUrl &url)
{
    if (!isForeignFile(url) || m_foreignFrame)
        return;
    m_foreignFrame = true;
    settleNotificationRight();
}

void BrowserWindow::unknownSchemeRequested(const QUrl &url)
{
    const QString text = url.toString(QUrl::FullyEncoded);
    bool allow = false;
    if (CefRequestHandler *handler = m_client->GetRequestHandler())
        handler->OnProtocolExecution(m_browser, text, allow);
    if (allow)
        QDesktopServices::openUrl(url);
    if (CefLoadHandler *handler = m_client->GetLoadHandler()) {
        m_urlOverride = text;
        handler->OnLoadError(m_browser, m_browser->GetMainFrame(), ERR_UNKNOWN_URL_SCHEME,
                             QStringLiteral("net::ERR_UNKNOWN_URL_SCHEME"), text);
        m_urlOverride.clear();
    }
}

void BrowserWindow::reportLoadingState()
{
    if (CefLoadHandler *handler = m_client->GetLoadHandler())
        handler->OnLoadingStateChange(m_browser, m_loading, m_page->history()->canGoBack(),
                                      m_page->history()->canGoForward());
}

void BrowserWindow::onLoadStarted()
{
    ++m_loadSerial;
    m_stopRequested = false;
    m_downloadSinceLoadStart = false;
    m_loading = true;
    // What was raised before the browser's first load is for the first document.
    m_hold.documentStarting(m_loadSerial == 1);
    reportLoadingState();
}

void BrowserWindow::onLoadFinished(bool ok)
{
    m_loading = false;
    reportLoadingState();
    if (m_hold.isHolding())
        findOutWhichDocumentIsShown();
    if (ok)
        return;
    // QtWebEngine gives no error code. A load that was stopped, turned into a download or
    // replaced by a newer load is the runtime's "aborted"; look once the queue has settled.
    const quint64 serial = m_loadSerial;
    const bool stopped = m_stopRequested || m_downloadSinceLoadStart;
    const QUrl failed = m_page->requestedUrl();
    QPointer<BrowserWindow> self(this);
    QTimer::singleShot(0, this, [self, serial, stopped, failed] {
        if (!self || self->m_closed)
            return;
        CefLoadHandler *handler = self->m_client->GetLoadHandler();
        if (!handler)
            return;
        cef_errorcode_t code = ERR_FAILED;
        if (stopped || self->m_loadSerial != serial)
            code = ERR_ABORTED;
        else if (failed.isLocalFile() && !QFileInfo::exists(failed.toLocalFile()))
            code = ERR_FILE_NOT_FOUND;
        handler->OnLoadError(self->m_browser, self->m_browser->GetMainFrame(), code, QString(),
                             failed.toString(QUrl::FullyEncoded));
    });
}

void BrowserWindow::onRenderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status, int)
{
    if (status == QWebEnginePage::NormalTerminationStatus)
        return;
    releaseContext();
    // The document that events waited for is gone with its renderer.
    m_hold.abandon();
    const cef_termination_status_t cefStatus = status == QWebEnginePage::KilledTerminationStatus ? TS_PROCESS_WAS_KILLED
                                               : status == QWebEnginePage::CrashedTerminationStatus
                                                   ? TS_PROCESS_CRASHED
                                                   : TS_ABNORMAL_TERMINATION;
    if (CefRequestHandler *handler = m_client->GetRequestHandler())
        handler->OnRenderProcessTerminated(m_browser, cefStatus);
}

namespace {
class GeolocationCallback : public CefGeolocationCallback {
public:
    GeolocationCallback(QWebEnginePage *page, QUrl origin) : m_page(page), m_origin(std::move(origin)) {}
    void Continue(bool allow) override
    {
        if (m_page)
            m_page->setFeaturePermission(m_origin, QWebEnginePage::Geolocation,
                                         allow ? QWebEnginePage::PermissionGrantedByUser
                                               : QWebEnginePage::PermissionDeniedByUser);
    }

private:
    QPointer<QWebEnginePage> m_page;
    QUrl m_origin;
};

class QuotaCallback : public CefQuotaCallback {
public:
    explicit QuotaCallback(QWebEngineQuotaRequest request) : m_request(std::move(request)) {}
    void Continue(bool allow) override
    {
        if (allow)
            m_request.accept();
        else
            m_request.reject();
    }
    void Cancel() override { m_request.reject(); }

private:
    QWebEngineQuotaRequest m_request;
};
} // namespace

void BrowserWindow::onFeaturePermissionRequested(const QUrl &origin, QWebEnginePage::Feature feature)
{
    // The page's own documents may notify (the mode switch says so while the window is hidden);
    // no other document may. The web engine keeps one right for all file pages, so while an
    // outside file page is shown anywhere, the page's documents wait for it to go.
    if (feature == QWebEnginePage::Notifications) {
        Runtime &state = runtime();
        const bool filePage = origin.scheme() == QLatin1String("file");
        const bool own = documentMayUseBridge() && filePage;
        if (own)
            state.pageAskedToNotify = true;
        const QWebEnginePage::PermissionPolicy answer =
            own && !anyShowsForeignFile() ? QWebEnginePage::PermissionGrantedByUser : QWebEnginePage::PermissionDeniedByUser;
        CEF_LOG_INFO(QStringLiteral("notifications %1 for %2")
                         .arg(answer == QWebEnginePage::PermissionGrantedByUser ? QStringLiteral("granted")
                              : own ? QStringLiteral("refused while a page outside the application folder is shown")
                                    : QStringLiteral("refused"),
                              frameUrl()));
        m_page->setFeaturePermission(origin, feature, answer);
        if (filePage)
            state.fileNotificationRight = answer;
        return;
    }
    CefGeolocationHandler *handler = m_client->GetGeolocationHandler();
    if (feature == QWebEnginePage::Geolocation && handler &&
        handler->OnRequestGeolocationPermission(m_browser, origin.toString(), new GeolocationCallback(m_page, origin)))
        return;
    m_page->setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
}

void BrowserWindow::onQuotaRequested(QWebEngineQuotaRequest request)
{
    CefRequestHandler *handler = m_client->GetRequestHandler();
    if (!handler || !handler->OnQuotaRequest(m_browser, request.origin().toString(), request.requestedSize(),
                                             new QuotaCallback(request)))
        request.reject();
}

void settleNotificationRight()
{
    Runtime &state = runtime();
    QWebEnginePage *anyPage = nullptr;
    for (BrowserWindow *window : state.liveWindows)
        if (!window->isClosed() && !anyPage)
            anyPage = window->browserPage();
    const QWebEnginePage::PermissionPolicy wanted = BrowserWindow::anyShowsForeignFile() ? QWebEnginePage::PermissionDeniedByUser
                                                    : state.pageAskedToNotify ? QWebEnginePage::PermissionGrantedByUser
                                                                              : QWebEnginePage::PermissionUnknown;
    // The right belongs to the profile; any of its pages sets it.
    if (wanted == state.fileNotificationRight || !anyPage)
        return;
    anyPage->setFeaturePermission(QUrl(QStringLiteral("file:///")), QWebEnginePage::Notifications, wanted);
    state.fileNotificationRight = wanted;
}

void BrowserWindow::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = m_page->createStandardContextMenu();
    QStringList items;
    for (QAction *action : menu->actions())
        items << action->text();
    CefRefPtr<CefMenuModel> model = new CefMenuModel(items);
    if (CefContextMenuHandler *handler = m_client->GetContextMenuHandler())
        handler->OnBeforeContextMenu(m_browser, m_browser->GetMainFrame(), model);
    if (model->GetCount() == 0) {
        delete menu;
        event->accept();
        return;
    }
    for (QAction *action : menu->actions())
        action->setVisible(model->items().contains(action->text()));
    menu->setAttribute(Qt::WA_DeleteOnClose, true);
    menu->popup(event->globalPos());
}

void BrowserWindow::dragEnterEvent(QDragEnterEvent *event)
{
    int mask = DRAG_OPERATION_NONE;
    if (event->possibleActions() & Qt::CopyAction)
        mask |= DRAG_OPERATION_COPY;
    if (event->possibleActions() & Qt::LinkAction)
        mask |= DRAG_OPERATION_LINK;
    if (event->possibleActions() & Qt::MoveAction)
        mask |= DRAG_OPERATION_MOVE;
    CefDragHandler *handler = m_client->GetDragHandler();
    if (handler && handler->OnDragEnter(m_browser, mask)) {
        event->ignore();
        return;
    }
    QWebEngineView::dragEnterEvent(event);
}

void BrowserWindow::closeEvent(QCloseEvent *event)
{
    // A pop-up's own window closing closes its browser.
    closeBrowser(false);
    event->accept();
}

} // namespace vexa_runtime
