// X11: the window manager's client list (_NET_CLIENT_LIST), each window's process (_NET_WM_PID)
// and title (_NET_WM_NAME, else WM_NAME), and activation through _NET_ACTIVE_WINDOW. A connection
// of its own, so this works before (and without) Qt's.
#include "x11_backend.h"

#include <memory>

#include "x11_private.h"

namespace platform {

namespace {

struct DisplayCloser {
    void operator()(Display *display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// One property as raw items; empty when absent or of another type.
QByteArray property(Display *display, Window window, Atom name, Atom type, int *format, unsigned long *items)
{
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    QByteArray bytes;
    *items = 0;
    if (XGetWindowProperty(display, window, name, 0, 1 << 20, False, type, &actualType, &actualFormat, &count,
                           &after, &data) == Success &&
        actualType == type && data) {
        // Format 32 items are longs in Xlib's memory, whatever their wire size.
        const int itemSize = actualFormat == 32 ? int(sizeof(long)) : actualFormat / 8;
        bytes = QByteArray(reinterpret_cast<const char *>(data), int(count) * itemSize);
        *format = actualFormat;
        *items = count;
    }
    if (data)
        XFree(data);
    return bytes;
}

QString windowTitle(Display *display, Window window)
{
    int format = 0;
    unsigned long items = 0;
    const QByteArray name = property(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                                     XInternAtom(display, "UTF8_STRING", False), &format, &items);
    if (items)
        return QString::fromUtf8(name);
    char *legacy = nullptr;
    QString title;
    if (XFetchName(display, window, &legacy) && legacy)
        title = QString::fromLocal8Bit(legacy);
    if (legacy)
        XFree(legacy);
    return title;
}

} // namespace

bool X11Backend::displayOpens()
{
    return DisplayPtr(XOpenDisplay(nullptr)) != nullptr;
}

QVector<TopLevelWindow> X11Backend::topLevelWindows()
{
    DisplayPtr display(XOpenDisplay(nullptr));
    if (!display)
        return {};
    Display *d = display.get();
    int format = 0;
    unsigned long items = 0;
    const QByteArray list =
        property(d, DefaultRootWindow(d), XInternAtom(d, "_NET_CLIENT_LIST", False), XA_WINDOW, &format, &items);
    const Atom pidAtom = XInternAtom(d, "_NET_WM_PID", False);
    QVector<TopLevelWindow> windows;
    const auto *ids = reinterpret_cast<const long *>(list.constData());
    for (unsigned long i = 0; i < items; ++i) {
        TopLevelWindow window;
        window.handle = quintptr(ids[i]);
        unsigned long pidItems = 0;
        const QByteArray pid = property(d, Window(ids[i]), pidAtom, XA_CARDINAL, &format, &pidItems);
        if (pidItems)
            window.processId = quint64(*reinterpret_cast<const unsigned long *>(pid.constData()));
        window.title = windowTitle(d, Window(ids[i]));
        windows << window;
    }
    return windows;
}

bool X11Backend::foregroundWindow(quintptr handle)
{
    DisplayPtr display(XOpenDisplay(nullptr));
    if (!display || !handle)
        return false;
    Display *d = display.get();
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = Window(handle);
    event.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    // Source 2, a pager: the user asked for this window, so focus-stealing prevention must not
    // stop it.
    event.xclient.data.l[0] = 2;
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(d, False);
    return true;
}

} // namespace platform
