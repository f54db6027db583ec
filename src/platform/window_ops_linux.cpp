// Linux: Qt's own window handling does what the page's title bar needs; only the work area
// across several screens comes from the window manager, through the desktop backend.
#include "window_ops.h"

#include "desktop_backend.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

namespace WindowOps {

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

QRect screensArea()
{
    QRect area;
    for (const QScreen *screen : QGuiApplication::screens())
        area |= screen->geometry();
    return area;
}

QRect workArea()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return QRect();
    // Qt follows _NET_WORKAREA itself only while there is one screen; with several it reports
    // the whole screen, so ask the window manager directly then.
    if (QGuiApplication::screens().size() > 1 && qFuzzyCompare(screen->devicePixelRatio(), 1.0)) {
        const QRect area = platform::desktopBackend().windowManagerWorkArea().intersected(screen->geometry());
        if (!area.isEmpty())
            return area;
    }
    return screen->availableGeometry();
}

namespace {

bool startsAsScript(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(2) == "#!";
}

} // namespace

QString chooseProgramFile(QWidget *parent, const QString &caption, const QString &startDir, const QString &nameFilter)
{
    // Programs here rarely carry an extension: besides the given filter (Windows programs run
    // through a compatibility layer) offer every file, and make that the default. (A permission
    // filter would be neater, but the dialog's file model then lists nothing at all.)
    QFileDialog dialog(parent, caption, startDir);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The path as the user picked it, links and all: it is what the Modes screen shows, and the
    // monitor follows it to the program it leads to now (a link retargeted by an update included).
    dialog.setOption(QFileDialog::DontResolveSymlinks);
    const QString programs = QStringLiteral("Programs (*)");
    dialog.setNameFilters({programs, nameFilter});
    dialog.selectNameFilter(programs);
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        const QFileInfo chosen(dialog.selectedFiles().constFirst());
        // A mode bound to a file that never runs would never become active. Windows programs
        // (run through a compatibility layer) carry no execute bit but their extension; a script
        // handed to its interpreter ("sh run.sh") needs none either.
        if (chosen.isFile() && (chosen.isExecutable() || chosen.suffix().compare(QLatin1String("exe"), Qt::CaseInsensitive) == 0
                                || startsAsScript(chosen.filePath())))
            return QDir::toNativeSeparators(chosen.filePath());
        QMessageBox::warning(&dialog, QStringLiteral("Not a program"),
                             QStringLiteral("%1 is not a program that can run, so no mode would ever follow it.\n"
                                            "Please choose a program file, a script (a file that starts with #!) "
                                            "or a Windows program (.exe).")
                                 .arg(QDir::toNativeSeparators(chosen.filePath())));
    }
}

} // namespace WindowOps
