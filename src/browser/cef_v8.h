// The page's script context as native code sees it. A context is one document of one browser;
// it ends when the browser navigates, reloads or closes. Page functions cannot cross into native
// code, so a function is known here by the number its context gave it, and calling it asks the
// context's transport to call that function in the page.
#pragma once

#include "cef_browser.h"

#include <QHash>
#include <QVariantList>
#include <vector>

class CefV8Value;
using CefV8ValueList = std::vector<CefRefPtr<CefV8Value>>;

class CefV8Value : public CefBaseRefCounted {
public:
    enum Kind { Undefined, Null, Bool, Int, Double, String, Function, Object };

    static CefRefPtr<CefV8Value> CreateUndefined() { return new CefV8Value(Undefined, {}); }
    static CefRefPtr<CefV8Value> CreateString(const CefString &s) { return new CefV8Value(String, s); }
    static CefRefPtr<CefV8Value> CreateBool(bool b) { return new CefV8Value(Bool, b); }
    static CefRefPtr<CefV8Value> CreateInt(int i) { return new CefV8Value(Int, i); }
    static CefRefPtr<CefV8Value> CreateDouble(double d) { return new CefV8Value(Double, d); }
    static CefRefPtr<CefV8Value> CreateNull() { return new CefV8Value(Null, {}); }
    static CefRefPtr<CefV8Value> CreateObject() { return new CefV8Value(Object, {}); }
    // A function living in the page, known by its number within its context.
    static CefRefPtr<CefV8Value> CreateFunctionHandle(int functionId) { return new CefV8Value(Function, functionId); }

    bool IsString() const { return m_kind == String; }
    bool IsFunction() const { return m_kind == Function; }
    CefString GetStringValue() const { return m_kind == String ? m_value.toString() : CefString(); }
    int functionId() const { return m_kind == Function ? m_value.toInt() : 0; }

private:
    CefV8Value(Kind kind, QVariant value) : m_kind(kind), m_value(std::move(value)) {}
    Kind m_kind;
    QVariant m_value;
};

// Where a context's function calls go: the browser's page, or a recorder in tests.
class CefV8Transport {
public:
    virtual ~CefV8Transport() = default;
    virtual void callFunction(const QString &contextToken, int functionId, const QVariantList &args) = 0;
    virtual void deliverReply(const QString &contextToken, int64 queryId, bool success, int code, const QString &text) = 0;
    // The native side will never answer this query: the page may let go of it without calling
    // anything.
    virtual void forgetQuery(const QString &contextToken, int64 queryId) = 0;
};

// A native function exposed to the page.
class CefV8Handler : public CefBaseRefCounted {
public:
    // True when handled; retval then goes back to the page. False: the page sees undefined.
    virtual bool Execute(const CefString &name, CefRefPtr<CefV8Value> object, const CefV8ValueList &arguments,
                         CefRefPtr<CefV8Value> &retval, CefString &exception) = 0;
};

class CefV8Context : public CefBaseRefCounted {
public:
    // documentUrl: the address the document was created with (empty when it is not known); a
    // later change of the address through the history API does not change it.
    CefV8Context(CefRefPtr<CefBrowser> browser, QString token, CefV8Transport *transport, QString documentUrl = {})
        : m_browser(browser), m_token(std::move(token)), m_transport(transport), m_documentUrl(std::move(documentUrl))
    {
    }

    CefRefPtr<CefBrowser> GetBrowser() const { return m_browser; }
    CefRefPtr<CefFrame> GetFrame() const { return m_browser ? m_browser->GetMainFrame() : nullptr; }
    QString token() const { return m_token; }
    QString documentUrl() const { return m_documentUrl; }
    bool IsSame(const CefRefPtr<CefV8Context> &that) const { return that && that->m_token == m_token; }
    void invalidate() { m_valid = false; }

    // The context whose call is being handled right now (during a page function call) or that
    // was entered to deliver an event.
    static CefRefPtr<CefV8Context> GetCurrentContext();
    bool Enter();
    bool Exit();

    // Calls the page function with the given arguments; false when the context has ended.
    bool CallFunction(int functionId, const QVariantList &args);
    // Hands a router reply to the page's query; false when the context has ended.
    bool DeliverQueryReply(int64 queryId, bool success, int code, const QString &text);
    // Tells the page that its query will never be answered; false when the context has ended.
    bool ForgetQuery(int64 queryId);

    // Native functions the page can call by name (the page side forwards window.<name>(...)).
    void SetNativeFunction(const QString &name, CefRefPtr<CefV8Handler> handler) { m_functions.insert(name, handler); }
    bool CallNativeFunction(const QString &name, const CefV8ValueList &arguments, CefRefPtr<CefV8Value> &retval,
                            CefString &exception);

private:
    CefRefPtr<CefBrowser> m_browser;
    QString m_token;
    CefV8Transport *m_transport;
    QString m_documentUrl;
    bool m_valid = true;
    QHash<QString, CefRefPtr<CefV8Handler>> m_functions;
};

