#include "cefapplication.h"

#include "cef_app.h"
#include "client_handler.h"
#include "termination_signals.h"
#include "vexa.h"

#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QTextStream>

#include <pugixml.hpp>

#include <atomic>

QString g_applicationDir;
QString g_updateApplicationDir;

namespace {
std::atomic<bool> g_quitRequested{false};
cefApplication *g_instance = nullptr;

QString firstHardwareAddress()
{
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces())
        if (!(iface.flags() & QNetworkInterface::IsLoopBack))
            return iface.hardwareAddress();
    return QString();
}

QString firstIpv4Address()
{
    for (const QHostAddress &address : QNetworkInterface::allAddresses())
        if (address.protocol() == QAbstractSocket::IPv4Protocol && address != QHostAddress(QHostAddress::LocalHost))
            return address.toString();
    return QString();
}
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
    const QString path = confFilePath();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    pugi::xml_document doc;
    if (!doc.load_buffer(bytes.constData(), size_t(bytes.size())))
        return;

    m_settings.clear();
    const pugi::xml_node client = doc.child("root").child("client");
    for (const pugi::xml_attribute &attribute : client.attributes())
        m_settings.insert(QString::fromUtf8(attribute.name()), QString::fromUtf8(attribute.value()));
    m_settings.insert(QStringLiteral("MacAddress"), firstHardwareAddress());
    m_settings.insert(QStringLiteral("IpAddress"), firstIpv4Address());

    QFile text(path);
    if (text.open(QIODevice::ReadOnly | QIODevice::Text))
        m_confText = QString::fromUtf8(text.readAll());
}

QString cefApplication::settingValue(const QString &key) const
{
    return m_settings.value(key);
}

bool cefApplication::setSettingValue(const QString &key, const QString &value)
{
    auto it = m_settings.find(key);
    if (it == m_settings.end())
        return false;
    *it = value;
    return true;
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
