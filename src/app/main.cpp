// vexa's entry: the same executable is the interactive program and every browser sub-process.
#include "cefapplication.h"
#include "client_app.h"
#include "client_handler.h"
#include "pspecific_wnd.h"
#include "test_switches.h"

#include <QStandardPaths>


int main(int argc, char *argv[])
{
    // A crash shows no system error box on Windows; nothing to switch off here.
    CefMainArgs main_args(argc, argv);
    CefRefPtr<ClientApp> app(new ClientApp);

    const int subprocessCode = CefExecuteProcess(main_args, app.get(), nullptr);
    if (subprocessCode >= 0)
        return subprocessCode;

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
    settings.log_file = QStringLiteral("web.log");
    settings.context_safety_implementation = -1;
    settings.background_color = 0xFF222529;
    settings.windowless_rendering_enabled = 0;

    CefInitialize(main_args, settings, app.get(), nullptr);
    CefRefPtr<ClientHandler> client(new ClientHandler);
    ClientHandler::setCurrent(client);

    int result = 0;
    {
        // The application raises page events through the client, which outlives it.
        cefApplication application(argc, argv, client.get());
        application.startup();
        runTestSwitches(argc, argv);
        // A quit asked for during start-up (no instance server, for one) comes before the loop
        // that it should end; it must not be lost.
        result = quitRequested() ? 0 : application.exec();
    }

    CefShutdown();
    ClientHandler::setCurrent(nullptr);
    client = nullptr;
    // Only now are the program's files free for the installer to replace.
    if (restartToUpdate)
        launchUpdater(g_updateApplicationDir);
    return result;
}
