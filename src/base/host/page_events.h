// The seven events native code raises in the page. Subsystems are handed this interface; the
// browser's client handler implements it and delivers each event to the main browser's page.
// Every sender may be called from any thread.
#pragma once

#include <QString>

#include <functional>

class PageEvents {
public:
    virtual ~PageEvents() = default;
    virtual void devicesChanged(int value) = 0;
    virtual void onDeviceData(const QString &data) = 0;
    virtual void currentPropChanged(int propIndex, int proMode) = 0;
    virtual void macroItem(const QString &a, const QString &b, const QString &c, const QString &d) = 0;
    virtual void onProcessChanged(const QString &mode, bool running) = 0;
    virtual void navStateChanged(bool canGoBack, bool canGoForward) = 0;
    virtual void onBrowserMsg(const QString &message) = 0;

    // Runs onEnd once, on the UI thread, when the main browser's current document ends: it
    // navigates, reloads or closes, or its renderer ends. Whatever a page started that reports
    // to the page (the key capture) must not go on for the next one.
    virtual void whenPageEnds(std::function<void()> onEnd) { (void)onEnd; }
};
