// The runtime's application callbacks. One object serves the browser side and the page side;
// on the page side it hands every callback to its render delegates in order.
#pragma once

#include "cef_app.h"

#include <QStringList>
#include <vector>

class ClientApp : public CefApp, public CefBrowserProcessHandler, public CefRenderProcessHandler {
public:
    class RenderDelegate : public CefBaseRefCounted {
    public:
        virtual void OnRenderThreadCreated(CefRefPtr<ClientApp>, CefRefPtr<CefListValue> /*extra_info*/) {}
        virtual void OnWebKitInitialized(CefRefPtr<ClientApp>) {}
        virtual void OnBrowserCreated(CefRefPtr<ClientApp>, CefRefPtr<CefBrowser>) {}
        virtual void OnBrowserDestroyed(CefRefPtr<ClientApp>, CefRefPtr<CefBrowser>) {}
        virtual bool OnBeforeNavigation(CefRefPtr<ClientApp>, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                        const CefString & /*url*/, bool /*is_redirect*/) { return false; }
        virtual void OnContextCreated(CefRefPtr<ClientApp>, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                      CefRefPtr<CefV8Context>) {}
        virtual void OnContextReleased(CefRefPtr<ClientApp>, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                       CefRefPtr<CefV8Context>) {}
        virtual bool OnProcessMessageReceived(CefRefPtr<ClientApp>, CefRefPtr<CefBrowser>, CefProcessId,
                                              CefRefPtr<CefProcessMessage>) { return false; }
    };
    using RenderDelegateSet = std::vector<CefRefPtr<RenderDelegate>>;

    ClientApp() = default;

    const QStringList &cookieableSchemes() const { return m_cookieableSchemes; }

    // CefApp
    void OnRegisterCustomSchemes(CefSchemeRegistrar *registrar) override;
    CefBrowserProcessHandler *GetBrowserProcessHandler() override { return this; }
    CefRenderProcessHandler *GetRenderProcessHandler() override { return this; }

    // CefBrowserProcessHandler
    void OnContextInitialized() override;

    // CefRenderProcessHandler
    void OnRenderThreadCreated(CefRefPtr<CefListValue> extra_info) override;
    void OnWebKitInitialized() override;
    void OnBrowserCreated(CefRefPtr<CefBrowser> browser) override;
    void OnBrowserDestroyed(CefRefPtr<CefBrowser> browser) override;
    bool OnBeforeNavigation(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, const CefString &url,
                            bool is_redirect) override;
    void OnContextCreated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, CefRefPtr<CefV8Context> context) override;
    void OnContextReleased(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, CefRefPtr<CefV8Context> context) override;
    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                  CefRefPtr<CefProcessMessage> message) override;

private:
    static void CreateRenderDelegates(RenderDelegateSet &delegates);

    RenderDelegateSet m_renderDelegates;
    QStringList m_cookieableSchemes;
};
