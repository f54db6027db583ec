// The router's one query handler: takes the window texts that must act at once and posts every
// other page query to the listening view.
#pragma once

#include "client_handler.h"

namespace window_test {

// Only pages of the application's own folder may drive native commands.
bool isApplicationPage(const QString &url, const QString &applicationDir);
// A local page outside the folder in the same group of browsers (opener and pop-ups). File
// pages cannot script one another, but a group that holds one is refused all the same.
bool isForeignFilePage(const QString &url, const QString &applicationDir);
// The reason a query from the document created at documentUrl, now showing currentUrl in this
// browser, may not run, or empty when it may.
QString refusalReason(const CefRefPtr<CefBrowser> &browser, const QString &documentUrl, const QString &currentUrl,
                      const QString &applicationDir);

class Handler : public CefMessageRouterBrowserSide::Handler {
public:
    // Minimising writes the page's unsaved profile files through saveProfiles first (may be
    // empty: nothing is written).
    explicit Handler(std::function<bool()> saveProfiles = {}) : m_saveProfiles(std::move(saveProfiles)) {}

    bool OnQuery(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int64 query_id, const CefString &request,
                 bool persistent, CefRefPtr<CefMessageRouterBrowserSide::Callback> callback) override;

private:
    std::function<bool()> m_saveProfiles;
};

} // namespace window_test
