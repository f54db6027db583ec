// The runtime's log ("web.log" in the working directory): one line per call, tagged with the
// source file and line, written when the severity is admitted. Any layer may write to it; the
// runtime's initialisation sets the file and the minimum severity.
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

// Until configured, information and above go to "debug.log".
void cefLogConfigure(const QString &file, cef_log_severity_t minimum);

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
