// The per-browser callbacks of the runtime. Each handler interface has do-nothing defaults that
// leave the runtime's own behaviour; a client returns the handlers it implements.
#pragma once

#include "cef_browser.h"

#include <QStringList>

class CefMessageRouterBrowserSide;

class CefMenuModel : public CefBaseRefCounted {
public:
    explicit CefMenuModel(QStringList items) : m_items(std::move(items)) {}
    int GetCount() const { return m_items.size(); }
    bool Clear()
    {
        m_items.clear();
        return true;
    }
    QStringList items() const { return m_items; }

private:
    QStringList m_items;
};

class CefContextMenuHandler {
public:
    virtual ~CefContextMenuHandler() = default;
    virtual void OnBeforeContextMenu(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, CefRefPtr<CefMenuModel>) {}
};

class CefDownloadItem : public CefBaseRefCounted {
public:
    CefDownloadItem(bool complete, QString fullPath) : m_complete(complete), m_fullPath(std::move(fullPath)) {}
    bool IsComplete() const { return m_complete; }
    CefString GetFullPath() const { return m_fullPath; }

private:
    bool m_complete;
    QString m_fullPath;
};

class CefBeforeDownloadCallback : public CefBaseRefCounted {
public:
    virtual void Continue(const CefString &download_path, bool show_dialog) = 0;
};

class CefDownloadHandler {
public:
    virtual ~CefDownloadHandler() = default;
    // Without a Continue call the download is cancelled.
    virtual void OnBeforeDownload(CefRefPtr<CefBrowser>, CefRefPtr<CefDownloadItem>, const CefString & /*suggested_name*/,
                                  CefRefPtr<CefBeforeDownloadCallback>) {}
    virtual void OnDownloadUpdated(CefRefPtr<CefBrowser>, CefRefPtr<CefDownloadItem>) {}
};

enum cef_drag_operations_mask_t {
    DRAG_OPERATION_NONE = 0,
    DRAG_OPERATION_COPY = 1,
    DRAG_OPERATION_LINK = 2,
    DRAG_OPERATION_MOVE = 16,
};

class CefDragHandler {
public:
    virtual ~CefDragHandler() = default;
    // True cancels the drag.
    virtual bool OnDragEnter(CefRefPtr<CefBrowser>, int /*mask*/) { return false; }
};

class CefGeolocationCallback : public CefBaseRefCounted {
public:
    virtual void Continue(bool allow) = 0;
};

class CefGeolocationHandler {
public:
    virtual ~CefGeolocationHandler() = default;
    virtual bool OnRequestGeolocationPermission(CefRefPtr<CefBrowser>, const CefString & /*requesting_url*/,
                                                CefRefPtr<CefGeolocationCallback>) { return false; }
};

class CefLifeSpanHandler {
public:
    virtual ~CefLifeSpanHandler() = default;
    // True cancels the pop-up.
    virtual bool OnBeforePopup(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString & /*target_url*/,
                               CefWindowInfo &, CefBrowserSettings &) { return false; }
    virtual void OnAfterCreated(CefRefPtr<CefBrowser>) {}
    // False lets the close go on.
    virtual bool DoClose(CefRefPtr<CefBrowser>) { return false; }
    virtual void OnBeforeClose(CefRefPtr<CefBrowser>) {}
};

enum cef_errorcode_t {
    ERR_NONE = 0,
    ERR_FAILED = -2,
    ERR_ABORTED = -3,
    ERR_FILE_NOT_FOUND = -6,
    ERR_UNKNOWN_URL_SCHEME = -302,
};

class CefLoadHandler {
public:
    virtual ~CefLoadHandler() = default;
    virtual void OnLoadingStateChange(CefRefPtr<CefBrowser>, bool /*isLoading*/, bool /*canGoBack*/, bool /*canGoForward*/) {}
    virtual void OnLoadError(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, cef_errorcode_t, const CefString & /*errorText*/,
                             const CefString & /*failedUrl*/) {}
};

class CefQuotaCallback : public CefBaseRefCounted {
public:
    virtual void Continue(bool allow) = 0;
    virtual void Cancel() = 0;
};

enum cef_termination_status_t {
    TS_ABNORMAL_TERMINATION,
    TS_PROCESS_WAS_KILLED,
    TS_PROCESS_CRASHED,
};

class CefRequestHandler {
public:
    virtual ~CefRequestHandler() = default;
    // True cancels the navigation.
    virtual bool OnBeforeBrowse(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString & /*url*/, bool /*is_redirect*/) { return false; }
    // True means handled: the callback is (or will be) answered.
    virtual bool OnQuotaRequest(CefRefPtr<CefBrowser>, const CefString & /*origin_url*/, int64 /*new_size*/,
                                CefRefPtr<CefQuotaCallback>) { return false; }
    virtual void OnProtocolExecution(CefRefPtr<CefBrowser>, const CefString & /*url*/, bool & /*allow_os_execution*/) {}
    virtual void OnRenderProcessTerminated(CefRefPtr<CefBrowser>, cef_termination_status_t) {}
};

class CefClient : public CefBaseRefCounted {
public:
    virtual CefContextMenuHandler *GetContextMenuHandler() { return nullptr; }
    virtual CefDownloadHandler *GetDownloadHandler() { return nullptr; }
    virtual CefDragHandler *GetDragHandler() { return nullptr; }
    virtual CefGeolocationHandler *GetGeolocationHandler() { return nullptr; }
    virtual CefLifeSpanHandler *GetLifeSpanHandler() { return nullptr; }
    virtual CefLoadHandler *GetLoadHandler() { return nullptr; }
    virtual CefRequestHandler *GetRequestHandler() { return nullptr; }
    // Where the page's cefQuery and cefQueryCancel of this client's browsers go. Page and client
    // share one process here, so queries are handed to the router itself rather than sent to
    // OnProcessMessageReceived as messages.
    virtual CefMessageRouterBrowserSide *GetMessageRouter() { return nullptr; }
    virtual bool OnProcessMessageReceived(CefRefPtr<CefBrowser>, CefProcessId, CefRefPtr<CefProcessMessage>) { return false; }
};
