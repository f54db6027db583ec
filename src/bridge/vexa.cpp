#include "vexa.h"

#include "app_settings.h"
#include "client_handler.h"
#include "command_context.h"
#include "desktop_notifications.h"
#include "page_events.h"
#include "page_notifications.h"
#include "qxtglobalshortcut.h"
#include "runtime_log.h"
#include "systemtray.h"
#include "view_commands.h"
#include "vexa_web_view.h"
#include "window_ops.h"

#include <QCloseEvent>
#include <QLoggingCategory>
#include <QPointer>
#include <QResizeEvent>

Q_DECLARE_LOGGING_CATEGORY(lcBridge)

namespace {

QSize clientSize(const SettingsMap &settings)
{
    const QStringList parts = settings.value(QStringLiteral("clientSize")).split(QLatin1Char(','));
    if (!settings.contains(QStringLiteral("clientSize")) || parts.size() < 2)
        return QSize(800, 600);
    const QSize size(parts.at(0).trimmed().toInt(), parts.at(1).trimmed().toInt());
    return size.width() > 0 && size.height() > 0 ? size : QSize(800, 600);
}

// The window is also its own minimum size: one larger than the screens could never be made
// smaller, and one far larger cannot even be drawn.
QSize fittedToScreens(const QSize &size)
{
    const QRect screens = WindowOps::screensArea();
    return screens.isEmpty() ? size : size.boundedTo(screens.size());
}

CefRefPtr<CefBrowser> mainBrowser()
{
    CefRefPtr<ClientHandler> handler = ClientHandler::current();
    return handler ? handler->GetBrowser() : nullptr;
}

} // namespace

vexa::vexa(CommandContext &context, CommandRegistry &commands, QWidget *parent)
    : QWidget(parent), m_context(context), m_commands(commands)
{
    setObjectName(QStringLiteral("vexaClass"));
    resize(600, 400);
    setWindowTitle(QStringLiteral("vexa"));

    const SettingsMap settings = m_context.settings().map();
    const QSize size = fittedToScreens(clientSize(settings));
    resize(size);

    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint);
    setWindowTitle(QStringLiteral("PARVEX PX-ORB42  Config"));
    setWindowIcon(QIcon(QStringLiteral(":/vexa/desk_icon")));

    m_view = new VexaWebView(this);
    m_view->resize(size);
    setMinimumSize(size);
    setMouseTracking(true);

    m_startAddress = ViewCommands::applicationFileUrl(QStringLiteral("/view/index.html"));
    if (CefRefPtr<ClientHandler> handler = ClientHandler::current())
        handler->setStartUrl(m_startAddress);
    m_view->load(QUrl(m_startAddress));

    connect(m_view, &VexaWebView::jsMessage, this, &vexa::onJsMessage);
    registerCommands();

    m_exitTakeUp = new QTimer(this);
    m_exitTakeUp->setSingleShot(true);
    m_exitTakeUp->setInterval(kExitTakeUpMs);
    connect(m_exitTakeUp, &QTimer::timeout, this, &vexa::oncloseApp);

    m_showConfShortcut = new QxtGlobalShortcut;
    m_testToolShortcut = new QxtGlobalShortcut;
    const SettingsMap current = m_context.settings().map();
    for (const QString &key : {QStringLiteral("showConf"), QStringLiteral("testTool")})
        if (current.contains(key))
            setShortcut(key, current.value(key));
    connect(m_showConfShortcut, &QxtGlobalShortcut::activated, this, &vexa::showMouseConf);
    connect(m_testToolShortcut, &QxtGlobalShortcut::activated, this, &vexa::showDebug);

    installEventFilter(this);
}

vexa::~vexa()
{
    // Pop-ups report their activation to this window: they go while it is still whole.
    qDeleteAll(findChildren<PopWidget *>(QString(), Qt::FindDirectChildrenOnly));
    m_commands.removeOwner(this);
    delete m_tray;
    delete m_showConfShortcut;
    delete m_testToolShortcut;
    delete m_view;
}

bool vexa::saveModifiedProfiles()
{
    return m_context.saveModifiedProfiles();
}

void vexa::registerCommands()
{
    auto add = [this](const char *name, CommandHandler handler) {
        m_commands.add(QLatin1String(name), std::move(handler), this);
    };
    add("loadurl", [](const CommandArgs &args, const Callback &callback) {
        if (!args.require({"url"}))
            return;
        const QString relative = args.toText(QStringLiteral("url"));
        const QString url = ViewCommands::applicationFileUrl(relative);
        if (url.isEmpty()) {
            ::replyFailure(callback, 0, ViewCommands::refusedPageText(relative));
            return;
        }
        if (CefRefPtr<CefBrowser> browser = mainBrowser())
            browser->GetMainFrame()->LoadURL(url);
    });
    add("goback", [](const CommandArgs &, const Callback &callback) {
        if (CefRefPtr<CefBrowser> browser = mainBrowser())
            browser->GoBack();
        replySuccess(callback, QStringLiteral("goback"));
    });
    add("goforward", [](const CommandArgs &, const Callback &callback) {
        if (CefRefPtr<CefBrowser> browser = mainBrowser())
            browser->GoForward();
        replySuccess(callback, QStringLiteral("goforward"));
    });
    add("sendMsgToMainBrowser", [this](const CommandArgs &args, const Callback &callback) {
        if (!args.require({"msg"}))
            return;
        m_context.events().onBrowserMsg(args.toText(QStringLiteral("msg")));
        replySuccess(callback, QStringLiteral("sendMsgToMainBrowser success"));
    });
    ViewCommands::registerCommands(m_commands, *this);
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
    connect(m_tray, &SystemTray::closeApp, this, &vexa::onTrayExit);
    m_tray->show();
    // The page's notifications (what the pad holds while the window is hidden).
    m_notifications = new DesktopNotifications(this);
    connect(m_notifications, &DesktopNotifications::fellBack, this, [this](const QString &title, const QString &message) {
        if (trayAvailable())
            m_tray->showMessage(title, message, QSystemTrayIcon::Information, 8000);
        else
            CEF_LOG_WARNING(QStringLiteral("no notification service and no tray: not shown: ") + title);
    });
    QPointer<vexa> window(this);
    vexa_runtime::setNotificationSink([window](const QString &title, const QString &message) {
        if (window)
            window->notify(title, message);
    });
    // Qt says nothing when a tray comes or goes: it is asked now and then.
    m_trayWasAvailable = trayAvailable();
    m_trayWatch = new QTimer(this);
    m_trayWatch->setInterval(kTrayWatchMs);
    connect(m_trayWatch, &QTimer::timeout, this, &vexa::trayWatch);
    m_trayWatch->start();
    if (!m_trayWasAvailable)
        reportTray();
}

bool vexa::trayAvailable() const
{
    return m_tray && QSystemTrayIcon::isSystemTrayAvailable();
}

const QString vexa::kNoTrayMessage = QStringLiteral("noTray");
const QString vexa::kTrayPresentMessage = QStringLiteral("trayPresent");

void vexa::reportTray()
{
    m_context.events().onBrowserMsg(trayAvailable() ? kTrayPresentMessage : kNoTrayMessage);
}

void vexa::trayWatch()
{
    const bool available = trayAvailable();
    if (available == m_trayWasAvailable)
        return;
    m_trayWasAvailable = available;
    CEF_LOG_INFO(available ? QStringLiteral("a tray came: closing hides the window in it")
                           : QStringLiteral("the tray went: closing minimises the window"));
    // Hidden in a tray that is no more, the window could be neither reached nor quit.
    if (!available && !isVisible())
        putAway();
    reportTray();
}

void vexa::putAway()
{
    if (trayAvailable()) {
        hide();
        return;
    }
    setWindowState(windowState() | Qt::WindowMinimized);
    show();
}

void vexa::notify(const QString &title, const QString &message)
{
    if (m_notifications)
        m_notifications->show(title, message);
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
    m_pageSpoke = true;
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
    // An unknown name ends unanswered, like a missing member.
    if (!m_commands.dispatch(funcname, args, callback))
        CEF_LOG_WARNING(QStringLiteral("%1: no such command, left unanswered").arg(funcname));
}

void vexa::replySuccess(const Callback &callback, const QString &text)
{
    ::replySuccess(callback, text);
}

void vexa::replyFailure(const Callback &callback, int code, const QString &text)
{
    ::replyFailure(callback, code, text);
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
    putAway();
    saveModifiedProfiles();
}

void vexa::finishLoading() {}

void vexa::reload_currentPage()
{
    if (CefRefPtr<CefBrowser> browser = mainBrowser())
        browser->Reload();
}

void vexa::onSystemtrayActive(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Context:
        // The menu is about to open: its texts follow the language chosen since the last time.
        if (m_tray)
            m_tray->setLanguage(m_context.settings().value(QStringLiteral("language")));
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
    m_context.events().currentPropChanged(propIndex, proMode);
}

void vexa::onshowWidget()
{
    show();
}

const QString vexa::kTrayExitMessage = QStringLiteral("trayExit");

void vexa::oncloseApp()
{
    m_exitTakeUp->stop();
    m_exitOffer = ExitOffer::None;
    m_context.quitApplication();
}

// Quitting writes the page's unsaved profile changes without a word, so our page may ask about
// them first, with the window in front for the question. The offer is only that: a page that
// never spoke (it failed to load) cannot take it up, and one that does not within the bound, or a
// second Exit while it is open, gets the quit all the same.
void vexa::onTrayExit()
{
    if (!m_pageSpoke || m_exitOffer != ExitOffer::None) {
        oncloseApp();
        return;
    }
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    m_exitOffer = ExitOffer::Sent;
    m_exitTakeUp->start();
    m_context.events().onBrowserMsg(kTrayExitMessage);
}

bool vexa::exitAnswered(const QString &answer)
{
    if (answer == QLatin1String("asking")) {
        // Only an offer still open is taken up: a page cannot hold a quit it was never offered.
        if (m_exitOffer == ExitOffer::Sent) {
            m_exitTakeUp->stop();
            m_exitOffer = ExitOffer::Asking;
        }
        return true;
    }
    if (answer == QLatin1String("stay")) {
        m_exitTakeUp->stop();
        m_exitOffer = ExitOffer::None;
        return true;
    }
    if (answer == QLatin1String("true")) {
        oncloseApp();
        return true;
    }
    return false;
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
    putAway();
    event->ignore();
}

void vexa::resizeEvent(QResizeEvent *event)
{
    m_view->resize(event->size());
    QWidget::resizeEvent(event);
}
