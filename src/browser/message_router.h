// The message router: the page's cefQuery/cefQueryCancel on one side, query handlers with a
// counted reply callback on the other. Queries travel as process messages from the page to the
// browser's client, which passes them here; replies travel back the same way.
#pragma once

#include "cef_app.h"
#include "query_callback.h"

#include <QHash>
#include <QMutex>
#include <QSet>
#include <vector>

struct CefMessageRouterConfig {
    CefString js_query_function = QStringLiteral("cefQuery");
    CefString js_cancel_function = QStringLiteral("cefQueryCancel");
};

namespace message_router {
// Message names and argument order of the router's traffic.
// page → browser  "<query>Msg":       0 context token, 1 query id, 2 request, 3 persistent
// page → browser  "<cancel>Msg":      0 context token, 1 query id
// browser → page  "<query>Reply":     0 context token, 1 query id, 2 success, 3 error code, 4 text
QString queryMessageName(const CefMessageRouterConfig &config);
QString cancelMessageName(const CefMessageRouterConfig &config);
QString replyMessageName(const CefMessageRouterConfig &config);
}

class CefMessageRouterBrowserSide : public CefBaseRefCounted {
public:
    using Callback = CefQueryCallback;

    class Handler {
    public:
        virtual ~Handler() = default;
        // True when the handler takes the query; the router then asks no other handler.
        virtual bool OnQuery(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int64 query_id,
                             const CefString &request, bool persistent, CefRefPtr<Callback> callback) = 0;
        virtual void OnQueryCanceled(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int64 /*query_id*/) {}
    };

    static CefRefPtr<CefMessageRouterBrowserSide> Create(const CefMessageRouterConfig &config);

    bool AddHandler(Handler *handler, bool first);
    bool RemoveHandler(Handler *handler);
    void CancelPending(CefRefPtr<CefBrowser> browser, Handler *handler);
    int GetPendingCount(CefRefPtr<CefBrowser> browser, Handler *handler) const;

    // The client's notifications: each cancels the pending queries of the browser concerned.
    void OnBeforeClose(CefRefPtr<CefBrowser> browser);
    void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser);
    void OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame);
    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                  CefRefPtr<CefProcessMessage> message);

    ~CefMessageRouterBrowserSide() override;

private:
    class QueryCallback;
    struct Pending {
        int browserId;
        QString context;
        int64 queryId;
        Handler *handler;
        CefRefPtr<CefBrowser> browser;
    };
    explicit CefMessageRouterBrowserSide(const CefMessageRouterConfig &config) : m_config(config) {}
    // Ends a query: true when it was still pending (the reply may go out).
    bool takePending(int browserId, const QString &context, int64 queryId, Pending *out);
    void cancelWhere(const std::function<bool(const Pending &)> &match, bool notifyHandlers);
    void sendReply(const Pending &query, bool success, int code, const CefString &text);

    const CefMessageRouterConfig m_config;
    std::vector<Handler *> m_handlers;
    mutable QMutex m_lock; // pending queries are ended from any thread
    QHash<QString, Pending> m_pending;
};

// Page side of the router: knows the live contexts and hands replies to the page of the context
// that asked, never to a later document of the same browser.
class CefMessageRouterRendererSide : public CefBaseRefCounted {
public:
    static CefRefPtr<CefMessageRouterRendererSide> Create(const CefMessageRouterConfig &config);
    void OnContextCreated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, CefRefPtr<CefV8Context> context);
    void OnContextReleased(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, CefRefPtr<CefV8Context> context);
    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                  CefRefPtr<CefProcessMessage> message);

private:
    explicit CefMessageRouterRendererSide(const CefMessageRouterConfig &config) : m_config(config) {}
    const CefMessageRouterConfig m_config;
    QHash<QString, CefRefPtr<CefV8Context>> m_contexts; // by token
};
