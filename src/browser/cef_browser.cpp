// The runtime's browser, frame and host objects: façades that act on a BrowserWindow on the GUI
// thread, from whatever thread they are called.
#include "runtime_qt.h"

#include <QWebEngineHistory>

using vexa_runtime::BrowserWindow;
using vexa_runtime::runOnUi;

CefBrowser::CefBrowser(int id, bool popup, BrowserWindow *window)
    : m_id(id), m_popup(popup), m_window(window), m_frame(new CefFrame(this))
{
}

CefBrowser::~CefBrowser() = default;

BrowserWindow *CefBrowser::window() const
{
    return static_cast<BrowserWindow *>(m_window.data());
}

QWebEnginePage *CefBrowser::page() const
{
    return m_window ? window()->page() : nullptr;
}

CefRefPtr<CefBrowserHost> CefBrowser::GetHost() const
{
    return new CefBrowserHost(const_cast<CefBrowser *>(this));
}

bool CefBrowser::CanGoBack() const
{
    return m_window && window()->page()->history()->canGoBack();
}

bool CefBrowser::CanGoForward() const
{
    return m_window && window()->page()->history()->canGoForward();
}

namespace {
// Browser operations may come from any thread; they act on the page on the GUI thread, if the
// browser still has one by then.
void onWindow(CefRefPtr<CefBrowser> browser, std::function<void(BrowserWindow *)> action)
{
    runOnUi([browser, action] {
        if (BrowserWindow *window = browser->window())
            action(window);
    });
}
} // namespace

void CefBrowser::GoBack()
{
    onWindow(this, [](BrowserWindow *w) { w->page()->triggerAction(QWebEnginePage::Back); });
}

void CefBrowser::GoForward()
{
    onWindow(this, [](BrowserWindow *w) { w->page()->triggerAction(QWebEnginePage::Forward); });
}

void CefBrowser::Reload()
{
    onWindow(this, [](BrowserWindow *w) { w->page()->triggerAction(QWebEnginePage::Reload); });
}

void CefBrowser::StopLoad()
{
    onWindow(this, [](BrowserWindow *w) { w->requestStop(); });
}

std::vector<CefRefPtr<CefBrowser>> CefBrowser::GetRelatedBrowsers() const
{
    auto rootOf = [](BrowserWindow *w) {
        while (w && w->opener())
            w = w->opener();
        return w;
    };
    std::vector<CefRefPtr<CefBrowser>> related;
    BrowserWindow *root = rootOf(window());
    if (!root) {
        related.push_back(const_cast<CefBrowser *>(this));
        return related;
    }
    for (BrowserWindow *w : BrowserWindow::allWindows())
        if (rootOf(w) == root)
            related.push_back(w->browser());
    return related;
}

bool CefBrowser::SendProcessMessage(CefProcessId target, CefRefPtr<CefProcessMessage> message)
{
    if (target != PID_RENDERER || !message)
        return false;
    CefRefPtr<CefBrowser> self(this);
    runOnUi([self, message] {
        // Without a window the browser closed before the message could go.
        if (BrowserWindow *window = self->window())
            window->deliverToPage(message);
    });
    return true;
}

CefString CefFrame::GetURL() const
{
    return m_browser->window() ? m_browser->window()->frameUrl() : CefString();
}

void CefFrame::LoadURL(const CefString &url)
{
    onWindow(m_browser, [url](BrowserWindow *w) { w->startLoading(url); });
}

void CefFrame::ExecuteJavaScript(const CefString &code, const CefString &, int)
{
    onWindow(m_browser, [code](BrowserWindow *w) { w->page()->runJavaScript(code); });
}

CefRefPtr<CefBrowser> CefFrame::GetBrowser() const
{
    return m_browser;
}

bool CefBrowserHost::CreateBrowser(const CefWindowInfo &windowInfo, CefRefPtr<CefClient> client, const CefString &url,
                                   const CefBrowserSettings &settings, CefRefPtr<CefRequestContext>)
{
    if (!client || !CefCurrentlyOn(TID_UI))
        return false;
    auto *window = new BrowserWindow(client, windowInfo, settings, false);
    window->startLoading(url);
    return true;
}

void CefBrowserHost::CloseBrowser(bool force_close)
{
    CefRefPtr<CefBrowser> browser = m_browser;
    runOnUi([browser, force_close] {
        if (browser->window()) {
            browser->window()->closeBrowser(force_close);
            if (force_close)
                browser->window()->deleteLater();
        }
    });
}

void CefBrowserHost::SetWindowBounds(const QRect &rect)
{
    if (BrowserWindow *window = m_browser->window())
        window->setGeometry(rect);
}

void CefBrowserHost::SetMouseCursorChangeDisabled(bool disabled)
{
    if (BrowserWindow *window = m_browser->window())
        window->setProperty("vexaCursorChangeDisabled", disabled);
}

void CefBrowserHost::SetFocus(bool focus)
{
    if (BrowserWindow *window = m_browser->window()) {
        if (focus) {
            window->activateWindow();
            window->setFocus();
        }
    }
}
