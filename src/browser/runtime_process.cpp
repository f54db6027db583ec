// Starting and stopping the runtime in this process: the sub-process entry, the command line,
// the sandbox decision and the environment QtWebEngine reads before it starts.
#include "runtime_qt.h"
#include "runtime_state.h"

#include "program_locations.h"
#include "user_namespaces.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cstring>
#include <memory>
#include <unistd.h>

namespace QtWebEngineCore {
// Chromium's sub-process entry, exported by QtWebEngineCore (declared in a private header).
Q_DECL_IMPORT int processMain(int argc, const char **argv);
}

namespace {
std::unique_ptr<vexa_runtime::Runtime> g_runtime; // made and destroyed as runtime_state.h says
}

vexa_runtime::Runtime &vexa_runtime::runtime()
{
    if (!g_runtime)
        g_runtime = std::make_unique<Runtime>();
    return *g_runtime;
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
    return &vexa_runtime::runtime().commandLine;
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

namespace {

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
#endif
    if (!platform::userNamespacesAvailable())
        return QStringLiteral("user namespaces are not available");
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
    vexa_runtime::Runtime &state = vexa_runtime::runtime();
    state.settings = settings;
    state.app = application;
    // A relative log name is taken in the application folder, never in the working folder: that
    // may be anybody's (a shared folder the program was started from), and whoever owns it could
    // have the log written into a file of their choosing.
    QString logFile = settings.log_file;
    QString logFallback;
    if (!logFile.isEmpty() && QFileInfo(logFile).isRelative()) {
        const QString executable = platform::executablePath();
        logFallback = cefLogStateFolder();
        logFile = (executable.isEmpty() ? logFallback : QFileInfo(executable).absolutePath()) + QLatin1Char('/') + logFile;
    }
    cefLogConfigure(logFile, settings.log_severity, logFallback);
    if (!settings.command_line_args_disabled)
        state.commandLine.InitFromArgv(args.argc, args.argv);
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
    // Browsers are gone with their windows by now; what is left goes with the runtime.
    CEF_LOG_INFO(QStringLiteral("runtime shut down"));
    g_runtime.reset();
}

namespace vexa_runtime {

CefRenderProcessHandler *renderHandler()
{
    Runtime &state = runtime();
    CefRenderProcessHandler *handler = state.app ? state.app->GetRenderProcessHandler() : nullptr;
    if (handler && !state.renderSideStarted) {
        // All pages share one render side here; it starts with the first browser.
        state.renderSideStarted = true;
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

} // namespace vexa_runtime
