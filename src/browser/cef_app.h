// Process-level entry points of the runtime: the application callbacks, the settings record,
// execute-process / initialise / shutdown, and the runtime log.
#pragma once

#include "cef_v8.h"
#include "runtime_log.h"

#include <QHash>
#include <QString>

class CefBrowserProcessHandler {
public:
    virtual ~CefBrowserProcessHandler() = default;
    virtual void OnContextInitialized() {}
};

class CefRenderProcessHandler {
public:
    virtual ~CefRenderProcessHandler() = default;
    virtual void OnRenderThreadCreated(CefRefPtr<CefListValue> /*extra_info*/) {}
    virtual void OnWebKitInitialized() {}
    virtual void OnBrowserCreated(CefRefPtr<CefBrowser>) {}
    virtual void OnBrowserDestroyed(CefRefPtr<CefBrowser>) {}
    virtual void OnContextCreated(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, CefRefPtr<CefV8Context>) {}
    virtual void OnContextReleased(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, CefRefPtr<CefV8Context>) {}
    virtual bool OnProcessMessageReceived(CefRefPtr<CefBrowser>, CefProcessId, CefRefPtr<CefProcessMessage>) { return false; }
    // True cancels the navigation.
    virtual bool OnBeforeNavigation(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString & /*url*/,
                                    bool /*is_redirect*/) { return false; }
};

class CefSchemeRegistrar {
public:
    virtual ~CefSchemeRegistrar() = default;
    virtual bool AddCustomScheme(const CefString &scheme) = 0;
};

// The process's command line as the runtime reads it: switches are "--name" or "--name=value".
class CefCommandLine {
public:
    static CefCommandLine *GetGlobalCommandLine();
    void InitFromArgv(int argc, const char *const *argv);
    bool HasSwitch(const QString &name) const { return m_switches.contains(name); }
    QString GetSwitchValue(const QString &name) const { return m_switches.value(name); }

private:
    QHash<QString, QString> m_switches;
};

class CefApp : public CefBaseRefCounted {
public:
    virtual void OnBeforeCommandLineProcessing(const CefString & /*process_type*/, CefCommandLine *) {}
    virtual void OnRegisterCustomSchemes(CefSchemeRegistrar *) {}
    virtual CefBrowserProcessHandler *GetBrowserProcessHandler() { return nullptr; }
    virtual CefRenderProcessHandler *GetRenderProcessHandler() { return nullptr; }
};

struct CefMainArgs {
    CefMainArgs(int c, char **v) : argc(c), argv(v) {}
    int argc;
    char **argv;
};

struct CefSettings {
    int no_sandbox = 0;
    int multi_threaded_message_loop = 0;
    int single_process = 0;
    int command_line_args_disabled = 0;
    int persist_session_cookies = 0;
    int windowless_rendering_enabled = 0;
    int remote_debugging_port = 0;
    int context_safety_implementation = 0;
    unsigned int background_color = 0;
    cef_log_severity_t log_severity = LOGSEVERITY_DEFAULT;
    QString cache_path;
    QString log_file;
    QString browser_subprocess_path;
    QString user_agent;
    QString product_version;
    QString locale;
    QString javascript_flags;
    QString resources_dir_path;
    QString locales_dir_path;
};

// Returns the exit code when this process is one of the runtime's sub-processes (started with
// the runtime's "--type=" switch), after running it to its end; -1 for the browser process.
int CefExecuteProcess(const CefMainArgs &args, CefRefPtr<CefApp> application, void *windows_sandbox_info);
// Must run before the Qt application object exists: part of the settings can only be given to
// the runtime before it starts.
bool CefInitialize(const CefMainArgs &args, const CefSettings &settings, CefRefPtr<CefApp> application,
                   void *windows_sandbox_info);
void CefShutdown();
