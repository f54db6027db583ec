// The message router: the page's cefQuery/cefQueryCancel on one side, query handlers with a
// counted reply callback on the other. The page and the browser share one process and one thread
// here, so a query is handed over as it is and its reply goes straight to the document that asked;
// nothing is packed into process messages on the way.
#pragma once

#include "cef_app.h"
#include "query_callback.h"

#include <QHash>
#include <QMutex>
#include <functional>
#include <vector>

struct CefMessageRouterConfig {
    CefString js_query_function = QStringLiteral("cefQuery");
    CefString js_cancel_function = QStringLiteral("cefQueryCancel");
};

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

    // The page script defines the query functions under their default names; a config naming
    // others changes nothing here.
    static CefRefPtr<CefMessageRouterBrowserSide> Create(const CefMessageRouterConfig &)
    {
        return new CefMessageRouterBrowserSide;
    }

    bool AddHandler(Handler *handler, bool first);
    bool RemoveHandler(Handler *handler);
    void CancelPending(CefRefPtr<CefBrowser> browser, Handler *handler);
    int GetPendingCount(CefRefPtr<CefBrowser> browser, Handler *handler) const;

    // The page's cefQuery, from the document (context) that called it. A reply reaches that
    // document only: once it is released, replies to its queries go nowhere.
    void ReceiveQuery(CefRefPtr<CefBrowser> browser, CefRefPtr<CefV8Context> context, int64 query_id,
                      const CefString &request, bool persistent);
    // The page's cefQueryCancel: withdraws one of the document's queries.
    void ReceiveCancel(CefRefPtr<CefBrowser> browser, CefRefPtr<CefV8Context> context, int64 query_id);

    // The client's notifications: each cancels the pending queries of the browser concerned (on a
    // navigation, the page that asked is about to go; its query ids mean nothing to the next one).
    void OnBeforeClose(CefRefPtr<CefBrowser> browser) { CancelPending(browser, nullptr); }
    void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser) { CancelPending(browser, nullptr); }
    void OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame>) { CancelPending(browser, nullptr); }
    // Queries arrive through ReceiveQuery and ReceiveCancel; no process message is the router's.
    bool OnProcessMessageReceived(CefRefPtr<CefBrowser>, CefProcessId, CefRefPtr<CefProcessMessage>) { return false; }

    ~CefMessageRouterBrowserSide() override = default;

private:
    class QueryCallback;
    // A query is known by the document that asked and the id that document gave it: ids restart
    // with every document.
    struct Key {
        const CefV8Context *context;
        int64 queryId;
        bool operator==(const Key &o) const { return context == o.context && queryId == o.queryId; }
    };
    friend uint qHash(const Key &key, uint seed) { return qHash(key.context, seed) ^ qHash(qint64(key.queryId), seed); }
    struct Pending {
        CefRefPtr<CefBrowser> browser;
        CefRefPtr<CefV8Context> context; // keeps the key's pointer unique while the query lives
        int64 queryId = 0;
        Handler *handler = nullptr;
    };
    CefMessageRouterBrowserSide() = default;
    // Ends a query: true when it was still pending (the reply may go out).
    bool takePending(const Key &key, Pending *out);
    void cancelWhere(const std::function<bool(const Pending &)> &match);

    std::vector<Handler *> m_handlers;
    mutable QMutex m_lock; // pending queries are ended from any thread
    QHash<Key, Pending> m_pending;
};
