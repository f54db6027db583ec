// X11: the work area is the window manager's _NET_WORKAREA, one rectangle per virtual desktop,
// read on Qt's own connection.
#include "x11_backend.h"

#include <QX11Info>

#include "x11_private.h"

namespace platform {

// _NET_WORKAREA of the current desktop.
QRect X11Backend::windowManagerWorkArea()
{
    if (!QX11Info::isPlatformX11())
        return QRect();
    Display *display = QX11Info::display();
    if (!display)
        return QRect();
    const Window root = QX11Info::appRootWindow();

    auto readCardinals = [&](const char *name, long maxItems, QVector<long> *out) {
        const Atom atom = XInternAtom(display, name, True);
        if (atom == 0)
            return false;
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char *data = nullptr;
        const int status = XGetWindowProperty(display, root, atom, 0, maxItems, False, XA_CARDINAL, &type, &format,
                                              &count, &after, &data);
        const bool ok = status == Success && type == XA_CARDINAL && format == 32 && data;
        if (ok) {
            // Format 32 properties arrive as longs whatever the size of long.
            const long *values = reinterpret_cast<const long *>(data);
            out->clear();
            for (unsigned long i = 0; i < count; ++i)
                out->append(values[i]);
        }
        if (data)
            XFree(data);
        return ok;
    };

    QVector<long> desktop;
    const long current = readCardinals("_NET_CURRENT_DESKTOP", 1, &desktop) && !desktop.isEmpty() ? desktop.at(0) : 0;
    QVector<long> areas;
    if (!readCardinals("_NET_WORKAREA", 4 * 64, &areas) || areas.size() < 4 * (current + 1))
        return QRect();
    const long *area = areas.constData() + 4 * current;
    return QRect(int(area[0]), int(area[1]), int(area[2]), int(area[3]));
}

} // namespace platform
