#include "runtime_qt.h"

#include "message_router.h"
#include "page_access.h"
#include "page_notifications.h"
#include "program_locations.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMutex>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWebChannel>
#include <QWebEngineDownloadItem>
#include <QWebEngineHistory>
#include <QWebEngineNotification>
#include <QWebEngineProfile>
#include <QWebEngineQuotaRequest>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sched.h>
#include <sys/wait.h>
#endif

// Resources of a static library are registered by hand.
static void initBrowserResources()
{
    Q_INIT_RESOURCE(browser);
}

namespace QtWebEngineCore {
// Chromium's sub-process entry, exported by QtWebEngineCore (declared in a private header).
Q_DECL_IMPORT int processMain(int argc, const char **argv);
}

namespace {

CefSettings g_settings;
CefRefPtr<CefApp> g_app;
bool g_renderSideStarted = false;
int g_nextBrowserId = 1;

} // namespace

const CefSettings &cefRuntimeSettings()
{
    return g_settings;
}

bool CefCurrentlyOn(CefThreadId)
{
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

void CefPostTask(CefThreadId, std::function<void()> task)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
}

int CefExecuteProcess(const CefMainArgs &args, CefRefPtr<CefApp>, void *)
{
    bool subProcess = false;
    for (int i = 1; i < args.argc && !subProcess; ++i)
        subProcess = std::strncmp(args.argv[i], "--type=", 7) == 0;
    if (!subProcess)
        return -1;
    // Chromium's sub-process code asks Qt for the application folder.
    QCoreApplication core(const_cast<int &>(args.argc), args.argv);
    return QtWebEngineCore::processMain(args.argc, const_cast<const char **>(args.argv));
}

CefCommandLine *CefCommandLine::GetGlobalCommandLine()
{
    static CefCommandLine commandLine;
    return &commandLine;
}

void CefCommandLine::InitFromArgv(int argc, const char *const *argv)
{
    m_switches.clear();
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (!arg.startsWith(QLatin1String("--")) || arg.size() == 2)
            continue;
        const int eq = arg.indexOf(QLatin1Char('='));
        if (eq < 0)
            m_switches.insert(arg.mid(2), QString());
        else
            m_switches.insert(arg.mid(2, eq - 2), arg.mid(eq + 1));
    }
}

bool CefCommandLine::HasSwitch(const QString &name) const
{
    return m_switches.contains(name);
}

QString CefCommandLine::GetSwitchValue(const QString &name) const
{
    return m_switches.value(name);
}

namespace {

#ifdef Q_OS_LINUX
// Chromium's renderer sandbox on Linux needs a user namespace of its own (no setuid helper comes
// with QtWebEngine). Asking the kernel is the only sure answer: the switches for it differ between
// kernels and distributions. A child tries, so this process stays as it is.
bool userNamespacesAvailable()
{
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0)
        _exit(unshare(CLONE_NEWUSER) == 0 ? 0 : 1);
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

// Why the renderer runs without Chromium's sandbox, or empty when it can have it.
QString sandboxOffReason(const CefSettings &settings)
{
    if (settings.no_sandbox)
        return QStringLiteral("switched off by the program");
    if (!qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        return QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX is set");
#ifdef Q_OS_LINUX
    if (geteuid() == 0)
        return QStringLiteral("running as root, where Chromium cannot sandbox");
    if (!userNamespacesAvailable())
        return QStringLiteral("user namespaces are not available");
#endif
    return QString();
}

// No custom scheme is registered through this runtime; the registrar only records the wish.
class SchemeRegistrar : public CefSchemeRegistrar {
public:
    bool AddCustomScheme(const CefString &) override { return false; }
};
} // namespace

bool CefInitialize(const CefMainArgs &args, const CefSettings &settings, CefRefPtr<CefApp> application, void *)
{
    g_settings = settings;
    g_app = application;
    cefLogConfigure(settings.log_file, settings.log_severity);
    if (!settings.command_line_args_disabled)
        CefCommandLine::GetGlobalCommandLine()->InitFromArgv(args.argc, args.argv);
    if (application) {
        SchemeRegistrar registrar;
        application->OnRegisterCustomSchemes(&registrar);
    }

    // The runtime starts its sub-processes from this very executable unless told otherwise.
    QString subprocess = settings.browser_subprocess_path;
    if (subprocess.isEmpty())
        subprocess = platform::executablePath();
    if (!subprocess.isEmpty())
        qputenv("QTWEBENGINEPROCESS_PATH", QFile::encodeName(subprocess));
    const QString sandboxOff = sandboxOffReason(settings);
    if (sandboxOff.isEmpty()) {
        CEF_LOG_INFO(QStringLiteral("renderer sandbox on"));
    } else {
        CEF_LOG_INFO(QStringLiteral("renderer sandbox off: %1").arg(sandboxOff));
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    if (settings.remote_debugging_port > 0)
        qputenv("QTWEBENGINE_REMOTE_DEBUGGING", QByteArray::number(settings.remote_debugging_port));
    // The page switches the pad's profile while the window is hidden in the tray, where Chromium
    // would slow its timers to one a second (measured: a 10 ms interval ran 2 times a second just
    // after hiding, once a second after 10 s). Events reach a hidden page at once all the same;
    // this keeps its timers at their rate too, without drawing the page.
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains("--disable-background-timer-throttling"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --disable-background-timer-throttling").trimmed());
    // QtWebEngine shares GL contexts with the widgets; this must be set before QApplication.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return true;
}

void CefShutdown()
{
    // Browsers are gone with their windows by now; what is left is the application object.
    CEF_LOG_INFO(QStringLiteral("runtime shut down"));
    g_app = nullptr;
    g_renderSideStarted = false;
}

namespace vexa_runtime {

CefRenderProcessHandler *renderHandler()
{
    CefRenderProcessHandler *handler = g_app ? g_app->GetRenderProcessHandler() : nullptr;
    if (handler && !g_renderSideStarted) {
        // All pages share one render side here; it starts with the first browser.
        g_renderSideStarted = true;
        handler->OnRenderThreadCreated(CefListValue::Create());
        handler->OnWebKitInitialized();
    }
    return handler;
}

void runOnUi(std::function<void()> fn)
{
    if (CefCurrentlyOn(TID_UI))
        fn();
    else
        CefPostTask(TID_UI, std::move(fn));
}

namespace {

QString pageScriptSource()
{
    QString source;
    for (const char *path : {":/qtwebchannel/qwebchannel.js", ":/browser/page_bridge.js"}) {
        QFile file(QString::fromLatin1(path));
        if (file.open(QIODevice::ReadOnly))
            source += QString::fromUtf8(file.readAll()) + QLatin1Char('\n');
        else
            qWarning("page script %s is missing", path);
    }
    return source;
}

void onDownloadRequested(QWebEngineDownloadItem *item);

vexa_runtime::NotificationSink &notificationSink()
{
    static vexa_runtime::NotificationSink sink;
    return sink;
}

// Only documents that were granted the right (the page's own, see onFeaturePermissionRequested)
// get here.
void presentNotification(std::unique_ptr<QWebEngineNotification> notification)
{
    if (notification->origin().scheme() != QLatin1String("file"))
        return;
    if (const vexa_runtime::NotificationSink &sink = notificationSink()) {
        sink(notification->title(), notification->message());
        notification->show();
    }
}

QList<BrowserWindow *> &liveWindows()
{
    static QList<BrowserWindow *> windows;
    return windows;
}

QList<QPointer<BrowserWindow>> &topLevelBrowsers()
{
    static QList<QPointer<BrowserWindow>> windows;
    return windows;
}

} // namespace

QWebEngineProfile *sharedProfile()
{
    static QWebEngineProfile *profile = nullptr;
    if (profile)
        return profile;
    initBrowserResources();
    profile = QWebEngineProfile::defaultProfile();
    if (!g_settings.cache_path.isEmpty()) {
        // Made private, as the browser's own folders are, before anything is written to it.
        QDir().mkpath(g_settings.cache_path);
        QFile::setPermissions(g_settings.cache_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        profile->setCachePath(g_settings.cache_path);
        profile->setPersistentStoragePath(g_settings.cache_path);
    }
    profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
    profile->setPersistentCookiesPolicy(g_settings.persist_session_cookies ? QWebEngineProfile::ForcePersistentCookies
                                                                           : QWebEngineProfile::AllowPersistentCookies);
    if (!g_settings.user_agent.isEmpty())
        profile->setHttpUserAgent(g_settings.user_agent);

    QWebEngineScript bridge;
    bridge.setName(QStringLiteral("vexa-page-bridge"));
    bridge.setInjectionPoint(QWebEngineScript::DocumentCreation);
    bridge.setWorldId(QWebEngineScript::MainWorld);
    bridge.setRunsOnSubFrames(false);
    bridge.setSourceCode(pageScriptSource());
    profile->scripts()->insert(bridge);

    QObject::connect(profile, &QWebEngineProfile::downloadRequested, profile, &onDownloadRequested);
    profile->setNotificationPresenter(&presentNotification);
    // Pop-up windows have no owner among the program's widgets; close them while the
    // application object still exists, as its pages must go before QtWebEngine does.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, profile, [] {
        for (const QPointer<BrowserWindow> &window : topLevelBrowsers())
            if (window)
                delete window.data();
        topLevelBrowsers().clear();
    });
    if (CefBrowserProcessHandler *handler = g_app ? g_app->GetBrowserProcessHandler() : nullptr)
        handler->OnContextInitialized();
    return profile;
}

BrowserWindow *windowForPage(QWebEnginePage *page)
{
    auto *browserPage = qobject_cast<BrowserPage *>(page);
    return browserPage ? qobject_cast<BrowserWindow *>(browserPage->parent()) : nullptr;
}

namespace {

class DownloadCallback : public CefBeforeDownloadCallback {
public:
    DownloadCallback(QWebEngineDownloadItem *item, QWidget *dialogParent) : m_item(item), m_parent(dialogParent) {}
    void Continue(const CefString &path, bool showDialog) override
    {
        if (!m_item || m_item->state() != QWebEngineDownloadItem::DownloadRequested)
            return;
        QString target = path;
        if (showDialog) {
            target = QFileDialog::getSaveFileName(m_parent, QString(), path);
            if (target.isEmpty())
                return; // cancelled: the item stays unaccepted and is dropped
        }
        const QFileInfo info(target);
        m_item->setDownloadDirectory(info.absolutePath());
        m_item->setDownloadFileName(info.fileName());
        m_item->accept();
    }

private:
    QPointer<QWebEngineDownloadItem> m_item;
    QPointer<QWidget> m_parent;
};

void onDownloadRequested(QWebEngineDownloadItem *item)
{
    BrowserWindow *window = windowForPage(item->page());
    CefDownloadHandler *handler = window ? window->client()->GetDownloadHandler() : nullptr;
    if (!handler) {
        item->cancel();
        return;
    }
    window->downloadStarted();
    CefRefPtr<CefBrowser> browser = window->browser();
    handler->OnBeforeDownload(browser, new CefDownloadItem(false, QString()), item->suggestedFileName(),
                              new DownloadCallback(item, window->window()));
    if (item->state() != QWebEngineDownloadItem::DownloadInProgress) {
        item->cancel();
        return;
    }
    QObject::connect(item, &QWebEngineDownloadItem::finished, item, [item, browser, handler] {
        const QString path = QDir(item->downloadDirectory()).filePath(item->downloadFileName());
        handler->OnDownloadUpdated(browser, new CefDownloadItem(item->state() == QWebEngineDownloadItem::DownloadCompleted, path));
    });
}

bool isKnownScheme(const QString &scheme)
{
    static const QStringList known = {"http", "https", "file", "data", "about", "blob", "qrc", "chrome",
                                      "javascript", "filesystem", "view-source", "ws", "wss", "ftp"};
    return known.contains(scheme.toLower());
}

} // namespace

// ---------------------------------------------------------------------------------------------

PageTransport::PageTransport(BrowserWindow *window) : QObject(window), m_window(window) {}

void PageTransport::callFunction(const QString &contextToken, int functionId, const QVariantList &args)
{
    emit invoke(contextToken, functionId, args);
}

void PageTransport::deliverReply(const QString &contextToken, int64 queryId, bool success, int code, const QString &text)
{
    emit reply(contextToken, double(queryId), success, code, text);
}

void PageTransport::forgetQuery(const QString &contextToken, int64 queryId)
{
    emit forget(contextToken, double(queryId));
}

void PageTransport::hello(const QString &context, const QVariantList &early)
{
    m_window->contextCreated(context);
    for (const QVariant &entry : early) {
        const QVariantList call = entry.toList();
        const QString method = call.value(0).toString();
        const QVariantList args = call.value(1).toList();
        if (method == QLatin1String("query"))
            query(context, args.value(0).toDouble(), args.value(1).toString(), args.value(2).toBool());
        else if (method == QLatin1String("cancel"))
            cancel(context, args.value(0).toDouble());
        else if (method == QLatin1String("call"))
            this->call(context, args.value(0).toString(), args.value(1).toList());
    }
    m_window->endDocumentStartup();
}

void PageTransport::query(const QString &context, double id, const QString &request, bool persistent)
{
    CefRefPtr<CefV8Context> document = m_window->context();
    if (!document || document->token() != context)
        return; // a document that is already gone
    if (CefRefPtr<CefMessageRouterBrowserSide> router = m_window->client()->GetMessageRouter())
        router->ReceiveQuery(m_window->browser(), document, int64(id), request, persistent);
}

void PageTransport::cancel(const QString &context, double id)
{
    CefRefPtr<CefV8Context> document = m_window->context();
    if (!document || document->token() != context)
        return;
    if (CefRefPtr<CefMessageRouterBrowserSide> router = m_window->client()->GetMessageRouter())
        router->ReceiveCancel(m_window->browser(), document, int64(id));
}

void PageTransport::call(const QString &context, const QString &function, const QVariantList &args)
{
    if (!m_window->isCurrentContext(context))
        return;
    CefV8ValueList arguments;
    for (const QVariant &arg : args) {
        const QVariantMap descriptor = arg.toMap();
        const QString type = descriptor.value(QStringLiteral("type")).toString();
        const QVariant value = descriptor.value(QStringLiteral("value"));
        if (type == QLatin1String("string"))
            arguments.push_back(CefV8Value::CreateString(value.toString()));
        else if (type == QLatin1String("function"))
            arguments.push_back(CefV8Value::CreateFunctionHandle(descriptor.value(QStringLiteral("id")).toInt()));
        else if (type == QLatin1String("boolean"))
            arguments.push_back(CefV8Value::CreateBool(value.toBool()));
        else if (type == QLatin1String("number"))
            arguments.push_back(CefV8Value::CreateDouble(value.toDouble()));
        else if (type == QLatin1String("null"))
            arguments.push_back(CefV8Value::CreateNull());
        else if (type == QLatin1String("undefined"))
            arguments.push_back(CefV8Value::CreateUndefined());
        else
            arguments.push_back(CefV8Value::CreateObject());
    }
    CefRefPtr<CefV8Context> ctx = m_window->context();
    CefRefPtr<CefV8Value> retval;
    CefString exception;
    ctx->Enter();
    ctx->CallNativeFunction(function, arguments, retval, exception);
    ctx->Exit();
}

// ---------------------------------------------------------------------------------------------

BrowserPage::BrowserPage(QWebEngineProfile *profile, BrowserWindow *window) : QWebEnginePage(profile, window), m_window(window) {}

bool BrowserPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (!isKnownScheme(url.scheme())) {
        m_window->unknownSchemeRequested(url);
        return false;
    }
    if (!isMainFrame)
        return true;
    CefRefPtr<CefBrowser> browser = m_window->browser();
    const QString text = url.toString(QUrl::FullyEncoded);
    if (CefRenderProcessHandler *render = renderHandler())
        if (render->OnBeforeNavigation(browser, browser->GetMainFrame(), text, type == NavigationTypeRedirect))
            return false;
    return !m_window->navigationRequested(url);
}

QWebEnginePage *BrowserPage::createWindow(WebWindowType)
{
    CefRefPtr<CefClient> client = m_window->client();
    CefWindowInfo info;
    CefBrowserSettings settings;
    if (CefLifeSpanHandler *handler = client->GetLifeSpanHandler()) {
        if (handler->OnBeforePopup(m_window->browser(), m_window->browser()->GetMainFrame(), QString(), info, settings))
            return nullptr;
    }
    if (info.windowless_rendering_enabled)
        return nullptr;
    auto *popup = new BrowserWindow(client, info, settings, true);
    popup->setOpener(m_window);
    popup->show();
    return popup->browserPage();
}

void BrowserPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                           const QString &sourceID)
{
    const cef_log_severity_t severity = level == ErrorMessageLevel     ? LOGSEVERITY_ERROR
                                        : level == WarningMessageLevel ? LOGSEVERITY_WARNING
                                                                       : LOGSEVERITY_INFO;
    if (cefLogIsOn(severity))
        cefLogWrite(severity, "CONSOLE", lineNumber, QStringLiteral("\"%1\", source: %2").arg(message, sourceID));
}

// ---------------------------------------------------------------------------------------------

BrowserWindow::BrowserWindow(CefRefPtr<CefClient> client, const CefWindowInfo &info, const CefBrowserSettings &settings,
                             bool popup)
    : QWebEngineView(info.parent_widget), m_client(client)
{
    m_browser = new CefBrowser(g_nextBrowserId++, popup, this);
    liveWindows().append(this);
    m_page = new BrowserPage(sharedProfile(), this);
    m_page->setBackgroundColor(QColor::fromRgba(g_settings.background_color));

    QWebEngineSettings *web = m_page->settings();
    auto apply = [web](QWebEngineSettings::WebAttribute attribute, cef_state_t state) {
        if (state != STATE_DEFAULT)
            web->setAttribute(attribute, state == STATE_ENABLED);
    };
    // Access from file pages is off unless asked for, as in Chromium (QtWebEngine's own default
    // lets file pages script one another, pop-ups included).
    web->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls,
                      settings.universal_access_from_file_urls == STATE_ENABLED);
    web->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, settings.file_access_from_file_urls == STATE_ENABLED);
    apply(QWebEngineSettings::LinksIncludedInFocusChain, settings.tab_to_links);
    // Failed loads are reported to the client; no error page replaces the page.
    web->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    web->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);

    m_transport = new PageTransport(this);
    m_channel = new QWebChannel(m_page);
    m_channel->registerObject(QStringLiteral("vexaBridge"), m_transport);
    m_page->setWebChannel(m_channel);
    setPage(m_page);

    connect(m_page, &QWebEnginePage::loadStarted, this, &BrowserWindow::onLoadStarted);
    connect(m_page, &QWebEnginePage::loadFinished, this, &BrowserWindow::onLoadFinished);
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this, &BrowserWindow::onRenderProcessTerminated);
    connect(m_page, &QWebEnginePage::featurePermissionRequested, this, &BrowserWindow::onFeaturePermissionRequested);
    connect(m_page, &QWebEnginePage::quotaRequested, this, &BrowserWindow::onQuotaRequested);
    connect(m_page, &QWebEnginePage::windowCloseRequested, this, [this] { closeBrowser(false); });

    if (info.parent_widget)
        setGeometry(info.bounds);
    else if (info.bounds.isValid())
        resize(info.bounds.size());
    else
        resize(800, 600);
    if (info.parent_widget)
        show();
    else
        topLevelBrowsers().append(this);

    renderHandler(); // the render side exists before any page of this browser runs
    if (CefRenderProcessHandler *render = renderHandler())
        render->OnBrowserCreated(m_browser);

    // Creation is reported from the event loop, as the runtime's asynchronous creation does.
    QPointer<BrowserWindow> self(this);
    CefPostTask(TID_UI, [self] {
        if (!self || self->m_closed)
            return;
        if (CefLifeSpanHandler *handler = self->m_client->GetLifeSpanHandler())
            handler->OnAfterCreated(self->m_browser);
    });
}

BrowserWindow::~BrowserWindow()
{
    // A browser whose parent widget goes away is closed with it.
    closeBrowser(true);
    liveWindows().removeAll(this);
}

QList<BrowserWindow *> BrowserWindow::allWindows()
{
    return liveWindows();
}

QString BrowserWindow::frameUrl() const
{
    return m_urlOverride.isEmpty() ? m_page->url().toString(QUrl::FullyEncoded) : m_urlOverride;
}

void BrowserWindow::startLoading(const QString &url)
{
    m_page->load(QUrl(url));
}

void BrowserWindow::requestStop()
{
    m_stopRequested = true;
    m_page->triggerAction(QWebEnginePage::Stop);
}

void BrowserWindow::closeBrowser(bool force)
{
    if (m_closed)
        return;
    CefLifeSpanHandler *handler = m_client->GetLifeSpanHandler();
    if (!force && handler && handler->DoClose(m_browser))
        return;
    m_closed = true;
    m_heldEvents.clear();
    m_documentStarting = false;
    releaseContext();
    if (CefRenderProcessHandler *render = renderHandler())
        render->OnBrowserDestroyed(m_browser);
    if (handler)
        handler->OnBeforeClose(m_browser);
    if (!force)
        deleteLater();
}

void BrowserWindow::contextCreated(const QString &token)
{
    if (m_closed || token.isEmpty() || isCurrentContext(token))
        return;
    releaseContext();
    // The document's right to the bridge is fixed now, by the address it was created with: what
    // it shows, if that is where the last navigation led, up to query and fragment. Its script
    // may already have changed the address through the history API (which keeps a file page to
    // its own path, and any other page to its origin), and a page that is still leaving may say
    // hello late, after a navigation set out: then no address is known and there is no right.
    const QString shown = m_page->url().toString(QUrl::FullyEncoded);
    const QString documentUrl =
        isSameDocumentAddress(shown, m_navigationUrl.toString(QUrl::FullyEncoded)) ? shown : QString();
    m_context = new CefV8Context(m_browser, token, m_transport, documentUrl);
    if (CefRenderProcessHandler *render = renderHandler())
        render->OnContextCreated(m_browser, m_browser->GetMainFrame(), m_context);
}

void BrowserWindow::releaseContext()
{
    if (!m_context)
        return;
    CefRefPtr<CefV8Context> old = m_context;
    m_context = nullptr;
    if (CefRenderProcessHandler *render = renderHandler())
        render->OnContextReleased(m_browser, m_browser->GetMainFrame(), old);
    old->invalidate();
}

// A page registers its event callbacks in its first scripts, but they reach native code only
// with the document's hello, once its web channel is up: a round trip through this thread that a
// busy program delays. An event raised meanwhile would meet the previous document's registrations
// or none, and be lost, the load's own "navStateChanged" first of all. So from the start of a load
// until the new document's hello the browser's events wait here, and then go on in order under
// the usual rules. Waiting ends without a hello when the load leaves the old document in place
// (it failed, was refused, stopped or turned into a download) or shows one without the page
// script, and when too many events wait: a document whose channel never comes up must not make
// them pile up.
namespace {
constexpr int kMaxHeldEvents = 5000; // five seconds of a pad's 1000 Hz data
}

void BrowserWindow::beginDocumentStartup()
{
    // Whatever still waits belonged to a document that never came up; but what was raised before
    // the browser's first load (the application greets its page while the browser is created)
    // is for the first document.
    if (m_loadSerial > 1)
        m_heldEvents.clear();
    m_documentStarting = true;
}

void BrowserWindow::endDocumentStartup()
{
    m_documentStarting = false;
    const QVector<CefRefPtr<CefProcessMessage>> held = std::move(m_heldEvents);
    m_heldEvents.clear();
    for (const CefRefPtr<CefProcessMessage> &message : held)
        deliverToPage(message);
}

bool BrowserWindow::documentMayUseBridge() const
{
    return m_context && bridgeRefusal(m_context->documentUrl(), frameUrl(), QCoreApplication::applicationDirPath()).isEmpty();
}

void BrowserWindow::deliverToPage(CefRefPtr<CefProcessMessage> message)
{
    if (m_documentStarting) {
        if (m_heldEvents.size() < kMaxHeldEvents) {
            m_heldEvents.append(message);
            return;
        }
        CEF_LOG_WARNING(QStringLiteral("the page's channel did not come up while %1 events waited for it; they go on "
                                       "to the registrations there are")
                            .arg(kMaxHeldEvents));
        endDocumentStartup();
    }
    // Events are for the application's own pages only: another page that registers for them
    // would hear the pads, the foreground program and the keys being recorded.
    if (!documentMayUseBridge())
        return;
    if (CefRenderProcessHandler *render = renderHandler())
        render->OnProcessMessageReceived(m_browser, PID_BROWSER, message);
}

void BrowserWindow::findOutWhichDocumentIsShown()
{
    // The page script has run in any document the load committed by the time the load ends, and
    // the document's token is readable without its channel.
    const quint64 serial = m_loadSerial;
    QPointer<BrowserWindow> self(this);
    m_page->runJavaScript(QStringLiteral("window.__vexaContext"), [self, serial](const QVariant &answer) {
        if (!self || self->m_closed || !self->m_documentStarting || self->m_loadSerial != serial)
            return;
        const QString shown = answer.toString();
        if (shown.isEmpty()) {
            // A document without the page script replaced the last one; nothing will say hello.
            self->releaseContext();
            self->endDocumentStartup();
        } else if (self->isCurrentContext(shown)) {
            self->endDocumentStartup(); // the load left the document in place
        }
        // Otherwise a new document is there and its hello is on the way.
    });
}

bool BrowserWindow::navigationRequested(const QUrl &url)
{
    CefRequestHandler *handler = m_client->GetRequestHandler();
    const bool cancelled =
        handler && handler->OnBeforeBrowse(m_browser, m_browser->GetMainFrame(), url.toString(QUrl::FullyEncoded), false);
    if (!cancelled)
        m_navigationUrl = url;
    return cancelled;
}

void BrowserWindow::unknownSchemeRequested(const QUrl &url)
{
    const QString text = url.toString(QUrl::FullyEncoded);
    bool allow = false;
    if (CefRequestHandler *handler = m_client->GetRequestHandler())
        handler->OnProtocolExecution(m_browser, text, allow);
    if (allow)
        QDesktopServices::openUrl(url);
    if (CefLoadHandler *handler = m_client->GetLoadHandler()) {
        m_urlOverride = text;
        handler->OnLoadError(m_browser, m_browser->GetMainFrame(), ERR_UNKNOWN_URL_SCHEME,
                             QStringLiteral("net::ERR_UNKNOWN_URL_SCHEME"), text);
        m_urlOverride.clear();
    }
}

void BrowserWindow::reportLoadingState()
{
    if (CefLoadHandler *handler = m_client->GetLoadHandler())
        handler->OnLoadingStateChange(m_browser, m_loading, m_page->history()->canGoBack(),
                                      m_page->history()->canGoForward());
}

void BrowserWindow::onLoadStarted()
{
    ++m_loadSerial;
    m_stopRequested = false;
    m_downloadSinceLoadStart = false;
    m_loading = true;
    beginDocumentStartup();
    reportLoadingState();
}

void BrowserWindow::onLoadFinished(bool ok)
{
    m_loading = false;
    reportLoadingState();
    if (m_documentStarting)
        findOutWhichDocumentIsShown();
    if (ok)
        return;
    // QtWebEngine gives no error code. A load that was stopped, turned into a download or
    // replaced by a newer load is the runtime's "aborted"; look once the queue has settled.
    const quint64 serial = m_loadSerial;
    const bool stopped = m_stopRequested || m_downloadSinceLoadStart;
    const QUrl failed = m_page->requestedUrl();
    QPointer<BrowserWindow> self(this);
    QTimer::singleShot(0, this, [self, serial, stopped, failed] {
        if (!self || self->m_closed)
            return;
        CefLoadHandler *handler = self->m_client->GetLoadHandler();
        if (!handler)
            return;
        cef_errorcode_t code = ERR_FAILED;
        if (stopped || self->m_loadSerial != serial)
            code = ERR_ABORTED;
        else if (failed.isLocalFile() && !QFileInfo::exists(failed.toLocalFile()))
            code = ERR_FILE_NOT_FOUND;
        handler->OnLoadError(self->m_browser, self->m_browser->GetMainFrame(), code, QString(),
                             failed.toString(QUrl::FullyEncoded));
    });
}

void BrowserWindow::onRenderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status, int)
{
    if (status == QWebEnginePage::NormalTerminationStatus)
        return;
    releaseContext();
    // The document that events waited for is gone with its renderer.
    m_heldEvents.clear();
    m_documentStarting = false;
    const cef_termination_status_t cefStatus = status == QWebEnginePage::KilledTerminationStatus ? TS_PROCESS_WAS_KILLED
                                               : status == QWebEnginePage::CrashedTerminationStatus
                                                   ? TS_PROCESS_CRASHED
                                                   : TS_ABNORMAL_TERMINATION;
    if (CefRequestHandler *handler = m_client->GetRequestHandler())
        handler->OnRenderProcessTerminated(m_browser, cefStatus);
}

namespace {
class GeolocationCallback : public CefGeolocationCallback {
public:
    GeolocationCallback(QWebEnginePage *page, QUrl origin) : m_page(page), m_origin(std::move(origin)) {}
    void Continue(bool allow) override
    {
        if (m_page)
            m_page->setFeaturePermission(m_origin, QWebEnginePage::Geolocation,
                                         allow ? QWebEnginePage::PermissionGrantedByUser
                                               : QWebEnginePage::PermissionDeniedByUser);
    }

private:
    QPointer<QWebEnginePage> m_page;
    QUrl m_origin;
};

class QuotaCallback : public CefQuotaCallback {
public:
    explicit QuotaCallback(QWebEngineQuotaRequest request) : m_request(std::move(request)) {}
    void Continue(bool allow) override
    {
        if (allow)
            m_request.accept();
        else
            m_request.reject();
    }
    void Cancel() override { m_request.reject(); }

private:
    QWebEngineQuotaRequest m_request;
};
} // namespace

void setNotificationSink(NotificationSink sink)
{
    notificationSink() = std::move(sink);
}

void BrowserWindow::onFeaturePermissionRequested(const QUrl &origin, QWebEnginePage::Feature feature)
{
    // The page's own documents may notify (the mode switch says so while the window is hidden);
    // no other document may.
    if (feature == QWebEnginePage::Notifications) {
        const bool own = documentMayUseBridge() && origin.scheme() == QLatin1String("file");
        CEF_LOG_INFO(QStringLiteral("notifications %1 for %2").arg(own ? QStringLiteral("granted") : QStringLiteral("refused"),
                                                                  origin.toString()));
        m_page->setFeaturePermission(origin, feature,
                                     own ? QWebEnginePage::PermissionGrantedByUser : QWebEnginePage::PermissionDeniedByUser);
        return;
    }
    CefGeolocationHandler *handler = m_client->GetGeolocationHandler();
    if (feature == QWebEnginePage::Geolocation && handler &&
        handler->OnRequestGeolocationPermission(m_browser, origin.toString(), new GeolocationCallback(m_page, origin)))
        return;
    m_page->setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
}

void BrowserWindow::onQuotaRequested(QWebEngineQuotaRequest request)
{
    CefRequestHandler *handler = m_client->GetRequestHandler();
    if (!handler || !handler->OnQuotaRequest(m_browser, request.origin().toString(), request.requestedSize(),
                                             new QuotaCallback(request)))
        request.reject();
}

void BrowserWindow::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = m_page->createStandardContextMenu();
    QStringList items;
    for (QAction *action : menu->actions())
        items << action->text();
    CefRefPtr<CefMenuModel> model = new CefMenuModel(items);
    if (CefContextMenuHandler *handler = m_client->GetContextMenuHandler())
        handler->OnBeforeContextMenu(m_browser, m_browser->GetMainFrame(), model);
    if (model->GetCount() == 0) {
        delete menu;
        event->accept();
        return;
    }
    for (QAction *action : menu->actions())
        action->setVisible(model->items().contains(action->text()));
    menu->setAttribute(Qt::WA_DeleteOnClose, true);
    menu->popup(event->globalPos());
}

void BrowserWindow::dragEnterEvent(QDragEnterEvent *event)
{
    int mask = DRAG_OPERATION_NONE;
    if (event->possibleActions() & Qt::CopyAction)
        mask |= DRAG_OPERATION_COPY;
    if (event->possibleActions() & Qt::LinkAction)
        mask |= DRAG_OPERATION_LINK;
    if (event->possibleActions() & Qt::MoveAction)
        mask |= DRAG_OPERATION_MOVE;
    CefDragHandler *handler = m_client->GetDragHandler();
    if (handler && handler->OnDragEnter(m_browser, mask)) {
        event->ignore();
        return;
    }
    QWebEngineView::dragEnterEvent(event);
}

void BrowserWindow::closeEvent(QCloseEvent *event)
{
    // A pop-up's own window closing closes its browser.
    closeBrowser(false);
    event->accept();
}

} // namespace vexa_runtime

// ---------------------------------------------------------------------------------------------

using vexa_runtime::BrowserWindow;
using vexa_runtime::runOnUi;

CefBrowser::CefBrowser(int id, bool popup, BrowserWindow *window)
    : m_id(id), m_popup(popup), m_window(window), m_frame(new CefFrame(this))
{
}

CefBrowser::~CefBrowser() = default;

BrowserWindow *CefBrowser::window() const
{
    return static_cast<BrowserWindow *>(m_window.data());
}

CefRefPtr<CefBrowser> CefBrowser::CreateForTesting(int id, bool popup)
{
    return new CefBrowser(id, popup, nullptr);
}

QWebEnginePage *CefBrowser::page() const
{
    return m_window ? window()->page() : nullptr;
}

CefRefPtr<CefClient> CefBrowser::client() const
{
    return m_window ? window()->client() : nullptr;
}

CefRefPtr<CefBrowserHost> CefBrowser::GetHost() const
{
    return new CefBrowserHost(const_cast<CefBrowser *>(this));
}

bool CefBrowser::CanGoBack() const
{
    return m_window && window()->page()->history()->canGoBack();
}

bool CefBrowser::CanGoForward() const
{
    return m_window && window()->page()->history()->canGoForward();
}

bool CefBrowser::IsLoading() const
{
    return m_window && window()->isLoading();
}

namespace {
// Browser operations may come from any thread; they act on the page on the GUI thread, if the
// browser still has one by then.
void onWindow(CefRefPtr<CefBrowser> browser, std::function<void(BrowserWindow *)> action)
{
    runOnUi([browser, action] {
        if (BrowserWindow *window = browser->window())
            action(window);
    });
}
} // namespace

void CefBrowser::GoBack()
{
    onWindow(this, [](BrowserWindow *w) { w->page()->triggerAction(QWebEnginePage::Back); });
}

void CefBrowser::GoForward()
{
    onWindow(this, [](BrowserWindow *w) { w->page()->triggerAction(QWebEnginePage::Forward); });
}

void CefBrowser::Reload()
{
    onWindow(this, [](BrowserWindow *w) { w->page()->triggerAction(QWebEnginePage::Reload); });
}

void CefBrowser::StopLoad()
{
    onWindow(this, [](BrowserWindow *w) { w->requestStop(); });
}

std::vector<CefRefPtr<CefBrowser>> CefBrowser::GetRelatedBrowsers() const
{
    auto rootOf = [](BrowserWindow *w) {
        while (w && w->opener())
            w = w->opener();
        return w;
    };
    std::vector<CefRefPtr<CefBrowser>> related;
    BrowserWindow *root = rootOf(window());
    if (!root) {
        related.push_back(const_cast<CefBrowser *>(this));
        return related;
    }
    for (BrowserWindow *w : BrowserWindow::allWindows())
        if (rootOf(w) == root)
            related.push_back(w->browser());
    return related;
}

bool CefBrowser::SendProcessMessage(CefProcessId target, CefRefPtr<CefProcessMessage> message)
{
    if (target != PID_RENDERER || !message)
        return false;
    CefRefPtr<CefBrowser> self(this);
    runOnUi([self, message] {
        // Without a window the browser closed before the message could go.
        if (BrowserWindow *window = self->window())
            window->deliverToPage(message);
    });
    return true;
}

CefString CefFrame::GetURL() const
{
    return m_browser->window() ? m_browser->window()->frameUrl() : CefString();
}

void CefFrame::LoadURL(const CefString &url)
{
    onWindow(m_browser, [url](BrowserWindow *w) { w->startLoading(url); });
}

void CefFrame::ExecuteJavaScript(const CefString &code, const CefString &, int)
{
    onWindow(m_browser, [code](BrowserWindow *w) { w->page()->runJavaScript(code); });
}

CefRefPtr<CefBrowser> CefFrame::GetBrowser() const
{
    return m_browser;
}

bool CefBrowserHost::CreateBrowser(const CefWindowInfo &windowInfo, CefRefPtr<CefClient> client, const CefString &url,
                                   const CefBrowserSettings &settings, CefRefPtr<CefRequestContext>)
{
    if (!client || !CefCurrentlyOn(TID_UI))
        return false;
    auto *window = new BrowserWindow(client, windowInfo, settings, false);
    window->startLoading(url);
    return true;
}

void CefBrowserHost::CloseBrowser(bool force_close)
{
    CefRefPtr<CefBrowser> browser = m_browser;
    runOnUi([browser, force_close] {
        if (browser->window()) {
            browser->window()->closeBrowser(force_close);
            if (force_close)
                browser->window()->deleteLater();
        }
    });
}

void CefBrowserHost::SetWindowBounds(const QRect &rect)
{
    if (BrowserWindow *window = m_browser->window())
        window->setGeometry(rect);
}

void CefBrowserHost::SetMouseCursorChangeDisabled(bool disabled)
{
    if (BrowserWindow *window = m_browser->window())
        window->setProperty("vexaCursorChangeDisabled", disabled);
}

void CefBrowserHost::SetFocus(bool focus)
{
    if (BrowserWindow *window = m_browser->window()) {
        if (focus) {
            window->activateWindow();
            window->setFocus();
        }
    }
}

QWidget *CefBrowserHost::GetWindowWidget() const
{
    return m_browser->window();
}

// ---------------------------------------------------------------------------------------------
