#include "desktop_notifications.h"

#include "desktop_notify.h"

#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcNotifications, "vexa.notifications")

DesktopNotifications::DesktopNotifications(QObject *parent)
    : QObject(parent), m_connectionName(QStringLiteral("vexa-notifications-%1").arg(quintptr(this), 0, 16))
{
}

DesktopNotifications::~DesktopNotifications()
{
    if (m_connected)
        QDBusConnection::disconnectFromBus(m_connectionName);
}

bool DesktopNotifications::connectBus()
{
    if (m_connected && QDBusConnection(m_connectionName).isConnected())
        return true;
    if (m_connected)
        QDBusConnection::disconnectFromBus(m_connectionName);
    // Asked again at each notification: the session's bus may come (or come back) later.
    const QString address = platform::sessionBusAddress();
    m_connected = !address.isEmpty();
    if (!m_connected)
        return false;
    return QDBusConnection::connectToBus(address, m_connectionName).isConnected();
}

void DesktopNotifications::show(const QString &title, const QString &message)
{
    if (!connectBus()) {
        qCDebug(lcNotifications) << "no session bus: the notification goes to the tray";
        emit fellBack(title, message);
        return;
    }
    const QDBusMessage notify = platform::notifyCall(title, message, 1);
    // A name without an owner fails at once (the bus answers ServiceUnknown), so the tray's
    // message is not late where there is no service.
    const QDBusPendingCall call = QDBusConnection(m_connectionName).asyncCall(notify, kCallTimeoutMs);
    auto *watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, title, message] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            qCDebug(lcNotifications) << "the desktop's notification service did not answer:"
                                     << reply.error().name() << "; the notification goes to the tray";
            emit fellBack(title, message);
            return;
        }
        emit shown(reply.value());
    });
}
