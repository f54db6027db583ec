// A session bus of the test's own (dbus-daemon) with a stand-in for the desktop's notification
// service (python3-dbusmock's notification template), which writes each Notify call as one line
// of its log, e.g.: 123.4 Notify "vexa" 0 "vexa" "title" "body" [] {...} -1
// Everything lives in a temporary folder of the test's; both processes end with the object.
#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

class NotificationService {
public:
    // Starts the bus only; false (error() says why) without dbus-daemon.
    bool startBus()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty() || !m_dir.isValid())
            return fail(QStringLiteral("needs dbus-daemon (scripts/packages.txt)"));
        QProcess bus;
        bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--fork"),
                           QStringLiteral("--address=unix:path=") + m_dir.filePath(QStringLiteral("bus")),
                           QStringLiteral("--print-address=1"), QStringLiteral("--print-pid=1")});
        if (!bus.waitForFinished(10000))
            return fail(QStringLiteral("dbus-daemon did not start"));
        const QStringList printed = QString::fromLocal8Bit(bus.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (printed.size() != 2 || printed.at(1).trimmed().toLongLong() <= 0)
            return fail(QStringLiteral("dbus-daemon printed no address and PID"));
        m_address = printed.at(0).trimmed();
        m_busPid = printed.at(1).trimmed().toLongLong();
        return true;
    }

    // Starts the stand-in service on the bus and waits until it owns its name; false (error()
    // says why) without python3-dbusmock.
    bool startService()
    {
        if (m_address.isEmpty() && !startBus())
            return false;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        m_service.setProcessEnvironment(environment);
        // Debian's interpreter: the first python3 on PATH may lack the module.
        m_service.start(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--session"), QStringLiteral("--template"),
                         QStringLiteral("notification_daemon"), QStringLiteral("-l"), logPath()});
        if (!m_service.waitForStarted(5000))
            return fail(QStringLiteral("needs /usr/bin/python3 with python3-dbusmock (scripts/packages.txt)"));
        bool owned = false;
        {
            QDBusConnection probe = QDBusConnection::connectToBus(m_address, QStringLiteral("notification-service-probe"));
            const QDeadlineTimer deadline(15000);
            while (!owned && m_service.state() == QProcess::Running && !deadline.hasExpired()) {
                owned = probe.isConnected() && probe.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications"));
                if (!owned)
                    m_service.waitForFinished(100);
            }
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("notification-service-probe"));
        return owned || fail(QStringLiteral("python3-dbusmock's notification service did not come up: ") +
                             QString::fromLocal8Bit(m_service.readAllStandardError()));
    }

    void stopService()
    {
        if (m_service.state() == QProcess::NotRunning)
            return;
        m_service.terminate();
        if (!m_service.waitForFinished(5000))
            m_service.kill();
        m_service.waitForFinished(1000);
    }

    ~NotificationService()
    {
        stopService();
        if (m_busPid > 0)
            ::kill(pid_t(m_busPid), SIGTERM);
    }

    QString address() const { return m_address; }
    QString error() const { return m_error; }
    QString logPath() const { return m_dir.filePath(QStringLiteral("notify.log")); }
    QByteArray log() const
    {
        QFile file(logPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    bool fail(const QString &why)
    {
        m_error = why;
        return false;
    }

    QTemporaryDir m_dir;
    QString m_address;
    qint64 m_busPid = 0;
    QProcess m_service;
    QString m_error;
};
