// Unpacking an update package against the same work done by the stock tools: `xz -d` of the
// package's raw LZMA1 stream into one file plus `sha1sum` of the digested bytes. Each unpack runs
// in a child process of its own, so its peak memory (VmHWM) is the unpack's alone.
//
// Usage: vexa_bench_unpack [runs] [megabytes]   (default 5 runs of a 50 MB package, half text
// that compresses well, half noise that does not)
#include "bench_report.h"
#include "package_writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

struct Run {
    double ms = 0;
    qint64 peakKiB = 0;
};

quint32 next(quint32 &seed)
{
    seed = seed * 1664525u + 1013904223u;
    return seed;
}

QByteArray noise(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(next(seed) >> 24);
    return bytes;
}

// Script-like text from a small vocabulary: about what the page package holds.
QByteArray text(int size, quint32 seed)
{
    static const char *const words[] = {"function", "return", "var", "this", "device", "profile", "mode", "key",
                                        "macro", "if", "else", "for", "length", "value", "=", "{", "}", "(", ")",
                                        ";", "0x02", "true", "false", "null", "page", "button", "index", "data"};
    QByteArray bytes;
    bytes.reserve(size + 32);
    while (bytes.size() < size) {
        bytes += words[next(seed) % (sizeof words / sizeof *words)];
        bytes += (next(seed) % 8 == 0) ? '\n' : ' ';
        if (next(seed) % 16 == 0)
            bytes += QByteArray::number(next(seed) % 100000);
    }
    bytes.truncate(size);
    return bytes;
}

QVector<UpdatePackage::Entry> files(qint64 total)
{
    static const int sizes[] = {64 << 10, 256 << 10, 1 << 20, 3 << 20};
    QVector<UpdatePackage::Entry> entries;
    qint64 made = 0;
    for (int i = 0; made < total; ++i) {
        const int size = int(std::min<qint64>(sizes[i % 4], total - made));
        const QString name = QStringLiteral("package/dir%1/file%2.bin").arg(i % 7).arg(i);
        entries.append({name, i % 2 ? noise(size, quint32(i)) : text(size, quint32(i))});
        made += size;
    }
    return entries;
}

qint64 peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// The child: read the package file and unpack it, as the downloader does; prints "ms peakKiB".
int child(const QString &packagePath, const QString &tempDir)
{
    QElapsedTimer timer;
    timer.start();
    QFile file(packagePath);
    if (!file.open(QIODevice::ReadOnly))
        return 2;
    const QByteArray package = file.readAll();
    QString version;
    UpdatePackage::Failure failure;
    if (!UpdatePackage::unpack(package, tempDir, {}, &version, &failure)) {
        std::fprintf(stderr, "unpack failed: %d %s\n", failure.line, qPrintable(failure.message));
        return 1;
    }
    std::printf("%.3f %lld\n", double(timer.nsecsElapsed()) / 1e6, peakKiB());
    return 0;
}

bool write(const QString &path, const char *data, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data, size) == size;
}

Run unpackOnce(const QString &packagePath, const QString &tempDir)
{
    QProcess process;
    process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), packagePath, tempDir});
    if (!process.waitForFinished(-1) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s", process.readAllStandardError().constData());
        return {-1, -1};
    }
    const QList<QByteArray> fields = process.readAllStandardOutput().trimmed().split(' ');
    return {fields.value(0).toDouble(), fields.value(1).toLongLong()};
}

double toolMs(const QString &program, const QStringList &arguments, const QString &output)
{
    QProcess process;
    process.setStandardOutputFile(output);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
        return -1;
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

// Stops an unpacking after delayMs and answers how long it took to end once told (ms); negative
// when it had ended before it was told, or did not end as cancelled.
double cancelLatencyMs(const QByteArray &package, const QString &tempDir, double delayMs)
{
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    UpdatePackage::Failure failure;
    std::thread worker([&] {
        QString version;
        UpdatePackage::unpack(package, tempDir, {}, &version, &failure, &cancel);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::microseconds(qint64(delayMs * 1000)));
    QElapsedTimer timer;
    timer.start();
    cancel = true;
    worker.join();
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    QDir(tempDir).removeRecursively();
    return failure.cause == UpdatePackage::Failure::Cancelled ? ms : -1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--child"))
        return child(args.value(2), args.value(3));
    const int runs = std::max(1, args.value(1, QStringLiteral("5")).toInt());
    const qint64 megabytes = std::max(1, args.value(2, QStringLiteral("50")).toInt());

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    QElapsedTimer timer;
    timer.start();
    qint64 packageSize = 0;
    qint32 contentSize = 0;
    int fileCount = 0;
    QString lzma1;
    {
        QString error;
        const QVector<UpdatePackage::Entry> entries = files(megabytes << 20);
        fileCount = entries.size();
        const QByteArray package = UpdatePackage::build(QStringLiteral("bench"), entries, {}, &error);
        if (package.isEmpty()) {
            std::fprintf(stderr, "build: %s\n", qPrintable(error));
            return 1;
        }
        const char *data = package.constData();
        packageSize = package.size();
        contentSize = qFromLittleEndian<qint32>(data + 153);
        // The properties byte is (pb * 5 + lp) * 9 + lc, then the dictionary size.
        const int props = uchar(data[148]);
        lzma1 = QStringLiteral("lc=%1,lp=%2,pb=%3,dict=%4")
                    .arg(props % 9)
                    .arg(props / 9 % 5)
                    .arg(props / 45)
                    .arg(qFromLittleEndian<quint32>(data + 149));
        if (!write(dir.filePath(QStringLiteral("package.bin")), data, package.size())
            || !write(dir.filePath(QStringLiteral("stream.lzma")), data + 157, package.size() - 157)
            || !write(dir.filePath(QStringLiteral("digested.bin")), data + 148, package.size() - 148))
            return 1;
    }
    std::printf("package: %lld bytes holding %d bytes (%s), built in %.1f s\n", packageSize, contentSize,
                qPrintable(lzma1), double(timer.elapsed()) / 1000);

    std::vector<double> unpackMs, xzMs, shaMs;
    qint64 peak = 0;
    for (int i = 0; i < runs; ++i) {
        const QString temp = dir.filePath(QStringLiteral("temp%1").arg(i));
        const Run run = unpackOnce(dir.filePath(QStringLiteral("package.bin")), temp);
        QDir(temp).removeRecursively();
        const QString out = dir.filePath(QStringLiteral("xz.out"));
        const double xz = toolMs(QStringLiteral("xz"),
                                 {QStringLiteral("--format=raw"), QStringLiteral("--lzma1=") + lzma1, QStringLiteral("-d"),
                                  QStringLiteral("-c"), dir.filePath(QStringLiteral("stream.lzma"))},
                                 out);
        if (QFileInfo(out).size() < contentSize) {
            std::fprintf(stderr, "xz gave %lld bytes instead of %d\n", QFileInfo(out).size(), contentSize);
            return 1;
        }
        QFile::remove(out);
        const double sha = toolMs(QStringLiteral("sha1sum"), {dir.filePath(QStringLiteral("digested.bin"))},
                                  QProcess::nullDevice());
        if (run.ms < 0 || xz < 0 || sha < 0)
            return 1;
        unpackMs.push_back(run.ms);
        xzMs.push_back(xz);
        shaMs.push_back(sha);
        peak = std::max(peak, run.peakKiB);
    }

    // Closing the update dialog or quitting mid-unpack: how long the unpacking takes to stop,
    // told at a quarter, half and three quarters of its way.
    double worstCancelMs = 0;
    {
        QFile file(dir.filePath(QStringLiteral("package.bin")));
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray package = file.readAll();
        for (const double share : {0.25, 0.5, 0.75}) {
            const double ms = cancelLatencyMs(package, dir.filePath(QStringLiteral("cancelled")), median(unpackMs) * share);
            if (ms < 0) {
                std::fprintf(stderr, "the unpacking told to stop at %.0f %% did not stop as cancelled\n", share * 100);
                return 1;
            }
            worstCancelMs = std::max(worstCancelMs, ms);
        }
    }

    const double unpack = median(unpackMs);
    const double tools = median(xzMs) + median(shaMs);
    const qint64 limitKiB = (packageSize + contentSize + (64 << 20)) >> 10;
    std::printf("medians of %d runs:\n", runs);
    std::printf("  UpdatePackage::unpack (read file, check, decode, write %d files)  %8.1f ms  %6.1f MB/s\n",
                fileCount, unpack, contentSize / 1e3 / unpack);
    std::printf("  xz -d %.1f ms + sha1sum %.1f ms                                   %8.1f ms\n", median(xzMs),
                median(shaMs), tools);
    std::printf("  ratio unpack / (xz + sha1sum): %.3f (goal <= 1.1)\n", unpack / tools);
    std::printf("  unpack peak memory: %lld KiB; package + content + 64 MiB = %lld KiB (%s)\n", peak, limitKiB,
                peak < limitKiB ? "under" : "OVER");
    std::printf("  longest stop of a cancelled unpack: %.1f ms (goal <= 100)\n", worstCancelMs);
    reportRatio("update package: unpack", unpack, "xz -d + sha1sum", tools, "ms");
    reportRatio("update package: stop when cancelled", worstCancelMs, "goal", 100, "ms");
    return 0;
}
