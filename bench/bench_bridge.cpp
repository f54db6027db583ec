// How much the page bridge costs over QtWebEngine's own web channel, in one run:
//   (a) 2000 sequential cefQuery round trips through our runtime layer (page transport, router,
//       reply to the asking document), answered at once by a bench handler;
//   (a+) the same with the hop the program takes to the GUI thread (MessageEvent → jsMessage);
//   (b) 2000 round trips on a bare QWebChannel echo object;
//   (c) 1000 Hz of "onDeviceData" events for 3 s from a worker thread through ClientHandler to a
//       page callback registered with setMessageCallback;
//   (d) the same stream on the bare web channel (a signal emitted through a queued invocation).
// Round trips are timed in the page with performance.now(). Event latency compares the native
// send time with the page's arrival time on the wall clock; the offset between the two clocks is
// estimated per page from the fastest of many time queries and taken out.
#include "bench_objects.h"
#include "bench_report.h"
#include "client_app.h"
#include "client_handler.h"
#include "vexa_web_view.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

constexpr int kRoundTrips = 2000;
constexpr int kWarmUp = 300;
constexpr int kEventHz = 1000;
constexpr int kEventSeconds = 3;

} // namespace

static double epochMs()
{
    using namespace std::chrono;
    return double(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count()) / 1000.0;
}

QString epochMsText()
{
    return QString::number(epochMs(), 'f', 3);
}

QString echoOf(const QString &request)
{
    return request == QLatin1String("time") ? epochMsText() : request;
}

namespace {

// Runs the event loop until done() or the time is up.
bool spinUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// Shared by both pages: the measurements, driven from native code.
const char kBenchScript[] = R"JS(
window.bench = {
  now() { return performance.timeOrigin + performance.now(); },
  async roundTrips(n, shaped) {
    const times = new Array(n);
    for (let i = 0; i < n; ++i) {
      const t0 = performance.now();
      await transport.ask('ping ' + i, shaped);
      times[i] = performance.now() - t0;
    }
    return times;
  },
  // Native clock minus page clock, from the round trip that took least time.
  async clockOffset(n) {
    let best = Infinity, offset = 0;
    for (let i = 0; i < n; ++i) {
      const t0 = bench.now();
      const native = parseFloat(await transport.ask('time'));
      const t1 = bench.now();
      if (t1 - t0 < best) { best = t1 - t0; offset = native - (t0 + t1) / 2; }
    }
    return { offset, rtt: best };
  },
  arrivals: [],
  onEvent(payload) { bench.arrivals.push(bench.now(), payload); },
  takeArrivals() { const a = bench.arrivals; bench.arrivals = []; return a; },
  results: {},
  run(name, job) {
    job().then((value) => { bench.results[name] = value; transport.done(name); },
               (error) => { bench.results[name] = { error: String(error) }; transport.done(name); });
  },
};
)JS";

// Our layer: the router's cefQuery and setMessageCallback.
const char kLayerPage[] = R"HTML(<!doctype html><meta charset="utf-8"><title>bench: vexa layer</title>
<script>%1
window.transport = {
  ask(request) {
    return new Promise((resolve, reject) =>
      cefQuery({ request, onSuccess: resolve, onFailure: (code, text) => reject(new Error(code + ' ' + text)) }));
  },
  done(name) { cefQuery({ request: 'done ' + name }); },
};
setMessageCallback('onDeviceData', (values) => bench.onEvent(values[0]));
cefQuery({ request: 'ready' });
</script>
)HTML";

// Bare: one echo object on QtWebEngine's web channel.
const char kBarePage[] = R"HTML(<!doctype html><meta charset="utf-8"><title>bench: bare web channel</title>
<script src="qrc:///qtwebchannel/qwebchannel.js"></script>
<script>%1
new QWebChannel(qt.webChannelTransport, (channel) => {
  const echo = channel.objects.echo;
  let waiting = null;
  echo.pong.connect((text) => { const resolve = waiting; waiting = null; resolve(text); });
  // The same channel carrying what a cefQuery carries: document token and query id out, token,
  // id, outcome, code and text back, answers matched by id.
  const token = 'f00dfeedf00dfeedf00dfeedf00dfeed';
  const pending = new Map();
  let nextId = 1;
  echo.reply.connect((context, id, success, code, text) => {
    if (context !== token) return;
    const resolve = pending.get(id);
    if (!resolve) return;
    pending.delete(id);
    resolve(text);
  });
  echo.deviceData.connect((payload) => bench.onEvent(payload));
  window.transport = {
    ask(request, shaped) {
      return new Promise((resolve) => {
        if (shaped) {
          const id = nextId++;
          pending.set(id, resolve);
          echo.query(token, id, request, false);
        } else {
          waiting = resolve;
          echo.ping(request);
        }
      });
    },
    done(name) { echo.done(name); },
  };
  echo.done('ready');
});
</script>
)HTML";



// The bench's only query handler: answers at once, or after the program's hop to the view.
class BenchHandler : public CefMessageRouterBrowserSide::Handler {
public:
    explicit BenchHandler(PageSignals *sink) : m_sink(sink) {}
    static std::atomic<bool> viaView;

    bool OnQuery(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int64, const CefString &request, bool,
                 CefRefPtr<CefMessageRouterBrowserSide::Callback> callback) override
    {
        if (request.startsWith(QLatin1String("done ")) || request == QLatin1String("ready")) {
            m_sink->done << request.mid(request.startsWith(QLatin1String("done ")) ? 5 : 0);
            callback->Success(QString());
            return true;
        }
        CefRefPtr<ClientHandler> client = ClientHandler::current();
        ClientHandler::Listener *listener = client ? client->GetListener() : nullptr;
        if (viaView && listener)
            listener->PostEvent(new MessageEvent(request, callback)); // answered from jsMessage
        else
            callback->Success(echoOf(request));
        return true;
    }

private:
    PageSignals *m_sink;
};
std::atomic<bool> BenchHandler::viaView{false};


struct Stats {
    int count = 0;
    double p50 = 0, p99 = 0, max = 0;
};

Stats statsOf(std::vector<double> values)
{
    Stats s;
    s.count = int(values.size());
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    auto rank = [&](double p) { return values[size_t(std::max(0.0, std::ceil(p * double(values.size())) - 1))]; };
    s.p50 = rank(0.50);
    s.p99 = rank(0.99);
    s.max = values.back();
    return s;
}

// A page and the way to run script in it.
struct Page {
    const char *name;
    QWebEnginePage *page;
    PageSignals *sink;

    // Starts job (a JS expression yielding a promise) and waits for its value.
    QVariant run(const QString &job, int timeoutMs = 120000)
    {
        static int serial = 0;
        const QString key = QStringLiteral("job%1").arg(++serial);
        page->runJavaScript(QStringLiteral("bench.run('%1', () => %2)").arg(key, job));
        if (!spinUntil([&] { return sink->has(key); }, timeoutMs)) {
            std::fprintf(stderr, "%s: %s did not finish\n", name, qPrintable(job));
            return QVariant();
        }
        return evaluate(QStringLiteral("bench.results['%1']").arg(key));
    }

    QVariant evaluate(const QString &expression)
    {
        QVariant value;
        bool done = false;
        page->runJavaScript(expression, [&](const QVariant &v) {
            value = v;
            done = true;
        });
        spinUntil([&] { return done; }, 30000);
        return value;
    }
};

std::vector<double> numbers(const QVariant &list)
{
    std::vector<double> out;
    for (const QVariant &v : list.toList())
        out.push_back(v.toDouble());
    return out;
}

struct StreamResult {
    int sent = 0;
    int delivered = 0;
    bool inOrder = true;
    Stats latency;
};

// kEventHz events per second for kEventSeconds from a worker thread; send(seq, payload) raises one.
StreamResult stream(Page &page, double clockOffset, const std::function<void(const QString &)> &send)
{
    page.evaluate(QStringLiteral("bench.takeArrivals().length"));
    const int total = kEventHz * kEventSeconds;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        using namespace std::chrono;
        auto next = steady_clock::now();
        for (int seq = 0; seq < total; ++seq) {
            next += microseconds(1000000 / kEventHz);
            std::this_thread::sleep_until(next);
            send(QStringLiteral("%1;%2").arg(seq).arg(epochMsText()));
        }
        finished = true;
    });
    spinUntil([&] { return finished.load(); }, (kEventSeconds + 30) * 1000);
    worker.join();

    StreamResult result;
    result.sent = total;
    // Let the tail arrive.
    QVariantList arrivals;
    QElapsedTimer drain;
    drain.start();
    while (drain.elapsed() < 2000) {
        arrivals += page.evaluate(QStringLiteral("bench.takeArrivals()")).toList();
        if (arrivals.size() / 2 >= total)
            break;
        spinUntil([] { return false; }, 50);
    }
    std::vector<double> latencies;
    int lastSeq = -1;
    for (int i = 0; i + 1 < arrivals.size(); i += 2) {
        const double arrived = arrivals.at(i).toDouble();
        const QStringList parts = arrivals.at(i + 1).toString().split(QLatin1Char(';'));
        if (parts.size() != 2)
            continue;
        const int seq = parts.at(0).toInt();
        result.inOrder = result.inOrder && seq > lastSeq;
        lastSeq = seq;
        ++result.delivered;
        latencies.push_back(arrived + clockOffset - parts.at(1).toDouble());
    }
    result.latency = statsOf(latencies);
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    // Set up like the program: the same executable serves as the browser's sub-process.
    CefMainArgs mainArgs(argc, argv);
    CefRefPtr<ClientApp> app(new ClientApp);
    const int subprocessCode = CefExecuteProcess(mainArgs, app.get(), nullptr);
    if (subprocessCode >= 0)
        return subprocessCode;

    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "DISPLAY is not set: QtWebEngine needs an X display (bench/run.sh starts Xvfb)\n");
        return 2;
    }

    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/vexa-bench-XXXXXX"));
    if (!work.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder: %s\n", qPrintable(work.errorString()));
        return 1;
    }
    CefSettings settings;
    settings.no_sandbox = 1;
    settings.multi_threaded_message_loop = 1;
    settings.cache_path = work.path() + QStringLiteral("/Cache");
    settings.persist_session_cookies = 1;
    settings.log_file = work.path() + QStringLiteral("/web.log");
    settings.context_safety_implementation = -1;
    settings.background_color = 0xFF222529;
    CefInitialize(mainArgs, settings, app.get(), nullptr);

    PageSignals layerSignals, bareSignals;
    ClientHandler::setCurrent(new ClientHandler([&layerSignals](ClientHandler::MessageHandlerSet &handlers) {
        handlers.insert(new BenchHandler(&layerSignals));
    }));

    int exitCode = 0;
    {
        QApplication application(argc, argv);
        // Events reach only pages of the application folder (below view/ beside the executable),
        // so the bench's pages go there, into a folder of their own that ends with the run.
        QDir(QCoreApplication::applicationDirPath()).mkpath(QStringLiteral("view"));
        QTemporaryDir pages(QCoreApplication::applicationDirPath() + QStringLiteral("/view/bench-XXXXXX"));
        if (!pages.isValid())
            std::fprintf(stderr, "cannot make the pages' folder: %s\n", qPrintable(pages.errorString()));
        auto writePage = [&](const char *file, const char *html) {
            QFile out(pages.filePath(QString::fromLatin1(file)));
            out.open(QIODevice::WriteOnly);
            out.write(QString::fromUtf8(html).arg(QString::fromUtf8(kBenchScript)).toUtf8());
            return QUrl::fromLocalFile(out.fileName());
        };

        // Our layer, as the program builds it.
        auto *view = new VexaWebView;
        view->resize(640, 480);
        QObject::connect(view, &VexaWebView::jsMessage, view, [](const QString &request, const QueryCallbackPtr &callback) {
            callback->Success(echoOf(request));
        });
        view->load(writePage("layer.html", kLayerPage));
        view->show();

        // The bare channel, in a profile of its own so that our page script stays out of it.
        auto *bareProfile = new QWebEngineProfile;
        auto *barePage = new QWebEnginePage(bareProfile);
        auto *echo = new EchoObject(&bareSignals);
        auto *channel = new QWebChannel(barePage);
        channel->registerObject(QStringLiteral("echo"), echo);
        barePage->setWebChannel(channel);
        auto *bareView = new QWebEngineView;
        bareView->setPage(barePage);
        bareView->resize(640, 480);
        bareView->move(640, 0);
        bareView->load(writePage("bare.html", kBarePage));
        bareView->show();

        const bool ready = spinUntil([&] { return layerSignals.has(QStringLiteral("ready")) && bareSignals.has(QStringLiteral("ready")); }, 60000);
        CefRefPtr<CefBrowser> browser = ClientHandler::current()->GetBrowser();
        if (!ready || !browser) {
            std::fprintf(stderr, "the pages did not come up (layer %d, bare %d)\n", layerSignals.has(QStringLiteral("ready")),
                         bareSignals.has(QStringLiteral("ready")));
            exitCode = 1;
        } else {
            Page layer{"layer", browser->page(), &layerSignals};
            Page bare{"bare", barePage, &bareSignals};

            std::vector<double> ours, bareTimes, bareShaped, ourViaView;
            auto append = [](std::vector<double> &to, const QVariant &from) {
                const std::vector<double> v = numbers(from);
                to.insert(to.end(), v.begin(), v.end());
            };
            auto trips = [](int n, bool shaped) {
                return QStringLiteral("bench.roundTrips(%1, %2)").arg(n).arg(shaped ? "true" : "false");
            };
            // Warm every path up, then run them in blocks, in an order and its reverse, so that
            // drift during the run (other load, clock changes) falls on all of them alike.
            layer.run(trips(kWarmUp, false));
            bare.run(trips(kWarmUp, false));
            bare.run(trips(kWarmUp, true));
            const int block = kRoundTrips / 4;
            for (const char path : QByteArrayLiteral("abccbaabccba")) {
                switch (path) {
                case 'a': append(ours, layer.run(trips(block, false))); break;
                case 'b': append(bareTimes, bare.run(trips(block, false))); break;
                case 'c': append(bareShaped, bare.run(trips(block, true))); break;
                }
            }
            BenchHandler::viaView = true;
            layer.run(trips(kWarmUp, false));
            append(ourViaView, layer.run(trips(kRoundTrips, false)));
            BenchHandler::viaView = false;

            // The native share of (a): the router, the handler and the reply's way back to the
            // document that asked, without the web channel. The bench's own document has no
            // transport, so the replies end just before it.
            CefRefPtr<CefMessageRouterBrowserSide> router = ClientHandler::current()->GetMessageRouter();
            CefRefPtr<CefV8Context> nativeDocument = new CefV8Context(browser, QStringLiteral("bench-native"), nullptr);
            const int nativeQueries = 20000;
            const auto nativeStart = std::chrono::steady_clock::now();
            for (int i = 0; i < nativeQueries; ++i)
                router->ReceiveQuery(browser, nativeDocument, i + 1, QStringLiteral("ping"), false);
            const double nativeUs = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - nativeStart).count() /
                                    nativeQueries;

            const QVariantMap layerClock = layer.run(QStringLiteral("bench.clockOffset(300)")).toMap();
            const QVariantMap bareClock = bare.run(QStringLiteral("bench.clockOffset(300)")).toMap();

            CefRefPtr<ClientHandler> client = ClientHandler::current();
            const StreamResult ourStream = stream(layer, layerClock.value(QStringLiteral("offset")).toDouble(),
                                                  [client](const QString &payload) { client->onDeviceData(payload); });
            const StreamResult bareStream = stream(bare, bareClock.value(QStringLiteral("offset")).toDouble(),
                                                   [echo](const QString &payload) {
                                                       QMetaObject::invokeMethod(echo, [echo, payload] { emit echo->deviceData(payload); },
                                                                                 Qt::QueuedConnection);
                                                   });

            const Stats a = statsOf(ours), aView = statsOf(ourViaView), b = statsOf(bareTimes), bShaped = statsOf(bareShaped);
            std::printf("\nvexa page bridge over QtWebEngine (Qt %s), one run, %d threads available\n\n", qVersion(),
                        int(std::thread::hardware_concurrency()));
            std::printf("%-52s %6s %9s %9s %9s\n", "round trips (page-timed)", "n", "p50 ms", "p99 ms", "max ms");
            auto row = [](const char *name, const Stats &s) {
                std::printf("%-52s %6d %9.3f %9.3f %9.3f\n", name, s.count, s.p50, s.p99, s.max);
            };
            row("(a)  cefQuery, our layer, answered at once", a);
            row("(a+) cefQuery, our layer + hop to the view", aView);
            row("(b)  bare QWebChannel echo", b);
            row("(b+) bare QWebChannel, cefQuery-shaped messages", bShaped);
            std::printf("     (native share of (a): %.1f us per query through router, handler and reply, mean of %d)\n",
                        nativeUs, nativeQueries);

            std::printf("\n%-52s %6s %9s %9s %9s %9s\n", "events, 1000 Hz for 3 s from a worker thread", "sent", "delivered",
                        "in order", "p50 ms", "p99 ms");
            auto eventRow = [](const char *name, const StreamResult &r) {
                std::printf("%-52s %6d %9d %9s %9.3f %9.3f\n", name, r.sent, r.delivered, r.inOrder ? "yes" : "NO",
                            r.latency.p50, r.latency.p99);
            };
            eventRow("(c)  onDeviceData -> setMessageCallback, our layer", ourStream);
            eventRow("(d)  queued signal, bare QWebChannel", bareStream);
            std::printf("     (clock offset page->native: ours %.3f ms, bare %.3f ms; fastest time query %.3f / %.3f ms)\n",
                        layerClock.value(QStringLiteral("offset")).toDouble(), bareClock.value(QStringLiteral("offset")).toDouble(),
                        layerClock.value(QStringLiteral("rtt")).toDouble(), bareClock.value(QStringLiteral("rtt")).toDouble());

            const double ratio = b.p50 > 0 ? a.p50 / b.p50 : 0;
            std::printf("\nour p50 round trip within 10%% of bare: %s (%.3f ms vs %.3f ms, ratio %.3f;"
                        " against the cefQuery-shaped bare channel %.3f)\n",
                        ratio > 0 && ratio <= 1.10 ? "yes" : "NO", a.p50, b.p50, ratio, bShaped.p50 > 0 ? a.p50 / bShaped.p50 : 0);
            const int lostOurs = ourStream.sent - ourStream.delivered, lostBare = bareStream.sent - bareStream.delivered;
            std::printf("events lost: %s (ours %d, bare %d)\n", lostOurs || lostBare ? "YES" : "none", lostOurs, lostBare);
            reportRatio("page bridge: round trip p50", a.p50, "bare QWebChannel", b.p50, "ms");
            reportRatio("page bridge: 1000 Hz event p50", ourStream.latency.p50, "bare QWebChannel", bareStream.latency.p50, "ms");
            // A run that lost events, or timed nothing, says nothing about the bridge.
            const bool measured = a.count == kRoundTrips && aView.count == kRoundTrips && b.count == kRoundTrips &&
                                  bShaped.count == kRoundTrips;
            if (!measured || lostOurs || lostBare || !ourStream.inOrder || !bareStream.inOrder) {
                std::fprintf(stderr, "not a measurement: %s\n", measured ? "events were lost or came out of order"
                                                                          : "round trips are missing");
                exitCode = 1;
            }
        }

        delete view;
        delete bareView;
        delete barePage;
        delete bareProfile;
    }

    CefShutdown();
    ClientHandler::setCurrent(nullptr);
    return exitCode;
}
