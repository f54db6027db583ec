// The one browser client of the process: the runtime's per-browser callbacks, the main browser,
// the browser side of the message router, and the senders of page events.
#pragma once

#include "cef_client.h"
#include "message_router.h"
#include "page_events.h"

#include <QMutex>
#include <QVariant>
#include <QWidget>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <set>

class QEvent;

class ClientHandler : public CefClient,
                      public CefContextMenuHandler,
                      public CefDownloadHandler,
                      public CefDragHandler,
                      public CefGeolocationHandler,
                      public CefLifeSpanHandler,
                      public CefLoadHandler,
                      public CefRequestHandler,
                      public PageEvents {
public:
    // The view that page queries are posted to.
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void OnAfterCreated(CefRefPtr<CefBrowser> browser) = 0;
        // Takes ownership of the event.
        virtual void PostEvent(QEvent *event) = 0;
    };

    using MessageHandlerSet = std::set<CefMessageRouterBrowserSide::Handler *>;
    // Makes the router's query handlers; the bridge provides it.
    using MessageHandlerFactory = std::function<void(MessageHandlerSet &)>;

    explicit ClientHandler(MessageHandlerFactory createMessageHandlers = {});
    ~ClientHandler() override;

    // The router's handlers are made when the first browser is created; the application, which
    // exists only after the client, hands the factory over before it creates any browser.
    void SetMessageHandlerFactory(MessageHandlerFactory create) { m_createMessageHandlers = std::move(create); }

    // The current client handler of the process.
    static CefRefPtr<ClientHandler> current();
    static void setCurrent(CefRefPtr<ClientHandler> handler);
    static int openBrowserCount() { return s_browserCount.load(); }

    CefRefPtr<CefBrowser> GetBrowser() const;
    int GetBrowserId() const;
    bool IsClosing() const;

    void SetMainWindowHandle(WId handle);
    WId GetMainWindowHandle() const { return m_mainWindowHandle; }

    void SetListener(Listener *listener);
    Listener *GetListener() const;
    // Forgets the listener if it is this one (a view that goes away).
    void ForgetListener(Listener *listener);

    // Runs on the UI thread whenever a load starts in the main browser: the document it brings
    // has heard nothing yet, and events raised from now on wait for it (the application has the
    // monitor tell again which bound programs run).
    void SetMainLoadStartHandler(std::function<void()> onStart) { m_onMainLoadStart = std::move(onStart); }

    QString startUrl() const { return m_startUrl; }
    void setStartUrl(const QString &url) { m_startUrl = url; }
    QString lastDownloadFile() const { return m_lastDownloadFile; }

    // PageEvents: delivered to the main browser's page only.
    void devicesChanged(int value) override { raise(QStringLiteral("devicesChanged"), {value}); }
    void onDeviceData(const QString &data) override { raise(QStringLiteral("onDeviceData"), {data}); }
    void currentPropChanged(int index, int mode) override { raise(QStringLiteral("currentPropChanged"), {index, mode}); }
    void macroItem(const QString &a, const QString &b, const QString &c, const QString &d) override
    {
        raise(QStringLiteral("macroItem"), {a, b, c, d});
    }
    void onProcessChanged(const QString &mode, bool on) override { raise(QStringLiteral("onProcessChanged"), {mode, on}); }
    void navStateChanged(bool back, bool forward) override { raise(QStringLiteral("navStateChanged"), {back, forward}); }
    void onBrowserMsg(const QString &message) override { raise(QStringLiteral("onBrowserMsg"), {message}); }
    void whenPageEnds(std::function<void()> onEnd) override;

    // CefClient
    CefContextMenuHandler *GetContextMenuHandler() override { return this; }
    CefDownloadHandler *GetDownloadHandler() override { return this; }
    CefDragHandler *GetDragHandler() override { return this; }
    CefGeolocationHandler *GetGeolocationHandler() override { return this; }
    CefLifeSpanHandler *GetLifeSpanHandler() override { return this; }
    CefLoadHandler *GetLoadHandler() override { return this; }
    CefRequestHandler *GetRequestHandler() override { return this; }
    CefMessageRouterBrowserSide *GetMessageRouter() override { return m_messageRouter.get(); }
    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                  CefRefPtr<CefProcessMessage> message) override;

    // CefContextMenuHandler
    void OnBeforeContextMenu(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, CefRefPtr<CefMenuModel> model) override;
    // CefDownloadHandler
    void OnBeforeDownload(CefRefPtr<CefBrowser> browser, CefRefPtr<CefDownloadItem> item, const CefString &suggested_name,
                          CefRefPtr<CefBeforeDownloadCallback> callback) override;
    void OnDownloadUpdated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefDownloadItem> item) override;
    // CefDragHandler
    bool OnDragEnter(CefRefPtr<CefBrowser> browser, int mask) override;
    // CefGeolocationHandler
    bool OnRequestGeolocationPermission(CefRefPtr<CefBrowser> browser, const CefString &requesting_url,
                                        CefRefPtr<CefGeolocationCallback> callback) override;
    // CefLifeSpanHandler
    bool OnBeforePopup(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, const CefString &target_url,
                       CefWindowInfo &windowInfo, CefBrowserSettings &settings) override;
    void OnAfterCreated(CefRefPtr<CefBrowser> browser) override;
    bool DoClose(CefRefPtr<CefBrowser> browser) override;
    void OnBeforeClose(CefRefPtr<CefBrowser> browser) override;
    // CefLoadHandler
    void OnLoadingStateChange(CefRefPtr<CefBrowser> browser, bool isLoading, bool canGoBack, bool canGoForward) override;
    void OnLoadError(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, cef_errorcode_t errorCode,
                     const CefString &errorText, const CefString &failedUrl) override;
    // CefRequestHandler
    bool OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, const CefString &url,
                        bool is_redirect) override;
    bool OnQuotaRequest(CefRefPtr<CefBrowser> browser, const CefString &origin_url, int64 new_size,
                        CefRefPtr<CefQuotaCallback> callback) override;
    void OnProtocolExecution(CefRefPtr<CefBrowser> browser, const CefString &url, bool &allow_os_execution) override;
    void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser, cef_termination_status_t status) override;

    // Largest storage a page may ask for.
    static constexpr int64 kMaxQuotaBytes = 20 * 1024 * 1024;

private:
    void sendToMainBrowser(CefRefPtr<CefProcessMessage> message);
    void raise(const QString &name, std::initializer_list<QVariant> values);
    // The main browser's document ends (UI thread): runs what waited for that.
    void mainPageEnded(const CefRefPtr<CefBrowser> &browser);

    mutable QMutex m_lock; // main browser, its id, the closing flag, the listener
    CefRefPtr<CefBrowser> m_browser;
    int m_browserId = 0;
    // Events raised before the first main browser exists (the application tells the page about
    // its start while the browser is still being created); sent once it exists, where the
    // page's start-up window holds them until the page has registered.
    std::vector<CefRefPtr<CefProcessMessage>> m_eventsBeforeBrowser;
    static constexpr size_t kMaxEventsBeforeBrowser = 256;
    bool m_closing = false;
    Listener *m_listener = nullptr;

    std::vector<CefRefPtr<CefBrowser>> m_popupBrowsers;
    std::vector<std::function<void()>> m_onPageEnd; // UI thread only
    std::function<void()> m_onMainLoadStart;        // UI thread only
    QString m_startUrl;
    bool m_mouseCursorChangeDisabled = false;
    WId m_mainWindowHandle = 0;
    QString m_lastDownloadFile;

    MessageHandlerFactory m_createMessageHandlers;
    CefRefPtr<CefMessageRouterBrowserSide> m_messageRouter;
    MessageHandlerSet m_messageHandlers;

    static std::atomic<int> s_browserCount;
};
