// The widget that shows a browser. Every browser operation acts on the main browser of the
// current client handler, whichever view is asked.
#pragma once

#include "client_handler.h"
#include "message_event.h"

#include <QUrl>
#include <QVariant>
#include <QWidget>

class OSRBrowserProvider {
public:
    virtual ~OSRBrowserProvider() = default;
    virtual CefRefPtr<CefBrowser> GetBrowser() = 0;
};

class MainBrowserProvider : public OSRBrowserProvider {
public:
    CefRefPtr<CefBrowser> GetBrowser() override;
};

class VexaWebView : public QWidget, public ClientHandler::Listener, public MainBrowserProvider {
    Q_OBJECT
public:
    enum BrowserState { kNone = 0, kCreating = 1, kCreated = 2 };

    explicit VexaWebView(QWidget *parent = nullptr);
    ~VexaWebView() override;

    bool load(const QUrl &url);
    QUrl url() const { return m_url; }
    BrowserState browserState() const { return m_browserState; }

    // ClientHandler::Listener
    void OnAfterCreated(CefRefPtr<CefBrowser> browser) override;
    void PostEvent(QEvent *event) override;

public slots:
    void back();
    void forward();
    void reload();
    void stop();
    QVariant evaluateJavaScript(const QString &scriptSource);

signals:
    void titleChanged(const QString &title);
    void urlChanged(const QUrl &url);
    void loadStarted();
    void loadFinished(bool ok);
    void navStateChanged(bool canGoBack, bool canGoForward);
    void jsMessage(const QString &name, const QueryCallbackPtr &callbackPtr);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void customEvent(QEvent *event) override;

private:
    bool createBrowser(const QSize &size);
    bool navigate();

    BrowserState m_browserState = kNone;
    QUrl m_url;
};
