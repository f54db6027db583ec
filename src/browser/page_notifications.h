// The page's Web Notifications ("new Notification(...)") on the desktop. The runtime grants the
// right to notify only to the page's own documents (page_access.h), shows none while a file page
// outside them is shown, and hands each notification, at the pace of notification_pacer.h, to
// the sink the program sets, which shows it its own way (the desktop's notification, else the
// tray icon's message). Without a sink a notification is dropped.
#pragma once

#include <QString>

#include <functional>

namespace vexa_runtime {

using NotificationSink = std::function<void(const QString &title, const QString &message)>;

void setNotificationSink(NotificationSink sink);

} // namespace vexa_runtime
