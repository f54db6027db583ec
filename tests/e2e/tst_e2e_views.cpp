// Pop-up views, closing the application and re-applying the mode bindings on the real program.
//
// A pop-up's page cannot be scripted from here, so the test page of the pop-ups reports to the
// main page by itself ("sendMsgToMainBrowser", which arrives as an "onBrowserMsg" event) and,
// when asked through its address, closes its own view.
#include "missing_tool.h"
#include "vexa_driver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <signal.h>

namespace {

const char kMainPage[] = "view/e2e_main.html";

// Reports its name and inner size once the bridge is there, then the reply it got, and with
// "close" in its address closes its own view.
const char kPopPage[] = R"HTML(<!doctype html><meta charset="utf-8"><title>pop</title><body><script>
const params = new URLSearchParams(location.search);
const name = params.get('name');
const ask = (request) => new Promise((resolve) => cefQuery({
  request, onSuccess: (text) => resolve('success ' + text), onFailure: (code, text) => resolve('failure ' + text) }));
const report = (msg) => ask(JSON.stringify({ funcname: 'sendMsgToMainBrowser', msg }));
(async () => {
  while (typeof cefQuery !== 'function') await new Promise((r) => setTimeout(r, 10));
  const reply = await report(`${name} opened ${innerWidth}x${innerHeight}`);
  await report(`${name} got ${reply}`);
  if (params.has('close')) cefQuery({ request: '{"funcname":"closeView"}' });
})();
</script></body>
)HTML";

// Collects the messages and offers one query with its reply (or none after a while).
const char kHelpers[] = R"JS(
if (!window.e2e) {
  window.e2e = { messages: [] };
  setMessageCallback('onBrowserMsg', (values) => e2e.messages.push(values[0]));
  setMessageCallback('onProcessChanged', (values) => e2e.messages.push('process ' + values.join(' ')));
  e2e.ask = (request, waitMs) => new Promise((resolve) => {
    const timer = setTimeout(() => resolve('none'), waitMs);
    cefQuery({ request,
               onSuccess: (text) => { clearTimeout(timer); resolve('success ' + text); },
               onFailure: (code, text) => { clearTimeout(timer); resolve('failure ' + code + ' ' + text); } });
  });
  e2e.count = (text) => e2e.messages.filter((m) => m === text).length;
}
)JS";

QString confXml(const QString &closeFunc)
{
    const QString attribute = closeFunc.isNull() ? QString() : QString(" closeFunc=\"%1\"").arg(closeFunc);
    return QString(R"(<?xml version="1.0" encoding="UTF-8"?>
<root>
	<client autoStart="false" showConf="Ctrl+Alt+K" testTool="Ctrl+Alt+T" language="en" version="1.0.0"%1 clientSize="900,600" />
</root>
)").arg(attribute);
}

} // namespace

class tst_E2eViews : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void windowCommands_moveAndMinimizeThroughTheBridge();
    void windowCommands_hugeWindowStaysOnTheScreen();
    void openView_popUpPageUsesTheSameDispatcher();
    void closeView_closesTheLastActivatedView();
    void confChanged_savesBeforeTheMonitorRestarts();
    void closeApp_withoutCloseFunc_onlyReplies();
    void termination_neverWaitsOnThePageNorQuitsIntoLostChanges();
    void closeApp_hidesThenQuitsAfterSaving();

private:
    static VexaDriver::Options options(const QString &closeFunc);
    static bool startOn(VexaDriver &app);
    QString ask(VexaDriver &app, const QString &request, int waitMs = 10000);
    bool waitForMessage(VexaDriver &app, const QString &message, int count = 1, int timeoutMs = 30000);
    bool openUntilReported(const QString &openView, const QString &message, int count);
    void allowTimeForAPopUp();
    QString fileText(const QString &path) const;

    std::unique_ptr<VexaDriver> m_app;
    qint64 m_popUpReportMs = 1500; // how long the first pop-up took to report, once measured
};

VexaDriver::Options tst_E2eViews::options(const QString &closeFunc)
{
    VexaDriver::Options options;
    options.confXml = confXml(closeFunc).toUtf8();
    options.files.insert(kMainPage, "<!doctype html><meta charset=\"utf-8\"><title>e2e</title><body></body>\n");
    options.files.insert("view/e2e_pop.html", kPopPage);
    return options;
}

bool tst_E2eViews::startOn(VexaDriver &app)
{
    return app.start() && app.navigate(app.appUrl(kMainPage));
}

QString tst_E2eViews::ask(VexaDriver &app, const QString &request, int waitMs)
{
    QString error;
    const QJsonValue value = app.evaluate(QString(kHelpers) + QString("e2e.ask(%1, %2)")
                                              .arg(VexaDriver::jsString(request)).arg(waitMs),
                                          &error, waitMs + 30000);
    return value.isString() ? value.toString() : "evaluation failed: " + error;
}

bool tst_E2eViews::waitForMessage(VexaDriver &app, const QString &message, int count, int timeoutMs)
{
    app.evaluate(kHelpers);
    return app.waitUntil(QString("e2e.count(%1) >= %2").arg(VexaDriver::jsString(message)).arg(count), timeoutMs);
}

// Asks for a pop-up view until it reports its opening for the count-th time: a view that has just
// closed itself stays among the open ones for a moment, and opening its address does nothing
// meanwhile.
bool tst_E2eViews::openUntilReported(const QString &openView, const QString &message, int count)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000) {
        ask(*m_app, openView, 200);
        if (waitForMessage(*m_app, message, count, 3000))
            return true;
    }
    return false;
}

// For negative checks (a pop-up that must not open): nothing can signal that something did not
// happen, so this waits, bounded, as long as the first pop-up took from the request to its report.
void tst_E2eViews::allowTimeForAPopUp()
{
    QTest::qWait(int(m_popUpReportMs));
}

QString tst_E2eViews::fileText(const QString &path) const
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void tst_E2eViews::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        VEXA_SKIP_WITHOUT_TOOL("DISPLAY is not set: the program's browser needs an X display (run under Xvfb)");
    m_app.reset(new VexaDriver(QStringLiteral(VEXA_APP_DIR), options("hide")));
    QVERIFY2(startOn(*m_app), qPrintable(m_app->error()));
}

void tst_E2eViews::cleanupTestCase()
{
    m_app.reset();
}

void tst_E2eViews::windowCommands_moveAndMinimizeThroughTheBridge()
{
    m_app->evaluate(kHelpers);
    const QJsonObject before = m_app->evaluate("({ x: screenX, y: screenY, w: innerWidth, h: innerHeight })").toObject();
    const int x = before.value("x").toInt(), y = before.value("y").toInt();
    const int w = before.value("w").toInt(), h = before.value("h").toInt();
    QVERIFY(w > 0 && h > 0);

    // Answered with an empty text; the size stays what the page says it is.
    QCOMPARE(ask(*m_app, QString("moveWindow:40,30,%1,%2").arg(w).arg(h)), QStringLiteral("success "));
    QVERIFY(m_app->waitUntil(QString("screenX === %1 && screenY === %2").arg(x + 40).arg(y + 30), 10000));
    QCOMPARE(ask(*m_app, QString("moveWindow:40 ,30,%1,%2").arg(w).arg(h), 1500), QStringLiteral("none"));
    QCOMPARE(ask(*m_app, "moveWindow:40,30", 1500), QStringLiteral("none"));
    QCOMPARE(m_app->evaluate("[screenX, screenY]").toArray(), QJsonArray({x + 40, y + 30}));

    // Minimising writes what the page changed but never saved.
    QVERIFY(ask(*m_app, R"({"funcname":"modifyProfile","filePath":"view/profiles/profile1.xml",)"
                        R"("xpath":"/profile/stick","attribute":"deadzone","attributeValue":"23"})")
                .startsWith("success"));
    const QString profile = m_app->appDir() + "/view/profiles/profile1.xml";
    QVERIFY(!fileText(profile).contains("deadzone=\"23\""));
    QCOMPARE(ask(*m_app, R"({"funcname":"minisizeWindow"})"), QStringLiteral("success "));
    QVERIFY(fileText(profile).contains("deadzone=\"23\""));
    QVERIFY(m_app->waitUntil("document.visibilityState === 'hidden'", 10000));
    // The same text brings it back.
    QCOMPARE(ask(*m_app, R"({"funcname":"minisizeWindow"})"), QStringLiteral("success "));
    QVERIFY(m_app->waitUntil("document.visibilityState === 'visible'", 10000));
}

void tst_E2eViews::windowCommands_hugeWindowStaysOnTheScreen()
{
    m_app->evaluate(kHelpers);
    const QJsonObject before = m_app->evaluate("({ w: innerWidth, h: innerHeight })").toObject();
    const QString size = QString("%1,%2").arg(before.value("w").toInt()).arg(before.value("h").toInt());
    // Once the X server's shared image for such a window could not be made and the program ended.
    QCOMPARE(ask(*m_app, "moveWindow:0,0,100000,100000"), QStringLiteral("success "));
    QVERIFY(m_app->waitUntil("outerWidth === screen.width && outerHeight === screen.height", 10000));
    // Deltas at the ends of int neither wrap nor take the window off the screen.
    QCOMPARE(ask(*m_app, "moveWindow:2147483647,2147483647," + size), QStringLiteral("success "));
    QVERIFY(m_app->waitUntil(QString("innerWidth === %1 && screenX > 0 && screenX < screen.width"
                                     " && screenY > 0 && screenY < screen.height")
                                 .arg(before.value("w").toInt()),
                             10000));
    QCOMPARE(ask(*m_app, "moveWindow:-2147483648,-2147483648," + size), QStringLiteral("success "));
    QVERIFY(m_app->waitUntil("screenX < 0 && screenX + outerWidth > 0 && screenY === 0", 10000));
    QVERIFY(m_app->isRunning());
}

void tst_E2eViews::openView_popUpPageUsesTheSameDispatcher()
{
    QElapsedTimer opening;
    opening.start();
    QCOMPARE(ask(*m_app, R"({"funcname":"openView","relativeUrl":"/view/e2e_pop.html?name=first","size":"420,310"})",
                 1500),
             QStringLiteral("none"));
    // The pop-up's own query is answered, and its message reaches the main page.
    QVERIFY(waitForMessage(*m_app, "first opened 420x310"));
    m_popUpReportMs = opening.elapsed();
    QVERIFY(waitForMessage(*m_app, "first got success sendMsgToMainBrowser success"));

    // The same address again opens nothing more.
    ask(*m_app, R"({"funcname":"openView","relativeUrl":"/view/e2e_pop.html?name=first","size":"420,310"})", 200);
    allowTimeForAPopUp();
    QCOMPARE(m_app->evaluate("e2e.count('first opened 420x310')").toInt(), 1);

    // While the pop-up has the queries, the main page's commands still run. Without an update
    // service the check the user asked for says so in the update window; its "confirm" button
    // (page at 10, 60; button at 240, 190, 104 × 44) closes it.
    QCOMPARE(ask(*m_app, R"({"funcname":"checkUpdate"})"), QStringLiteral("success checkUpdate success"));
    QStringList windows;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(windows = VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("^vexa update$"))).isEmpty(), 10000);
    QVERIFY(VexaDriver::clickInWindow(windows.first(), 302, 272));
    QTRY_VERIFY_WITH_TIMEOUT(VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("^vexa update$")).isEmpty(),
                             10000);
}

void tst_E2eViews::closeView_closesTheLastActivatedView()
{
    // A pop-up that closes itself once it has reported: the newest window is the active one.
    const QString selfClosing = R"({"funcname":"openView","relativeUrl":"/view/e2e_pop.html?name=second&close","size":"300,200"})";
    ask(*m_app, selfClosing, 500);
    QVERIFY(waitForMessage(*m_app, "second got success sendMsgToMainBrowser success"));
    // Gone from the open views: the same address opens a new window.
    QVERIFY(openUntilReported(selfClosing, "second opened 300x200", 2));

    // Sent by the main page, "closeView" closes the pop-up activated last, not the first one.
    ask(*m_app, R"({"funcname":"openView","relativeUrl":"/view/e2e_pop.html?name=third","size":"300,200"})", 500);
    QVERIFY(waitForMessage(*m_app, "third got success sendMsgToMainBrowser success"));
    QCOMPARE(ask(*m_app, R"({"funcname":"closeView"})", 1500), QStringLiteral("none"));
    QVERIFY(openUntilReported(R"({"funcname":"openView","relativeUrl":"/view/e2e_pop.html?name=third","size":"300,200"})",
                              "third opened 300x200", 2));
    ask(*m_app, R"({"funcname":"openView","relativeUrl":"/view/e2e_pop.html?name=first","size":"420,310"})", 200);
    allowTimeForAPopUp();
    QCOMPARE(m_app->evaluate("e2e.count('first opened 420x310')").toInt(), 1);
}

void tst_E2eViews::confChanged_savesBeforeTheMonitorRestarts()
{
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    const QString program = outside.path() + "/BoundGame"; // as chosen, links and all
    QVERIFY(QFile::copy(QStandardPaths::findExecutable("sleep"), program));
    QProcess game;
    game.start(program, {"60"});
    QVERIFY(game.waitForStarted());

    // Bound in the cache only; the new monitor can only see it if confChanged saved it first.
    const QString bind = QString(R"({"funcname":"modifyProfile","filePath":"view/xml/configuration.xml",)"
                                 R"("xpath":"/conf/modeSetting/modes/mode[@index='2']",)"
                                 R"("attribute":"bindingProcess","attributeValue":"%1"})")
                             .arg(program);
    QVERIFY(ask(*m_app, bind).startsWith("success"));
    const QString configuration = m_app->appDir() + "/view/xml/configuration.xml";
    QVERIFY(!fileText(configuration).contains(program));

    QCOMPARE(ask(*m_app, R"({"funcname":"confChanged"})"), QStringLiteral("success confChanged"));
    QVERIFY(fileText(configuration).contains(program));
    QVERIFY(waitForMessage(*m_app, "process 2 true", 1, 15000));
    game.kill();
    game.waitForFinished();
}

void tst_E2eViews::closeApp_withoutCloseFunc_onlyReplies()
{
    VexaDriver app(QStringLiteral(VEXA_APP_DIR), options(QString()));
    QVERIFY2(startOn(app), qPrintable(app.error()));
    QCOMPARE(app.evaluate("document.visibilityState").toString(), QStringLiteral("visible"));
    QCOMPARE(ask(app, R"({"funcname":"closeApp"})"), QStringLiteral("success modify conf sucess"));
    // A negative check, so bounded: a window told to hide is hidden well within this.
    QTest::qWait(500);
    QVERIFY(app.isRunning());
    QCOMPARE(app.evaluate("document.visibilityState").toString(), QStringLiteral("visible"));
}

// SIGTERM ends the program without the page (this one knows nothing of the tray's question),
// after it wrote the changed profiles. A profile that cannot be written keeps it running, with
// a window that says so; once the file can be written, Try Again writes it and ends.
void tst_E2eViews::termination_neverWaitsOnThePageNorQuitsIntoLostChanges()
{
    VexaDriver app(QStringLiteral(VEXA_APP_DIR), options("hide"));
    QVERIFY2(startOn(app), qPrintable(app.error()));
    QVERIFY(ask(app, R"({"funcname":"modifyProfile","filePath":"view/profiles/profile1.xml",)"
                     R"("xpath":"/profile/lighting","attribute":"brightness","attributeValue":"19"})")
                .startsWith("success"));
    // A folder where the file was cannot be replaced by a file, even by root.
    const QString profile = app.appDir() + "/view/profiles/profile1.xml";
    QVERIFY(QFile::rename(profile, profile + ".aside"));
    QVERIFY(QDir().mkdir(profile));

    QVERIFY(::kill(pid_t(app.processId()), SIGTERM) == 0);
    const QString box = VexaDriver::waitForWindow(app.processId(), QStringLiteral("^vexa$"), 30000);
    if (box.isEmpty() && !app.isRunning())
        QFAIL("the program quit although the changed profile could not be written");
    QVERIFY2(!box.isEmpty(), "no window says that the changes could not be saved");
    QVERIFY(app.isRunning());
    QVERIFY(app.webLog().contains("not quitting: the changed profiles could not be saved"));

    QVERIFY(QDir().rmdir(profile));
    QVERIFY(QFile::rename(profile + ".aside", profile));
    QProcess::execute("xdotool", {"windowactivate", "--sync", box, "key", "Return"}); // Try Again
    QTRY_VERIFY_WITH_TIMEOUT(!app.isRunning(), 30000);
    QVERIFY(fileText(profile).contains("brightness=\"19\""));
}

void tst_E2eViews::closeApp_hidesThenQuitsAfterSaving()
{
    // "hide" (any value but "closeapp"): the window goes, the program stays.
    QCOMPARE(m_app->evaluate("document.visibilityState").toString(), QStringLiteral("visible"));
    QCOMPARE(ask(*m_app, R"({"funcname":"closeApp"})"), QStringLiteral("success modify conf sucess"));
    QVERIFY(m_app->waitUntil("document.visibilityState === 'hidden'", 10000));
    QVERIFY(m_app->isRunning());

    // "closeapp": unsaved profile changes are written, then the program ends by itself.
    QCOMPARE(ask(*m_app, R"({"funcname":"setConf","confKey":"closeFunc","confValue":"closeapp"})"),
             QStringLiteral("success modify conf sucess"));
    QVERIFY(ask(*m_app, R"({"funcname":"modifyProfile","filePath":"view/profiles/profile1.xml",)"
                        R"("xpath":"/profile/lighting","attribute":"brightness","attributeValue":"17"})")
                .startsWith("success"));
    const QString profile = m_app->appDir() + "/view/profiles/profile1.xml";
    QVERIFY(!fileText(profile).contains("brightness=\"17\""));
    ask(*m_app, R"({"funcname":"closeApp"})", 500);
    QTRY_VERIFY_WITH_TIMEOUT(!m_app->isRunning(), 30000);
    QVERIFY(fileText(profile).contains("brightness=\"17\""));
}

QTEST_GUILESS_MAIN(tst_E2eViews)
#include "tst_e2e_views.moc"
