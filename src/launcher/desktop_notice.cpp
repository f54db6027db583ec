#include "desktop_notice.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>

namespace launcher {

namespace {

// A bus is asked for only when the session has one: libdbus would otherwise start a bus of its
// own for the X display ("autolaunch"), which outlives the launcher.
QString sessionBusAddress()
{
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty())
        return QString::fromLocal8Bit(address);
    const QString runtime = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    const QString bus = runtime + QStringLiteral("/bus");
    if (!runtime.isEmpty() && QFileInfo(bus).exists())
        return QStringLiteral("unix:path=") + bus;
    return QString();
}

} // namespace

bool showDesktopNotice(const QString &summary, const QString &body, bool critical)
{
    const QString address = sessionBusAddress();
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
            QDBusMessage notify = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
                QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
            QVariantMap hints;
            hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(critical ? 2 : 1)));
            hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("com.parvex.vexa"));
            // The body may be read as markup.
            notify << QStringLiteral("vexa") << 0u << QStringLiteral("vexa") << summary << body.toHtmlEscaped()
                   << QStringList() << hints << -1;
            shown = bus.call(notify, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
        }
    }
    QDBusConnection::disconnectFromBus(connectionName);
    return shown;
}

} // namespace launcher
