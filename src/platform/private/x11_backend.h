// The X11 implementation of the desktop features. Each part is defined beside the feature it
// serves (global_hotkeys_x11.cpp, key_capture_x11.cpp, window_search_x11.cpp,
// mouse_settings_x11.cpp, window_ops_x11.cpp).
#pragma once

#include "desktop_backend.h"

#include <QHash>
#include <QPair>

namespace platform {

class X11Backend final : public DesktopBackend {
public:
    using GrabKey = QPair<quint8, quint16>; // key code, modifier mask

    // Whether an X server answers on DISPLAY: how a process without a GUI application tells
    // that it runs in an X session.
    static bool displayOpens();

    bool registerHotKey(const HotKey &hotKey) override;
    bool unregisterHotKey(const HotKey &hotKey) override;
    bool hotKeyPress(const QByteArray &eventType, void *message, quint32 *virtualKey, quint32 *flags) override;

    std::unique_ptr<KeyCapture> createKeyCapture() override;

    QVector<TopLevelWindow> topLevelWindows() override;
    bool foregroundWindow(quintptr handle) override;

    bool setPointerSpeed(int speed) override;

    QRect windowManagerWorkArea() override;

private:
    // The hot keys this process holds, by the grab that stands for each.
    QHash<GrabKey, HotKey> m_grabs;
};

} // namespace platform
