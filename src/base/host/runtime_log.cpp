#include "runtime_log.h"

#include "own_file.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

QMutex g_logLock; // guards the file and the writes
// Before the first configuration lines go to standard error. After it the file is opened with the
// first line (a run that logs nothing leaves no file), and stays open.
bool g_configured = false;
bool g_opened = false; // tried to open since the configuration
QString g_file;
QString g_fallbackFolder;
QFile g_log;
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

// Under g_logLock.
bool openLog(const QString &path, QString *error)
{
    const int fd = platform::openOwnFileForAppend(path, error);
    if (fd < 0)
        return false;
    g_log.setFileName(path);
    if (!g_log.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        *error = QStringLiteral("cannot write %1").arg(path);
        ::close(fd);
        return false;
    }
    return true;
}

QString hex(uint value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0'));
}

} // namespace

QString cefLogEscaped(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u == '\n')
            escaped += QLatin1String("\\n");
        else if (u == '\r')
            escaped += QLatin1String("\\r");
        else if (u == '\t')
            escaped += QLatin1String("\\t");
        else if (u < 0x20 || u == 0x7f)
            escaped += QLatin1String("\\x") + hex(u, 2);
        else if ((u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029)
            escaped += QLatin1String("\\u") + hex(u, 4);
        else
            escaped += c;
    }
    return escaped;
}

QString cefLogStateFolder()
{
    const QString xdg = QFile::decodeName(qgetenv("XDG_STATE_HOME"));
    // Relative values are invalid by the base directory convention and must be ignored.
    const QString base = !xdg.isEmpty() && QDir::isAbsolutePath(xdg) ? xdg : QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(base + QStringLiteral("/vexa"));
}

void cefLogConfigure(const QString &file, cef_log_severity_t minimum, const QString &fallbackFolder)
{
    QMutexLocker lock(&g_logLock);
    g_configured = true;
    g_opened = false;
    g_log.close();
    g_file = file;
    g_fallbackFolder = fallbackFolder;
    g_minimum = minimum;
}

QString cefLogFile()
{
    QMutexLocker lock(&g_logLock);
    return g_log.isOpen() ? g_log.fileName() : QString();
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
                                 .arg(cefLogEscaped(text))
                                 .toUtf8();
    QMutexLocker lock(&g_logLock);
    if (!g_configured) {
        std::fwrite(entry.constData(), 1, size_t(entry.size()), stderr);
        return;
    }
    if (!g_opened) {
        g_opened = true;
        QString why;
        if (!g_file.isEmpty() && !openLog(g_file, &why)) {
            QString fallbackError;
            if (!g_fallbackFolder.isEmpty() && platform::makePrivateFolder(g_fallbackFolder, &fallbackError) &&
                openLog(g_fallbackFolder + QLatin1Char('/') + QFileInfo(g_file).fileName(), &fallbackError)) {
                g_log.write(QStringLiteral("[%1:%2:WARNING:runtime_log] the log is kept in %3, since %4\n")
                                .arg(QCoreApplication::applicationPid())
                                .arg(stamp, g_fallbackFolder, cefLogEscaped(why))
                                .toUtf8());
            } else {
                std::fprintf(stderr, "vexa: no log is written: %s%s%s\n", why.toLocal8Bit().constData(),
                             fallbackError.isEmpty() ? "" : "; ", fallbackError.toLocal8Bit().constData());
            }
        }
    }
    if (g_log.isOpen())
        g_log.write(entry);
}
