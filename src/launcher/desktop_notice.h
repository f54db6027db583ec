// The launcher's way to tell the user something when nobody reads its standard error (a start
// from the desktop's menu, a log-in start).
#pragma once

#include <QString>

namespace launcher {

// Shows summary and body as a notification of the desktop (org.freedesktop.Notifications on the
// session bus), waiting a few seconds at most; critical: it stays until the user has seen it
// (vexa did not start, nothing else on the screen says so). Nothing happens without a session
// bus or a notification service; false then.
bool showDesktopNotice(const QString &summary, const QString &body, bool critical);

} // namespace launcher
