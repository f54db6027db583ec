// The router's one query handler: takes the window texts that must act at once and posts every
// other page query to the listening view.
#pragma once

#include "client_handler.h"

namespace window_test {

// Only pages of the application's own folder may drive native commands.
bool isApplicationPage(const QString &url, const QString &applicationDir);

class Handler : public CefMessageRouterBrowserSide::Handler {
public:
    bool OnQuery(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int64 query_id, const CefString &request,
                 bool persistent, CefRefPtr<CefMessageRouterBrowserSide::Callback> callback) override;
};

void CreateMessageHandlers(ClientHandler::MessageHandlerSet &handlers);

} // namespace window_test
