// The runtime's log ("web.log" in the application folder): one line per call, tagged with the
// source file and line, written when the severity is admitted. Any layer may write to it, from
// any thread; the runtime's initialisation sets the file and the minimum severity.
//
// Pages, the update service and the pads' names reach the logged texts, so the log is opened
// once, as a regular file of this user's own (no link followed, no file of anybody else), and
// control characters in a text are written escaped (\n, \x1b): no text starts a line of its own
// or speaks to a terminal that shows the log.
#pragma once

#include <QString>

enum cef_log_severity_t {
    LOGSEVERITY_DEFAULT = 0, // information and above
    LOGSEVERITY_VERBOSE = 1,
    LOGSEVERITY_INFO = 2,
    LOGSEVERITY_WARNING = 3,
    LOGSEVERITY_ERROR = 4,
    LOGSEVERITY_DISABLE = 99,
};

// Lines go to file (an absolute path) from now on, opened for appending with the first of them
// (a run that logs nothing leaves no file) and kept open. When file cannot be had (the folder
// refuses it, a link or another user's file stands there) and fallbackFolder is given, the same
// name in that folder, made private when missing, is taken, and its first line says why. With
// neither, or with an empty file, nothing is written. Until the first call, lines go to standard
// error.
void cefLogConfigure(const QString &file, cef_log_severity_t minimum, const QString &fallbackFolder = QString());

// The file lines go to now; empty when none (or none opened yet).
QString cefLogFile();

// $XDG_STATE_HOME/vexa (default ~/.local/state/vexa): the log's place when the application
// folder cannot take it.
QString cefLogStateFolder();

// text with every control character written as an escape: \n, \r, \t, \xHH, \uHHHH (C1 and the
// Unicode line and paragraph separators).
QString cefLogEscaped(const QString &text);

bool cefLogIsOn(cef_log_severity_t severity);
void cefLogWrite(cef_log_severity_t severity, const char *file, int line, const QString &text);

#define CEF_LOG_INFO(text) \
    do { \
        if (cefLogIsOn(LOGSEVERITY_INFO)) \
            cefLogWrite(LOGSEVERITY_INFO, __FILE__, __LINE__, (text)); \
    } while (0)
#define CEF_LOG_WARNING(text) \
    do { \
        if (cefLogIsOn(LOGSEVERITY_WARNING)) \
            cefLogWrite(LOGSEVERITY_WARNING, __FILE__, __LINE__, (text)); \
    } while (0)
