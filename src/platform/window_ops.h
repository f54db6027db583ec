// Operations on a top-level window of this process, named by a native window handle: what the
// page's own title bar needs from the window system.
#pragma once

#include <QRect>
#include <QString>
#include <QWidget>

namespace WindowOps {

enum class ShowState { Normal, Minimized, Maximized };

// The top-level window that holds the native window handle, or null when none of this
// process's widgets has it.
QWidget *rootWindow(WId handle);

// The outer rectangle in screen coordinates.
QRect windowRect(const QWidget *window);
ShowState showState(const QWidget *window);

// Moves and sizes the outer rectangle without changing the stacking order.
void setWindowRect(QWidget *window, const QRect &rect);
// Leaves the minimised or maximised state for the normal state with the given outer rectangle.
void restoreTo(QWidget *window, const QRect &normalRect);
// Minimises without handing activation to another window.
void minimizeWithoutActivating(QWidget *window);
// Back from minimised, activated.
void restore(QWidget *window);

// The part of the primary screen that windows may cover (without panels and task bars).
QRect workArea();
// The smallest rectangle around every screen; empty when there is no screen.
QRect screensArea();

// Lets the user pick a program file; empty when cancelled. The path comes back in the
// platform's own notation.
QString chooseProgramFile(QWidget *parent, const QString &caption, const QString &startDir,
                          const QString &nameFilter);

} // namespace WindowOps
