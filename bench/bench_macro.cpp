// Key capture through the running program: keys typed with XTest on a private X server, timed
// until their "macroItem" reaches the page's event handler; then what the recorder costs while
// it records and nobody types.
//
// The page notes each arrival on its high-resolution clock and on the wall clock (Date.now(),
// whole milliseconds, the same clock as this program's). The wall clock is never ahead of the
// truth and less than 1 ms behind it, so the largest (wall − high-resolution) difference over
// all arrivals pins the high-resolution clock to the wall clock within a small fraction of a
// millisecond.
//
// Usage: vexa_bench_macro [KEYS] [IDLE_SECONDS]   (default 1000 keys, 10 s; needs Xvfb)
#include "bench_report.h"
#include "private_display.h"
#include "vexa_driver.h"

#include "hook_handler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <ctime>

#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#undef Bool
#undef KeyPress
#undef KeyRelease
#undef None
#undef Status

namespace {

const char kRecorder[] = R"JS((() => {
  window.benchMacro = [];
  vexaModules.events.onEvent((entry) => {
    if (entry.name === 'macroItem' && String(entry.values[0]) === '0')
      window.benchMacro.push([performance.timeOrigin + performance.now(), Date.now()]);
  });
  return true;
})())JS";

double wallUs()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

double cpuSeconds(clockid_t clock)
{
    timespec ts;
    clock_gettime(clock, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// utime + stime of a process, in seconds.
double processCpu(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return (fields.at(11).toDouble() + fields.at(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// The program's main process: its executable in appDir, not one of the browser's helpers.
qint64 programPid(const QString &appDir)
{
    const QString exe = QDir(appDir).filePath(QStringLiteral("vexa"));
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok || QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)) != exe)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly) && !cmdline.readAll().contains("--type="))
            return pid;
    }
    return -1;
}

double percentile(std::vector<double> values, double q)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(q * values.size()))];
}

// The recorder alone in this process: CPU while recording with no keys coming.
double recorderIdleShare(int seconds)
{
    MacroRecorder recorder(nullptr);
    recorder.setItemSink([](const QString &, const QString &, const QString &, const QString &) {});
    recorder.startRecording();
    if (!recorder.isRecording())
        return -1;
    const double cpu0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double wall0 = wallUs();
    QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    const double share = (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / ((wallUs() - wall0) / 1e6);
    recorder.stopRecording();
    return share * 100;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int keys = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000;
    const int idleSeconds = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 10;
    QTextStream out(stdout);

    PrivateDisplay display;
    if (!display.start()) {
        out << "needs Xvfb\n";
        return 1;
    }
    Display *x = XOpenDisplay(nullptr);
    if (!x) {
        out << "no X display\n";
        return 1;
    }

    const double recorderShare = recorderIdleShare(idleSeconds);
    if (recorderShare < 0) {
        out << "the recorder did not start recording: nothing to measure\n";
        return 1;
    }
    out << "recorder alone, recording, no keys: " << QString::number(recorderShare, 'f', 4) << " % of a core over "
        << idleSeconds << " s\n";
    out.flush();

    qputenv("PADIO_HOME", QDir::temp().filePath(QStringLiteral("vexa-bench-macro")).toLocal8Bit());
    VexaDriver driver(QStringLiteral(VEXA_APP_DIR));
    if (!driver.start() || !driver.waitUntil(QStringLiteral("!!(window.vexaPage && window.vexaPage.ready)"))) {
        out << "program did not start: " << driver.error() << "\n";
        return 1;
    }
    const qint64 pid = programPid(driver.appDir());

    // The same without recording, to tell the recorder's share from the browser's own.
    const double baseCpu0 = processCpu(pid);
    QThread::sleep(static_cast<unsigned long>(idleSeconds));
    const double programBase = (processCpu(pid) - baseCpu0) / idleSeconds * 100;

    driver.evaluate(QString::fromLatin1(kRecorder));
    driver.evaluate(QStringLiteral("vexaModules.bridge.query({funcname: 'startRecord'})"));

    // The program records and nobody types.
    const double progCpu0 = processCpu(pid);
    QThread::sleep(static_cast<unsigned long>(idleSeconds));
    const double programIdle = (processCpu(pid) - progCpu0) / idleSeconds * 100;

    std::vector<double> sent;
    sent.reserve(size_t(keys) * 2);
    for (int i = 0; i < keys; ++i) {
        for (int down = 1; down >= 0; --down) {
            sent.push_back(wallUs());
            XTestFakeKeyEvent(x, 38, down, 0);
            XFlush(x);
            QThread::usleep(2000);
        }
    }
    const bool all = driver.waitUntil(QStringLiteral("window.benchMacro.length >= %1").arg(sent.size()), 30000);
    const QJsonArray arrived = driver.evaluate(QStringLiteral("window.benchMacro")).toArray();
    driver.evaluate(QStringLiteral("vexaModules.bridge.query({funcname: 'stopRecord'})"));

    double offsetMs = -1e18; // wall − high-resolution
    for (const QJsonValue &a : arrived)
        offsetMs = std::max(offsetMs, a.toArray().at(1).toDouble() - a.toArray().at(0).toDouble());
    std::vector<double> latencyMs;
    for (int i = 0; i < arrived.size() && i < int(sent.size()); ++i)
        latencyMs.push_back(arrived.at(i).toArray().at(0).toDouble() + offsetMs - sent[size_t(i)] / 1000);

    out << "key capture, XTest key event -> page handler, " << keys << " keys (" << sent.size() << " events, "
        << arrived.size() << " arrived" << (all ? "" : ", SOME MISSING") << ")\n";
    out << "  p50 " << QString::number(percentile(latencyMs, 0.5), 'f', 3) << " ms, p99 "
        << QString::number(percentile(latencyMs, 0.99), 'f', 3) << " ms, max "
        << QString::number(percentile(latencyMs, 1.0), 'f', 3) << " ms\n";
    out << "whole program while recording, no keys: " << QString::number(programIdle, 'f', 3)
        << " % of a core over " << idleSeconds << " s; not recording: " << QString::number(programBase, 'f', 3)
        << " % (the whole main process; /proc counts in 10 ms ticks)\n";
    out.flush();
    driver.terminate();
    XCloseDisplay(x);
    reportRatio("macro: XTest key -> page p50", percentile(latencyMs, 0.5), "one 60 Hz frame", 1000.0 / 60, "ms");
    // Keys that never arrived, or a program whose process was not found, leave nothing measured.
    if (!all || arrived.size() != int(sent.size()) || pid < 0) {
        out << "not a measurement: " << (pid < 0 ? "the program's process was not found" : "keys were lost") << "\n";
        return 1;
    }
    return 0;
}
