// systemd-logind's inhibitor locks: the lock is a file descriptor, held while it stays open.
// No system bus or no logind (containers, other init systems): no hold, and no complaint.
#include "sleep_inhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcSleep, "vexa.platform.sleep")

namespace platform {

namespace {
// A hung logind must not hold the caller (the UI thread) for D-Bus's default 25 s.
constexpr int kCallTimeoutMs = 2000;
} // namespace

struct SleepInhibitor::Hold {
    // Closing the last copy of the descriptor releases the lock.
    QDBusUnixFileDescriptor fd;
};

SleepInhibitor::SleepInhibitor(const QString &why)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("vexa") << why << QStringLiteral("block");
    const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (!reply.isValid() || !reply.value().isValid()) {
        qCDebug(lcSleep) << "no sleep inhibitor:" << reply.error().message();
        return;
    }
    m_hold.reset(new Hold{reply.value()});
}

SleepInhibitor::~SleepInhibitor() = default;

bool SleepInhibitor::active() const
{
    return m_hold != nullptr;
}

} // namespace platform
