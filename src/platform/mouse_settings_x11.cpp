// X11: the server's pointer acceleration, which every client's pointer follows.
#include "x11_backend.h"

#include <QLoggingCategory>

#include "x11_private.h"

Q_LOGGING_CATEGORY(lcMouse, "vexa.platform.mouse")

namespace platform {

namespace {

int g_xError = 0;

int recordXError(Display *, XErrorEvent *event)
{
    g_xError = event->error_code;
    return 0;
}

} // namespace

bool X11Backend::setPointerSpeed(int speed)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        qCDebug(lcMouse) << "pointer speed: no X display";
        return false;
    }
    // Acceleration speed/10 past a threshold of one pixel: 10 leaves the pointer as it moves.
    g_xError = 0;
    XErrorHandler previous = XSetErrorHandler(recordXError);
    XChangePointerControl(display, 1, 1, speed, 10, 1);
    XSync(display, 0);
    XSetErrorHandler(previous);
    XCloseDisplay(display);
    if (g_xError)
        qCDebug(lcMouse) << "pointer speed refused by the X server, error" << g_xError;
    return g_xError == 0;
}

} // namespace platform
