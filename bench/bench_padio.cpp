// The virtual pad, as the program meets it:
//   (a) padctl streaming reports at 1000 Hz for 10 s into the loaded library: how many arrive at
//       the data callback, at what rate, and how late (padctl stamps each report with its send time);
//   (b) what one library call costs the caller's (the program's UI) thread: dcDevices, dcRead,
//       dcWrite (which rewrites the pad's memory file) and dcWriteProp.
// Usage: bench_padio [HZ] [SECONDS]
#include "bench_report.h"
#include "padio.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>

namespace {

std::vector<uint32_t> g_latencyUs(1 << 20);
std::atomic<size_t> g_received {0};

uint32_t wallMicros()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return uint32_t(int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000);
}

int32_t onReport(const padio_data_cell *cell, uint32_t)
{
    const uint8_t *d = cell->data;
    const uint32_t sent = uint32_t(d[4]) | uint32_t(d[5]) << 8 | uint32_t(d[6]) << 16 | uint32_t(d[7]) << 24;
    const size_t at = g_received.fetch_add(1);
    if (at < g_latencyUs.size())
        g_latencyUs[at] = wallMicros() - sent;
    return 1;
}

double percentile(std::vector<uint32_t> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

template <typename F>
void timeCalls(const char *name, int count, F call)
{
    std::vector<uint32_t> ns(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        call(i);
        ns[size_t(i)] = uint32_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now() - start).count());
    }
    std::printf("  %-12s p50 %7.1f us   p99 %7.1f us   (%d calls)\n", name, percentile(ns, 0.5) / 1000,
                percentile(ns, 0.99) / 1000, count);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString hz = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("1000");
    const QString seconds = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("10");
    QTemporaryDir home;
    qputenv("PADIO_HOME", QFile::encodeName(home.path()));

    QLibrary library(QStringLiteral(PADIO_LIBRARY));
    auto devices = reinterpret_cast<PFN_dcDevices>(library.resolve("dcDevices"));
    auto onData = reinterpret_cast<PFN_dconDeviceData>(library.resolve("dconDeviceData"));
    auto read = reinterpret_cast<PFN_dcRead>(library.resolve("dcRead"));
    auto write = reinterpret_cast<PFN_dcWrite>(library.resolve("dcWrite"));
    auto writeProp = reinterpret_cast<PFN_dcWriteProp>(library.resolve("dcWriteProp"));
    if (!devices || !onData || !read || !write || !writeProp) {
        std::fprintf(stderr, "cannot load %s: %s\n", PADIO_LIBRARY, qPrintable(library.errorString()));
        return 1;
    }
    const std::u16string pad = u"HID\\Vid_5e1c&Pid_7a92&MI_00";
    const char16_t empty[] = {0};
    padio_device_data_fn cell = onReport;
    onData(pad.c_str(), empty, PADIO_MODEL, &cell);

    std::printf("(a) padctl stream %s Hz for %s s into the data callback\n", qPrintable(hz), qPrintable(seconds));
    QProcess padctl;
    padctl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    padctl.start(QStringLiteral(PADCTL), {"stream", "5E1C7A92", hz, seconds});
    if (!padctl.waitForFinished(int(seconds.toDouble() * 1000) + 30000) || padctl.exitCode() != 0) {
        std::fprintf(stderr, "padctl stream failed\n");
        return 1;
    }
    const QByteArray streamed = padctl.readAllStandardOutput();
    std::printf("  padctl: %s", streamed.constData());
    // "sent N reports in ..."
    const size_t sent = size_t(streamed.split(' ').value(1).toULongLong());
    // The last callbacks may still be on their way on the library's thread.
    for (int waited = 0; g_received.load() < sent && waited < 2000; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const size_t received = std::min(g_received.load(), g_latencyUs.size());
    std::vector<uint32_t> latency(g_latencyUs.begin(), g_latencyUs.begin() + long(received));
    std::printf("  received %zu of %zu; send-to-callback latency p50 %.0f us, p99 %.0f us, max %.0f us\n", received,
                sent, percentile(latency, 0.5), percentile(latency, 0.99), percentile(latency, 1.0));
    if (sent == 0 || g_received.load() != sent) {
        std::fprintf(stderr, "reports lost (or none sent): %zu sent, %zu received\n", sent, g_received.load());
        return 1;
    }
    reportRatio("padio: padctl -> library callback p50", percentile(latency, 0.5), "one report period",
                1e6 / std::max(1.0, hz.toDouble()), "us");

    std::printf("(b) cost of one call on the caller's thread\n");
    static uint8_t table[PADIO_TABLE_SIZE];
    padio_filter filter {};
    filter.words[0] = 0xFFA00001;
    filter.words[1] = 0xFFAA0001;
    timeCalls("dcDevices", 2000, [&](int) { devices(filter, table, PADIO_TABLE_SIZE); });
    uint8_t buffer[PADIO_BUFFER_SIZE] = {1, 2, 3};
    timeCalls("dcRead 2048", 2000, [&](int i) { read(pad.c_str(), empty, PADIO_MODEL, buffer, 2048, (i % 32) * 2048); });
    timeCalls("dcWrite 2048", 500, [&](int i) { write(pad.c_str(), empty, PADIO_MODEL, buffer, 2048, (i % 32) * 2048); });
    timeCalls("dcWriteProp 64", 500, [&](int i) { writeProp(pad.c_str(), empty, PADIO_MODEL, buffer, 64, i % 40); });
    return 0;
}
