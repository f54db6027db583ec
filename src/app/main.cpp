// vexa's entry: the same executable is the interactive program and every browser sub-process.
#include "cefapplication.h"
#include "client_app.h"
#include "client_handler.h"
#include "pspecific_wnd.h"

#include <QDir>

#ifdef VEXA_CRASH_TEST_SWITCH
#include <cstdint>
#include <cstring>

// Only the test build crashes on request, after the crash handler is in place.
__attribute__((noinline)) void crashOnPurposeForTests()
{
    volatile std::uintptr_t address = 16;
    *reinterpret_cast<volatile int *>(address) = 1;
}

static void crashIfAsked(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--crash-for-test") == 0)
            crashOnPurposeForTests();
    }
}
#endif

int main(int argc, char *argv[])
{
    // A crash shows no system error box on Windows; nothing to switch off here.
    CefMainArgs main_args(argc, argv);
    CefRefPtr<ClientApp> app(new ClientApp);

    const int subprocessCode = CefExecuteProcess(main_args, app.get(), nullptr);
    if (subprocessCode >= 0)
        return subprocessCode;

    CefSettings settings;
    settings.no_sandbox = 1;
    settings.multi_threaded_message_loop = 1;
    settings.cache_path = QDir::tempPath() + QStringLiteral("/Cache");
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
#ifdef VEXA_CRASH_TEST_SWITCH
        crashIfAsked(argc, argv);
#endif
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
