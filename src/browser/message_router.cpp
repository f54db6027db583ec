#include "message_router.h"

#include <QMutexLocker>

namespace message_router {
QString queryMessageName(const CefMessageRouterConfig &config)
{
    return config.js_query_function + QStringLiteral("Msg");
}
QString cancelMessageName(const CefMessageRouterConfig &config)
{
    return config.js_cancel_function + QStringLiteral("Msg");
}
QString replyMessageName(const CefMessageRouterConfig &config)
{
    return config.js_query_function + QStringLiteral("Reply");
}
} // namespace message_router

namespace {
QString pendingKey(int browserId, const QString &context, int64 queryId)
{
    return QStringLiteral("%1/%2/%3").arg(browserId).arg(context).arg(queryId);
}
} // namespace

class CefMessageRouterBrowserSide::QueryCallback : public CefMessageRouterBrowserSide::Callback {
public:
    QueryCallback(CefRefPtr<CefMessageRouterBrowserSide> router, int browserId, QString context, int64 queryId)
        : m_router(router), m_browserId(browserId), m_context(std::move(context)), m_queryId(queryId) {}

    // Nobody can answer once the last reference is gone: forget the query, or a page that sends
    // commands which never answer would grow the pending list until it navigates.
    ~QueryCallback() override
    {
        Pending query;
        m_router->takePending(m_browserId, m_context, m_queryId, &query);
    }

    void Success(const CefString &response) override { finish(true, 0, response); }
    void Failure(int error_code, const CefString &error_message) override { finish(false, error_code, error_message); }

private:
    void finish(bool success, int code, const CefString &text)
    {
        Pending query;
        if (m_router->takePending(m_browserId, m_context, m_queryId, &query))
            m_router->sendReply(query, success, code, text);
    }

    CefRefPtr<CefMessageRouterBrowserSide> m_router;
    const int m_browserId;
    const QString m_context;
    const int64 m_queryId;
};

CefRefPtr<CefMessageRouterBrowserSide> CefMessageRouterBrowserSide::Create(const CefMessageRouterConfig &config)
{
    return new CefMessageRouterBrowserSide(config);
}

CefMessageRouterBrowserSide::~CefMessageRouterBrowserSide() = default;

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
    cancelWhere([handler](const Pending &p) { return p.handler == handler; }, true);
    m_handlers.erase(it);
    return true;
}

void CefMessageRouterBrowserSide::CancelPending(CefRefPtr<CefBrowser> browser, Handler *handler)
{
    const int id = browser ? browser->GetIdentifier() : 0;
    cancelWhere([id, handler](const Pending &p) { return (!id || p.browserId == id) && (!handler || p.handler == handler); },
                true);
}

int CefMessageRouterBrowserSide::GetPendingCount(CefRefPtr<CefBrowser> browser, Handler *handler) const
{
    QMutexLocker lock(&m_lock);
    int count = 0;
    for (const Pending &p : m_pending)
        if ((!browser || p.browserId == browser->GetIdentifier()) && (!handler || p.handler == handler))
            ++count;
    return count;
}

void CefMessageRouterBrowserSide::OnBeforeClose(CefRefPtr<CefBrowser> browser)
{
    CancelPending(browser, nullptr);
}

void CefMessageRouterBrowserSide::OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser)
{
    CancelPending(browser, nullptr);
}

void CefMessageRouterBrowserSide::OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame>)
{
    // The page that asked is about to go; its query ids mean nothing to the next page.
    CancelPending(browser, nullptr);
}

bool CefMessageRouterBrowserSide::OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId,
                                                           CefRefPtr<CefProcessMessage> message)
{
    if (!browser || !message)
        return false;
    const QString name = message->GetName();
    CefRefPtr<CefListValue> args = message->GetArgumentList();
    const int browserId = browser->GetIdentifier();

    if (name == message_router::queryMessageName(m_config)) {
        const QString context = args->GetString(0);
        const int64 queryId = int64(args->GetDouble(1));
        const QString request = args->GetString(2);
        const bool persistent = args->GetBool(3);
        const QString key = pendingKey(browserId, context, queryId);
        {
            QMutexLocker lock(&m_lock);
            if (m_pending.contains(key))
                return true; // a page reusing a live id: keep the first query
            m_pending.insert(key, Pending{browserId, context, queryId, nullptr, browser});
        }
        CefRefPtr<Callback> callback = new QueryCallback(this, browserId, context, queryId);
        // Handlers may be removed while one runs; walk a copy.
        const std::vector<Handler *> handlers = m_handlers;
        for (Handler *handler : handlers) {
            {
                QMutexLocker lock(&m_lock);
                auto it = m_pending.find(key);
                if (it != m_pending.end())
                    it->handler = handler;
            }
            if (handler->OnQuery(browser, browser->GetMainFrame(), queryId, request, persistent, callback))
                return true;
        }
        QMutexLocker lock(&m_lock);
        m_pending.remove(key); // nobody took it; the page's query stays unanswered
        return true;
    }

    if (name == message_router::cancelMessageName(m_config)) {
        Pending query;
        if (takePending(browserId, args->GetString(0), int64(args->GetDouble(1)), &query) && query.handler)
            query.handler->OnQueryCanceled(query.browser, query.browser->GetMainFrame(), query.queryId);
        return true;
    }
    return false;
}

bool CefMessageRouterBrowserSide::takePending(int browserId, const QString &context, int64 queryId, Pending *out)
{
    QMutexLocker lock(&m_lock);
    auto it = m_pending.find(pendingKey(browserId, context, queryId));
    if (it == m_pending.end())
        return false;
    *out = *it;
    m_pending.erase(it);
    return true;
}

void CefMessageRouterBrowserSide::cancelWhere(const std::function<bool(const Pending &)> &match, bool notifyHandlers)
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
    if (!notifyHandlers)
        return;
    for (const Pending &p : cancelled)
        if (p.handler)
            p.handler->OnQueryCanceled(p.browser, p.browser->GetMainFrame(), p.queryId);
}

void CefMessageRouterBrowserSide::sendReply(const Pending &query, bool success, int code, const CefString &text)
{
    CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create(message_router::replyMessageName(m_config));
    CefRefPtr<CefListValue> args = message->GetArgumentList();
    args->SetString(0, query.context);
    args->SetDouble(1, double(query.queryId));
    args->SetBool(2, success);
    args->SetInt(3, code);
    args->SetString(4, text);
    query.browser->SendProcessMessage(PID_RENDERER, message);
}

// ---------------------------------------------------------------------------------------------

CefRefPtr<CefMessageRouterRendererSide> CefMessageRouterRendererSide::Create(const CefMessageRouterConfig &config)
{
    return new CefMessageRouterRendererSide(config);
}

void CefMessageRouterRendererSide::OnContextCreated(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                                    CefRefPtr<CefV8Context> context)
{
    if (context)
        m_contexts.insert(context->token(), context);
}

void CefMessageRouterRendererSide::OnContextReleased(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                                     CefRefPtr<CefV8Context> context)
{
    if (context)
        m_contexts.remove(context->token());
}

bool CefMessageRouterRendererSide::OnProcessMessageReceived(CefRefPtr<CefBrowser>, CefProcessId,
                                                            CefRefPtr<CefProcessMessage> message)
{
    if (!message || message->GetName() != message_router::replyMessageName(m_config))
        return false;
    CefRefPtr<CefListValue> args = message->GetArgumentList();
    CefRefPtr<CefV8Context> context = m_contexts.value(args->GetString(0));
    if (context)
        context->DeliverQueryReply(int64(args->GetDouble(1)), args->GetBool(2), args->GetInt(3), args->GetString(4));
    return true;
}
