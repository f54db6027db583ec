// Which window system the desktop features talk to: global hot keys, system-wide key capture,
// the list of top-level windows, the pointer speed and the window manager's work area. The
// other services (autostart, the process list, termination signals) do not depend on it.
#pragma once

namespace platform {

enum class WindowSystem {
    // A Wayland session, the offscreen platform, no display at all: the features above answer
    // as each header documents for "no desktop", and the log says once per feature why.
    None,
    X11,
};

// Picked at the first use of any of those features and kept for the life of the process: by
// the GUI application's Qt platform when there is one ("xcb" is X11), else by whether the
// display named in DISPLAY opens.
WindowSystem windowSystem();

} // namespace platform
