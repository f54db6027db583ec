// Modes that change the pad, through the running program with its window hidden in the tray:
//  - the page's timer rate while the window shows and while it is hidden (a hidden page that
//    Chromium throttles would switch late);
//  - the apply itself: the 128-byte profile block written and read back through the page;
//  - a bound program's start → the virtual pad holds its mode's block, over 4 starts, beside the
//    process monitor's own scan period (the floor of what the page can do). Each start and end is
//    two switches, and the page allows a burst of 10 before it switches at most once a minute (a
//    program restarting in a loop must not rewrite the pad for ever), so more starts in a row would
//    measure that limit instead.
//
// Usage: vexa_bench_modes [STARTS]   (default and at most 4; needs DISPLAY and a window manager for the tray)
// Exits non-zero when a measurement has no samples.
#include "bench_report.h"
#include "pad_blocks.h"
#include "vexa_driver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

const int kMonitorPeriodMs = 3000;

// Ticks of a 10 ms interval over about ms milliseconds, as a rate per second.
const char kTimerRate[] = R"JS(new Promise((resolve) => {
  let n = 0; const t0 = performance.now();
  const id = setInterval(() => { n++; }, 10);
  setTimeout(() => { clearInterval(id); resolve(n * 1000 / (performance.now() - t0)); }, %1);
}))JS";

// The block written and read back through the page, like "Apply to pad" does, n times.
const char kApplyTimes[] = R"JS((async () => {
  const v = vexaModules;
  const pads = (await v.pads.listPads()).filter(v.modeSwitch.isPadOfOurs);
  const top = new DOMParser().parseFromString(%1, 'application/xml').documentElement;
  const bytes = v.padMemory.encodeProfile(v.padMemory.profileFromElement(top));
  const send = (request) => v.bridge.command(request, { timeoutMs: 5000 });
  const times = [];
  for (let i = 0; i < %2; i++) {
    const t0 = performance.now();
    const r = await v.padLock.exclusive(pads[0], () => v.padMemory.applyBlock(bytes, pads[0], send));
    if (!r.ok) return { error: r.key };
    times.push(performance.now() - t0);
  }
  return { times };
})())JS";

double percentile(QVector<double> values, double q)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    return values.at(std::min(int(values.size()) - 1, int(q * values.size())));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    constexpr int kStartsWithinTheBurst = 4;
    const int starts = qBound(1, argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : kStartsWithinTheBurst,
                              kStartsWithinTheBurst);
    const QString padctl = QStringLiteral(VEXA_APP_DIR "/padctl");

    QTemporaryDir home;
    QTemporaryDir outside;
    qputenv("PADIO_HOME", home.path().toLocal8Bit());
    const QString program = QFileInfo(outside.path()).canonicalFilePath() + QStringLiteral("/BenchRacer");
    if (!QFile::copy(QStandardPaths::findExecutable(QStringLiteral("sleep")), program)) {
        out << "could not copy sleep\n";
        return 1;
    }
    VexaDriver::Options options;
    options.files.insert(QStringLiteral("view/profiles/profile1.xml"), pad_blocks::profileXml("Calm", 10, "#e0483e", "breathing"));
    options.files.insert(QStringLiteral("view/profiles/profile2.xml"), pad_blocks::profileXml("Racing", 20, "#00ff00", "static"));
    options.files.insert(QStringLiteral("view/xml/configuration.xml"),
                         QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<conf><modeSetting current=\"1\"><modes group=\"pad\">"
                                        "<mode index=\"1\" name=\"Desktop\" bindingProcess=\"\" profile=\"profile1.xml\"/>"
                                        "<mode index=\"2\" name=\"Racing\" bindingProcess=\"%1\" profile=\"profile2.xml\"/>"
                                        "</modes></modeSetting></conf>\n")
                             .arg(program)
                             .toUtf8());
    VexaDriver driver(QStringLiteral(VEXA_APP_DIR), options);
    if (!driver.start()) {
        out << "vexa did not start: " << driver.error() << "\n";
        return 1;
    }
    QString error;
    if (!driver.waitUntil(QStringLiteral("!!(window.vexaPage && vexaModules.modeSwitch.switcher.status"
                                         " && vexaModules.modeSwitch.switcher.status.kind === 'applied')"),
                          30000, &error)) {
        out << "the current mode's profile never reached the pad: " << error << "\n";
        return 1;
    }
    const QString padId = driver.evaluate(QStringLiteral("vexaModules.modeSwitch.switcher.status.pads[0].DeviceID")).toString();
    const QString calm = pad_blocks::blockStart(padctl, padId, 16);

    const double shownRate = driver.evaluate(QString::fromLatin1(kTimerRate).arg(3000), &error, 60000).toDouble();
    driver.ask(QStringLiteral("{\"funcname\":\"closeApp\"}"));
    if (!driver.waitUntil(QStringLiteral("document.hidden"), 10000)) {
        out << "the window did not go to the tray\n";
        return 1;
    }
    const double hiddenRate = driver.evaluate(QString::fromLatin1(kTimerRate).arg(3000), &error, 60000).toDouble();
    // Chromium's budget for hidden pages starts after about 10 s.
    QThread::msleep(12000);
    const double hiddenLaterRate = driver.evaluate(QString::fromLatin1(kTimerRate).arg(3000), &error, 60000).toDouble();
    out << QStringLiteral("page timer (10 ms interval): window shown %1/s, hidden %2/s, hidden for 12 s %3/s\n")
               .arg(shownRate, 0, 'f', 1)
               .arg(hiddenRate, 0, 'f', 1)
               .arg(hiddenLaterRate, 0, 'f', 1);

    const QJsonObject applied =
        driver.evaluate(QString::fromLatin1(kApplyTimes).arg(VexaDriver::jsString(QString::fromUtf8(pad_blocks::profileXml("Calm", 10, "#e0483e", "breathing")))).arg(200),
                        &error, 120000)
            .toObject();
    QVector<double> applyMs;
    for (const QJsonValue &v : applied.value(QStringLiteral("times")).toArray())
        applyMs.append(v.toDouble());
    out << QStringLiteral("apply (write + read-back of 128 bytes through the page, hidden), %1 times: p50 %2 ms, p99 %3 ms, max %4 ms%5\n")
               .arg(applyMs.size())
               .arg(percentile(applyMs, 0.5), 0, 'f', 2)
               .arg(percentile(applyMs, 0.99), 0, 'f', 2)
               .arg(percentile(applyMs, 1.0), 0, 'f', 2)
               .arg(applied.contains(QStringLiteral("error")) ? QStringLiteral(" (failed: %1)").arg(applied.value("error").toString()) : QString());
    out.flush();

    // Starts with the window hidden: the time until padctl reads the Racing block, then until the
    // Calm block is back after the program ends.
    QVector<double> toRacing;
    QVector<double> back;
    for (int i = 0; i < starts; ++i) {
        // Starts fall anywhere in the monitor's period, as a person's do.
        QThread::msleep(QRandomGenerator::global()->bounded(kMonitorPeriodMs));
        QProcess racer;
        QElapsedTimer clock;
        racer.start(program, {QStringLiteral("600")});
        if (!racer.waitForStarted())
            break;
        clock.start();
        QString now;
        while (clock.elapsed() < 15000 && ((now = pad_blocks::blockStart(padctl, padId, 16)) == calm || now.isEmpty()))
            QThread::msleep(20);
        if (now == calm)
            break;
        toRacing.append(clock.elapsed());
        QThread::msleep(QRandomGenerator::global()->bounded(kMonitorPeriodMs));
        racer.kill();
        racer.waitForFinished();
        clock.restart();
        while (clock.elapsed() < 15000 && pad_blocks::blockStart(padctl, padId, 16) != calm)
            QThread::msleep(20);
        back.append(clock.elapsed());
        out << QStringLiteral("  start %1: %2 ms, back %3 ms\n").arg(i + 1).arg(toRacing.last()).arg(back.last());
        out.flush();
    }
    out << QStringLiteral("program start → pad holds the mode's block (window hidden), %1 starts: p50 %2 ms, p99 %3 ms;"
                          " program end → previous block back: p50 %4 ms, p99 %5 ms; monitor scan period %6 ms\n")
               .arg(toRacing.size())
               .arg(percentile(toRacing, 0.5), 0, 'f', 0)
               .arg(percentile(toRacing, 0.99), 0, 'f', 0)
               .arg(percentile(back, 0.5), 0, 'f', 0)
               .arg(percentile(back, 0.99), 0, 'f', 0)
               .arg(kMonitorPeriodMs);
    out.flush();
    reportRatio("start to block p50", percentile(toRacing, 0.5), "monitor scan period", kMonitorPeriodMs, "ms");
    reportRatio("start to block p99", percentile(toRacing, 0.99), "monitor scan period", kMonitorPeriodMs, "ms");
    reportRatio("apply p99", percentile(applyMs, 0.99), "budget", 20, "ms");
    driver.terminate();
    const bool measured = shownRate > 0 && hiddenRate > 0 && !applyMs.isEmpty() && toRacing.size() == starts && back.size() == starts;
    return measured ? 0 : 2;
}
