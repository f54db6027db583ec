// What the runtime keeps for the whole process, in one object: the settings and application it
// was started with, the render side's start and the page callbacks registered there, the
// browsers that exist and the notification sink.
// Nothing outside src/browser includes this header; the rest of the program goes through the
// runtime's free functions.
#pragma once

#include "cef_app.h"
#include "page_notifications.h"

#include <QList>
#include <QPointer>

#include <map>
#include <string>
#include <utility>

namespace vexa_runtime {

class BrowserWindow;

struct Runtime {
    CefSettings settings;
    CefRefPtr<CefApp> app;
    bool renderSideStarted = false;
    // The page callbacks of setMessageCallback, keyed by event name and browser id; one per key,
    // shared by every browser of the (here: the only) render side.
    using PageCallbacks = std::map<std::pair<std::string, int>, std::pair<CefRefPtr<CefV8Context>, CefRefPtr<CefV8Value>>>;
    PageCallbacks pageCallbacks;
    int nextBrowserId = 1;
    QList<BrowserWindow *> liveWindows;
    // Pop-ups, which no widget of the program owns; closed when the application quits.
    QList<QPointer<BrowserWindow>> topLevelBrowsers;
    NotificationSink notificationSink;
};

// The one runtime of this process. It lives as long as the process: browsers, the notification
// sink and the shared profile may be made before CefInitialize (tests do) and outlive
// CefShutdown, which only lets the application object go.
Runtime &runtime();

} // namespace vexa_runtime
