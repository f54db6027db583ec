#include "window_ops.h"

#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QX11Info>

#include "x11_private.h"

namespace WindowOps {

namespace {

// _NET_WORKAREA of the current desktop in device pixels, or an empty rectangle.
QRect netWorkArea()
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

} // namespace

QWidget *rootWindow(WId handle)
{
    if (!handle)
        return nullptr;
    QWidget *widget = QWidget::find(handle);
    return widget ? widget->window() : nullptr;
}

QRect windowRect(const QWidget *window)
{
    return window->frameGeometry();
}

ShowState showState(const QWidget *window)
{
    const Qt::WindowStates state = window->windowState();
    if (state & Qt::WindowMinimized)
        return ShowState::Minimized;
    if (state & Qt::WindowMaximized)
        return ShowState::Maximized;
    return ShowState::Normal;
}

void setWindowRect(QWidget *window, const QRect &rect)
{
    // move() places the outer frame, resize() sizes the client area; a frameless window has
    // no difference between the two. Neither touches the stacking order.
    window->move(rect.topLeft());
    window->resize(rect.size());
}

void restoreTo(QWidget *window, const QRect &normalRect)
{
    window->setWindowState(window->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    setWindowRect(window, normalRect);
    restore(window);
}

void minimizeWithoutActivating(QWidget *window)
{
    window->showMinimized();
}

void restore(QWidget *window)
{
    window->showNormal();
    window->raise();
    window->activateWindow();
}

QRect workArea()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return QRect();
    // Qt follows _NET_WORKAREA itself only while there is one screen; with several it reports
    // the whole screen, so ask the window manager directly then.
    if (QGuiApplication::screens().size() > 1 && qFuzzyCompare(screen->devicePixelRatio(), 1.0)) {
        const QRect area = netWorkArea().intersected(screen->geometry());
        if (!area.isEmpty())
            return area;
    }
    return screen->availableGeometry();
}

QString chooseProgramFile(QWidget *parent, const QString &caption, const QString &startDir, const QString &nameFilter)
{
    // Programs here rarely carry an extension: besides the given filter (Windows programs run
    // through a compatibility layer) offer every file, and make that the default. (A permission
    // filter would be neater, but the dialog's file model then lists nothing at all.)
    QFileDialog dialog(parent, caption, startDir);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QString programs = QStringLiteral("Programs (*)");
    dialog.setNameFilters({programs, nameFilter});
    dialog.selectNameFilter(programs);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

} // namespace WindowOps
