// Crash reporting: a fatal fault leaves a minidump in a folder and starts a separate reporter
// program with the dump's path, so the user learns what happened and the dump can be sent on.
//
// The dump is the standard minidump format, so stock debuggers and symbolisers read it. One
// backend per operating system; the process-wide state lives there because a crash can come
// from any thread at any time.
#pragma once

#include <QString>

namespace platform {

// Installs the handler for this process and starts its writer thread. Only the first call
// installs (it answers true); later calls change nothing and answer false, so the dump folder is
// fixed once. dumpFolder: where "<id>.dmp" files go, Qt's form of the path (forward slashes, no
// trailing slash). Install it only in the process that should report: a browser sub-process
// must not start the reporter. Never removed.
bool installCrashHandler(const QString &dumpFolder);
bool crashHandlerInstalled();

// Sets the reporter program started after a dump. A name that is not an absolute path and names
// nothing in the current directory means the program beside this one ("CrashReporter" becomes
// <application directory>/CrashReporter, with ".exe" on Windows); a relative name is logged with
// what it resolved to. Answers the stored path, or an empty text when it is too long to keep
// (no reporter is started then). Call before a crash can happen: the crash path only reads it.
QString setCrashReporter(const QString &name);
QString crashReporterPath();

// Called on the writer thread once an attempt to write dumpFolder/dumpId.dmp has ended,
// successful or not (the path is handed on either way). Starts the reporter detached with the
// dump path as its one argument and writes "Request to terminate process has been sent!" to
// standard output once it started, or "CreateProcess failed (<error>)." to standard error. It
// runs while the crashed process is frozen: no locks, no heap, no Qt. Answers true: the crash is
// handled, and the process then ends with its original signal or exception.
bool onDumpWritten(const char *dumpFolder, const char *dumpId, bool succeeded);

} // namespace platform
