#include "client_app.h"

#include "page_event_delegate.h"

void ClientApp::CreateRenderDelegates(RenderDelegateSet &delegates)
{
    performance_test::CreateRenderDelegates(delegates);
}

void ClientApp::OnRegisterCustomSchemes(CefSchemeRegistrar *)
{
    m_cookieableSchemes << QStringLiteral("http") << QStringLiteral("https");
}

void ClientApp::OnContextInitialized()
{
    // QtWebEngine keeps cookies for http and https only and has no per-scheme switch, so the
    // list is the whole of the cookie manager's setting here.
}

void ClientApp::OnRenderThreadCreated(CefRefPtr<CefListValue> extra_info)
{
    CreateRenderDelegates(m_renderDelegates);
    for (const auto &delegate : m_renderDelegates)
        delegate->OnRenderThreadCreated(this, extra_info);
}

void ClientApp::OnWebKitInitialized()
{
    for (const auto &delegate : m_renderDelegates)
        delegate->OnWebKitInitialized(this);
}

void ClientApp::OnBrowserCreated(CefRefPtr<CefBrowser> browser)
{
    for (const auto &delegate : m_renderDelegates)
        delegate->OnBrowserCreated(this, browser);
}

void ClientApp::OnBrowserDestroyed(CefRefPtr<CefBrowser> browser)
{
    for (const auto &delegate : m_renderDelegates)
        delegate->OnBrowserDestroyed(this, browser);
}

bool ClientApp::OnBeforeNavigation(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, const CefString &url,
                                   bool is_redirect)
{
    for (const auto &delegate : m_renderDelegates)
        if (delegate->OnBeforeNavigation(this, browser, frame, url, is_redirect))
            return true;
    return false;
}

void ClientApp::OnContextCreated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, CefRefPtr<CefV8Context> context)
{
    for (const auto &delegate : m_renderDelegates)
        delegate->OnContextCreated(this, browser, frame, context);
}

void ClientApp::OnContextReleased(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, CefRefPtr<CefV8Context> context)
{
    for (const auto &delegate : m_renderDelegates)
        delegate->OnContextReleased(this, browser, frame, context);
}

bool ClientApp::OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                         CefRefPtr<CefProcessMessage> message)
{
    for (const auto &delegate : m_renderDelegates)
        if (delegate->OnProcessMessageReceived(this, browser, source_process, message))
            return true;
    return false;
}
