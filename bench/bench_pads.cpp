// Pad reports into the running program: padctl streams reports at a fixed rate into the virtual
// library loaded by vexa; the page counts what reaches its event handler and how late.
//
// Each streamed report carries its sequence number (bytes 0-3) and the low 32 bits of the
// sender's wall clock in microseconds (bytes 4-7), taken just before padctl hands it to the
// library. The latency measured is therefore padctl → library callback → page handler, an upper
// bound of the callback-to-page part. The page reads its clock with Date.now() (1 ms steps, the
// same wall clock as padctl's), so figures are good to about a millisecond.
//
// Usage: vexa_bench_pads [HZ] [SECONDS]   (default 1000 Hz for 10 s; needs DISPLAY)
//        BENCH_SCREEN=<screen> shows another screen than "pads" during the stream.
#include "vexa_driver.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

const char kRecorder[] = R"JS((() => {
  if (window.benchPads) return true;
  const r = window.benchPads = { received: 0, latencies: [], maxSeq: -1, outOfOrder: 0, seen: new Set() };
  vexaModules.events.onEvent((entry) => {
    if (entry.name !== 'onDeviceData') return;
    const nowUs = (Date.now() * 1000) % 4294967296;
    const hex = String(entry.values[0]);
    const le = (at) => parseInt(hex.substr(at + 6, 2) + hex.substr(at + 4, 2) + hex.substr(at + 2, 2) + hex.substr(at, 2), 16);
    const seq = le(0), sentUs = le(8);
    r.received++;
    if (seq < r.maxSeq) r.outOfOrder++; else r.maxSeq = seq;
    r.seen.add(seq);
    // Date.now() has millisecond steps: a report can seem to arrive up to 1 ms before it left.
    const d = ((nowUs - sentUs) + 4294967296) % 4294967296;
    r.latencies.push(d > 2147483648 ? 0 : d);
  });
  return true;
})())JS";

const char kSummary[] = R"JS((() => {
  const r = window.benchPads;
  const l = r.latencies.slice().sort((a, b) => a - b);
  const at = (q) => l.length ? l[Math.min(l.length - 1, Math.floor(q * l.length))] : -1;
  return { received: r.received, distinct: r.seen.size, outOfOrder: r.outOfOrder,
           p50: at(0.5), p90: at(0.9), p99: at(0.99), max: l.length ? l[l.length - 1] : -1 };
})())JS";

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
    const QJsonObject s = driver.evaluate(QString::fromLatin1(kSummary)).toObject();

    out << "padctl: " << streamed << "\n";
    out << QStringLiteral("reports raised %1, delivered to the page %2 (distinct %3, out of order %4)\n")
               .arg(sent)
               .arg(s.value("received").toInt())
               .arg(s.value("distinct").toInt())
               .arg(s.value("outOfOrder").toInt());
    out << QStringLiteral("latency padctl → page handler: p50 %1 µs, p90 %2 µs, p99 %3 µs, max %4 µs\n")
               .arg(qint64(s.value("p50").toDouble()))
               .arg(qint64(s.value("p90").toDouble()))
               .arg(qint64(s.value("p99").toDouble()))
               .arg(qint64(s.value("max").toDouble()));
    out.flush();
    driver.terminate();
    const bool allDelivered = s.value("distinct").toInt() == sent && sent > 0;
    return allDelivered ? 0 : 2;
}
