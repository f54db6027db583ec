// The page bridge of the real program, seen from a page: commands sent with cefQuery, their
// replies, native events reaching callbacks registered with setMessageCallback, what a reload
// does to both, the refusal of pages from outside the application folder (commands, pop-ups, the
// right to notify), the pace of notifications and where they go (the desktop's service).
//
// The tests use small pages of their own, written into the program's private application folder,
// so that whatever the shipped page registers or sends does not interfere.

#include "missing_tool.h"
#include "notification_service.h"
#include "vexa_driver.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const char kBlankPage[] = "view/e2e_blank.html";
const char kNavPage[] = "view/e2e_nav.html";

const char kGetConf[] = R"({"funcname":"getConf"})";

// Settings with one attribute the program does not know and non-ASCII text, and a device
// catalogue whose attributes must not show up among the settings.
const char kConfXml[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<root>
	<client autoStart="false" showConf="Ctrl+Alt+K" testTool="Ctrl+Alt+T" language="de" version="2.3.4" closeFunc="hide" clientSize="900,600" handAdded="Grüße ✓ 设置" />
	<conf deviceId="5E1C7A92" name="PX-ORB42">
		<info name="产品信息" productType="gamepad" />
	</conf>
</root>
)";

// Defined once per document; every evaluated expression may use it.
const char kHelpers[] = R"JS(
if (!window.e2e) window.e2e = {
  // One query; resolves with its first answer, or {answer:'none'} after waitMs.
  ask(request, waitMs) {
    return new Promise((resolve) => {
      const result = { answer: 'none' };
      let done = false;
      const finish = () => { if (!done) { done = true; resolve(result); } };
      result.id = cefQuery({
        request: request,
        onSuccess: (text) => { Object.assign(result, { answer: 'success', text: text }); finish(); },
        onFailure: (code, text) => { Object.assign(result, { answer: 'failure', code: code, codeType: typeof code, text: text }); finish(); },
      });
      setTimeout(finish, waitMs);
    });
  },
  // Sends without waiting; every answer is appended to log.
  fire(request, log, tag) {
    return cefQuery({
      request: request,
      onSuccess: (text) => log.push({ tag: tag, answer: 'success', text: text }),
      onFailure: (code, text) => log.push({ tag: tag, answer: 'failure', code: code, text: text }),
    });
  },
  sleep(ms) { return new Promise((resolve) => setTimeout(resolve, ms)); },
  async until(predicate, waitMs) {
    const end = performance.now() + waitMs;
    while (!predicate()) {
      if (performance.now() > end) return false;
      await e2e.sleep(10);
    }
    return true;
  },
};
)JS";

QString jsonText(const QJsonValue &value)
{
    if (value.isUndefined())
        return QStringLiteral("undefined");
    const QJsonDocument doc = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    if (value.isArray() || value.isObject())
        return QString::fromUtf8(doc.toJson(QJsonDocument::Compact));
    return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
}

QJsonArray strings(std::initializer_list<QString> items)
{
    QJsonArray array;
    for (const QString &item : items)
        array.append(item);
    return array;
}

// A script in every new document of the page while it exists.
class NewDocumentScript {
public:
    NewDocumentScript(VexaDriver &app, const QString &source, QString *error)
        : m_app(app), m_id(app.addNewDocumentScript(source, error)) {}
    ~NewDocumentScript() { m_app.removeNewDocumentScript(m_id); }

private:
    VexaDriver &m_app;
    QString m_id;
};

// Holds back everything the program sends to a new document at url through the page's web
// channel (the channel's start-up answer first) until window.__releaseChannel() is called. It
// runs before the program's page script, which sets the transport's onmessage; in the other
// order it would find the handler already there.
QString channelHoldScript(const QUrl &url)
{
    return QStringLiteral(R"JS((function () {
          if (location.href !== %1) return;
          const transport = qt.webChannelTransport;
          const held = [];
          let handler = transport.onmessage || null;
          let holding = true;
          window.__channel = { held: 0 };
          Object.defineProperty(transport, 'onmessage', {
            configurable: true,
            get() {
              return handler && function (message) {
                if (!holding) return handler.call(this, message);
                held.push([this, message]);
                window.__channel.held = held.length;
              };
            },
            set(f) { handler = f; },
          });
          window.__releaseChannel = () => {
            holding = false;
            for (const [self, message] of held.splice(0)) handler.call(self, message);
            return true;
          };
        })())JS")
        .arg(VexaDriver::jsString(url.toString(QUrl::FullyEncoded)));
}

} // namespace

class tst_E2eBridge : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void getConf_repliesWithTheSettingsOfConfXml();
    void getConf_failsWithCodeZeroWithoutConfXml();
    void queriesWithoutReply_leaveLaterQueriesWorking();
    void replies_andEvents_keepTheirOrder();
    void nativeEvent_reachesTheFirstRegisteredCallback();
    void reload_dropsRegistrationsAndPendingQueries();
    void eventsOfTheLoad_reachAPageWhoseChannelComesUpLate_data();
    void eventsOfTheLoad_reachAPageWhoseChannelComesUpLate();
    void failedLoad_leavesThePageInPlaceAndTellsIt();
    void pageOutsideTheApplicationFolder_cannotSendCommands_data();
    void pageOutsideTheApplicationFolder_cannotSendCommands();
    void popups_onlyFromThePagesOwnDocuments_andFewAtOnce();
    void notifications_onlyFromThePagesOwnDocuments();
    void notificationFlood_isPaced_andTheBridgeKeepsAnswering();
    void notification_reachesTheDesktopsServiceInVexasName();
    void termination_closesTheWindowBeforeTheRuntime();

private:
    static VexaDriver::Options options(bool withConf);
    // Evaluates with the helpers defined; a failure to evaluate fails the test through *error.
    static QJsonValue run(VexaDriver &app, const QString &expression, QString *error, int timeoutMs = 60000);
    QJsonValue run(const QString &expression, QString *error, int timeoutMs = 60000)
    {
        return run(*m_app, expression, error, timeoutMs);
    }

    std::unique_ptr<VexaDriver> m_app;
};

VexaDriver::Options tst_E2eBridge::options(bool withConf)
{
    VexaDriver::Options options;
    options.withConf = withConf;
    options.confXml = withConf ? QByteArray(kConfXml) : QByteArray();
    options.files.insert(QString::fromLatin1(kBlankPage),
                         "<!doctype html><meta charset=\"utf-8\"><title>e2e</title><body></body>\n");
    return options;
}

QJsonValue tst_E2eBridge::run(VexaDriver &app, const QString &expression, QString *error, int timeoutMs)
{
    return app.evaluate(QString::fromLatin1(kHelpers) + expression, error, timeoutMs);
}

void tst_E2eBridge::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        VEXA_SKIP_WITHOUT_TOOL("DISPLAY is not set: the program's browser needs an X display (run under Xvfb)");
    m_app.reset(new VexaDriver(QStringLiteral(VEXA_APP_DIR), options(true)));
    // Coming up at all includes showing its own start page, view/index.html.
    QVERIFY2(m_app->start(), qPrintable(m_app->error()));
}

void tst_E2eBridge::init()
{
    if (!m_app)
        return;
    QVERIFY2(m_app->isRunning(), qPrintable(QString::fromLocal8Bit(m_app->programOutput())));
    // A fresh document for every test: registrations and query ids start anew.
    QVERIFY2(m_app->navigate(m_app->appUrl(QString::fromLatin1(kBlankPage))), "the test page did not load");
}

void tst_E2eBridge::cleanupTestCase()
{
    if (m_app)
        QVERIFY2(m_app->isRunning(), "the program ended while it was being driven");
    m_app.reset();
}

void tst_E2eBridge::getConf_repliesWithTheSettingsOfConfXml()
{
    QString error;
    const QJsonObject result =
        run(QStringLiteral("(async () => ({"
                           "  plain: await e2e.ask(%1, 20000),"
                           "  blanks: await e2e.ask('{ \"funcname\" : \"getConf\" }', 20000),"
                           "  reordered: await e2e.ask('{\"other\":[1,2],\"funcname\":\"getConf\"}', 20000),"
                           "}))()")
                .arg(VexaDriver::jsString(QString::fromLatin1(kGetConf))),
            &error)
            .toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const QJsonObject plain = result.value(QStringLiteral("plain")).toObject();
    QCOMPARE(plain.value(QStringLiteral("answer")).toString(), QStringLiteral("success"));
    QVERIFY2(plain.value(QStringLiteral("id")).isDouble(), "cefQuery must return the query's id");
    const QString text = plain.value(QStringLiteral("text")).toString();

    // Blanks and member order are JSON matters, not part of the command.
    QCOMPARE(result.value(QStringLiteral("blanks")).toObject().value(QStringLiteral("text")).toString(), text);
    QCOMPARE(result.value(QStringLiteral("reordered")).toObject().value(QStringLiteral("text")).toString(), text);

    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &parseError);
    QVERIFY2(parseError.error == QJsonParseError::NoError, qPrintable(text));
    QVERIFY2(doc.isArray() && doc.array().size() == 1 && doc.array().at(0).isObject(), qPrintable(text));
    const QJsonObject settings = doc.array().at(0).toObject();

    // Every attribute of <client>, the two computed entries, nothing from the device catalogue.
    QStringList keys = settings.keys();
    keys.sort();
    QStringList expected{"IpAddress", "MacAddress", "autoStart", "clientSize", "closeFunc", "handAdded",
                         "language",  "showConf",   "testTool",  "version"};
    expected.sort();
    QCOMPARE(keys, expected);
    QCOMPARE(settings.value(QStringLiteral("language")).toString(), QStringLiteral("de"));
    QCOMPARE(settings.value(QStringLiteral("version")).toString(), QStringLiteral("2.3.4"));
    QCOMPARE(settings.value(QStringLiteral("clientSize")).toString(), QStringLiteral("900,600"));
    QCOMPARE(settings.value(QStringLiteral("closeFunc")).toString(), QStringLiteral("hide"));
    QCOMPARE(settings.value(QStringLiteral("autoStart")).toString(), QStringLiteral("false"));
    QCOMPARE(settings.value(QStringLiteral("handAdded")).toString(), QStringLiteral("Grüße ✓ 设置"));
    for (const char *computed : {"IpAddress", "MacAddress"})
        QVERIFY2(settings.value(QLatin1String(computed)).isString(), computed);

    // The shortcuts carry ",<registration flag>", the flag being the character of code 0 or 1.
    for (const auto &shortcut : {qMakePair(QStringLiteral("showConf"), QStringLiteral("Ctrl+Alt+K")),
                                 qMakePair(QStringLiteral("testTool"), QStringLiteral("Ctrl+Alt+T"))}) {
        const QString value = settings.value(shortcut.first).toString();
        QCOMPARE(value.size(), shortcut.second.size() + 2);
        QCOMPARE(value.left(shortcut.second.size() + 1), shortcut.second + QLatin1Char(','));
        QVERIFY2(value.back().unicode() <= 1, qPrintable(shortcut.first));
    }

    // Compact text, members in key order.
    QString outsideStrings = text;
    outsideStrings.remove(QRegularExpression(QStringLiteral(R"("(?:[^"\\]|\\.)*")")));
    QVERIFY2(!outsideStrings.contains(QRegularExpression(QStringLiteral("\\s"))), qPrintable(text));
    int last = -1;
    for (const QString &key : expected) {
        const int at = text.indexOf(QLatin1Char('"') + key + QStringLiteral("\":"));
        QVERIFY2(at > last, qPrintable(QStringLiteral("%1 out of key order in %2").arg(key, text)));
        last = at;
    }
}

void tst_E2eBridge::getConf_failsWithCodeZeroWithoutConfXml()
{
    VexaDriver app(QStringLiteral(VEXA_APP_DIR), options(false));
    QVERIFY2(app.start(), qPrintable(app.error()));
    QVERIFY(!QFile::exists(app.appDir() + QStringLiteral("/Resources/profiles/conf.xml")));
    QVERIFY2(app.navigate(app.appUrl(QString::fromLatin1(kBlankPage))), "the test page did not load");

    QString error;
    const QJsonObject result =
        run(app, QStringLiteral("e2e.ask(%1, 20000)").arg(VexaDriver::jsString(QString::fromLatin1(kGetConf))), &error)
            .toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(result.value(QStringLiteral("answer")).toString(), QStringLiteral("failure"));
    QCOMPARE(result.value(QStringLiteral("codeType")).toString(), QStringLiteral("number"));
    QCOMPARE(result.value(QStringLiteral("code")).toInt(-1), 0);
    QCOMPARE(result.value(QStringLiteral("text")).toString(), QStringLiteral("cant find conf.xml"));
}

void tst_E2eBridge::queriesWithoutReply_leaveLaterQueriesWorking()
{
    // Each of these ends without a reply; none may stop or delay the valid query sent after them.
    const QJsonArray requests{
        strings({"not JSON", "funcname=getConf"}),
        strings({"cut-off JSON", R"({"funcname":"getConf")"}),
        strings({"JSON array", R"([{"funcname":"getConf"}])"}),
        strings({"JSON string", R"("getConf")"}),
        strings({"empty text", ""}),
        strings({"no funcname", R"({"func":"getConf"})"}),
        strings({"member name in other case", R"({"FuncName":"getConf"})"}),
        strings({"command name in other case", R"({"funcname":"GetConf"})"}),
        strings({"unknown command", R"({"funcname":"noSuchCommand"})"}),
        strings({"funcname not a name", R"({"funcname":23})"}),
        strings({"window text with blanks", R"({ "funcname" : "restoreWindow" })"}),
        strings({"setConf without its arguments", R"({"funcname":"setConf"})"}),
        strings({"setConf without confValue", R"({"funcname":"setConf","confKey":"language"})"}),
        strings({"sendMsgToMainBrowser without msg", R"({"funcname":"sendMsgToMainBrowser"})"}),
        strings({"loadurl without url", R"({"funcname":"loadurl"})"}),
    };
    QString error;
    const QJsonObject result =
        run(QStringLiteral(R"JS((async () => {
              const log = [], events = [];
              setMessageCallback('onBrowserMsg', (values) => events.push(values));
              window.__unanswered = true;
              for (const [tag, text] of %1) e2e.fire(text, log, tag);
              // Withdrawn by the page: the command may still run, its answer must not arrive.
              cefQueryCancel(e2e.fire(%2, log, 'cancelled getConf'));
              const control = await e2e.ask(%2, 30000);
              // The control came back, so everything before it was dispatched; give stray
              // answers a moment anyway.
              await e2e.sleep(1000);
              return { log, events, control: control.answer, samePage: window.__unanswered === true };
            })())JS")
                .arg(QString::fromUtf8(QJsonDocument(requests).toJson(QJsonDocument::Compact)),
                     VexaDriver::jsString(QString::fromLatin1(kGetConf))),
            &error)
            .toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY2(result.value(QStringLiteral("samePage")).toBool(), "a query without reply navigated the page");
    QCOMPARE(result.value(QStringLiteral("control")).toString(), QStringLiteral("success"));
    QVERIFY2(result.value(QStringLiteral("log")).toArray().isEmpty(),
             qPrintable(QStringLiteral("answered: ") + jsonText(result.value(QStringLiteral("log")))));
    QVERIFY2(result.value(QStringLiteral("events")).toArray().isEmpty(),
             qPrintable(QStringLiteral("events: ") + jsonText(result.value(QStringLiteral("events")))));
}

void tst_E2eBridge::replies_andEvents_keepTheirOrder()
{
    // Commands run one at a time in sending order; so do their replies and the events they raise.
    QString error;
    const QJsonObject result = run(QStringLiteral(R"JS((async () => {
          const count = 200, replies = [], events = [];
          setMessageCallback('onBrowserMsg', (values) => events.push(values[0]));
          for (let i = 0; i < count; ++i) {
            const request = i % 2 ? JSON.stringify({ funcname: 'sendMsgToMainBrowser', msg: 'message ' + i })
                                  : %1;
            cefQuery({ request: request,
                       onSuccess: (text) => replies.push([i, text]),
                       onFailure: (code, text) => replies.push([i, 'failure ' + code + ' ' + text]) });
          }
          const complete = await e2e.until(() => replies.length >= count && events.length >= count / 2, 45000);
          await e2e.sleep(200);
          return { complete, replies, events };
        })())JS")
                                       .arg(VexaDriver::jsString(QString::fromLatin1(kGetConf))),
                                   &error)
                                   .toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QJsonArray replies = result.value(QStringLiteral("replies")).toArray();
    const QJsonArray events = result.value(QStringLiteral("events")).toArray();
    QVERIFY2(result.value(QStringLiteral("complete")).toBool(),
             qPrintable(QStringLiteral("%1 replies, %2 events").arg(replies.size()).arg(events.size())));
    QCOMPARE(replies.size(), 200);
    QCOMPARE(events.size(), 100);
    for (int i = 0; i < replies.size(); ++i) {
        const QJsonArray reply = replies.at(i).toArray();
        QCOMPARE(reply.at(0).toInt(-1), i);
        const QString text = reply.at(1).toString();
        if (i % 2)
            QCOMPARE(text, QStringLiteral("sendMsgToMainBrowser success"));
        else
            QVERIFY2(text.startsWith(QLatin1String("[{")), qPrintable(text));
    }
    for (int k = 0; k < events.size(); ++k)
        QCOMPARE(events.at(k).toString(), QStringLiteral("message %1").arg(2 * k + 1));
}

void tst_E2eBridge::nativeEvent_reachesTheFirstRegisteredCallback()
{
    QString error;
    const QJsonObject result = run(QStringLiteral(R"JS((async () => {
          const first = [], second = [], wrong = [], thrown = [], returned = [];
          const attempt = (...args) => {
            try { returned.push(typeof setMessageCallback(...args)); } catch (e) { thrown.push(String(e)); }
          };
          // Malformed registrations: ignored without an exception, and they must not take the
          // event's single slot.
          attempt('onBrowserMsg');
          attempt('onBrowserMsg', 'not a function');
          attempt('onBrowserMsg', (values) => wrong.push(values), 'third argument');
          attempt((values) => wrong.push(values), 'onBrowserMsg');
          // The first proper registration keeps the slot; it throws once, which must not end the
          // delivery of later events.
          attempt('onBrowserMsg', (values) => {
            first.push(values);
            if (first.length === 1) throw new Error('a failing page callback');
          });
          attempt('onBrowserMsg', (values) => second.push(values));

          const replies = [];
          for (const msg of ['hello', 'héllo ✓ 你好']) {
            const reply = await e2e.ask(JSON.stringify({ funcname: 'sendMsgToMainBrowser', msg }), 20000);
            replies.push(reply.answer + ':' + reply.text);
            await e2e.until(() => first.length >= replies.length, 20000);
          }
          return { first, second, wrong, thrown, returned, replies,
                   arrays: first.every((values) => Array.isArray(values)) };
        })())JS"),
                                   &error)
                                   .toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(jsonText(result.value(QStringLiteral("thrown"))), QStringLiteral("[]"));
    QCOMPARE(jsonText(result.value(QStringLiteral("returned"))),
             QStringLiteral(R"(["undefined","undefined","undefined","undefined","undefined","undefined"])"));
    QCOMPARE(jsonText(result.value(QStringLiteral("replies"))),
             QStringLiteral(R"(["success:sendMsgToMainBrowser success","success:sendMsgToMainBrowser success"])"));
    QVERIFY(result.value(QStringLiteral("arrays")).toBool());
    QCOMPARE(jsonText(result.value(QStringLiteral("first"))), QStringLiteral(R"([["hello"],["héllo ✓ 你好"]])"));
    // Events travel in order, so the second event having reached the first callback means the
    // second callback would have been called by now.
    QCOMPARE(jsonText(result.value(QStringLiteral("second"))), QStringLiteral("[]"));
    QCOMPARE(jsonText(result.value(QStringLiteral("wrong"))), QStringLiteral("[]"));
}

void tst_E2eBridge::reload_dropsRegistrationsAndPendingQueries()
{
    const QString blankUrl = m_app->appUrl(QString::fromLatin1(kBlankPage)).toString(QUrl::FullyEncoded);
    QString error;

    const int oldQueries = 30;
    // The old document holds a registration, learns how far its query ids have got, and asks
    // once more while it is being unloaded, when the new document is about to start.
    const int probeId = int(run(QStringLiteral("window.__beforeReload = true;"
                                               "setMessageCallback('onBrowserMsg', (values) => {});"
                                               "addEventListener('unload', () => {"
                                               "  for (let i = 0; i < %1; ++i) cefQuery({ request: %2 });"
                                               "});"
                                               "cefQuery({ request: '{\"funcname\":\"setConf\"}' })")
                                    .arg(oldQueries)
                                    .arg(VexaDriver::jsString(QString::fromLatin1(kGetConf))),
                                &error)
                                .toDouble());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(probeId >= 1);

    // Query ids start again at 1 in the new document. As soon as the new document can, it asks
    // queries that never get a reply under every id the old document has used, so a reply meant
    // for the old document would find a waiting query here.
    const int newQueries = probeId + 2 * oldQueries + 10;
    const QString early = QStringLiteral(R"JS((function () {
          if (location.href !== %1) return;
          window.__late = [];
          window.__earlySent = false;
          (function send() {
            if (typeof cefQuery !== 'function') { setTimeout(send, 0); return; }
            for (let i = 0; i < %2; ++i) {
              cefQuery({ request: '{"funcname":"setConf"}',
                         onSuccess: (text) => __late.push(['success', text]),
                         onFailure: (code, text) => __late.push(['failure', code, text]) });
            }
            window.__earlySent = true;
          })();
        })())JS")
                              .arg(VexaDriver::jsString(blankUrl))
                              .arg(newQueries);
    const NewDocumentScript earlyScript(*m_app, early, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    // Queries that do get answers, sent in the same turn as the reload.
    const QString marker = m_app->markDocument();
    QVERIFY(!marker.isEmpty());
    m_app->evaluate(QStringLiteral("for (let i = 0; i < %1; ++i) cefQuery({ request: %2 }); location.reload(); true")
                        .arg(oldQueries)
                        .arg(VexaDriver::jsString(QString::fromLatin1(kGetConf))),
                    &error); // the document may go before the answer does
    QVERIFY2(m_app->waitForNewDocument(marker), "the reloaded document did not come up");
    QVERIFY2(m_app->waitUntil(QStringLiteral("window.__earlySent === true && !window.__beforeReload")),
             "the new document did not send its queries");

    const QJsonObject result = run(QStringLiteral(R"JS((async () => {
          const control = await e2e.ask(%1, 30000);
          await e2e.sleep(1000);
          // The old document's registration went with it: this one takes the free slot.
          const events = [];
          setMessageCallback('onBrowserMsg', (values) => events.push(values));
          const reply = await e2e.ask(JSON.stringify({ funcname: 'sendMsgToMainBrowser', msg: 'after reload' }), 20000);
          await e2e.until(() => events.length > 0, 20000);
          return { control: control.answer, late: __late, reply: reply.answer, events };
        })())JS")
                                       .arg(VexaDriver::jsString(QString::fromLatin1(kGetConf))),
                                   &error)
                                   .toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(result.value(QStringLiteral("control")).toString(), QStringLiteral("success"));
    QVERIFY2(result.value(QStringLiteral("late")).toArray().isEmpty(),
             qPrintable(QStringLiteral("answered into the new document: ") + jsonText(result.value(QStringLiteral("late")))));
    QCOMPARE(result.value(QStringLiteral("reply")).toString(), QStringLiteral("success"));
    QCOMPARE(jsonText(result.value(QStringLiteral("events"))), QStringLiteral(R"([["after reload"]])"));
}

void tst_E2eBridge::eventsOfTheLoad_reachAPageWhoseChannelComesUpLate_data()
{
    QTest::addColumn<QString>("navigation");
    QTest::addColumn<QString>("expected");

    // From the blank page (back possible, no forward); back in history from a page opened after
    // the test page (both possible); the test page reloading itself.
    QTest::newRow("load of a new page") << "new page" << "[true,false]";
    QTest::newRow("back in history") << "back" << "[true,true]";
    QTest::newRow("reload") << "reload" << "[true,false]";
}

// A page registers its callbacks in its first script, but they reach the program only once the
// page's web channel is up, which a busy program delays past the end of the load. The page must
// still get the "navStateChanged" of its own load, and every event after it, in order. The
// channel's start-up is held back in the page until the load is over.
void tst_E2eBridge::eventsOfTheLoad_reachAPageWhoseChannelComesUpLate()
{
    QFETCH(QString, navigation);
    QFETCH(QString, expected);

    const QByteArray page = QByteArrayLiteral(R"(<!doctype html><meta charset="utf-8"><title>e2e nav</title>
<script>
  window.events = [];
  setMessageCallback('navStateChanged', function (values) { events.push(values); });
  setMessageCallback('onBrowserMsg', function (values) { events.push(['message'].concat(values)); });
</script>
)");
    QVERIFY(m_app->writeAppFile(QString::fromLatin1(kNavPage), page));
    const QUrl navUrl = m_app->appUrl(QString::fromLatin1(kNavPage));
    const QString navText = VexaDriver::jsString(navUrl.toString(QUrl::FullyEncoded));
    QString script;
    if (navigation == QLatin1String("new page")) {
        script = QStringLiteral("location.href = %1").arg(navText);
    } else if (navigation == QLatin1String("back")) {
        QVERIFY(m_app->navigate(navUrl));
        QVERIFY(m_app->navigate(m_app->appUrl(QString::fromLatin1(kBlankPage))));
        script = QStringLiteral("history.back()");
    } else {
        QVERIFY(m_app->navigate(navUrl));
        script = QStringLiteral("location.reload()");
    }

    QString error;
    const NewDocumentScript hold(*m_app, channelHoldScript(navUrl), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QString marker = m_app->markDocument();
    QVERIFY(!marker.isEmpty());
    m_app->evaluate(QStringLiteral("setTimeout(() => { %1; }, 0); true").arg(script), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // The load is over in the page, and the channel's start-up answer is waiting in it.
    QVERIFY2(m_app->waitUntil(QStringLiteral("window.__vexaE2eDocument !== %1 && location.href === %2 && "
                                             "document.readyState === 'complete' && window.__channel && __channel.held > 0")
                                  .arg(VexaDriver::jsString(marker), navText)),
             "the test page did not load, or its channel was not held");
    // Time for the program to hear of the load's end and raise its events; the page cannot
    // register before the release, whenever that is. Nothing the page can see marks that moment,
    // so this is a bounded wait, as for a negative check.
    QTest::qWait(500);
    QCOMPARE(m_app->evaluate(QStringLiteral("events.length === 0 && __releaseChannel()")), QJsonValue(true));

    const QJsonArray events = run(QStringLiteral(R"JS((async () => {
          await e2e.until(() => events.length > 0, 20000);
          const reply = await e2e.ask(JSON.stringify({ funcname: 'sendMsgToMainBrowser', msg: 'later' }), 20000);
          await e2e.until(() => events.some((e) => e[0] === 'message'), 20000);
          return events;
        })())JS"),
                                  &error)
                                  .toArray();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY2(events.size() >= 2, qPrintable(jsonText(events)));
    // The load's states first, each two booleans, the final one last; then the later event.
    for (int i = 0; i + 1 < events.size(); ++i) {
        const QJsonArray values = events.at(i).toArray();
        QVERIFY2(values.size() == 2 && values.at(0).isBool() && values.at(1).isBool(), qPrintable(jsonText(events)));
    }
    QCOMPARE(jsonText(events.at(events.size() - 2)), expected);
    QCOMPARE(jsonText(events.last()), QStringLiteral(R"(["message","later"])"));
}

// While a load is under way, events wait for the document it brings. A load that brings none
// leaves the old document in place, and that document hears of the failure at once.
void tst_E2eBridge::failedLoad_leavesThePageInPlaceAndTellsIt()
{
    const QString missing = m_app->appUrl(QStringLiteral("view/e2e_missing.html")).toString(QUrl::FullyEncoded);
    QVERIFY(!QFile::exists(m_app->appDir() + QStringLiteral("/view/e2e_missing.html")));
    QString error;
    const QJsonObject result = run(QStringLiteral(R"JS((async () => {
          const events = [];
          setMessageCallback('onBrowserMsg', (values) => events.push(values));
          window.__stays = true;
          location.href = %1;
          const arrived = await e2e.until(() => events.length > 0, 10000);
          await e2e.sleep(300);
          return { arrived, events, stays: window.__stays === true, href: location.href };
        })())JS")
                                       .arg(VexaDriver::jsString(missing)),
                                   &error)
                                   .toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY2(result.value(QStringLiteral("arrived")).toBool(), "no event after the failed load");
    QCOMPARE(jsonText(result.value(QStringLiteral("events"))), QStringLiteral(R"([["pageError"]])"));
    QVERIFY(result.value(QStringLiteral("stays")).toBool());
    QCOMPARE(result.value(QStringLiteral("href")).toString(),
             m_app->appUrl(QString::fromLatin1(kBlankPage)).toString(QUrl::FullyEncoded));
}

void tst_E2eBridge::pageOutsideTheApplicationFolder_cannotSendCommands_data()
{
    QTest::addColumn<QString>("folderTemplate");
    // A folder whose path begins with the application folder's path is still outside it.
    QTest::newRow("sibling sharing the folder name") << QStringLiteral("%APP%-outside-XXXXXX");
    QTest::newRow("unrelated folder") << QDir::tempPath() + QStringLiteral("/vexa-e2e-outside-XXXXXX");
}

void tst_E2eBridge::pageOutsideTheApplicationFolder_cannotSendCommands()
{
    QFETCH(QString, folderTemplate);
    QTemporaryDir outside(folderTemplate.replace(QStringLiteral("%APP%"), m_app->appDir()));
    QVERIFY(outside.isValid());
    const QString pagePath = QFileInfo(outside.path()).canonicalFilePath() + QStringLiteral("/outside.html");
    QFile pageFile(pagePath);
    QVERIFY(pageFile.open(QIODevice::WriteOnly));
    pageFile.write("<!doctype html><meta charset=\"utf-8\"><title>outside</title><body></body>\n");
    pageFile.close();

    const int refusedBefore = m_app->webLog().count("refused");
    QVERIFY2(m_app->navigate(QUrl::fromLocalFile(pagePath)), "the outside page did not load");

    QString error;
    const QJsonObject result = run(QStringLiteral(R"JS((async () => {
          const events = [];
          setMessageCallback('onBrowserMsg', (values) => events.push(values));
          const conf = await e2e.ask(%1, 1500);
          const msg = await e2e.ask(JSON.stringify({ funcname: 'sendMsgToMainBrowser', msg: 'from outside' }), 1500);
          return { conf: conf.answer, msg: msg.answer, events };
        })())JS")
                                       .arg(VexaDriver::jsString(QString::fromLatin1(kGetConf))),
                                   &error)
                                   .toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(result.value(QStringLiteral("conf")).toString(), QStringLiteral("none"));
    QCOMPARE(result.value(QStringLiteral("msg")).toString(), QStringLiteral("none"));
    QCOMPARE(jsonText(result.value(QStringLiteral("events"))), QStringLiteral("[]"));

    // Both queries are refused in the log of the program's working directory, naming the page.
    QVERIFY2(QTest::qWaitFor([&] { return m_app->webLog().count("refused") >= refusedBefore + 2; }, 10000),
             m_app->webLog().constData());
    bool named = false;
    for (const QByteArray &line : m_app->webLog().split('\n'))
        named = named || (line.contains("refused") && line.contains(QFile::encodeName(pagePath)));
    QVERIFY2(named, m_app->webLog().constData());

    // The refusal belongs to that page: back home, commands work again.
    QVERIFY(m_app->navigate(m_app->appUrl(QString::fromLatin1(kBlankPage))));
    const QJsonObject home =
        run(QStringLiteral("e2e.ask(%1, 20000)").arg(VexaDriver::jsString(QString::fromLatin1(kGetConf))), &error).toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(home.value(QStringLiteral("answer")).toString(), QStringLiteral("success"));
}

void tst_E2eBridge::popups_onlyFromThePagesOwnDocuments_andFewAtOnce()
{
    QTemporaryDir outside(QDir::tempPath() + QStringLiteral("/vexa-e2e-outside-XXXXXX"));
    QVERIFY(outside.isValid());
    const QString pagePath = QFileInfo(outside.path()).canonicalFilePath() + QStringLiteral("/outside.html");
    QFile pageFile(pagePath);
    QVERIFY(pageFile.open(QIODevice::WriteOnly));
    pageFile.write("<!doctype html><meta charset=\"utf-8\"><title>outside</title><body></body>\n");
    pageFile.close();
    QVERIFY2(m_app->navigate(QUrl::fromLocalFile(pagePath)), "the outside page did not load");

    // The outside page would open an application page as a pop-up and use that page's cefQuery:
    // the query would then come from an application page, although the outside page wrote it.
    // The window it asks for never opens (the script's window closes again at once).
    const QString blank = m_app->appUrl(QString::fromLatin1(kBlankPage)).toString(QUrl::FullyEncoded);
    QString error;
    const QString answer = run(QStringLiteral(R"JS((async () => {
          const popup = window.open(%1);
          if (!popup) return 'refused';
          const ready = await e2e.until(() => {
            try { return popup.closed || (typeof popup.cefQuery === 'function' && popup.document.readyState === 'complete'); }
            catch (e) { return true; }
          }, 20000);
          if (popup.closed) return 'refused';
          let answer = ready ? 'none' : 'the pop-up did not load';
          try {
            if (ready) {
              answer = await new Promise((resolve) => {
                popup.cefQuery({ request: %2, onSuccess: () => resolve('success'), onFailure: () => resolve('failure') });
                setTimeout(() => resolve('none'), 1500);
              });
            }
          } catch (e) {
            answer = 'no access: ' + e;
          }
          popup.close();
          return answer;
        })())JS")
                                   .arg(VexaDriver::jsString(blank), VexaDriver::jsString(QString::fromLatin1(kGetConf))),
                               &error)
                               .toString();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(answer, QStringLiteral("refused"));

    // An application page may open pop-ups, a few at a time; they do not stop its own commands.
    QVERIFY(m_app->navigate(QUrl(blank)));
    const QString opened = run(QStringLiteral(R"JS((async () => {
          const popups = [];
          for (let i = 0; i < 10; ++i) popups.push(window.open('about:blank'));
          const isOpen = (popup) => popup && !popup.closed;
          // The ones refused close as soon as the program has said no.
          await e2e.until(() => popups.filter(isOpen).length <= 4, 20000);
          await e2e.sleep(500); // a negative check: a late refusal would have come by now
          const open = popups.filter(isOpen).length;
          const answer = await new Promise((resolve) => {
            cefQuery({ request: %1, onSuccess: () => resolve('success'), onFailure: () => resolve('failure') });
            setTimeout(() => resolve('none'), 5000);
          });
          popups.forEach((popup) => popup && popup.close());
          await e2e.until(() => !popups.some(isOpen), 10000);
          return open + ' open, ' + answer;
        })())JS")
                                   .arg(VexaDriver::jsString(QString::fromLatin1(kGetConf))),
                               &error)
                               .toString();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(opened, QStringLiteral("4 open, success"));
}

void tst_E2eBridge::notifications_onlyFromThePagesOwnDocuments()
{
    // Every file page shares one right to notify in the web engine; an outside file page must
    // neither see it granted nor notify in the program's name while it is shown.
    const QString notify = QStringLiteral(R"JS(new Promise((resolve) => {
          const note = new Notification('e2e', { body: 'from ' + location.pathname });
          note.onshow = () => resolve('shown');
          note.onerror = () => resolve('refused');
          setTimeout(() => resolve('nothing'), 10000);
        }))JS");
    QString error;
    QCOMPARE(run(QStringLiteral("Notification.requestPermission()"), &error).toString(), QStringLiteral("granted"));
    QCOMPARE(run(notify, &error).toString(), QStringLiteral("shown"));

    QTemporaryDir outside(QDir::tempPath() + QStringLiteral("/vexa-e2e-outside-XXXXXX"));
    QVERIFY(outside.isValid());
    const QString pagePath = QFileInfo(outside.path()).canonicalFilePath() + QStringLiteral("/outside.html");
    QFile pageFile(pagePath);
    QVERIFY(pageFile.open(QIODevice::WriteOnly));
    pageFile.write("<!doctype html><meta charset=\"utf-8\"><title>outside</title>"
                   "<script>window.__atStart = Notification.permission;</script><body></body>\n");
    pageFile.close();
    QVERIFY2(m_app->navigate(QUrl::fromLocalFile(pagePath)), "the outside page did not load");
    QCOMPARE(run(QStringLiteral("window.__atStart + ', ' + Notification.permission"), &error).toString(),
             QStringLiteral("denied, denied"));
    QCOMPARE(run(notify, &error).toString(), QStringLiteral("refused"));
    QCOMPARE(run(QStringLiteral("Notification.requestPermission()"), &error).toString(), QStringLiteral("denied"));

    // Once it is gone, the application page has its right back.
    QVERIFY(m_app->navigate(m_app->appUrl(QString::fromLatin1(kBlankPage))));
    QCOMPARE(run(QStringLiteral("Notification.permission"), &error).toString(), QStringLiteral("granted"));
    QCOMPARE(run(notify, &error).toString(), QStringLiteral("shown"));
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void tst_E2eBridge::notificationFlood_isPaced_andTheBridgeKeepsAnswering()
{
    // Each notification shown is a message of the tray icon, made on the GUI thread; a flood of
    // them must neither hold up commands nor fill the desktop. The newest one is still shown.
    QString error;
    const QJsonObject flood = run(QStringLiteral(R"JS((async () => {
          if (await Notification.requestPermission() !== 'granted') return { answer: 'no right to notify' };
          const shown = [];
          for (let i = 0; i < 2000; ++i) {
            const note = new Notification('e2e flood', { body: String(i) });
            note.onshow = () => shown.push(i);
          }
          const start = performance.now();
          const answer = await e2e.ask(%1, 60000);
          const ms = Math.round(performance.now() - start);
          await e2e.until(() => shown.includes(1999), 30000);
          await e2e.sleep(1000); // a negative check: one shown past the pace would have come by now
          return { answer: answer.answer, ms, shown: shown.length, last: shown[shown.length - 1] };
        })())JS")
                                      .arg(VexaDriver::jsString(QString::fromLatin1(kGetConf))),
                                  &error, 120000)
                                  .toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(flood.value(QStringLiteral("answer")).toString(), QStringLiteral("success"));
    qInfo("getConf answered %d ms after 2000 notifications", flood.value(QStringLiteral("ms")).toInt());
    QVERIFY2(flood.value(QStringLiteral("shown")).toInt() <= 4, qPrintable(jsonText(flood)));
    QCOMPARE(flood.value(QStringLiteral("last")).toInt(), 1999);
}

// On every desktop (GNOME on Wayland has no tray) the page's notifications go to the desktop's
// notification service on the session bus, in vexa's name and with its icon.
void tst_E2eBridge::notification_reachesTheDesktopsServiceInVexasName()
{
    NotificationService desktop;
    if (!desktop.startService())
        VEXA_SKIP_WITHOUT_TOOL(qPrintable(desktop.error()));
    const QByteArray previous = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", desktop.address().toLocal8Bit());
    VexaDriver app(QStringLiteral(VEXA_APP_DIR), options(true));
    const bool started = app.start();
    previous.isEmpty() ? qunsetenv("DBUS_SESSION_BUS_ADDRESS") : qputenv("DBUS_SESSION_BUS_ADDRESS", previous);
    QVERIFY2(started, qPrintable(app.error()));
    QVERIFY2(app.navigate(app.appUrl(QString::fromLatin1(kBlankPage))), "the test page did not load");

    QString error;
    const QString shown = run(app, QStringLiteral(R"JS((async () => {
          if (await Notification.requestPermission() !== 'granted') return 'no right to notify';
          return await new Promise((resolve) => {
            const note = new Notification('Mode switch', { body: 'The pad holds Racing' });
            note.onshow = () => resolve('shown');
            note.onerror = () => resolve('refused');
          });
        })())JS"),
                              &error)
                              .toString();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(shown, QStringLiteral("shown"));
    QTRY_VERIFY2_WITH_TIMEOUT(desktop.log().contains(R"(Notify "vexa" 0 "vexa" "Mode switch" "The pad holds Racing")"),
                              desktop.log().constData(), 10000);
}

// Asked to end from outside, the program leaves its event loop through the quit request and
// tears down in order: the window (and its browser) before the runtime.
void tst_E2eBridge::termination_closesTheWindowBeforeTheRuntime()
{
    VexaDriver app(QStringLiteral(VEXA_APP_DIR), options(true));
    QVERIFY2(app.start(), qPrintable(app.error()));
    QCOMPARE(app.terminate(), 0);

    const QByteArray log = app.webLog();
    const int shown = log.indexOf("mainwindow show!");
    const int closed = log.indexOf("main window closed");
    const int shutDown = log.indexOf("runtime shut down");
    QVERIFY2(shown >= 0 && closed > shown && shutDown > closed, log.constData());
}

QTEST_GUILESS_MAIN(tst_E2eBridge)
#include "tst_e2e_bridge.moc"
