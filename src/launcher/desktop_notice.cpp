#include "desktop_notice.h"

#include "desktop_notify.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>

namespace launcher {

bool showDesktopNotice(const QString &summary, const QString &body, bool critical)
{
    const QString address = platform::sessionBusAddress();
    if (address.isEmpty())
        return false;
    // Qt's D-Bus wants an application object; the launcher has none otherwise.
    int argc = 1;
    char name[] = "vexa";
    char *argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    const QString connectionName = QStringLiteral("vexa-launcher");
    bool shown = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, connectionName);
        if (bus.isConnected()) {
            const QDBusMessage notify = platform::notifyCall(summary, body, critical ? 2 : 1);
            shown = bus.call(notify, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
        }
    }
    QDBusConnection::disconnectFromBus(connectionName);
    return shown;
}

} // namespace launcher
