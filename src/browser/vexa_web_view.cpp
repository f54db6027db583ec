#include "vexa_web_view.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QResizeEvent>

const QEvent::Type MessageEvent::kType = QEvent::Type(QEvent::registerEventType());

CefRefPtr<CefBrowser> MainBrowserProvider::GetBrowser()
{
    CefRefPtr<ClientHandler> handler = ClientHandler::current();
    return handler ? handler->GetBrowser() : nullptr;
}

VexaWebView::VexaWebView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_DontCreateNativeAncestors);
}

VexaWebView::~VexaWebView()
{
    // The client does not own its listener; make sure it never posts to a view that is gone.
    if (CefRefPtr<ClientHandler> handler = ClientHandler::current())
        handler->ForgetListener(this);
}

bool VexaWebView::load(const QUrl &url)
{
    m_url = url;
    switch (m_browserState) {
    case kNone: return createBrowser(size());
    case kCreating: return false; // the browser keeps the address it is being created with
    case kCreated: return navigate();
    }
    return false;
}

bool VexaWebView::createBrowser(const QSize &size)
{
    if (m_browserState != kNone || size.width() < 1 || size.height() < 1)
        return false;
    CefRefPtr<ClientHandler> handler = ClientHandler::current();
    if (!handler)
        return false;

    CefWindowInfo info;
    info.SetAsChild(this, QRect(QPoint(0, 0), size));
    CefBrowserSettings settings;
    // File pages may not read or script one another: each is an origin of its own. The page
    // reads files through the bridge only, and with access between file pages any local page
    // (a frame, a pop-up, the window that opened it) could script an application page into
    // sending commands.
    settings.universal_access_from_file_urls = STATE_DISABLED;
    settings.file_access_from_file_urls = STATE_DISABLED;
    settings.caret_browsing = STATE_DISABLED;
    settings.text_area_resize = STATE_DISABLED;
    settings.tab_to_links = STATE_DISABLED;

    handler->SetListener(this);
    const QString url = m_url.isEmpty() ? QStringLiteral("about:blank") : m_url.toString(QUrl::FullyEncoded);
    const bool requested = CefBrowserHost::CreateBrowser(info, handler.get(), url, settings, nullptr);
    if (requested)
        m_browserState = kCreating;
    return requested;
}

bool VexaWebView::navigate()
{
    CefRefPtr<CefBrowser> browser = GetBrowser();
    if (m_browserState != kCreated || m_url.isEmpty() || !browser)
        return false;
    browser->GetMainFrame()->LoadURL(m_url.toString(QUrl::FullyEncoded));
    return true;
}

void VexaWebView::OnAfterCreated(CefRefPtr<CefBrowser>)
{
    m_browserState = kCreated;
}

void VexaWebView::PostEvent(QEvent *event)
{
    QCoreApplication::postEvent(this, event, Qt::HighEventPriority);
}

void VexaWebView::back()
{
    if (CefRefPtr<CefBrowser> browser = GetBrowser())
        browser->GoBack();
}

void VexaWebView::forward()
{
    if (CefRefPtr<CefBrowser> browser = GetBrowser())
        browser->GoForward();
}

void VexaWebView::reload()
{
    if (CefRefPtr<CefBrowser> browser = GetBrowser())
        browser->Reload();
}

void VexaWebView::stop()
{
    if (CefRefPtr<CefBrowser> browser = GetBrowser())
        browser->StopLoad();
}

QVariant VexaWebView::evaluateJavaScript(const QString &scriptSource)
{
    if (CefRefPtr<CefBrowser> browser = GetBrowser())
        browser->GetMainFrame()->ExecuteJavaScript(scriptSource, QString(), 0);
    return QVariant(true);
}

void VexaWebView::resizeEvent(QResizeEvent *event)
{
    switch (m_browserState) {
    case kNone: createBrowser(event->size()); break;
    case kCreating: break;
    case kCreated:
        if (CefRefPtr<CefBrowser> browser = GetBrowser())
            browser->GetHost()->SetWindowBounds(QRect(QPoint(0, 0), event->size()));
        break;
    }
    QWidget::resizeEvent(event);
}

void VexaWebView::showEvent(QShowEvent *event)
{
    createBrowser(size());
    QWidget::showEvent(event);
}

void VexaWebView::closeEvent(QCloseEvent *event)
{
    CefRefPtr<ClientHandler> handler = ClientHandler::current();
    if (handler && !handler->IsClosing()) {
        if (CefRefPtr<CefBrowser> browser = GetBrowser())
            browser->GetHost()->CloseBrowser(false);
    }
    event->accept();
}

void VexaWebView::customEvent(QEvent *event)
{
    if (event->type() != MessageEvent::kType)
        return;
    auto *message = static_cast<MessageEvent *>(event);
    emit jsMessage(message->name(), message->callback());
}
