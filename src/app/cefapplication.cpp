#include "cefapplication.h"

#include "cef_app.h"
#include "autostart.h"
#include "client_handler.h"
#include "devices_handler.h"
#include "termination_signals.h"
#include "vexa.h"

#include <QFile>

#include <atomic>

QString g_applicationDir;
QString g_updateApplicationDir;

namespace {
std::atomic<bool> g_quitRequested{false};
cefApplication *g_instance = nullptr;

} // namespace

void requestQuit()
{
    if (g_quitRequested.exchange(true))
        return;
    if (QCoreApplication::instance())
        QCoreApplication::quit();
}

bool quitRequested()
{
    return g_quitRequested.load();
}

cefApplication::cefApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    loadSettings();
    AppSettings::setCurrent(&m_settings);
    m_devicesHandler = new devices_handler(this);
    m_devicesHandler->setRefresh([this] { refreshDeviceMap(); });
    refreshDeviceMap();
    for (int i = 0; i < argc; ++i)
        if (qstrcmp(argv[i], "-autostart") == 0)
            m_autostart = true;
}

cefApplication::~cefApplication()
{
    // The window and its browser view go before the runtime shuts down (after this returns).
    delete m_mainWindow;
    m_mainWindow = nullptr;
    CEF_LOG_INFO(QStringLiteral("main window closed"));
    delete m_devicesHandler;
    m_devicesHandler = nullptr;
    if (AppSettings::current() == &m_settings)
        AppSettings::setCurrent(nullptr);
    if (g_instance == this)
        g_instance = nullptr;
}

cefApplication *cefApplication::instance()
{
    return g_instance;
}

QString cefApplication::confFilePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Resources/profiles/conf.xml");
}

void cefApplication::loadSettings()
{
    m_settings.load();
}

QString cefApplication::settingValue(const QString &key) const
{
    return m_settings.value(key);
}

bool cefApplication::setSettingValue(const QString &key, const QString &value)
{
    return m_settings.setValue(key, value);
}

void cefApplication::setAutostart(bool enable)
{
    platform::setAutostart(enable);
}

void cefApplication::refreshDeviceMap()
{
    // The library call stays outside the lock: it may call back into the program.
    const QByteArray table = m_devicesHandler ? m_devicesHandler->enumerateDevices() : QByteArray();
    QMutexLocker lock(&m_deviceMutex);
    device_table::apply(table, &m_deviceMap, &m_deviceSightings);
}

DeviceMap cefApplication::deviceMap() const
{
    QMutexLocker lock(&m_deviceMutex);
    return m_deviceMap;
}

DeviceSightings cefApplication::deviceSightings() const
{
    QMutexLocker lock(&m_deviceMutex);
    return m_deviceSightings;
}

void cefApplication::startup()
{
    g_applicationDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    g_updateApplicationDir = g_applicationDir;

    QFile style(QStringLiteral(":/qss/vexa"));
    if (style.open(QIODevice::ReadOnly))
        setStyleSheet(QString::fromUtf8(style.readAll()));

    g_instance = this;
    platform::onTerminationRequest([this] { on_closeApp(); });

    // Only one instance is meant to run; until that check exists every start is the primary one.
    createMainWindow();
}

void cefApplication::createMainWindow()
{
    m_mainWindow = new vexa;
    if (CefRefPtr<ClientHandler> handler = ClientHandler::current())
        handler->SetMainWindowHandle(m_mainWindow->winId());
    if (!m_autostart)
        m_mainWindow->show();
    CEF_LOG_INFO(QStringLiteral("mainwindow show!"));
}

void cefApplication::onEventloop(bool)
{
    if (m_mainWindow)
        m_mainWindow->onshowWidget();
}

void cefApplication::on_closeApp()
{
    if (m_mainWindow)
        m_mainWindow->oncloseApp();
    else
        requestQuit();
}
