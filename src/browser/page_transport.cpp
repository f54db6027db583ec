// The two objects between a browser and its page: the transport the page script calls through
// the web channel, and the page that decides on navigations, pop-ups and console messages.
#include "runtime_qt.h"

#include "message_router.h"

namespace vexa_runtime {

PageTransport::PageTransport(BrowserWindow *window) : QObject(window), m_window(window) {}

void PageTransport::callFunction(const QString &contextToken, int functionId, const QVariantList &args)
{
    emit invoke(contextToken, functionId, args);
}

void PageTransport::deliverReply(const QString &contextToken, int64 queryId, bool success, int code, const QString &text)
{
    emit reply(contextToken, double(queryId), success, code, text);
}

void PageTransport::forgetQuery(const QString &contextToken, int64 queryId)
{
    emit forget(contextToken, double(queryId));
}

void PageTransport::hello(const QString &context, const QVariantList &early)
{
    m_window->contextCreated(context);
    for (const QVariant &entry : early) {
        const QVariantList call = entry.toList();
        const QString method = call.value(0).toString();
        const QVariantList args = call.value(1).toList();
        if (method == QLatin1String("query"))
            query(context, args.value(0).toDouble(), args.value(1).toString(), args.value(2).toBool());
        else if (method == QLatin1String("cancel"))
            cancel(context, args.value(0).toDouble());
        else if (method == QLatin1String("call"))
            this->call(context, args.value(0).toString(), args.value(1).toList());
    }
    m_window->endDocumentStartup();
}

// A document that is already gone asks nothing.
void PageTransport::query(const QString &context, double id, const QString &request, bool persistent)
{
    CefRefPtr<CefMessageRouterBrowserSide> router = m_window->client()->GetMessageRouter();
    if (router && m_window->isCurrentContext(context))
        router->ReceiveQuery(m_window->browser(), m_window->context(), int64(id), request, persistent);
}

void PageTransport::cancel(const QString &context, double id)
{
    CefRefPtr<CefMessageRouterBrowserSide> router = m_window->client()->GetMessageRouter();
    if (router && m_window->isCurrentContext(context))
        router->ReceiveCancel(m_window->browser(), m_window->context(), int64(id));
}

void PageTransport::call(const QString &context, const QString &function, const QVariantList &args)
{
    if (!m_window->isCurrentContext(context))
        return;
    CefV8ValueList arguments;
    for (const QVariant &arg : args) {
        const QVariantMap descriptor = arg.toMap();
        const QString type = descriptor.value(QStringLiteral("type")).toString();
        const QVariant value = descriptor.value(QStringLiteral("value"));
        if (type == QLatin1String("string"))
            arguments.push_back(CefV8Value::CreateString(value.toString()));
        else if (type == QLatin1String("function"))
            arguments.push_back(CefV8Value::CreateFunctionHandle(descriptor.value(QStringLiteral("id")).toInt()));
        else if (type == QLatin1String("boolean"))
            arguments.push_back(CefV8Value::CreateBool(value.toBool()));
        else if (type == QLatin1String("number"))
            arguments.push_back(CefV8Value::CreateDouble(value.toDouble()));
        else if (type == QLatin1String("null"))
            arguments.push_back(CefV8Value::CreateNull());
        else if (type == QLatin1String("undefined"))
            arguments.push_back(CefV8Value::CreateUndefined());
        else
            arguments.push_back(CefV8Value::CreateObject());
    }
    CefRefPtr<CefV8Context> ctx = m_window->context();
    CefRefPtr<CefV8Value> retval;
    CefString exception;
    ctx->Enter();
    ctx->CallNativeFunction(function, arguments, retval, exception);
    ctx->Exit();
}

// ---------------------------------------------------------------------------------------------

namespace {
bool isKnownScheme(const QString &scheme)
{
    static const QStringList known = {"http", "https", "file", "data", "about", "blob", "qrc", "chrome",
                                      "javascript", "filesystem", "view-source", "ws", "wss", "ftp"};
    return known.contains(scheme.toLower());
}
} // namespace

BrowserPage::BrowserPage(QWebEngineProfile *profile, BrowserWindow *window) : QWebEnginePage(profile, window), m_window(window) {}

bool BrowserPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (!isKnownScheme(url.scheme())) {
        m_window->unknownSchemeRequested(url);
        return false;
    }
    if (!isMainFrame) {
        m_window->frameNavigationRequested(url);
        return true;
    }
    CefRefPtr<CefBrowser> browser = m_window->browser();
    const QString text = url.toString(QUrl::FullyEncoded);
    if (CefRenderProcessHandler *render = renderHandler())
        if (render->OnBeforeNavigation(browser, browser->GetMainFrame(), text, type == NavigationTypeRedirect))
            return false;
    return !m_window->navigationRequested(url);
}

QWebEnginePage *BrowserPage::createWindow(WebWindowType)
{
    // Only the page's own documents open windows, a few at a time: a window opened for another
    // page (or for a file dropped on one) would join the application page's group, and a
    // page that opens windows in a loop would take the memory.
    if (!m_window->documentMayUseBridge()) {
        m_window->popupRefused(QStringLiteral("not a page of the application"));
        return nullptr;
    }
    if (BrowserWindow::openPopups() >= kMaxOpenPopups) {
        m_window->popupRefused(QStringLiteral("%1 pop-ups are open").arg(kMaxOpenPopups));
        return nullptr;
    }
    CefRefPtr<CefClient> client = m_window->client();
    CefWindowInfo info;
    CefBrowserSettings settings;
    if (CefLifeSpanHandler *handler = client->GetLifeSpanHandler()) {
        if (handler->OnBeforePopup(m_window->browser(), m_window->browser()->GetMainFrame(), QString(), info, settings))
            return nullptr;
    }
    if (info.windowless_rendering_enabled)
        return nullptr;
    auto *popup = new BrowserWindow(client, info, settings, true);
    popup->setOpener(m_window);
    popup->show();
    return popup->browserPage();
}

void BrowserPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                           const QString &sourceID)
{
    const cef_log_severity_t severity = level == ErrorMessageLevel     ? LOGSEVERITY_ERROR
                                        : level == WarningMessageLevel ? LOGSEVERITY_WARNING
                                                                       : LOGSEVERITY_INFO;
    if (cefLogIsOn(severity))
        cefLogWrite(severity, "CONSOLE", lineNumber, QStringLiteral("\"%1\", source: %2").arg(message, sourceID));
}

} // namespace vexa_runtime
