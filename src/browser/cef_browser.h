// Browsers, their main frame and their host: what the program does with a browser, over QtWebEngine.
// Every operation may be called from any thread; work that touches the page is carried to the
// GUI thread and done there in calling order.
#pragma once

#include "cef_base.h"
#include "cef_values.h"

#include <QPointer>
#include <QRect>

#include <functional>
#include <vector>

class QWidget;
class QWebEnginePage;
class CefBrowser;
class CefClient;
class CefFrame;
namespace vexa_runtime { class BrowserWindow; }

// Threads of the runtime. QtWebEngine runs its browser-side work on the Qt GUI thread, so the
// runtime's UI and IO threads both are that thread here.
enum CefThreadId { TID_UI, TID_IO };
enum CefProcessId { PID_BROWSER, PID_RENDERER };

bool CefCurrentlyOn(CefThreadId thread);
// Runs task on the given runtime thread, later, in posting order.
void CefPostTask(CefThreadId thread, std::function<void()> task);
namespace vexa_runtime {
// Runs fn on the GUI thread: now when already there, else queued in calling order.
void runOnUi(std::function<void()> fn);
}

class CefFrame : public CefBaseRefCounted {
public:
    CefString GetURL() const;
    void LoadURL(const CefString &url);
    void ExecuteJavaScript(const CefString &code, const CefString &script_url, int start_line);
    CefRefPtr<CefBrowser> GetBrowser() const;

private:
    friend class CefBrowser;
    explicit CefFrame(CefBrowser *browser) : m_browser(browser) {}
    CefBrowser *m_browser; // the frame lives exactly as long as its browser
};

class CefBrowserHost;

class CefBrowser : public CefBaseRefCounted {
public:
    int GetIdentifier() const { return m_id; }
    bool IsSame(const CefRefPtr<CefBrowser> &that) const { return that && that->m_id == m_id; }
    bool IsPopup() const { return m_popup; }
    CefRefPtr<CefFrame> GetMainFrame() const { return m_frame; }
    CefRefPtr<CefBrowserHost> GetHost() const;

    bool CanGoBack() const;
    bool CanGoForward() const;
    void GoBack();
    void GoForward();
    void Reload();
    void StopLoad();

    // This browser and every browser whose page may reach its scripts: the one that opened it
    // and the ones it opened, transitively.
    std::vector<CefRefPtr<CefBrowser>> GetRelatedBrowsers() const;

    // Sends a named message to the page side. Only PID_RENDERER is a target.
    bool SendProcessMessage(CefProcessId target, CefRefPtr<CefProcessMessage> message);

    // A browser without a window, for tests of the code above the runtime.
    static CefRefPtr<CefBrowser> CreateForTesting(int id, bool popup = false) { return new CefBrowser(id, popup, nullptr); }

    // Runtime internals.
    QWebEnginePage *page() const;
    vexa_runtime::BrowserWindow *window() const;

private:
    friend class vexa_runtime::BrowserWindow;
    friend class CefBrowserHost;
    CefBrowser(int id, bool popup, vexa_runtime::BrowserWindow *window);
    ~CefBrowser() override;

    const int m_id;
    const bool m_popup;
    QPointer<QObject> m_window; // the BrowserWindow, while it exists
    CefRefPtr<CefFrame> m_frame;
};

struct CefWindowInfo {
    // The widget that holds the browser, and the browser's place in it. An empty parent makes a
    // top-level window.
    void SetAsChild(QWidget *parent, const QRect &rect)
    {
        parent_widget = parent;
        bounds = rect;
    }
    QWidget *parent_widget = nullptr;
    QRect bounds;
    bool windowless_rendering_enabled = false;
};

enum cef_state_t { STATE_DEFAULT = 0, STATE_ENABLED, STATE_DISABLED };

struct CefBrowserSettings {
    cef_state_t universal_access_from_file_urls = STATE_DEFAULT;
    cef_state_t file_access_from_file_urls = STATE_DEFAULT;
    cef_state_t caret_browsing = STATE_DEFAULT;
    cef_state_t text_area_resize = STATE_DEFAULT;
    cef_state_t tab_to_links = STATE_DEFAULT;
};

// Browsers share one profile; a request context is accepted for the shape of the call only.
class CefRequestContext : public CefBaseRefCounted {};

class CefBrowserHost : public CefBaseRefCounted {
public:
    // Asynchronous like the runtime's: the client hears OnAfterCreated from the event loop.
    static bool CreateBrowser(const CefWindowInfo &windowInfo, CefRefPtr<CefClient> client,
                              const CefString &url, const CefBrowserSettings &settings,
                              CefRefPtr<CefRequestContext> request_context);

    CefRefPtr<CefBrowser> GetBrowser() const { return m_browser; }
    void CloseBrowser(bool force_close);
    // Places the browser's window inside its parent (the counterpart of positioning the
    // browser's native child window).
    void SetWindowBounds(const QRect &rect);
    void SetMouseCursorChangeDisabled(bool disabled);
    void SetFocus(bool focus);

private:
    friend class CefBrowser;
    explicit CefBrowserHost(CefRefPtr<CefBrowser> browser) : m_browser(browser) {}
    CefRefPtr<CefBrowser> m_browser;
};
