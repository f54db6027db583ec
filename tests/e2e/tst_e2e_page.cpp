// The shipped page as a user meets it, at the smallest window (800 × 600, no "clientSize") and at
// 1280 × 800: the window buttons are on screen, every screen is reached and worked from the
// keyboard alone (real key presses on the X server, xdotool), the focus ring is not the
// colour of errors, the page follows the "language" setting, and axe-core finds nothing serious
// or critical on any screen. With VEXA_SCREENSHOT_DIR set, every screen is saved there as a PNG.
#include "missing_tool.h"
#include "vexa_driver.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QStringList kScreens{"pads", "profiles", "modes", "macro", "settings", "about"};

QByteArray confXml(const QString &clientSize, const QString &language = QStringLiteral("en"))
{
    const QString size = clientSize.isEmpty() ? QString() : QStringLiteral(" clientSize=\"%1\"").arg(clientSize);
    return QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<root>
	<client autoStart="false" showConf="Ctrl+Alt+Shift+F9" testTool="Ctrl+Alt+Shift+F10" language="%2" version="1.0.0" closeFunc="hide"%1 />
	<conf deviceId="5E1C7A92" name="PX-ORB42">
		<info name="产品信息" productType="gamepad" productName="PX-ORB42" productCN="PX-ORB42-01" description="PARVEX PX-ORB42 wired game pad" device="PX-ORB42" />
	</conf>
</root>
)").arg(size, language).toUtf8();
}

} // namespace

class tst_E2ePage : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void walkThrough_data();
    void walkThrough();
    void nothingIsCut_data();
    void nothingIsCut();

private:
    bool start(const QString &clientSize, const QString &language = QStringLiteral("en"));
    QStringList cutTexts();
    void key(const QString &keys);
    bool tabTo(const QString &selector, int maxSteps = 80);
    bool show(const QString &screen);
    QString headerProblems();
    QStringList seriousViolations(QString *error);
    void screenshot(const QString &name);
    void demoLightsThePictureOfTheFirstPadOnly(const QString &size);

    QTemporaryDir m_home;
    QString m_window;
    QByteArray m_axe;
    QString m_axeError;
    std::unique_ptr<VexaDriver> m_app;
};

void tst_E2ePage::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        VEXA_SKIP_WITHOUT_TOOL("needs an X display (Xvfb)");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        VEXA_SKIP_WITHOUT_TOOL("xdotool is not installed");
    QVERIFY(m_home.isValid());
    // The virtual pads live here, so the Pads screen has one to show.
    qputenv("PADIO_HOME", m_home.path().toLocal8Bit());
    QFile axe(QStringLiteral(VEXA_AXE_JS));
    if (axe.open(QIODevice::ReadOnly))
        m_axe = axe.readAll();
    else
        m_axeError = QStringLiteral(VEXA_AXE_JS " is missing: scripts/test.sh installs it (npm ci of tests/tools)");
}

bool tst_E2ePage::start(const QString &clientSize, const QString &language)
{
    VexaDriver::Options options;
    options.confXml = confXml(clientSize, language);
    m_app.reset(new VexaDriver(QStringLiteral(VEXA_APP_DIR), options));
    if (!m_app->start()) {
        qWarning("%s", qPrintable(m_app->error()));
        return false;
    }
    if (!m_app->waitUntil(QStringLiteral("!!(window.vexaPage && window.vexaPage.ready)")))
        return false;
    // Keys go to the window with the focus: give it ours (a window manager runs on the display).
    m_window = VexaDriver::waitForWindow(m_app->processId(), QStringLiteral("PARVEX PX-ORB42"));
    if (m_window.isEmpty())
        return false;
    return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), m_window}) == 0;
}

// Presses keys (xdotool names, "ctrl+Return") on the window, which has the focus; returns once the
// page has had them.
void tst_E2ePage::key(const QString &keys)
{
    if (!m_app->pressKeys(m_window, keys))
        qWarning("the page did not see %s let go", qPrintable(keys));
}

// Tabs forward from the top of the page until the element matching selector has the focus.
bool tst_E2ePage::tabTo(const QString &selector, int maxSteps)
{
    const QString focused = QStringLiteral("!!document.activeElement && document.activeElement.matches(%1)")
                                .arg(VexaDriver::jsString(selector));
    m_app->evaluate(QStringLiteral("document.activeElement && document.activeElement.blur(); true"));
    for (int i = 0; i < maxSteps; ++i) {
        key(QStringLiteral("Tab"));
        if (m_app->evaluate(focused).toBool())
            return true;
    }
    return false;
}

bool tst_E2ePage::show(const QString &screen)
{
    m_app->evaluate(QStringLiteral("location.hash = '#%1'; true").arg(screen));
    return m_app->waitUntil(QStringLiteral("!document.getElementById('screen-%1').hidden").arg(screen));
}

// What is wrong with the header at this size: window buttons or screen tabs not fully on screen.
QString tst_E2ePage::headerProblems()
{
    return m_app->evaluate(QStringLiteral(R"JS((() => {
        const problems = [];
        const inside = (r, box) => r.width > 0 && r.left >= box.left - 0.5 && r.right <= box.right + 0.5
            && r.top >= box.top - 0.5 && r.bottom <= box.bottom + 0.5;
        const win = { left: 0, top: 0, right: innerWidth, bottom: innerHeight };
        const buttons = document.querySelectorAll('#window-controls .window-button');
        if (buttons.length !== 3) problems.push(`${buttons.length} window buttons`);
        for (const b of buttons) if (!inside(b.getBoundingClientRect(), win)) problems.push(`${b.dataset.action} off screen`);
        const nav = document.getElementById('screen-tabs').getBoundingClientRect();
        for (const a of document.querySelectorAll('#screen-tabs [data-screen]')) {
          if (getComputedStyle(a).display === 'none') continue;
          if (!inside(a.getBoundingClientRect(), nav) || !inside(a.getBoundingClientRect(), win)) problems.push(`tab ${a.dataset.screen} cut`);
        }
        return problems.join(', ');
      })())JS")).toString();
}

// Texts of the shown screen that the window does not show whole: wider than their box (cut, or
// running over their neighbours), cut to an ellipsis narrower than a word, or messages outside
// the window or outside what scrolls them.
QStringList tst_E2ePage::cutTexts()
{
    const QJsonValue found = m_app->evaluate(QStringLiteral(R"JS((() => {
        const found = [];
        const shown = (e) => { const r = e.getBoundingClientRect(); return r.width > 0 && r.height > 0 && getComputedStyle(e).visibility !== 'hidden'; };
        const name = (e) => `${e.tagName.toLowerCase()}${e.id ? '#' + e.id : ''}.${e.className} "${(e.textContent || e.value || '').trim().slice(0, 40)}"`;
        const screen = document.querySelector('.screen:not([hidden])');
        for (const e of [screen, ...screen.querySelectorAll('*')]) {
          if (!shown(e) || e.closest('.visually-hidden')) continue;
          if (!Array.from(e.childNodes).some((n) => n.nodeType === 3 && n.textContent.trim()) && !e.matches('select, button')) continue;
          // One line with an ellipsis, the whole text as its title: cut on purpose, but not to nothing.
          if (e.classList.contains('elide') || (e.title && e.title === e.textContent.trim())) {
            if (e.scrollWidth > e.clientWidth + 1 && e.clientWidth < 60) found.push(`cut to ${e.clientWidth}px: ${name(e)}`);
          } else if (e.scrollWidth > e.clientWidth + 1) {
            found.push(`${e.scrollWidth - e.clientWidth}px cut: ${name(e)}`);
          }
        }
        for (const e of screen.querySelectorAll('[role=status], [role=alert], .macro-result')) {
          if (!shown(e) || !e.textContent.trim()) continue;
          const r = e.getBoundingClientRect();
          let box = { top: 0, bottom: innerHeight, left: 0, right: innerWidth };
          for (let p = e.parentElement; p; p = p.parentElement) {
            const s = getComputedStyle(p);
            if (!/(auto|scroll|hidden)/.test(s.overflowX + s.overflowY)) continue;
            const q = p.getBoundingClientRect();
            box = { top: Math.max(box.top, q.top), bottom: Math.min(box.bottom, q.bottom),
                    left: Math.max(box.left, q.left), right: Math.min(box.right, q.right) };
          }
          if (r.top < box.top - 1 || r.bottom > box.bottom + 1 || r.left < box.left - 1 || r.right > box.right + 1)
            found.push(`out of sight: ${name(e)}`);
        }
        return found;
      })())JS"));
    QStringList list;
    for (const QJsonValue &v : found.toArray())
        list << v.toString();
    return list;
}

QStringList tst_E2ePage::seriousViolations(QString *error)
{
    // axe-core goes into the private application folder and is loaded like the page's own scripts
    // (too large for one protocol message).
    if (!m_app->evaluate(QStringLiteral("typeof window.axe === 'object'")).toBool()) {
        if (!m_app->writeAppFile(QStringLiteral("view/e2e-axe.js"), m_axe)) {
            *error = QStringLiteral("axe-core could not be put into the application folder");
            return {};
        }
        m_app->evaluate(QStringLiteral("new Promise((resolve, reject) => { const s = document.createElement('script');"
                                       " s.src = 'e2e-axe.js'; s.onload = () => resolve(true); s.onerror = reject;"
                                       " document.head.append(s); })"),
                        error);
        if (!error->isEmpty())
            return {};
    }
    const QJsonValue found = m_app->evaluate(QStringLiteral(R"JS(
      axe.run(document, { resultTypes: ['violations'] }).then((r) => r.violations
        .filter((v) => v.impact === 'serious' || v.impact === 'critical')
        .map((v) => `${v.id} (${v.impact}): ${v.nodes.slice(0, 3).map((n) => n.target.join(' ')).join(' | ')}`)))JS"),
                                             error, 60000);
    QStringList list;
    for (const QJsonValue &v : found.toArray())
        list << v.toString();
    return list;
}

void tst_E2ePage::screenshot(const QString &name)
{
    m_app->saveScreenshot(name, 300); // let the screen's own queries come back before it is taken
}

// Reports carry no pad: they come from the first pad of the program's latest enumeration. The
// picture moves under that pad and names it; a second pad says where the reports come from.
void tst_E2ePage::demoLightsThePictureOfTheFirstPadOnly(const QString &size)
{
    const QString padctl = QStringLiteral(VEXA_APP_DIR "/padctl");
    QVERIFY2(QFile::exists(padctl), "padctl is not built");
    const QString first = QStringLiteral("5E1C7A92"), second = QStringLiteral("0B0E0A12");
    QVERIFY(show(QStringLiteral("pads")));
    QVERIFY(m_app->waitUntil(QStringLiteral("!!document.querySelector('#pads-list [data-device-id=\"%1\"]')").arg(first), 20000));
    QCOMPARE(QProcess::execute(padctl, {QStringLiteral("plug"), QStringLiteral("--id"), second}), 0);
    const QString card = QStringLiteral("document.querySelector('#pads-list [data-device-id=\"%1\"]')");
    // Pads are named by product and serial on every screen.
    const auto serialOf = [](const QString &id) {
        return QStringLiteral("vexaModules.pads.state.pads.find((p) => p.DeviceID === '%1').SN").arg(id);
    };
    QVERIFY(m_app->waitUntil(QStringLiteral("!!%1").arg(card.arg(second)), 20000));

    QProcess demo;
    demo.start(padctl, {QStringLiteral("demo"), first, QStringLiteral("4")});
    QVERIFY(demo.waitForStarted());
    m_app->evaluate(QStringLiteral("%1.click(); true").arg(card.arg(first)));
    // Lit: a button or trigger on, a stick off centre, and the pad named above the picture.
    QVERIFY(m_app->waitUntil(QStringLiteral(
        "document.getElementById('report-panel').dataset.live === 'true'"
        " && !!document.querySelector('#pad-picture .on')"
        " && Array.from(document.querySelectorAll('#pad-picture .pp-knob'), (k) => k.getAttribute('transform'))"
        "      .some((t) => t && t !== 'translate(0.0 0.0)')"
        " && !document.getElementById('report-live').hidden"
        " && document.getElementById('report-source').textContent.includes(%1)").arg(serialOf(first)), 10000));
    screenshot(QStringLiteral("%1-pads-demo").arg(size));

    m_app->evaluate(QStringLiteral("%1.click(); true").arg(card.arg(second)));
    QVERIFY(m_app->waitUntil(QStringLiteral(
        "document.getElementById('report-live').hidden"
        " && document.getElementById('report-source').textContent.includes('first pad only')"
        " && document.getElementById('report-source').textContent.includes(%1)").arg(serialOf(first))));
    screenshot(QStringLiteral("%1-pads-demo-second").arg(size));

    m_app->evaluate(QStringLiteral("%1.click(); true").arg(card.arg(first)));
    QVERIFY(demo.waitForFinished(15000));
    QCOMPARE(demo.exitCode(), 0);
    QCOMPARE(QProcess::execute(padctl, {QStringLiteral("unplug"), second}), 0);
    QVERIFY(m_app->waitUntil(QStringLiteral("!%1").arg(card.arg(second)), 20000));
}

void tst_E2ePage::walkThrough_data()
{
    QTest::addColumn<QString>("clientSize");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("800x600") << QString() << 800 << 600;
    QTest::newRow("1280x800") << QStringLiteral("1280,800") << 1280 << 800;
}

void tst_E2ePage::walkThrough()
{
    QFETCH(QString, clientSize);
    QFETCH(int, width);
    QFETCH(int, height);
    const QString size = QStringLiteral("%1x%2").arg(width).arg(height);
    QVERIFY(start(clientSize));
    QCOMPARE(m_app->evaluate(QStringLiteral("innerWidth")).toInt(), width);
    QCOMPARE(m_app->evaluate(QStringLiteral("innerHeight")).toInt(), height);

    // The header holds the window buttons and every tab.
    QCOMPARE(headerProblems(), QString());
    // The developer tools are off for a new user.
    QCOMPARE(m_app->evaluate(QStringLiteral("getComputedStyle(document.querySelector('#screen-tabs [data-screen=console]')).display"))
                 .toString(),
             QStringLiteral("none"));

    // Every screen from the keyboard: Tab to its tab, Enter; the focus ring is blue, not red.
    for (const QString &screen : kScreens) {
        QVERIFY2(tabTo(QStringLiteral("#screen-tabs [data-screen=%1]").arg(screen)), qPrintable(screen));
        QCOMPARE(m_app->evaluate(QStringLiteral("getComputedStyle(document.activeElement).outlineColor")).toString(),
                 QStringLiteral("rgb(108, 182, 255)"));
        key(QStringLiteral("Return"));
        QVERIFY2(m_app->waitUntil(QStringLiteral("!document.getElementById('screen-%1').hidden").arg(screen)), qPrintable(screen));
        screenshot(QStringLiteral("%1-%2").arg(size, screen));
    }

    // Alt+digit and Ctrl+digit open the screens in the order of the tabs; the tab takes the focus.
    key(QStringLiteral("alt+2"));
    QVERIFY(m_app->waitUntil(QStringLiteral("!document.getElementById('screen-profiles').hidden"
                                            " && document.activeElement.dataset.screen === 'profiles'")));
    key(QStringLiteral("ctrl+6"));
    QVERIFY(m_app->waitUntil(QStringLiteral("!document.getElementById('screen-about').hidden")));

    demoLightsThePictureOfTheFirstPadOnly(size);
    if (QTest::currentTestFailed())
        return;

    // Settings: the Advanced switch with Space; the shortcuts promise nothing they do not do.
    QVERIFY(show("settings"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.querySelector('#setting-showConf')?.value === 'Ctrl+Alt+Shift+F9'")));
    const QString shortcutTexts = m_app->evaluate(QStringLiteral(
        "Array.from(document.querySelectorAll('[data-key=showConf] .setting-text, [data-key=testTool] .setting-text'), (e) => e.textContent).join(' | ')"))
                                      .toString();
    QVERIFY2(!shortcutTexts.contains(QLatin1String("Open settings")) && shortcutTexts.contains(QLatin1String("no action of its own")),
             qPrintable(shortcutTexts));
    // A note appearing under a row ("Saved") does not move the rows below it.
    const QString advancedTop = QStringLiteral("document.querySelector('[data-page=advanced]').getBoundingClientRect().top");
    const double rowTop = m_app->evaluate(advancedTop).toDouble();
    m_app->evaluate(QStringLiteral("document.querySelector('input[name=closeFunc][value=closeapp]').click(); true"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.querySelector('[data-key=closeFunc] .setting-note').textContent === 'Saved'")));
    QCOMPARE(m_app->evaluate(advancedTop).toDouble(), rowTop);
    QVERIFY(tabTo(QStringLiteral("#setting-advanced")));
    key(QStringLiteral("space"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.body.dataset.advanced === 'true'")));
    screenshot(QStringLiteral("%1-settings-advanced").arg(size));
    QCOMPARE(headerProblems(), QString());

    // The Console is now a screen; Ctrl+Enter sends, and its status line follows the events.
    QVERIFY(tabTo(QStringLiteral("#screen-tabs [data-screen=console]")));
    key(QStringLiteral("Return"));
    QVERIFY(m_app->waitUntil(QStringLiteral("!document.getElementById('screen-console').hidden")));
    const QString statusBefore = m_app->evaluate(QStringLiteral("document.getElementById('bridge-status').textContent")).toString();
    QVERIFY2(statusBefore.startsWith(QStringLiteral("Bridge ready · ")), qPrintable(statusBefore));
    QVERIFY(tabTo(QStringLiteral("#command-input")));
    key(QStringLiteral("ctrl+Return"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.querySelectorAll('#reply-log > *').length === 1")));
    QVERIFY2(m_app->waitUntil(QStringLiteral("document.getElementById('bridge-status').textContent !== %1").arg(VexaDriver::jsString(statusBefore)), 5000),
             qPrintable(statusBefore));
    screenshot(QStringLiteral("%1-console").arg(size));

    // Enter in a field presses the form's own button (the raw memory form reads).
    QVERIFY(show("pads"));
    QVERIFY(m_app->waitUntil(QStringLiteral("!document.getElementById('pad-detail').hidden"), 20000));
    QVERIFY(tabTo(QStringLiteral("#mem-size")));
    key(QStringLiteral("Return"));
    QVERIFY(m_app->waitUntil(QStringLiteral("!document.getElementById('mem-result').hidden"
                                            " && document.getElementById('mem-result').dataset.tone === 'ok'")));
    screenshot(QStringLiteral("%1-pads-advanced").arg(size));

    // A raw write asks in the page; Tab reaches its Write, Enter writes and the bytes are read back.
    m_app->evaluate(QStringLiteral("document.getElementById('mem-size').value = '';"
                                   "document.getElementById('mem-data').value = '12 34'; true"));
    QVERIFY(tabTo(QStringLiteral("#mem-write")));
    key(QStringLiteral("Return"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.activeElement && document.activeElement.id === 'ask-no'")));
    screenshot(QStringLiteral("%1-pads-ask").arg(size));
    if (m_axeError.isEmpty()) {
        QString error;
        const QStringList found = seriousViolations(&error);
        QVERIFY2(error.isEmpty() && found.isEmpty(), qPrintable(error + found.join(QLatin1Char('\n'))));
    }
    key(QStringLiteral("Tab"));
    QCOMPARE(m_app->evaluate(QStringLiteral("document.activeElement.id")).toString(), QStringLiteral("ask-yes"));
    key(QStringLiteral("Return"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.getElementById('mem-result').dataset.tone === 'ok'"
                                            " && document.getElementById('mem-result').textContent.includes('read back the same')")));

    // Macros: a take edited from the keyboard (a pause set to 450 ms, the first key deleted with
    // its release); Record then asks before the unwritten take is lost, and Esc answers no.
    QVERIFY(show("macro"));
    m_app->evaluate(QStringLiteral(R"JS((() => {
        const k = (down, scan) => ({ kind: 'key', down, scan, ext: false });
        Object.assign(vexaModules.macro.state, { selected: -1, unsaved: true, items: [k(true, 0x1e), { kind: 'pause', ms: 120 },
          k(false, 0x1e), { kind: 'pause', ms: 300 }, k(true, 0x30), k(false, 0x30)] });
        document.dispatchEvent(new Event('languagechanged'));
        return true;
      })())JS"));
    QVERIFY(tabTo(QStringLiteral("#macro-items")));
    key(QStringLiteral("Down"));
    key(QStringLiteral("Down"));
    key(QStringLiteral("Down"));
    key(QStringLiteral("Return"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.activeElement.id === 'macro-pause-ms'")));
    for (const QString &k : {QStringLiteral("ctrl+a"), QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("0"), QStringLiteral("Return")})
        key(k);
    QVERIFY(m_app->waitUntil(QStringLiteral("vexaModules.macro.state.items[3].ms === 450")));
    QVERIFY(tabTo(QStringLiteral("#macro-items")));
    key(QStringLiteral("Home"));
    key(QStringLiteral("Delete"));
    QVERIFY(m_app->waitUntil(QStringLiteral("vexaModules.macro.state.items.map((i) => i.kind === 'pause' ? i.ms : (i.down ? '+' : '-') + i.scan)"
                                            ".join(' ') === '120 450 +48 -48'")));
    screenshot(QStringLiteral("%1-macro-edited").arg(size));
    QVERIFY(tabTo(QStringLiteral("#macro-record")));
    key(QStringLiteral("Return"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.activeElement && document.activeElement.id === 'ask-no'")));
    screenshot(QStringLiteral("%1-macro-ask").arg(size));
    if (m_axeError.isEmpty()) {
        QString error;
        const QStringList found = seriousViolations(&error);
        QVERIFY2(error.isEmpty() && found.isEmpty(), qPrintable(error + found.join(QLatin1Char('\n'))));
    }
    key(QStringLiteral("Escape"));
    QVERIFY(m_app->waitUntil(QStringLiteral("!document.querySelector('dialog.ask')")));
    QCOMPARE(m_app->evaluate(QStringLiteral("document.getElementById('screen-macro').dataset.recording")).toString(), QStringLiteral("false"));
    QCOMPARE(m_app->evaluate(QStringLiteral("vexaModules.macro.state.items.length")).toInt(), 4);

    // Profiles: a button's function is picked from the keyboard; Esc closes the picker and gives
    // the focus back to the row. The buttons are one Tab stop, the arrows move inside them, and
    // the picker opens below the list without moving it.
    QVERIFY(show("profiles"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.getElementById('screen-profiles').dataset.loaded === 'view/profiles/profile1.xml'")));
    QVERIFY(tabTo(QStringLiteral("#profile-save")));
    QStringList stops;
    for (int i = 0; i < 30 && !stops.contains(QStringLiteral("profile-apply")); ++i) {
        key(QStringLiteral("Tab"));
        stops << m_app->evaluate(QStringLiteral("document.activeElement.id")).toString();
    }
    // The values, one stop for the fifteen buttons, the macro form (Advanced is on), the pad, Apply.
    QVERIFY2(stops.size() <= 22 && stops.last() == QLatin1String("profile-apply"), qPrintable(stops.join(QLatin1Char(' '))));
    QCOMPARE(stops.filter(QRegularExpression(QStringLiteral("^profile-key-\\d+-change$"))), QStringList{"profile-key-1-change"});
    QVERIFY(tabTo(QStringLiteral("#profile-key-1-change")));
    const int columns = m_app->evaluate(QStringLiteral(
        "getComputedStyle(document.getElementById('profile-keys')).gridTemplateColumns.split(' ').length")).toInt();
    QVERIFY(columns >= 1);
    key(QStringLiteral("Right"));
    key(QStringLiteral("Down"));
    QCOMPARE(m_app->evaluate(QStringLiteral("document.activeElement.id")).toString(),
             QStringLiteral("profile-key-%1-change").arg(2 + columns));
    key(QStringLiteral("Home"));
    QCOMPARE(m_app->evaluate(QStringLiteral("document.activeElement.id")).toString(), QStringLiteral("profile-key-1-change"));
    const QString rowPlaces = QStringLiteral("Array.from(document.querySelectorAll('#profile-keys > li'), (li) => {"
                                             " const r = li.getBoundingClientRect(); return `${r.left},${r.top},${r.width}`; }).join(' ')");
    const QString placesBefore = m_app->evaluate(rowPlaces).toString();
    key(QStringLiteral("Return"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.activeElement && document.activeElement.id === 'profile-key-kind'")));
    // Where the list is on screen may change (the picker is scrolled into view), not its rows.
    const auto relative = [](const QString &places) {
        QStringList out;
        const QStringList rows = places.split(QLatin1Char(' '));
        const double top = rows.value(0).section(QLatin1Char(','), 1, 1).toDouble();
        for (const QString &row : rows)
            out << QStringLiteral("%1,%2,%3").arg(row.section(QLatin1Char(','), 0, 0))
                       .arg(row.section(QLatin1Char(','), 1, 1).toDouble() - top).arg(row.section(QLatin1Char(','), 2, 2));
        return out;
    };
    QCOMPARE(relative(m_app->evaluate(rowPlaces).toString()), relative(placesBefore));
    screenshot(QStringLiteral("%1-profiles-button").arg(size));
    if (m_axeError.isEmpty()) {
        QString error;
        const QStringList found = seriousViolations(&error);
        QVERIFY2(error.isEmpty() && found.isEmpty(), qPrintable(error + found.join(QLatin1Char('\n'))));
    }
    key(QStringLiteral("Escape"));
    QVERIFY(m_app->waitUntil(QStringLiteral("!document.getElementById('profile-key-kind')"
                                            " && document.activeElement.id === 'profile-key-1-change'")));
    // Ctrl+S saves.
    m_app->evaluate(QStringLiteral("(() => { const r = document.getElementById('profile-brightness-range'); r.value = '55';"
                                   " r.dispatchEvent(new Event('change')); return true; })()"));
    QVERIFY(m_app->waitUntil(QStringLiteral("!document.getElementById('profile-unsaved').hidden")));
    key(QStringLiteral("ctrl+s"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.getElementById('profile-unsaved').hidden"
                                            " && document.getElementById('screen-profiles').dataset.saved === 'true'")));

    // axe-core on every screen, the developer tools included.
    QVERIFY2(m_axeError.isEmpty(), qPrintable(m_axeError));
    QStringList violations;
    for (const QString &screen : kScreens + QStringList{"console"}) {
        QVERIFY(show(screen));
        // The screen's own queries (some never answer) have no end to wait for: a bounded settle.
        QTest::qWait(300);
        QString error;
        const QStringList found = seriousViolations(&error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        for (const QString &v : found)
            violations << QStringLiteral("%1: %2").arg(screen, v);
    }
    QVERIFY2(violations.isEmpty(), qPrintable(violations.join(QLatin1Char('\n'))));

    // The page follows the language setting at once, in every language of the menu; the window
    // buttons stay on screen with the longest words.
    QVERIFY(show("settings"));
    // As on a desktop without a tray, where Settings also offers Exit: nothing is cut, in every language.
    QVERIFY(m_app->evaluate(QStringLiteral("(() => { const r = document.querySelector('[data-page=exit]'); r.hidden = false; return !!r; })()")).toBool());
    for (const QString &language : QStringList{"de-DE", "ru", "ja", "zh-TW", "zh", "en", "ko"}) {
        m_app->evaluate(QStringLiteral("(() => { const s = document.querySelector('#setting-language'); s.value = %1;"
                                       " s.dispatchEvent(new Event('change')); return true; })()")
                            .arg(VexaDriver::jsString(language)));
        QVERIFY2(m_app->waitUntil(QStringLiteral("vexaModules.i18n.language() === %1 && document.documentElement.lang === %1")
                                      .arg(VexaDriver::jsString(language))),
                 qPrintable(language));
        QCOMPARE(m_app->evaluate(QStringLiteral("document.querySelector('#screen-tabs [data-screen=settings]').textContent")).toString(),
                 m_app->evaluate(QStringLiteral("vexaModules.i18n.t('tab.settings')")).toString());
        QCOMPARE(m_app->evaluate(QStringLiteral("document.querySelector('#setting-exit').textContent")).toString(),
                 m_app->evaluate(QStringLiteral("vexaModules.i18n.t('win.exit')")).toString());
        QVERIFY2(cutTexts().isEmpty(), qPrintable(language + QStringLiteral(": ") + cutTexts().join(QStringLiteral("; "))));
        QVERIFY2(headerProblems().isEmpty(), qPrintable(language + QStringLiteral(": ") + headerProblems()));
        screenshot(QStringLiteral("%1-settings-%2").arg(size, language));
    }
    m_app->evaluate(QStringLiteral("document.querySelector('[data-page=exit]').hidden = true"));

    // A new start (here: a reload) speaks the language of the setting from the first screen on.
    QVERIFY(m_app->reload());
    QVERIFY(m_app->waitUntil(QStringLiteral("!!(window.vexaPage && window.vexaPage.ready)")));
    QCOMPARE(m_app->evaluate(QStringLiteral("window.vexaPage.language")).toString(), QStringLiteral("ko"));
    QCOMPARE(m_app->evaluate(QStringLiteral("document.querySelector('#screen-tabs [data-screen=pads]').textContent")).toString(),
             QStringLiteral("패드"));

    // The bottom-right corner resizes the window (the smallest window is the configured size, so
    // the small one grows); the window buttons stay in its corner.
    if (width == 800) {
        // A drag at a hand's pace: each step a moment after the last (the pace of the gesture,
        // not a wait for its effect, which is awaited below).
        const auto xdotool = [this](const QStringList &args) { QProcess::execute(QStringLiteral("xdotool"), args); QTest::qWait(150); };
        xdotool({"mousemove", "--window", m_window, QString::number(width - 3), QString::number(height - 3)});
        xdotool({"mousedown", "1"});
        xdotool({"mousemove_relative", "--", "60", "30"});
        xdotool({"mousemove_relative", "--", "60", "30"});
        xdotool({"mouseup", "1"});
        QVERIFY2(m_app->waitUntil(QStringLiteral("innerWidth === %1 && innerHeight === %2").arg(width + 120).arg(height + 60), 10000),
                 qPrintable(m_app->evaluate(QStringLiteral("innerWidth + 'x' + innerHeight")).toString()));
        QCOMPARE(headerProblems(), QString());
        QCOMPARE(m_app->evaluate(QStringLiteral("Math.round(document.querySelector('.window-close').getBoundingClientRect().right)")).toInt(),
                 width + 120);
    }

    // The session ends (SIGTERM) while the Profiles screen has unsaved work: vexa asks nothing,
    // since no one could answer, and writes it before it ends, as it always has.
    QVERIFY(show(QStringLiteral("profiles")));
    QVERIFY(m_app->waitUntil(QStringLiteral("!!document.getElementById('screen-profiles').dataset.loaded")));
    const QString path = m_app->evaluate(QStringLiteral("document.getElementById('screen-profiles').dataset.loaded")).toString();
    QVERIFY(!path.isEmpty());
    m_app->evaluate(QStringLiteral("(() => { const r = document.getElementById('profile-deadzone-range'); r.value = '21';"
                                   " r.dispatchEvent(new Event('change')); return true; })()"));
    QVERIFY(m_app->waitUntil(QStringLiteral("!document.getElementById('profile-unsaved').hidden")));
    QFile profile(m_app->appDir() + QLatin1Char('/') + path);
    QCOMPARE(m_app->terminate(), 0);
    QVERIFY(profile.open(QIODevice::ReadOnly));
    QVERIFY(profile.readAll().contains("deadzone=\"21\""));
    m_app.reset();
}

void tst_E2ePage::nothingIsCut_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("de-DE") << QStringLiteral("de-DE");
    QTest::newRow("ru") << QStringLiteral("ru");
}

// The longest words, in the smallest window: every screen shows its texts whole, the Modes screen
// keeps its program column, and the Macros screen its recorder's state and its messages.
void tst_E2ePage::nothingIsCut()
{
    QFETCH(QString, language);
    QVERIFY(start(QString(), language));
    QCOMPARE(m_app->evaluate(QStringLiteral("innerWidth + 'x' + innerHeight")).toString(), QStringLiteral("800x600"));
    const QMap<QString, QString> loaded{
        {"pads", "!!document.querySelector('#pads-list [data-device-id]') && !document.getElementById('pad-detail').hidden"},
        {"profiles", "document.getElementById('screen-profiles').dataset.loaded === 'view/profiles/profile1.xml'"},
        {"modes", "document.getElementById('screen-modes').dataset.loaded === 'true' && !!document.querySelector('.mode-row .mode-file')"},
        {"macro", "document.querySelectorAll('#macro-pad option').length > 0 && document.querySelectorAll('#macro-profile option').length > 0"},
        {"settings", "document.querySelector('#setting-showConf')?.value === 'Ctrl+Alt+Shift+F9'"},
        {"about", "!!document.querySelector('#screen-about .panel')"},
    };
    QStringList cut;
    for (const QString &screen : kScreens) {
        QVERIFY(show(screen));
        QVERIFY2(m_app->waitUntil(loaded.value(screen), 20000), qPrintable(screen));
        for (const QString &c : cutTexts())
            cut << QStringLiteral("%1: %2").arg(screen, c);
        screenshot(QStringLiteral("800x600-%1-%2").arg(screen, language));
    }
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
    QVERIFY(show(QStringLiteral("modes")));
    QVERIFY(m_app->evaluate(QStringLiteral("Math.min(...Array.from(document.querySelectorAll('.mode-program'), (e) => e.clientWidth))")).toInt() >= 120);

    // A long take written to the pad and kept in a profile: both messages in sight.
    QVERIFY(show(QStringLiteral("macro")));
    m_app->evaluate(QStringLiteral(R"JS((() => {
        const k = (down, scan) => ({ kind: 'key', down, scan, ext: false });
        const items = [];
        for (let i = 0; i < 60; i++) items.push(k(true, 0x1e + (i % 9)), { kind: 'pause', ms: 120 + i }, k(false, 0x1e + (i % 9)), { kind: 'pause', ms: 30 });
        items.pop();
        Object.assign(vexaModules.macro.state, { selected: -1, unsaved: true, items });
        document.dispatchEvent(new Event('languagechanged'));
        return true;
      })())JS"));
    // The whole take, not its start.
    QCOMPARE(m_app->evaluate(QStringLiteral("document.getElementById('macro-bytes').textContent.split(' ').length")).toInt(),
             m_app->evaluate(QStringLiteral("vexaModules.macro.encode(vexaModules.macro.state.items).length")).toInt());
    m_app->evaluate(QStringLiteral("document.getElementById('macro-write').click(); true"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.getElementById('macro-result').dataset.tone === 'ok'"), 20000));
    QCOMPARE(cutTexts(), QStringList());
    m_app->evaluate(QStringLiteral("document.getElementById('macro-name').value = 'Reload'; document.getElementById('macro-save').click(); true"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.getElementById('macro-keep-result').dataset.tone === 'ok'"), 20000));
    QCOMPARE(cutTexts(), QStringList());
    screenshot(QStringLiteral("800x600-macro-written-%1").arg(language));
    // Recording: how to stop it shows whole.
    m_app->evaluate(QStringLiteral("document.getElementById('macro-record').click(); true"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.getElementById('screen-macro').dataset.recording === 'true'")));
    QCOMPARE(cutTexts(), QStringList());
    screenshot(QStringLiteral("800x600-macro-recording-%1").arg(language));
    m_app->evaluate(QStringLiteral("document.getElementById('macro-stop').click(); true"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.getElementById('screen-macro').dataset.recording === 'false'")));
    QCOMPARE(m_app->terminate(), 0);
    m_app.reset();
}

QTEST_GUILESS_MAIN(tst_E2ePage)
#include "tst_e2e_page.moc"
