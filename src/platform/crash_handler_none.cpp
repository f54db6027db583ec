// Crash reporting where no dump writer exists (ours writes x86-64 only): nothing is installed,
// the log says so once, and a crash ends the program the system's way.
#include "crash_backend.h"
#include "crash_handler.h"

#include <QSysInfo>

#include <atomic>
#include <cstring>

namespace platform {

namespace {

std::atomic<bool> g_attempted{false};
char g_reporterPath[1024] = {};

} // namespace

bool installCrashHandler(const QString &)
{
    bool expected = false;
    if (g_attempted.compare_exchange_strong(expected, true))
        qWarning("crash handler: minidumps are written on x86-64 only; a crash on %s leaves no dump",
                 qPrintable(QSysInfo::buildCpuArchitecture()));
    return false;
}

bool crashHandlerInstalled()
{
    return false;
}

void prepareThreadForCrashes() {}

bool onDumpWritten(const char *, const char *, bool)
{
    return true;
}

namespace crash_backend {

QString executableSuffix()
{
    return QString();
}

bool storeReporterPath(const QByteArray &encodedPath)
{
    g_reporterPath[0] = '\0';
    if (encodedPath.size() >= static_cast<int>(sizeof g_reporterPath))
        return false;
    std::memcpy(g_reporterPath, encodedPath.constData(), static_cast<size_t>(encodedPath.size()) + 1);
    return true;
}

QByteArray storedReporterPath()
{
    return QByteArray(g_reporterPath);
}

} // namespace crash_backend

} // namespace platform
