#include "router_handler.h"

#include "message_event.h"

#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QUrl>

Q_LOGGING_CATEGORY(lcBridge, "vexa.bridge")

namespace window_test {

bool isApplicationPage(const QString &url, const QString &applicationDir)
{
    const QUrl parsed(url);
    if (!parsed.isLocalFile() || !parsed.host().isEmpty())
        return false;
    const QString root = QDir::cleanPath(applicationDir);
    const QString path = QDir::cleanPath(parsed.toLocalFile());
    return !root.isEmpty() && path.startsWith(root + QLatin1Char('/'));
}

bool Handler::OnQuery(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame, int64, const CefString &request, bool,
                      CefRefPtr<CefMessageRouterBrowserSide::Callback> callback)
{
    const QString pageUrl = frame ? frame->GetURL() : QString();
    if (!isApplicationPage(pageUrl, QCoreApplication::applicationDirPath())) {
        qCWarning(lcBridge) << "dropped a query from a page outside the application folder:" << pageUrl;
        CEF_LOG_WARNING(QStringLiteral("query from %1 refused").arg(pageUrl));
        return true;
    }

    const QByteArray text = request.toUtf8();
    if (text.startsWith("moveWindow"))
        return true; // window moving arrives with the window commands
    if (text == R"({"funcname":"minisizeWindow"})")
        return true; // minimising arrives with the window commands

    CefRefPtr<ClientHandler> client = ClientHandler::current();
    ClientHandler::Listener *listener = client ? client->GetListener() : nullptr;
    if (listener)
        listener->PostEvent(new MessageEvent(request, callback));
    return true;
}

void CreateMessageHandlers(ClientHandler::MessageHandlerSet &handlers)
{
    handlers.insert(new Handler);
}

} // namespace window_test
