// Notifications in the desktop's own list (org.freedesktop.Notifications on the session bus), in
// vexa's name and with its icon, on every desktop: GNOME on Wayland has no tray to carry a
// message, and a tray message is easily missed. Where no service answers (no session bus, the
// name has no owner, the call fails) the notification is handed to fellBack, which the main
// window shows as the tray icon's message.
#pragma once

#include <QObject>
#include <QString>

class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    static constexpr int kCallTimeoutMs = 5000;

    explicit DesktopNotifications(QObject *parent = nullptr);
    ~DesktopNotifications() override;

    // Sends the notification without waiting on the bus: the GUI thread carries the page's
    // commands. Either shown(id) or fellBack(title, message) follows, once. GUI thread.
    void show(const QString &title, const QString &message);

signals:
    void shown(uint id);
    void fellBack(const QString &title, const QString &message);

private:
    bool connectBus();

    QString m_connectionName;
    bool m_connected = false;
};
