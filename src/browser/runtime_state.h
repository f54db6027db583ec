// What the runtime keeps for the process, in one object: the settings, command line and
// application it was started with, the shared profile, the render side's start and the page
// callbacks registered there, the browsers that exist, the notification sink and the right to
// notify.
// Nothing outside src/browser includes this header; the rest of the program goes through the
// runtime's free functions.
#pragma once

#include "cef_app.h"
#include "page_notifications.h"

#include <QList>
#include <QPointer>
#include <QWebEnginePage>

#include <map>
#include <string>
#include <utility>

class QWebEngineProfile;

namespace vexa_runtime {

class BrowserWindow;
class NotificationPacer;

struct Runtime {
    CefSettings settings;
    CefCommandLine commandLine;
    CefRefPtr<CefApp> app;
    QWebEngineProfile *profile = nullptr; // QtWebEngine's default profile, once set up
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
    // The right to notify of the file pages (settleNotificationRight): whether one of the page's
    // own documents asked for it, and the right last given (unknown: never set, the page asks).
    bool pageAskedToNotify = false;
    QWebEnginePage::PermissionPolicy fileNotificationRight = QWebEnginePage::PermissionUnknown;
    // Paces the notifications shown (a child of the profile, made with it).
    QPointer<NotificationPacer> notificationPacer;
};

// The runtime of this process. The application's set-up owns its life: CefInitialize makes it
// before the application object exists and CefShutdown destroys it after the application (with
// its browsers) is gone, letting go of the client's application object, the page callbacks and
// the sink. Code that runs without that set-up (unit tests of the render side) gets one on first
// use, which a later CefShutdown or the process's end destroys. GUI thread only, as the set-up is.
Runtime &runtime();

} // namespace vexa_runtime
