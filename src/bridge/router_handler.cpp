#include "router_handler.h"

#include "message_event.h"
#include "cef_v8.h"
#include "page_access.h"
#include "window_commands.h"

#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QUrl>

Q_LOGGING_CATEGORY(lcBridge, "vexa.bridge")

namespace window_test {

bool isApplicationPage(const QString &url, const QString &applicationDir)
{
    return vexa_runtime::isApplicationPage(url, applicationDir);
}

bool isForeignFilePage(const QString &url, const QString &applicationDir)
{
    return QUrl(url).isLocalFile() && !isApplicationPage(url, applicationDir);
}

QString refusalReason(const CefRefPtr<CefBrowser> &browser, const QString &documentUrl, const QString &currentUrl,
                      const QString &applicationDir)
{
    // The right belongs to the document as it was created: a page that takes an application
    // address with the history API is still the page it was.
    const QString refusal = vexa_runtime::bridgeRefusal(documentUrl, currentUrl, applicationDir);
    if (!refusal.isEmpty())
        return QStringLiteral("query from ") + refusal;
    const QString senderUrl = documentUrl;
    if (!browser)
        return QString();
    for (const CefRefPtr<CefBrowser> &related : browser->GetRelatedBrowsers()) {
        const QString url = related->GetMainFrame()->GetURL();
        if (isForeignFilePage(url, applicationDir))
            return QStringLiteral("query from %1 refused: %2, outside the application folder, can reach it")
                .arg(senderUrl, url);
    }
    return QString();
}

bool Handler::OnQuery(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int64, const CefString &request, bool,
                      CefRefPtr<CefMessageRouterBrowserSide::Callback> callback)
{
    // The router has entered the asking document's context.
    const CefRefPtr<CefV8Context> document = CefV8Context::GetCurrentContext();
    const QString reason = refusalReason(browser, document ? document->documentUrl() : QString(),
                                         frame ? frame->GetURL() : QString(), QCoreApplication::applicationDirPath());
    if (!reason.isEmpty()) {
        qCWarning(lcBridge).noquote() << reason;
        CEF_LOG_WARNING(reason);
        return true;
    }

    CefRefPtr<ClientHandler> client = ClientHandler::current();
    const QByteArray text = request.toUtf8();
    if (WindowCommands::isMoveText(text)) {
        if (WindowCommands::moveWindow(client ? client->GetMainWindowHandle() : 0, text))
            callback->Success(QString());
        return true;
    }
    if (WindowCommands::isMinimizeText(text)) {
        // The page may not have saved; whatever it changed is written before the window goes.
        // This runs on the GUI thread, between commands, so the profile cache is not in use.
        if (m_saveProfiles)
            m_saveProfiles();
        WindowCommands::toggleMinimized(client ? client->GetMainWindowHandle() : 0);
        callback->Success(QString());
        return true;
    }

    ClientHandler::Listener *listener = client ? client->GetListener() : nullptr;
    if (listener)
        listener->PostEvent(new MessageEvent(request, callback));
    return true;
}

} // namespace window_test
