#include "vexa.h"

#include "cefapplication.h"
#include "client_handler.h"
#include "mode_bindings.h"
#include "mouse_commands.h"
#include "process_moniter.h"
#include "profile_commands.h"
#include "profile_store.h"
#include "qxtglobalshortcut.h"
#include "systemtray.h"
#include "device_commands.h"
#include "hook_handler.h"
#include "settings_commands.h"
#include "view_commands.h"
#include "vexa_web_view.h"
#include "window_ops.h"

#include <QCloseEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QResizeEvent>
#include <QThread>

Q_DECLARE_LOGGING_CATEGORY(lcBridge)

namespace {

QString fileUrl(const QString &applicationDir, const QString &relative)
{
    // "file:///" + folder + path on Windows ("C:/..."); a POSIX folder already starts with "/".
    QString path = applicationDir + relative;
    return QStringLiteral("file://") + (path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path);
}

QSize clientSize(const SettingsMap &settings)
{
    const QStringList parts = settings.value(QStringLiteral("clientSize")).split(QLatin1Char(','));
    if (!settings.contains(QStringLiteral("clientSize")) || parts.size() < 2)
        return QSize(800, 600);
    const QSize size(parts.at(0).trimmed().toInt(), parts.at(1).trimmed().toInt());
    return size.width() > 0 && size.height() > 0 ? size : QSize(800, 600);
}

} // namespace

const QVector<vexa::CommandEntry> &vexa::commandTable()
{
    static const QVector<CommandEntry> table = {
        {"getDevicesList", cmdGetDevicesList},
        {"readDevicesProp", cmdReadDevicesProp},
        {"writeDevicesProp", cmdWriteDevicesProp},
        {"readByAddr", cmdReadByAddr},
        {"writeByAddr", cmdWriteByAddr},
        {"notifyDevice", cmdNotifyDevice},
        {"isPropEmpty", cmdIsPropEmpty},
        {"cleanMacroByAddr", cmdCleanMacroByAddr},
        {"writeMacroByAddr", cmdWriteMacroByAddr},
        {"loadurl", [](vexa &w, const CommandArgs &a, const Callback &c) { w.cmdLoadUrl(a, c); }},
        {"queryProfile", ProfileCommands::queryProfile},
        {"nodeCounterProfile", ProfileCommands::nodeCounterProfile},
        {"modifyProfile", ProfileCommands::modifyProfile},
        {"modifyProfileEx", ProfileCommands::modifyProfileEx},
        {"modifyRemoveProfile", ProfileCommands::modifyRemoveProfile},
        {"modifyAddProfile", ProfileCommands::modifyAddProfile},
        {"modifyReplaceProfile", ProfileCommands::modifyReplaceProfile},
        {"modifyReplaceProfileEx", ProfileCommands::modifyReplaceProfileEx},
        {"resetProfile", ProfileCommands::resetProfile},
        {"queryHexByte", ProfileCommands::queryHexByte},
        {"goback", [](vexa &w, const CommandArgs &a, const Callback &c) { w.cmdGoBack(a, c); }},
        {"goforward", [](vexa &w, const CommandArgs &a, const Callback &c) { w.cmdGoForward(a, c); }},
        {"getConf", cmdGetConf},
        {"setConf", cmdSetConf},
        {"checkUpdate", ViewCommands::checkUpdate},
        {"savexml", ProfileCommands::savexml},
        {"saveXmlAs", ProfileCommands::saveXmlAs},
        {"modifyMouseSpeed", MouseCommands::modifyMouseSpeed},
        {"modifyMouseScrollLines", MouseCommands::modifyMouseScrollLines},
        {"modifyMouseDoubleClick", MouseCommands::modifyMouseDoubleClick},
        {"closeApp", ViewCommands::closeApp},
        {"startRecord", HookHandler::startRecord},
        {"stopRecord", HookHandler::stopRecord},
        {"saveFileDialog", ViewCommands::saveFileDialog},
        {"openFileDialog", ViewCommands::openFileDialog},
        {"openUrl", ViewCommands::openUrl},
        {"openFileDialogExe", ViewCommands::openFileDialogExe},
        {"confChanged", ViewCommands::confChanged},
        {"openView", ViewCommands::openView},
        {"closeView", ViewCommands::closeView},
        {"sendMsgToMainBrowser", [](vexa &w, const CommandArgs &a, const Callback &c) { w.cmdSendMsgToMainBrowser(a, c); }},
    };
    return table;
}

vexa::vexa(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("vexaClass"));
    resize(600, 400);
    setWindowTitle(QStringLiteral("vexa"));

    cefApplication *app = cefApplication::instance();
    const SettingsMap settings = app ? app->settings() : SettingsMap();
    const QSize size = clientSize(settings);
    resize(size);

    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint);
    setWindowTitle(QStringLiteral("PARVEX PX-ORB42  Config"));
    setWindowIcon(QIcon(QStringLiteral(":/vexa/desk_icon")));

    m_view = new VexaWebView(this);
    m_view->resize(size);
    setMinimumSize(size);
    setMouseTracking(true);

    m_startAddress = fileUrl(QCoreApplication::applicationDirPath(), QStringLiteral("/view/index.html"));
    if (CefRefPtr<ClientHandler> handler = ClientHandler::current())
        handler->setStartUrl(m_startAddress);
    m_view->load(QUrl(m_startAddress));

    connect(m_view, &VexaWebView::jsMessage, this, &vexa::onJsMessage);

    m_showConfShortcut = new QxtGlobalShortcut;
    m_testToolShortcut = new QxtGlobalShortcut;
    const SettingsMap current = app ? app->settings() : SettingsMap();
    for (const QString &key : {QStringLiteral("showConf"), QStringLiteral("testTool")})
        if (current.contains(key))
            setShortcut(key, current.value(key));
    connect(m_showConfShortcut, &QxtGlobalShortcut::activated, this, &vexa::showMouseConf);
    connect(m_testToolShortcut, &QxtGlobalShortcut::activated, this, &vexa::showDebug);

    installEventFilter(this);

    m_profiles.reset(new ProfileStore(QCoreApplication::applicationDirPath()));
    restartProcessMonitor();
}

vexa::~vexa()
{
    // Pop-ups report their activation to this window: they go while it is still whole.
    qDeleteAll(findChildren<PopWidget *>(QString(), Qt::FindDirectChildrenOnly));
    stopProcessMonitor();
    // Quitting must not wait out a monitor's pause: stop() wakes it, so these waits are short.
    for (const QPointer<QThread> &thread : qAsConst(m_retiredMonitorThreads)) {
        if (thread) {
            thread->wait();
            delete thread.data();
        }
    }
    delete m_tray;
    delete m_showConfShortcut;
    delete m_testToolShortcut;
    delete m_view;
}

ProfileStore &vexa::profiles()
{
    return *m_profiles;
}

bool vexa::saveModifiedProfiles()
{
    return profiles().saveModified();
}

void vexa::stopProcessMonitor()
{
    if (m_monitorThread) {
        if (m_monitor)
            m_monitor->stop();
        m_monitorThread->quit();
        m_retiredMonitorThreads.removeAll(nullptr);
        m_retiredMonitorThreads.append(m_monitorThread);
        m_monitorThread = nullptr;
    }
    if (m_monitor) {
        // Deleted by its own thread as that thread finishes.
        m_monitor->deleteLater();
        m_monitor = nullptr;
    }
}

void vexa::restartProcessMonitor()
{
    stopProcessMonitor();
    m_monitorThread = new QThread;
    m_monitor = new ProcessMoniter(m_monitorThread,
                                   ModeBindings::configurationPath(QCoreApplication::applicationDirPath()));
    connect(m_monitorThread, &QThread::finished, m_monitorThread, &QObject::deleteLater);
    m_monitorThread->start(QThread::InheritPriority);
}

bool vexa::setShortcut(const QString &confKey, const QString &sequence)
{
    QxtGlobalShortcut *shortcut = shortcutObject(confKey);
    if (!shortcut)
        return false;
    const bool registered = shortcut->setShortcut(QKeySequence(sequence, QKeySequence::NativeText));
    if (shortcut == m_showConfShortcut)
        m_showConfRegistered = registered;
    else
        m_testToolRegistered = registered;
    return registered;
}

QxtGlobalShortcut *vexa::shortcutObject(const QString &confKey) const
{
    if (confKey == QLatin1String("showConf"))
        return m_showConfShortcut;
    if (confKey == QLatin1String("testTool"))
        return m_testToolShortcut;
    return nullptr;
}

void vexa::createSystemTray()
{
    if (m_tray)
        return;
    m_tray = new SystemTray(this);
    connect(m_tray, &QSystemTrayIcon::activated, this, &vexa::onSystemtrayActive, Qt::UniqueConnection);
    connect(m_tray, &SystemTray::showWidget, this, &vexa::onshowWidget);
    connect(m_tray, &SystemTray::closeApp, this, &vexa::oncloseApp);
    m_tray->show();
}

bool vexa::shortcutRegistered(const QString &confKey) const
{
    if (confKey == QLatin1String("showConf"))
        return m_showConfRegistered;
    if (confKey == QLatin1String("testTool"))
        return m_testToolRegistered;
    return false;
}

bool vexa::isMaximizeText(const QString &text)
{
    return text == QLatin1String(R"({"funcname":"maxsizeWindow"})");
}

bool vexa::isRestoreText(const QString &text)
{
    return text == QLatin1String(R"({"funcname":"restoreWindow"})");
}

void vexa::onJsMessage(const QString &name, const QueryCallbackPtr &callbackPtr)
{
    if (isMaximizeText(name)) {
        maximizeWindow();
        return;
    }
    if (isRestoreText(name)) {
        restoreWindow();
        return;
    }

    CommandArgs args;
    if (!CommandArgs::parse(name, &args)) {
        qCDebug(lcBridge) << "not a JSON object, dropped:" << name.left(200);
        return;
    }
    if (!args.has(QStringLiteral("funcname"))) {
        qCDebug(lcBridge) << "no funcname, dropped:" << name.left(200);
        return;
    }
    const QString funcname = args.toText(QStringLiteral("funcname"));
    qCDebug(lcBridge) << "funname" << funcname;
    dispatchCommand(funcname, args, callbackPtr);
}

void vexa::dispatchCommand(const QString &funcname, const CommandArgs &args, const Callback &callback)
{
    for (const CommandEntry &entry : commandTable()) {
        if (funcname != QLatin1String(entry.funcname))
            continue;
        if (entry.run)
            entry.run(*this, args, callback);
        else
            qCDebug(lcBridge) << funcname << "is not available yet; no reply";
        return;
    }
    qCDebug(lcBridge) << "unknown command" << funcname << "; no reply";
}

void vexa::replySuccess(const Callback &callback, const QString &text)
{
    if (callback)
        callback->Success(text);
}

void vexa::replyFailure(const Callback &callback, int code, const QString &text)
{
    if (callback)
        callback->Failure(code, text);
}

// --- commands ------------------------------------------------------------------------------------

void vexa::cmdLoadUrl(const CommandArgs &args, const Callback &)
{
    if (!args.hasAll({"url"}))
        return;
    const QString url = fileUrl(QCoreApplication::applicationDirPath(), args.toText(QStringLiteral("url")));
    CefRefPtr<ClientHandler> handler = ClientHandler::current();
    if (CefRefPtr<CefBrowser> browser = handler ? handler->GetBrowser() : nullptr)
        browser->GetMainFrame()->LoadURL(url);
}

void vexa::cmdGoBack(const CommandArgs &, const Callback &callback)
{
    CefRefPtr<ClientHandler> handler = ClientHandler::current();
    if (CefRefPtr<CefBrowser> browser = handler ? handler->GetBrowser() : nullptr)
        browser->GoBack();
    replySuccess(callback, QStringLiteral("goback"));
}

void vexa::cmdGoForward(const CommandArgs &, const Callback &callback)
{
    CefRefPtr<ClientHandler> handler = ClientHandler::current();
    if (CefRefPtr<CefBrowser> browser = handler ? handler->GetBrowser() : nullptr)
        browser->GoForward();
    replySuccess(callback, QStringLiteral("goforward"));
}

void vexa::cmdSendMsgToMainBrowser(const CommandArgs &args, const Callback &callback)
{
    if (!args.hasAll({"msg"}))
        return;
    if (CefRefPtr<ClientHandler> handler = ClientHandler::current())
        handler->onBrowserMsg(args.toText(QStringLiteral("msg")));
    replySuccess(callback, QStringLiteral("sendMsgToMainBrowser success"));
}

// --- window geometry and pop-up views ---------------------------------------------------------

void vexa::maximizeWindow()
{
    // Only the geometry changes: the window stays a normal window covering the work area.
    savedGeometry = geometry();
    setGeometry(WindowOps::workArea());
}

void vexa::restoreWindow()
{
    setGeometry(savedGeometry);
}

void vexa::openView(const QString &url, const QSize &size)
{
    if (popUps.value(url))
        return;
    auto *popUp = new PopWidget(url, size, this);
    popUps.insert(url, popUp);
    CefRefPtr<ClientHandler> handler = ClientHandler::current();
    if (handler)
        handler->SetListener(popUp->view());
    connect(popUp->view(), &VexaWebView::jsMessage, this, &vexa::onJsMessage);
    if (handler)
        handler->SetMainWindowHandle(popUp->winId());
    popUp->show();
}

void vexa::closeView()
{
    if (CefRefPtr<ClientHandler> handler = ClientHandler::current()) {
        handler->SetListener(m_view);
        handler->SetMainWindowHandle(winId());
    }
    for (auto it = popUps.begin(); it != popUps.end(); ++it) {
        if (currentPopUp && it.value() == currentPopUp) {
            popUps.erase(it);
            break;
        }
    }
    if (currentPopUp) {
        currentPopUp->retire();
        currentPopUp->deleteLater();
        currentPopUp = nullptr;
    }
}

void vexa::popUpActivated(PopWidget *popUp)
{
    currentPopUp = popUp;
}

// --- slots and events ----------------------------------------------------------------------------

void vexa::quitApp()
{
    hide();
    saveModifiedProfiles();
}

void vexa::finishLoading() {}

void vexa::reload_currentPage()
{
    CefRefPtr<ClientHandler> handler = ClientHandler::current();
    if (CefRefPtr<CefBrowser> browser = handler ? handler->GetBrowser() : nullptr)
        browser->Reload();
}

void vexa::onSystemtrayActive(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Context:
        // The menu is about to open: its texts follow the language chosen since the last time.
        if (m_tray) {
            AppSettings *store = AppSettings::current();
            m_tray->setLanguage(store ? store->value(QStringLiteral("language")) : QString());
        }
        break;
    case QSystemTrayIcon::Unknown:
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
        setWindowState(Qt::WindowActive);
        show();
        break;
    default: // the middle button does nothing
        break;
    }
}

void vexa::onCurrentPropChanged(int propIndex, int proMode)
{
    if (CefRefPtr<ClientHandler> handler = ClientHandler::current())
        handler->currentPropChanged(propIndex, proMode);
}

void vexa::onshowWidget()
{
    show();
}

void vexa::oncloseApp()
{
    saveModifiedProfiles();
    requestQuit();
}

void vexa::showMouseConf() {}

void vexa::showDebug() {}

bool vexa::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == this && event->type() == QEvent::WindowActivate) {
        if (CefRefPtr<ClientHandler> handler = ClientHandler::current()) {
            handler->SetListener(m_view);
            handler->SetMainWindowHandle(winId());
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void vexa::closeEvent(QCloseEvent *event)
{
    hide();
    event->ignore();
}

void vexa::resizeEvent(QResizeEvent *event)
{
    m_view->resize(event->size());
    QWidget::resizeEvent(event);
}
