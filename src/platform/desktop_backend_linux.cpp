// Linux: the desktop features speak X11 or nothing. A Wayland compositor offers no global key
// grabs, no way to record other clients' keys and no shared window list to ordinary clients, so
// on a Wayland session (and on the offscreen platform) those features answer as unavailable; the
// log says which and why, once, instead of every call failing silently.
#include "desktop_backend.h"
#include "window_system.h"
#include "x11_backend.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>

#include <atomic>

Q_LOGGING_CATEGORY(lcPlatform, "vexa.platform")

namespace platform {

namespace {

enum class Feature { HotKeys, KeyCapture, WindowList, PointerSpeed, WorkArea, Count };

const char *featureName(Feature feature)
{
    switch (feature) {
    case Feature::HotKeys: return "global hot keys";
    case Feature::KeyCapture: return "system-wide key capture";
    case Feature::WindowList: return "listing and raising other top-level windows";
    case Feature::PointerSpeed: return "the pointer speed";
    case Feature::WorkArea: return "the window manager's work area";
    case Feature::Count: break;
    }
    return "";
}

class NoDesktopBackend final : public DesktopBackend {
public:
    explicit NoDesktopBackend(QString session) : m_session(std::move(session)) {}

    bool registerHotKey(const HotKey &) override { return unavailable(Feature::HotKeys); }
    // Nothing was ever registered.
    bool unregisterHotKey(const HotKey &) override { return false; }
    // Asked for every native event: never a hot key, and nothing worth a word.
    bool hotKeyPress(const QByteArray &, void *, quint32 *, quint32 *) override { return false; }

    std::unique_ptr<KeyCapture> createKeyCapture() override;

    QVector<TopLevelWindow> topLevelWindows() override
    {
        unavailable(Feature::WindowList);
        return {};
    }
    bool foregroundWindow(quintptr) override { return unavailable(Feature::WindowList); }

    bool setPointerSpeed(int) override { return unavailable(Feature::PointerSpeed); }

    QRect windowManagerWorkArea() override
    {
        unavailable(Feature::WorkArea);
        return {};
    }

    // Logs the first time a feature is asked for; false, for the callers' convenience.
    bool unavailable(Feature feature)
    {
        // Key captures may be started from any thread.
        if (!m_told[size_t(feature)].exchange(true))
            qCWarning(lcPlatform).noquote()
                << QStringLiteral("%1: not available on %2").arg(QLatin1String(featureName(feature)), m_session);
        return false;
    }

private:
    const QString m_session;
    std::atomic<bool> m_told[size_t(Feature::Count)] = {};
};

class NoKeyCapture final : public KeyCapture {
public:
    explicit NoKeyCapture(NoDesktopBackend *backend) : m_backend(backend) {}

    bool start(Handler) override { return m_backend->unavailable(Feature::KeyCapture); }
    void stop() override {}
    bool isRunning() const override { return false; }

private:
    NoDesktopBackend *const m_backend;
};

std::unique_ptr<KeyCapture> NoDesktopBackend::createKeyCapture()
{
    return std::make_unique<NoKeyCapture>(this);
}

struct Pick {
    WindowSystem system = WindowSystem::None;
    std::unique_ptr<DesktopBackend> backend;
};

Pick pickBackend()
{
    WindowSystem system = WindowSystem::None;
    QString session;
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        // The GUI application has settled on its platform: hot keys and the work area go
        // through its connection, so that platform decides.
        const QString name = QGuiApplication::platformName();
        if (name == QLatin1String("xcb"))
            system = WindowSystem::X11;
        session = name.startsWith(QLatin1String("wayland"))
                      ? QStringLiteral("this Wayland session")
                      : QStringLiteral("the Qt platform \"%1\"").arg(name);
    } else if (X11Backend::displayOpens()) {
        system = WindowSystem::X11;
        session = QStringLiteral("the X display \"%1\"").arg(qEnvironmentVariable("DISPLAY"));
    } else if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        session = QStringLiteral("this Wayland session");
    } else {
        session = QStringLiteral("a session without an X display");
    }

    Pick pick;
    pick.system = system;
    if (system == WindowSystem::X11) {
        qCInfo(lcPlatform).noquote() << "desktop backend: X11, on" << session;
        pick.backend = std::make_unique<X11Backend>();
    } else {
        qCInfo(lcPlatform).noquote() << "desktop backend: none, on" << session;
        pick.backend = std::make_unique<NoDesktopBackend>(session);
    }
    return pick;
}

const Pick &currentPick()
{
    // Made once, whichever thread asks first. Never destroyed: key captures and hot-key owners
    // kept by other static objects may still call in while those are destroyed.
    static const Pick *pick = new Pick(pickBackend());
    return *pick;
}

} // namespace

DesktopBackend &desktopBackend()
{
    return *currentPick().backend;
}

WindowSystem windowSystem()
{
    return currentPick().system;
}

bool registerHotKey(const HotKey &hotKey)
{
    return desktopBackend().registerHotKey(hotKey);
}

bool unregisterHotKey(const HotKey &hotKey)
{
    return desktopBackend().unregisterHotKey(hotKey);
}

bool hotKeyPress(const QByteArray &eventType, void *message, quint32 *virtualKey, quint32 *flags)
{
    return desktopBackend().hotKeyPress(eventType, message, virtualKey, flags);
}

QVector<TopLevelWindow> topLevelWindows()
{
    return desktopBackend().topLevelWindows();
}

bool foregroundWindow(quintptr handle)
{
    return desktopBackend().foregroundWindow(handle);
}

} // namespace platform

std::unique_ptr<KeyCapture> KeyCapture::create()
{
    return platform::desktopBackend().createKeyCapture();
}
