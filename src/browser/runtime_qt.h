// How the runtime's browsers are made of QtWebEngine: a view with its page, a web channel to the
// page, and the transport object the injected page script talks to. Nothing outside src/browser
// includes this header.
#pragma once

#include "cef_app.h"
#include "cef_client.h"
#include "event_hold.h"

#include <QWebEnginePage>
#include <QPointer>
#include <QWebEngineView>

class QWebChannel;
class QWebEngineDownloadItem;

namespace vexa_runtime {

class BrowserWindow;

// The object the page script reaches through the web channel under the name "vexaBridge". It
// only carries calls: every rule lives in the router, the client and the render delegates.
class PageTransport : public QObject, public CefV8Transport {
    Q_OBJECT
public:
    explicit PageTransport(BrowserWindow *window);

    void callFunction(const QString &contextToken, int functionId, const QVariantList &args) override;
    void deliverReply(const QString &contextToken, int64 queryId, bool success, int code, const QString &text) override;
    void forgetQuery(const QString &contextToken, int64 queryId) override;

public slots:
    // A document of this browser came to life under a new token. early holds, in calling order,
    // what the document asked for before its channel was up: [method, [arguments]] with the
    // method query, cancel or call and the arguments of that slot after the token.
    void hello(const QString &context, const QVariantList &early);
    void query(const QString &context, double id, const QString &request, bool persistent);
    void cancel(const QString &context, double id);
    // window.<function>(...args) in the page; args are {type, value|id} descriptors.
    void call(const QString &context, const QString &function, const QVariantList &args);

signals:
    void reply(const QString &context, double id, bool success, int code, const QString &text);
    void invoke(const QString &context, int functionId, const QVariantList &args);
    void forget(const QString &context, double id);

private:
    BrowserWindow *m_window;
};

class BrowserPage : public QWebEnginePage {
    Q_OBJECT
public:
    // Pop-up windows open at once, whoever opened them; a page that asks for more gets none.
    static constexpr int kMaxOpenPopups = 4;

    BrowserPage(QWebEngineProfile *profile, BrowserWindow *window);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                  const QString &sourceID) override;

private:
    BrowserWindow *m_window;
};

// One browser: the widget that shows it, its page and its runtime identity.
class BrowserWindow : public QWebEngineView {
    Q_OBJECT
public:
    BrowserWindow(CefRefPtr<CefClient> client, const CefWindowInfo &info, const CefBrowserSettings &settings,
                  bool popup);
    ~BrowserWindow() override;

    CefRefPtr<CefBrowser> browser() const { return m_browser; }
    CefRefPtr<CefClient> client() const { return m_client; }
    BrowserPage *browserPage() const { return m_page; }
    CefRefPtr<CefV8Context> context() const { return m_context; }
    // The address a failing navigation had while its error is reported, else the page's.
    QString frameUrl() const;
    // The browser whose page opened this one with window.open, while it exists.
    BrowserWindow *opener() const { return m_opener; }
    void setOpener(BrowserWindow *opener) { m_opener = opener; }
    static QList<BrowserWindow *> allWindows();

    void startLoading(const QString &url);
    void requestStop();
    // Closes the browser: asks the client, then tells it the browser is gone and removes the
    // window. Once only.
    void closeBrowser(bool force);

    // Runtime bookkeeping used by the page, the transport and the profile.
    void contextCreated(const QString &token);
    void releaseContext();
    // Hands an event message to the page side, or keeps it while a document is starting.
    void deliverToPage(CefRefPtr<CefProcessMessage> message);
    // The starting document has said hello and made its early calls; what waited goes on now.
    void endDocumentStartup();
    bool isCurrentContext(const QString &token) const { return m_context && m_context->token() == token; }
    // True when the client cancels the navigation. A navigation that goes ahead names the
    // address the next document is created with.
    bool navigationRequested(const QUrl &url);
    void unknownSchemeRequested(const QUrl &url);
    // A frame of the page goes to url (the page itself stays).
    void frameNavigationRequested(const QUrl &url);
    void downloadStarted() { m_downloadSinceLoadStart = true; }
    // The current document may use the bridge and hear events: it was created from a page of the
    // application folder and still shows one.
    bool documentMayUseBridge() const;
    // The browser shows, or is about to show, a file page that is not one of the application's:
    // its document, or a frame of it. The web engine gives every file page one right to notify.
    bool showsForeignFile() const;
    static bool anyShowsForeignFile();
    // Pop-ups open now (not closing).
    static int openPopups();
    bool isClosed() const { return m_closed; }
    // Writes why a pop-up of the current document was refused to the log, once per document.
    void popupRefused(const QString &reason);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void onLoadStarted();
    void onLoadFinished(bool ok);
    void onRenderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode);
    void onFeaturePermissionRequested(const QUrl &origin, QWebEnginePage::Feature feature);
    void onQuotaRequested(QWebEngineQuotaRequest request);
    void reportLoadingState();
    void findOutWhichDocumentIsShown();
    // An event past the hold: to the page's render side if the document may hear it.
    void deliverNow(CefRefPtr<CefProcessMessage> message);

    CefRefPtr<CefClient> m_client;
    CefRefPtr<CefBrowser> m_browser;
    QPointer<BrowserWindow> m_opener;
    BrowserPage *m_page = nullptr;
    QWebChannel *m_channel = nullptr;
    PageTransport *m_transport = nullptr;
    CefRefPtr<CefV8Context> m_context;
    QString m_urlOverride;
    // Where the last main-frame navigation that went ahead leads: the address of the next
    // document, known before its own script can change what the page shows.
    QUrl m_navigationUrl;
    bool m_loading = false;
    bool m_closed = false;
    bool m_stopRequested = false;
    bool m_downloadSinceLoadStart = false;
    // A frame went to a file page outside the application's since the last navigation.
    bool m_foreignFrame = false;
    quint64 m_loadSerial = 0;
    quint64 m_popupRefusalLogged = 0;
    EventHold m_hold;
};

// The one profile every browser shares, set up from the runtime settings on first use.
QWebEngineProfile *sharedProfile();
// Sets the right to notify that every file page shares in the web engine: withdrawn while any
// browser shows a file page that is not one of the application's, else granted once one of the
// page's own documents asked for it. Called whenever a browser's document or its right changes.
void settleNotificationRight();
// The render-process side of the runtime's application object.
CefRenderProcessHandler *renderHandler();

} // namespace vexa_runtime
