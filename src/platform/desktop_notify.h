// The desktop's notification service (org.freedesktop.Notifications), as the program and its
// launcher reach it. Header only: it needs Qt D-Bus, which only those two link.
#pragma once

#include <QByteArray>
#include <QDBusMessage>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace platform {

// The session's bus, only when the session has one: libdbus would otherwise start a bus of its
// own for the X display ("autolaunch"), which outlives whoever asked. Empty when there is none.
inline QString sessionBusAddress()
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

// A Notify call in vexa's name, with its icon and desktop entry; urgency 1 is normal, 2 critical.
inline QDBusMessage notifyCall(const QString &summary, const QString &body, uchar urgency)
{
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    QDBusMessage notify = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"),
                                                         service, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(urgency));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("com.parvex.vexa"));
    // Servers may read the body as markup; ours is plain text.
    notify << QStringLiteral("vexa") << 0u << QStringLiteral("vexa") << summary << body.toHtmlEscaped() << QStringList()
           << hints << -1;
    return notify;
}

} // namespace platform
