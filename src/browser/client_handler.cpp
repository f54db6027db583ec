#include "client_handler.h"

#include "program_locations.h"

#include <QMutexLocker>

std::atomic<int> ClientHandler::s_browserCount{0};

namespace {
QMutex g_currentLock;
CefRefPtr<ClientHandler> g_current;

// The vendor's site, shown when nothing else is asked for.
const char kVendorSite[] = "http://www.parvex.example/";
} // namespace

ClientHandler::ClientHandler(MessageHandlerFactory createMessageHandlers)
    : m_createMessageHandlers(std::move(createMessageHandlers))
{
    const CefCommandLine *commandLine = CefCommandLine::GetGlobalCommandLine();
    m_startUrl = commandLine->GetSwitchValue(QStringLiteral("url"));
    if (m_startUrl.isEmpty())
        m_startUrl = QString::fromLatin1(kVendorSite);
    m_mouseCursorChangeDisabled = commandLine->HasSwitch(QStringLiteral("mouse-cursor-change-disabled"));
}

ClientHandler::~ClientHandler()
{
    for (CefMessageRouterBrowserSide::Handler *handler : m_messageHandlers)
        delete handler;
}

CefRefPtr<ClientHandler> ClientHandler::current()
{
    QMutexLocker lock(&g_currentLock);
    return g_current;
}

void ClientHandler::setCurrent(CefRefPtr<ClientHandler> handler)
{
    CefRefPtr<ClientHandler> previous;
    {
        QMutexLocker lock(&g_currentLock);
        previous = g_current;
        g_current = handler;
    }
    // previous is released here, outside the lock
}

CefRefPtr<CefBrowser> ClientHandler::GetBrowser() const
{
    QMutexLocker lock(&m_lock);
    return m_browser;
}

int ClientHandler::GetBrowserId() const
{
    QMutexLocker lock(&m_lock);
    return m_browserId;
}

bool ClientHandler::IsClosing() const
{
    QMutexLocker lock(&m_lock);
    return m_closing;
}

void ClientHandler::SetMainWindowHandle(WId handle)
{
    if (!CefCurrentlyOn(TID_UI)) {
        CefRefPtr<ClientHandler> self(this);
        CefPostTask(TID_UI, [self, handle] { self->SetMainWindowHandle(handle); });
        return;
    }
    m_mainWindowHandle = handle;
}

void ClientHandler::SetListener(Listener *listener)
{
    QMutexLocker lock(&m_lock);
    m_listener = listener;
}

ClientHandler::Listener *ClientHandler::GetListener() const
{
    QMutexLocker lock(&m_lock);
    return m_listener;
}

void ClientHandler::ForgetListener(Listener *listener)
{
    QMutexLocker lock(&m_lock);
    if (m_listener == listener)
        m_listener = nullptr;
}

// --- page events ---------------------------------------------------------------------------------

void ClientHandler::sendToMainBrowser(CefRefPtr<CefProcessMessage> message)
{
    CefRefPtr<CefBrowser> browser;
    {
        QMutexLocker lock(&m_lock);
        browser = m_browser;
        if (!browser) {
            // Before the first main browser the event waits for it; once a main browser has come
            // and gone there is no page left to tell, and the event is dropped.
            if (m_browserId == 0 && !m_closing && m_eventsBeforeBrowser.size() < kMaxEventsBeforeBrowser)
                m_eventsBeforeBrowser.push_back(message);
            return;
        }
    }
    browser->SendProcessMessage(PID_RENDERER, message);
}

// Every page event is a process message named after it, its values in order: a whole number, a
// yes/no or a text each, as the page's handlers read them.
void ClientHandler::raise(const QString &name, std::initializer_list<QVariant> values)
{
    CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create(name);
    CefRefPtr<CefListValue> args = message->GetArgumentList();
    size_t index = 0;
    for (const QVariant &value : values) {
        if (value.type() == QVariant::Int)
            args->SetInt(index++, value.toInt());
        else if (value.type() == QVariant::Bool)
            args->SetBool(index++, value.toBool());
        else
            args->SetString(index++, value.toString());
    }
    sendToMainBrowser(message);
}

// --- runtime callbacks ---------------------------------------------------------------------------

bool ClientHandler::OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                             CefRefPtr<CefProcessMessage> message)
{
    return m_messageRouter && m_messageRouter->OnProcessMessageReceived(browser, source_process, message);
}

void ClientHandler::OnBeforeContextMenu(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, CefRefPtr<CefMenuModel> model)
{
    model->Clear();
}

void ClientHandler::OnBeforeDownload(CefRefPtr<CefBrowser>, CefRefPtr<CefDownloadItem>, const CefString &suggested_name,
                                     CefRefPtr<CefBeforeDownloadCallback> callback)
{
    const QString documents = platform::documentsFolder();
    callback->Continue(documents.isEmpty() ? QString() : documents + QLatin1Char('/') + suggested_name, true);
}

void ClientHandler::OnDownloadUpdated(CefRefPtr<CefBrowser>, CefRefPtr<CefDownloadItem> item)
{
    if (item->IsComplete())
        m_lastDownloadFile = item->GetFullPath();
}

bool ClientHandler::OnDragEnter(CefRefPtr<CefBrowser>, int mask)
{
    return (mask & DRAG_OPERATION_LINK) != 0;
}

bool ClientHandler::OnRequestGeolocationPermission(CefRefPtr<CefBrowser>, const CefString &,
                                                   CefRefPtr<CefGeolocationCallback> callback)
{
    callback->Continue(true);
    return true;
}

bool ClientHandler::OnBeforePopup(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString &, CefWindowInfo &windowInfo,
                                  CefBrowserSettings &)
{
    // Windowed browsers open their pop-ups as ordinary top-level windows with this client.
    return windowInfo.windowless_rendering_enabled;
}

void ClientHandler::OnAfterCreated(CefRefPtr<CefBrowser> browser)
{
    if (!m_messageRouter) {
        m_messageRouter = CefMessageRouterBrowserSide::Create(CefMessageRouterConfig());
        if (m_createMessageHandlers)
            m_createMessageHandlers(m_messageHandlers);
        for (CefMessageRouterBrowserSide::Handler *handler : m_messageHandlers)
            m_messageRouter->AddHandler(handler, false);
    }

    if (m_mouseCursorChangeDisabled)
        browser->GetHost()->SetMouseCursorChangeDisabled(true);

    std::vector<CefRefPtr<CefProcessMessage>> waiting;
    {
        QMutexLocker lock(&m_lock);
        if (!m_browser) {
            if (m_browserId == 0)
                waiting.swap(m_eventsBeforeBrowser);
            m_browser = browser;
            m_browserId = browser->GetIdentifier();
        }
    }
    for (const CefRefPtr<CefProcessMessage> &message : waiting)
        browser->SendProcessMessage(PID_RENDERER, message);

    if (browser->IsPopup()) {
        m_popupBrowsers.push_back(browser);
        CefPostTask(TID_UI, [browser] { browser->GetHost()->SetFocus(true); });
    }

    ++s_browserCount;

    if (Listener *listener = GetListener())
        listener->OnAfterCreated(browser);
}

bool ClientHandler::DoClose(CefRefPtr<CefBrowser> browser)
{
    QMutexLocker lock(&m_lock);
    if (m_browserId == browser->GetIdentifier())
        m_closing = true;
    return false;
}

void ClientHandler::whenPageEnds(std::function<void()> onEnd)
{
    if (CefCurrentlyOn(TID_UI)) {
        m_onPageEnd.push_back(std::move(onEnd));
        return;
    }
    CefRefPtr<ClientHandler> self(this);
    CefPostTask(TID_UI, [self, onEnd] { self->m_onPageEnd.push_back(onEnd); });
}

void ClientHandler::mainPageEnded(const CefRefPtr<CefBrowser> &browser)
{
    if (!browser || browser->GetIdentifier() != GetBrowserId())
        return;
    const std::vector<std::function<void()>> waiting = std::move(m_onPageEnd);
    m_onPageEnd.clear();
    for (const std::function<void()> &onEnd : waiting)
        onEnd();
}

void ClientHandler::OnBeforeClose(CefRefPtr<CefBrowser> browser)
{
    if (m_messageRouter)
        m_messageRouter->OnBeforeClose(browser);
    mainPageEnded(browser);

    bool wasMain = false;
    {
        QMutexLocker lock(&m_lock);
        if (m_browserId == browser->GetIdentifier()) {
            m_browser = nullptr;
            wasMain = true;
        }
    }
    if (!wasMain && browser->IsPopup()) {
        for (auto it = m_popupBrowsers.begin(); it != m_popupBrowsers.end(); ++it) {
            if ((*it)->IsSame(browser)) {
                m_popupBrowsers.erase(it);
                break;
            }
        }
    }

    if (--s_browserCount == 0 && m_messageRouter) {
        for (CefMessageRouterBrowserSide::Handler *handler : m_messageHandlers) {
            m_messageRouter->RemoveHandler(handler);
            delete handler;
        }
        m_messageHandlers.clear();
        m_messageRouter = nullptr;
    }
}

void ClientHandler::OnLoadingStateChange(CefRefPtr<CefBrowser> browser, bool isLoading, bool canGoBack, bool canGoForward)
{
    navStateChanged(canGoBack, canGoForward);
    if (isLoading && m_onMainLoadStart && browser->GetIdentifier() == GetBrowserId())
        m_onMainLoadStart();
}

void ClientHandler::OnLoadError(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame, cef_errorcode_t errorCode,
                                const CefString &, const CefString &)
{
    if (errorCode == ERR_ABORTED)
        return;
    if (errorCode == ERR_UNKNOWN_URL_SCHEME && frame && frame->GetURL().startsWith(QLatin1String("spotify:")))
        return;
    onBrowserMsg(QStringLiteral("pageError"));
}

bool ClientHandler::OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, const CefString &, bool)
{
    if (m_messageRouter)
        m_messageRouter->OnBeforeBrowse(browser, frame);
    mainPageEnded(browser);
    return false;
}

bool ClientHandler::OnQuotaRequest(CefRefPtr<CefBrowser>, const CefString &, int64 new_size,
                                   CefRefPtr<CefQuotaCallback> callback)
{
    callback->Continue(new_size <= kMaxQuotaBytes);
    return true;
}

void ClientHandler::OnProtocolExecution(CefRefPtr<CefBrowser>, const CefString &url, bool &allow_os_execution)
{
    if (url.startsWith(QLatin1String("spotify:")))
        allow_os_execution = true;
}

void ClientHandler::OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser, cef_termination_status_t)
{
    if (m_messageRouter)
        m_messageRouter->OnRenderProcessTerminated(browser);
    mainPageEnded(browser);

    CefRefPtr<CefFrame> frame = browser->GetMainFrame();
    const QString url = frame->GetURL().toLower();
    if (m_startUrl == QLatin1String("chrome://crash") || url.isEmpty())
        return;
    // A crashed page is replaced by the start page, the start page itself included: a dead
    // renderer would otherwise leave the frameless window blank for good.
    frame->LoadURL(m_startUrl);
}
