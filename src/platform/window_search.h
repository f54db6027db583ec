// The desktop's top-level windows, as a window manager lists them, and bringing one of them to
// the front. Used to hand the user over to an already running instance.
#pragma once

#include <QString>
#include <QVector>

namespace platform {

struct TopLevelWindow {
    quintptr handle = 0;
    quint64 processId = 0; // 0 when the window does not say
    QString title;
};

// In the window manager's order; empty without a desktop or without a window manager.
QVector<TopLevelWindow> topLevelWindows();

// Asks the window manager to raise and focus the window; false when it could not be asked.
bool foregroundWindow(quintptr handle);

} // namespace platform
