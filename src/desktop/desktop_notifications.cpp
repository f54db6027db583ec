#include "desktop_notifications.h"

#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStringList>
#include <QVariantMap>

Q_LOGGING_CATEGORY(lcNotifications, "vexa.notifications")

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");

// A bus is asked for only when the session has one: libdbus would otherwise start a bus of its
// own for the X display ("autolaunch"), which outlives vexa.
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

const QString DesktopNotifications::kAppName = QStringLiteral("vexa");
const QString DesktopNotifications::kAppIcon = QStringLiteral("vexa");

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
    const QString address = sessionBusAddress();
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
    QDBusMessage notify = QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/Notifications"),
                                                         kService, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("com.parvex.vexa"));
    // Servers may read the body as markup; the page's texts are plain.
    notify << kAppName << 0u << kAppIcon << title << message.toHtmlEscaped() << QStringList() << hints << -1;
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
