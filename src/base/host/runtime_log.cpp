#include "runtime_log.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QMutex>

#include <atomic>
#include <cstring>

namespace {

QMutex g_logLock; // guards the file name and the writes
QString g_logFile = QStringLiteral("debug.log");
std::atomic<int> g_minimum{LOGSEVERITY_DEFAULT};

const char *severityName(cef_log_severity_t severity)
{
    switch (severity) {
    case LOGSEVERITY_VERBOSE: return "VERBOSE";
    case LOGSEVERITY_WARNING: return "WARNING";
    case LOGSEVERITY_ERROR: return "ERROR";
    default: return "INFO";
    }
}

} // namespace

void cefLogConfigure(const QString &file, cef_log_severity_t minimum)
{
    QMutexLocker lock(&g_logLock);
    g_logFile = file.isEmpty() ? QStringLiteral("debug.log") : file;
    g_minimum = minimum;
}

bool cefLogIsOn(cef_log_severity_t severity)
{
    const int configured = g_minimum.load();
    if (configured == LOGSEVERITY_DISABLE)
        return false;
    const int minimum = configured == LOGSEVERITY_DEFAULT ? LOGSEVERITY_INFO : configured;
    return severity >= minimum;
}

void cefLogWrite(cef_log_severity_t severity, const char *file, int line, const QString &text)
{
    const char *base = std::strrchr(file, '/');
    base = base ? base + 1 : file;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("MMdd/HHmmss.zzz"));
    const QByteArray entry = QStringLiteral("[%1:%2:%3:%4(%5)] %6\n")
                                 .arg(QCoreApplication::applicationPid())
                                 .arg(stamp, QLatin1String(severityName(severity)), QLatin1String(base))
                                 .arg(line)
                                 .arg(text)
                                 .toUtf8();
    QMutexLocker lock(&g_logLock);
    QFile log(g_logFile);
    if (log.open(QIODevice::Append))
        log.write(entry);
}
