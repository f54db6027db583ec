// Xlib for the X11 backends, with the macros that collide with Qt's names taken away at once
// (QEvent::KeyPress, QEvent::None, Qt::CursorShape, QDir::Unsorted, QPrinter::GrayScale, …), so
// Qt headers may come before or after this one. Backend sources only: nothing outside the
// platform library sees these declarations.
//
// Code after this header writes the undefined names as what they stand for: 0 for None, int
// for Bool and Status, and the event codes by number.
#pragma once

#include <X11/XF86keysym.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/record.h>
#include <X11/keysym.h>

#undef Bool
#undef Status
#undef None
#undef KeyPress
#undef KeyRelease
#undef FocusIn
#undef FocusOut
#undef FontChange
#undef Expose
#undef CursorShape
#undef Unsorted
#undef GrayScale
#undef Always
