// The page side of native events: setMessageCallback, the registry of page callbacks and the
// delivery of events to them.
#pragma once

#include "client_app.h"
#include "runtime_state.h"

namespace performance_test {

// The seven events native code raises in the page; no other message name is ever delivered.
bool isPageEventName(const QString &name);

// Turns an event's values into the single array the page callback receives: bool, int, double
// and string keep their type, lists nest, anything else becomes null.
QVariantList toPageValues(const CefRefPtr<CefListValue> &values);

class V8Handler : public CefV8Handler {
public:
    bool Execute(const CefString &name, CefRefPtr<CefV8Value> object, const CefV8ValueList &arguments,
                 CefRefPtr<CefV8Value> &retval, CefString &exception) override;
};

class RenderDelegate : public ClientApp::RenderDelegate {
public:
    // The registered page callbacks, kept by the runtime (runtime_state.h).
    using CallbackMap = vexa_runtime::Runtime::PageCallbacks;
    static CallbackMap &callbacks() { return vexa_runtime::runtime().pageCallbacks; }

    void OnContextCreated(CefRefPtr<ClientApp> app, CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                          CefRefPtr<CefV8Context> context) override;
    void OnContextReleased(CefRefPtr<ClientApp> app, CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                           CefRefPtr<CefV8Context> context) override;
    bool OnProcessMessageReceived(CefRefPtr<ClientApp> app, CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                  CefRefPtr<CefProcessMessage> message) override;
};

void CreateRenderDelegates(ClientApp::RenderDelegateSet &delegates);

} // namespace performance_test
