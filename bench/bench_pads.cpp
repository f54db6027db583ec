// Pad reports into the running program: padctl streams reports at a fixed rate into the virtual
// library loaded by vexa; the page counts what reaches its event handler and how late.
//
// Each streamed report carries its sequence number (bytes 0-3) and the low 32 bits of the
// sender's wall clock in microseconds (bytes 4-7), taken just before padctl hands it to the
// library. The latency measured is therefore padctl → library callback → page handler, an upper
// bound of the callback-to-page part. The page notes arrivals on its high-resolution clock
// (performance.timeOrigin + performance.now()), which is not the wall clock. The offset between
// the two is measured in the page, before and after the stream: the wall clock (Date.now(), the
// same clock as padctl's) steps whole milliseconds, and the instant of a step is bracketed by
// high-resolution readings taken around the readings of the wall clock on either side of it. The
// tightest of many brackets gives the offset and its uncertainty (a few microseconds, where a
// round trip from this program would bound it only to half a protocol round trip).
//
// Usage: vexa_bench_pads [HZ] [SECONDS]   (default 1000 Hz for 10 s; needs DISPLAY)
//        BENCH_SCREEN=<screen> shows another screen than "pads" during the stream.
#include "bench_report.h"
#include "vexa_driver.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

const char kRecorder[] = R"JS((() => {
  if (window.benchPads) return true;
  const r = window.benchPads = { received: 0, arrivals: [], sent: [], maxSeq: -1, outOfOrder: 0, seen: new Set() };
  vexaModules.events.onEvent((entry) => {
    if (entry.name !== 'onDeviceData') return;
    const arrivedUs = (performance.timeOrigin + performance.now()) * 1000;
    const hex = String(entry.values[0]);
    const le = (at) => parseInt(hex.substr(at + 6, 2) + hex.substr(at + 4, 2) + hex.substr(at + 2, 2) + hex.substr(at, 2), 16);
    const seq = le(0);
    r.received++;
    if (seq < r.maxSeq) r.outOfOrder++; else r.maxSeq = seq;
    r.seen.add(seq);
    r.arrivals.push(arrivedUs);
    r.sent.push(le(8));
  });
  return true;
})())JS";

// Latencies with the page clock moved onto the wall clock by OFFSET_US; the sender's stamp holds
// the wall clock's low 32 bits, so the difference is taken modulo 2^32 and read as signed.
const char kSummary[] = R"JS(((offsetUs) => {
  const r = window.benchPads;
  const l = r.arrivals.map((arrived, i) => {
    const d = (((arrived + offsetUs) % 4294967296) - r.sent[i] + 4294967296) % 4294967296;
    return d >= 2147483648 ? d - 4294967296 : d;
  }).sort((a, b) => a - b);
  const at = (q) => l.length ? l[Math.min(l.length - 1, Math.floor(q * l.length))] : 0;
  return { received: r.received, distinct: r.seen.size, outOfOrder: r.outOfOrder,
           min: l.length ? l[0] : 0, p50: at(0.5), p90: at(0.9), p99: at(0.99), max: l.length ? l[l.length - 1] : 0 };
})(OFFSET_US))JS";

// Wall clock minus page clock, in microseconds, from the tightest bracket of EDGES steps of the
// wall clock: [offset, uncertainty]; the uncertainty includes the page clock's step.
const char kClockOffset[] = R"JS(((edges) => {
  // The high-resolution clock is coarsened: its step widens every bracket.
  let last = performance.now(), step = Infinity;
  const hi = () => {
    const now = performance.now();
    if (now > last && now - last < step) step = now - last;
    last = now;
    return performance.timeOrigin + now;
  };
  let best = null;
  for (let found = 0, tries = 0; found < edges && tries < 50 * edges; ++tries) {
    // Wait for one step of the wall clock, reading both clocks as closely together as possible.
    let beforeWall = hi(), wall = Date.now(), afterWall = hi();
    for (;;) {
      const h0 = hi(), w = Date.now(), h1 = hi();
      if (w !== wall) {
        // The step to w came after the previous wall reading and before this one.
        if (w === wall + 1) {
          const low = beforeWall, high = h1, width = (high - low) / 2;
          if (!best || width < best[1]) best = [w - (low + high) / 2, width];
          ++found;
        }
        break;
      }
      beforeWall = h0; afterWall = h1;
    }
  }
  return best && step < Infinity ? [best[0] * 1000, (best[1] + step) * 1000] : null;
})(EDGES))JS";

struct ClockOffset {
    double offsetUs = 0; // wall clock minus page clock
    double uncertaintyUs = 1e18;
};

ClockOffset pageClockOffset(VexaDriver &driver, int edges)
{
    const QJsonArray bracket =
        driver.evaluate(QString::fromLatin1(kClockOffset).replace(QLatin1String("EDGES"), QString::number(edges))).toArray();
    if (bracket.size() != 2)
        return {};
    return {bracket.at(0).toDouble(), bracket.at(1).toDouble()};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int hz = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000;
    const QString seconds = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("10");
    QTextStream out(stdout);

    QTemporaryDir home;
    qputenv("PADIO_HOME", home.path().toLocal8Bit());
    VexaDriver driver(QStringLiteral(VEXA_APP_DIR));
    if (!driver.start()) {
        out << "vexa did not start: " << driver.error() << "\n";
        return 1;
    }
    QString error;
    if (!driver.waitUntil(QStringLiteral("!!(window.vexaPage && document.querySelector('#pads-list [data-device-id]'))"),
                          30000, &error) ||
        !driver.evaluate(QString::fromLatin1(kRecorder), &error).toBool()) {
        out << "page not ready: " << error << "\n";
        return 1;
    }
    const QString padId = driver.evaluate(QStringLiteral("document.querySelector('#pads-list [data-device-id]').dataset.deviceId")).toString();
    // BENCH_SCREEN=console: measure with the live report view hidden (nothing repaints per report).
    const QString screen = qEnvironmentVariable("BENCH_SCREEN", QStringLiteral("pads"));
    driver.evaluate(QStringLiteral("location.hash = %1; true").arg(VexaDriver::jsString(screen)));

    const ClockOffset before = pageClockOffset(driver, 50);

    QProcess padctl;
    padctl.setProcessChannelMode(QProcess::MergedChannels);
    padctl.start(QStringLiteral(VEXA_APP_DIR "/padctl"),
                 {QStringLiteral("stream"), padId, QString::number(hz), seconds});
    if (!padctl.waitForFinished(int(seconds.toDouble() * 1000) + 60000)) {
        out << "padctl stream did not finish\n";
        return 1;
    }
    const QString streamed = QString::fromUtf8(padctl.readAll()).trimmed();
    // "sent N reports in ..."
    const int sent = streamed.section(QLatin1Char(' '), 1, 1).toInt();
    driver.waitUntil(QStringLiteral("window.benchPads.received >= %1").arg(sent), 5000);
    const ClockOffset after = pageClockOffset(driver, 50);
    const ClockOffset clock = before.uncertaintyUs <= after.uncertaintyUs ? before : after;
    const QJsonObject s = driver.evaluate(QString::fromLatin1(kSummary).replace(QLatin1String("OFFSET_US"),
                                                                                QString::number(clock.offsetUs, 'f', 1)))
                              .toObject();
    const auto us = [&](const char *key) { return qint64(s.value(QLatin1String(key)).toDouble()); };

    out << "padctl: " << streamed << "\n";
    out << QStringLiteral("reports raised %1, delivered to the page %2 (distinct %3, out of order %4)\n")
               .arg(sent)
               .arg(s.value("received").toInt())
               .arg(s.value("distinct").toInt())
               .arg(s.value("outOfOrder").toInt());
    out << QStringLiteral("latency padctl → page handler: p50 %1 µs, p90 %2 µs, p99 %3 µs, max %4 µs, min %5 µs\n")
               .arg(us("p50"))
               .arg(us("p90"))
               .arg(us("p99"))
               .arg(us("max"))
               .arg(us("min"));
    out << QStringLiteral("page clock → wall clock: %1 µs ± %2 µs (tightest of 50 steps of the wall clock; before the"
                          " stream %3 ± %4 µs, after %5 ± %6 µs)\n")
               .arg(qint64(clock.offsetUs))
               .arg(clock.uncertaintyUs, 0, 'f', 1)
               .arg(qint64(before.offsetUs))
               .arg(before.uncertaintyUs, 0, 'f', 1)
               .arg(qint64(after.offsetUs))
               .arg(after.uncertaintyUs, 0, 'f', 1);
    out.flush();
    driver.terminate();
    reportRatio("pads: padctl -> page p50", double(us("p50")), "one report period", 1e6 / std::max(1, hz), "us");
    const bool allDelivered = s.value("distinct").toInt() == sent && sent > 0;
    // A latency below zero by more than the offset's uncertainty means the clocks were not matched.
    const bool clocksMatched = clock.uncertaintyUs < 1e17 && double(us("min")) >= -clock.uncertaintyUs - 100;
    if (!clocksMatched)
        out << "the page clock could not be matched to the wall clock: latencies are not measured\n";
    return allDelivered && clocksMatched ? 0 : 2;
}
