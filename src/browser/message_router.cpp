#include "message_router.h"

#include <QMutexLocker>
#include <QVector>

#include <algorithm>

class CefMessageRouterBrowserSide::QueryCallback : public CefMessageRouterBrowserSide::Callback {
public:
    QueryCallback(CefRefPtr<CefMessageRouterBrowserSide> router, CefRefPtr<CefV8Context> context, int64 queryId)
        : m_router(router), m_context(context), m_queryId(queryId) {}

    // Nobody can answer once the last reference is gone: forget the query, or a page that sends
    // commands which never answer would grow the pending list until it navigates. The page is
    // told as well, or it would keep every such query (and its request text) just as long.
    ~QueryCallback() override
    {
        Pending query;
        if (m_router->takePending(Key{m_context.get(), m_queryId}, &query))
            forgetInPage(m_context, m_queryId);
    }

    void Success(const CefString &response) override { finish(true, 0, response); }
    void Failure(int error_code, const CefString &error_message) override { finish(false, error_code, error_message); }

    // No callback of the page's query runs: a query nobody answers gets no reply.
    static void forgetInPage(const CefRefPtr<CefV8Context> &context, int64 queryId)
    {
        vexa_runtime::runOnUi([context, queryId] { context->ForgetQuery(queryId); });
    }

private:
    void finish(bool success, int code, const CefString &text)
    {
        Pending query;
        if (!m_router->takePending(Key{m_context.get(), m_queryId}, &query))
            return;
        // The page lives on the UI thread; a command answering from elsewhere hands over once.
        // A released context refuses the reply, so it never reaches a later document.
        CefRefPtr<CefV8Context> context = m_context;
        const int64 queryId = m_queryId;
        vexa_runtime::runOnUi([context, queryId, success, code, text] {
            context->DeliverQueryReply(queryId, success, code, text);
        });
    }

    CefRefPtr<CefMessageRouterBrowserSide> m_router;
    const CefRefPtr<CefV8Context> m_context;
    const int64 m_queryId;
};

bool CefMessageRouterBrowserSide::AddHandler(Handler *handler, bool first)
{
    if (!handler || std::find(m_handlers.begin(), m_handlers.end(), handler) != m_handlers.end())
        return false;
    if (first)
        m_handlers.insert(m_handlers.begin(), handler);
    else
        m_handlers.push_back(handler);
    return true;
}

bool CefMessageRouterBrowserSide::RemoveHandler(Handler *handler)
{
    auto it = std::find(m_handlers.begin(), m_handlers.end(), handler);
    if (it == m_handlers.end())
        return false;
    cancelWhere([handler](const Pending &p) { return p.handler == handler; });
    m_handlers.erase(it);
    return true;
}

void CefMessageRouterBrowserSide::CancelPending(CefRefPtr<CefBrowser> browser, Handler *handler)
{
    const int id = browser ? browser->GetIdentifier() : 0;
    cancelWhere([id, handler](const Pending &p) {
        return (!id || p.browser->GetIdentifier() == id) && (!handler || p.handler == handler);
    });
}

int CefMessageRouterBrowserSide::GetPendingCount(CefRefPtr<CefBrowser> browser, Handler *handler) const
{
    QMutexLocker lock(&m_lock);
    int count = 0;
    for (const Pending &p : m_pending)
        if ((!browser || p.browser->IsSame(browser)) && (!handler || p.handler == handler))
            ++count;
    return count;
}

void CefMessageRouterBrowserSide::ReceiveQuery(CefRefPtr<CefBrowser> browser, CefRefPtr<CefV8Context> context,
                                               int64 query_id, const CefString &request, bool persistent)
{
    if (!browser || !context)
        return;
    const Key key{context.get(), query_id};
    {
        QMutexLocker lock(&m_lock);
        if (m_pending.contains(key))
            return; // a page reusing a live id: keep the first query
        m_pending.insert(key, Pending{browser, context, query_id, nullptr});
    }
    CefRefPtr<Callback> callback = new QueryCallback(this, context, query_id);
    // Handlers may be removed while one runs; walk a copy.
    const std::vector<Handler *> handlers = m_handlers;
    for (Handler *handler : handlers) {
        {
            QMutexLocker lock(&m_lock);
            auto it = m_pending.find(key);
            if (it != m_pending.end())
                it->handler = handler;
        }
        // The asking document is the current context while a handler looks at its query.
        context->Enter();
        const bool taken = handler->OnQuery(browser, browser->GetMainFrame(), query_id, request, persistent, callback);
        context->Exit();
        if (taken)
            return;
    }
    // Nobody took it; the page's query stays unanswered, and the page need not keep it.
    Pending query;
    if (takePending(key, &query))
        QueryCallback::forgetInPage(context, query_id);
}

void CefMessageRouterBrowserSide::ReceiveCancel(CefRefPtr<CefBrowser>, CefRefPtr<CefV8Context> context, int64 query_id)
{
    Pending query;
    if (context && takePending(Key{context.get(), query_id}, &query) && query.handler)
        query.handler->OnQueryCanceled(query.browser, query.browser->GetMainFrame(), query.queryId);
}

bool CefMessageRouterBrowserSide::takePending(const Key &key, Pending *out)
{
    QMutexLocker lock(&m_lock);
    auto it = m_pending.find(key);
    if (it == m_pending.end())
        return false;
    *out = *it;
    m_pending.erase(it);
    return true;
}

void CefMessageRouterBrowserSide::cancelWhere(const std::function<bool(const Pending &)> &match)
{
    QVector<Pending> cancelled;
    {
        QMutexLocker lock(&m_lock);
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (match(*it)) {
                cancelled.append(*it);
                it = m_pending.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const Pending &p : cancelled)
        if (p.handler)
            p.handler->OnQueryCanceled(p.browser, p.browser->GetMainFrame(), p.queryId);
}
