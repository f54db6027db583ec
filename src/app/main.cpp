// vexa's entry: the same executable is the interactive program and every browser sub-process.
#include "cefapplication.h"
#include "client_app.h"
#include "client_handler.h"
#include "pspecific_wnd.h"
#include "test_switches.h"
#include "thread_start_hook.h"

#include <QStandardPaths>

#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    "Usage: vexa [-autostart] [--url=URL] [--mouse-cursor-change-disabled] [Chromium switches]\n"
    "The configuration tool of the PARVEX PX-ORB42 game pad.\n"
    "\n"
    "  -autostart                      start hidden in the notification area\n"
    "  --url=URL                       show URL instead of the application's page\n"
    "  --mouse-cursor-change-disabled  keep the mouse pointer the page asks for unchanged\n"
    "  --help                          show this text and end\n"
    "  --version                       show the version and end\n"
    "\n"
    "A second start brings the running vexa forward.\n"
    "Environment: VEXA_UPDATE_SERVICE (the update service, http(s)://host[:port]),\n"
    "QTWEBENGINE_REMOTE_DEBUGGING (HOST:PORT to inspect the page).\n";

// Answered before anything starts. The browser's own sub-processes carry "--type=" and never
// ask; what they are handed stays theirs.
bool answerInformationSwitch(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--type=", 7) == 0)
            return false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("vexa %s\n", VEXA_VERSION);
            return true;
        }
    }
    return false;
}

} // namespace


int main(int argc, char *argv[])
{
    if (answerInformationSwitch(argc, argv))
        return 0;
    // A crash shows no system error box on Windows; nothing to switch off here.
    CefMainArgs main_args(argc, argv);
    CefRefPtr<ClientApp> app(new ClientApp);

    const int subprocessCode = CefExecuteProcess(main_args, app.get(), nullptr);
    if (subprocessCode >= 0)
        return subprocessCode;
    // Before the runtime and Qt start theirs: a stack overflow on any thread leaves a dump.
    platform::prepareEveryNewThreadForCrashes();

    CefSettings settings;
    // The runtime sandboxes the renderer wherever Chromium can (not as root, not without user
    // namespaces) and logs its choice: pop-ups may show remote pages.
    settings.no_sandbox = 0;
    settings.multi_threaded_message_loop = 1;
    // In the user's own cache folder: in the shared temporary folder another user could have
    // made it first, or put a link there, and read or feed the browser's cache and storage.
    settings.cache_path =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/vexa/Cache");
    settings.persist_session_cookies = 1;
    // Relative: in the application folder, whatever the working folder (CefInitialize).
    settings.log_file = QStringLiteral("web.log");
    settings.context_safety_implementation = -1;
    settings.background_color = 0xFF222529;
    settings.windowless_rendering_enabled = 0;

    CefInitialize(main_args, settings, app.get(), nullptr);
    CefRefPtr<ClientHandler> client(new ClientHandler);
    ClientHandler::setCurrent(client);

    int result = 0;
    QString applicationDir; // for the installer, which starts after the application is gone
    {
        // The application raises page events through the client, which outlives it.
        cefApplication application(argc, argv, client.get());
        applicationDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
        application.startup();
        runTestSwitches(argc, argv);
        // A quit asked for during start-up (no instance server, for one) comes before the loop
        // that it should end; it must not be lost.
        result = quitRequested() ? requestedExitCode() : application.exec();
    }

    CefShutdown();
    ClientHandler::setCurrent(nullptr);
    client = nullptr;
    // Only now are the program's files free for the installer to replace.
    if (restartToUpdate)
        launchUpdater(applicationDir, pendingClientVersion);
    return result;
}
