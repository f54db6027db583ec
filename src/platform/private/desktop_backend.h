// The desktop features that need a window system, behind one interface. The factory picks the
// implementation once per process (see window_system.h for the rule); the public functions of
// global_hotkeys.h, key_capture.h, window_search.h, mouse_settings.h and window_ops.h hand the
// window-system part of their work to the pick.
#pragma once

#include "global_hotkeys.h"
#include "key_capture.h"
#include "window_search.h"

#include <QByteArray>
#include <QRect>
#include <QVector>

#include <memory>

namespace platform {

class DesktopBackend {
public:
    virtual ~DesktopBackend() = default;

    // As global_hotkeys.h describes them.
    virtual bool registerHotKey(const HotKey &hotKey) = 0;
    virtual bool unregisterHotKey(const HotKey &hotKey) = 0;
    virtual bool hotKeyPress(const QByteArray &eventType, void *message, quint32 *virtualKey, quint32 *flags) = 0;

    // Never null: without a capture its start() answers false.
    virtual std::unique_ptr<KeyCapture> createKeyCapture() = 0;

    // As window_search.h describes them.
    virtual QVector<TopLevelWindow> topLevelWindows() = 0;
    virtual bool foregroundWindow(quintptr handle) = 0;

    // speed is already known to lie on the 1 to 20 scale.
    virtual bool setPointerSpeed(int speed) = 0;

    // The primary screen's work area as the window manager states it, in device pixels; empty
    // when it does not say.
    virtual QRect windowManagerWorkArea() = 0;
};

// The pick, made at the first call; the same object for the rest of the process.
DesktopBackend &desktopBackend();

} // namespace platform
