// Crash reporting: a fatal fault leaves a minidump in a folder and starts a separate reporter
// program with the dump's path, so the user learns what happened and the dump can be sent on.
//
// The dump is the standard minidump format, so stock debuggers and symbolisers read it. One
// backend per operating system; the process-wide state lives there because a crash can come
// from any thread at any time. The Linux writer knows x86-64 only: elsewhere nothing installs
// (installCrashHandler says why once in the log and answers false).
#pragma once

#include <QString>
#include <QThread>

namespace platform {

// Installs the handler for this process and starts its writer thread. It reports SIGSEGV,
// SIGBUS, SIGILL, SIGFPE and SIGABRT (abort(), failed assertions, qFatal) on any thread, and
// those signals sent to the process. Only the first call tries (later calls change nothing and
// answer false), so the dump folder is fixed once. dumpFolder: where "<id>.dmp" files go, Qt's
// form of the path (forward slashes, no trailing slash); when no file can be created there, dumps
// go to the user's cache instead (chooseDumpFolder). The calling thread gets an alternate signal
// stack for the life of the process. Install it only in the process that should report: a
// browser sub-process must not start the reporter. Never removed.
bool installCrashHandler(const QString &dumpFolder);
// True only once the handler is in place: false before, and after an installation that failed.
bool crashHandlerInstalled();

// Where dumps meant for preferred go: preferred when a file can be created in it (tried, not
// judged by mode bits, which root ignores), else $XDG_CACHE_HOME/vexa/crashes (default
// ~/.cache/vexa/crashes), created private to the user. Preferred again when neither can be
// written: the reporter is still told of the crash.
QString chooseDumpFolder(const QString &preferred);

// A fatal signal is handled on an alternate stack, the only place left after a stack overflow,
// and every thread needs its own. The program's executable gives every new thread one
// (thread_start_hook.h); where it carries no hook (sanitizer builds, tests of the libraries), a
// thread without this call first thing loses the dump of a stack overflow, so the program's own
// threads still make it (and threads of others that run our code). The stack is released when
// the thread ends. Cheap when called again on the same thread; a thread that already has an
// alternate stack (the installing thread, or one set up by a library or a sanitizer) keeps it.
void prepareThreadForCrashes();

// A QThread whose thread is prepared for crashes before anything else runs there, slots
// connected to started() included. Use it for every QThread the program starts.
class CrashReadyThread : public QThread {
public:
    explicit CrashReadyThread(QObject *parent = nullptr);
};

// Sets the reporter program started after a dump. A relative name means the program beside this
// one, never one in the current directory ("CrashReporter" becomes <application
// directory>/CrashReporter, with ".exe" on Windows); a relative name is logged with what it
// resolved to. Answers the stored path, or an empty text when it is too long to keep (no
// reporter is started then). A path with no executable file behind it is kept but said in one
// warning now; a crash while it is still missing starts nothing and reports no failed start.
// Call before a crash can happen: the crash path only reads it.
QString setCrashReporter(const QString &name);
QString crashReporterPath();

// Called on the writer thread once an attempt to write dumpFolder/dumpId.dmp has ended,
// successful or not (the path is handed on either way). Starts the reporter, when it is there,
// detached with the dump path as its one argument and writes "Request to terminate process has
// been sent!" to standard output once it started, or "CreateProcess failed (<error>)." to
// standard error. It
// runs while the crashed process is frozen: no locks, no heap, no Qt. Answers true: the crash is
// handled, and the process then ends with its original signal or exception.
bool onDumpWritten(const char *dumpFolder, const char *dumpId, bool succeeded);

} // namespace platform
