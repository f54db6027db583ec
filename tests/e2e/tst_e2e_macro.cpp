// The Macros screen of the real program: keys typed on the X server while the page records
// show up as items, and the macro written from the page lands in the virtual pad's memory.
// Runs on a private X server so that its keys reach nobody else.
#include "missing_tool.h"
#include "private_display.h"
#include "vexa_driver.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <initializer_list>
#include <tuple>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#undef Bool
#undef KeyPress
#undef KeyRelease
#undef None
#undef Status

namespace {

const char kPadId[] = "5E1C7A92";

} // namespace

class tst_E2eMacro : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void commandsReply_data();
    void commandsReply();
    void recordedKeysShowAsItems();
    void macroIsWrittenToThePad();
    void escInTheWindowStopsWithoutBeingRecorded();
    void newTakeAsksBeforeAnUnwrittenOneIsLost();
    void editedTakeIsWrittenAndReadBack();
    void overLongMacroIsRefusedOnEveryPath();
    void rawMemoryWriteAsksAndReadsBack();
    void writeAfterAnUnplugGoesToNoOtherPad();

private:
    void key(unsigned keyCode, bool down);
    QVector<int> padMemory(const QString &address, int size, const char *padId = kPadId);
    bool padctl(const QStringList &args);
    QString js(const QString &expression) { return m_driver->evaluate(expression).toVariant().toString(); }
    bool listKey(const QString &init);
    bool take(const QVector<unsigned> &keyCodes);
    void screenshot(const QString &name);

    PrivateDisplay m_display;
    QTemporaryDir m_home;
    Display *m_x = nullptr;
    QString m_firstAt; // where the first take went
    std::unique_ptr<VexaDriver> m_driver;
};

void tst_E2eMacro::initTestCase()
{
    if (!m_display.start())
        VEXA_SKIP_WITHOUT_TOOL("needs Xvfb for a private X server");
    if (!QFile::exists(QStringLiteral(VEXA_APP_DIR "/padctl")))
        VEXA_SKIP_WITHOUT_TOOL("the virtual pad library and padctl are not built");
    m_x = XOpenDisplay(nullptr);
    QVERIFY(m_x);
    QVERIFY(m_home.isValid());
    qputenv("PADIO_HOME", m_home.path().toLocal8Bit());
    m_driver.reset(new VexaDriver(QStringLiteral(VEXA_APP_DIR)));
    QVERIFY2(m_driver->start(), qPrintable(m_driver->error()));
    QVERIFY(m_driver->waitUntil(QStringLiteral("!!(window.vexaPage && window.vexaPage.ready)")));
    m_driver->evaluate(QStringLiteral("location.hash = '#macro'"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("!document.getElementById('screen-macro').hidden")));
}

void tst_E2eMacro::cleanupTestCase()
{
    if (m_driver)
        m_driver->terminate();
    if (m_x)
        XCloseDisplay(m_x);
}

void tst_E2eMacro::key(unsigned keyCode, bool down)
{
    XTestFakeKeyEvent(m_x, keyCode, down ? 1 : 0, 0);
    XSync(m_x, 0);
}

bool tst_E2eMacro::padctl(const QStringList &args)
{
    QProcess tool;
    tool.start(QStringLiteral(VEXA_APP_DIR "/padctl"), args);
    return tool.waitForFinished(15000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

QVector<int> tst_E2eMacro::padMemory(const QString &address, int size, const char *padId)
{
    QProcess tool;
    tool.start(QStringLiteral(VEXA_APP_DIR "/padctl"),
               {QStringLiteral("mem"), QLatin1String(padId), address, QString::number(size)});
    tool.waitForFinished(15000);
    QVector<int> bytes;
    // "1f00  01 1e 00 ...  |...|": the address, then the bytes up to the text column.
    for (const QString &line : QString::fromLatin1(tool.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const QStringList words = line.section(QStringLiteral("  |"), 0, 0).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (int i = 1; i < words.size(); ++i)
            bytes.append(words.at(i).toInt(nullptr, 16));
    }
    return bytes;
}

void tst_E2eMacro::commandsReply_data()
{
    QTest::addColumn<QString>("funcname");
    QTest::addColumn<QString>("reply");
    QTest::newRow("start") << "startRecord" << "startRecord success!";
    QTest::newRow("start again") << "startRecord" << "startRecord success!";
    QTest::newRow("stop") << "stopRecord" << "stopRecord success";
    QTest::newRow("stop again") << "stopRecord" << "stopRecord success";
}

void tst_E2eMacro::commandsReply()
{
    QFETCH(QString, funcname);
    QFETCH(QString, reply);
    const QJsonValue outcome = m_driver->evaluate(
        QStringLiteral("vexaModules.bridge.query({funcname: %1}, {timeoutMs: 5000})").arg(VexaDriver::jsString(funcname)));
    QCOMPARE(outcome[QStringLiteral("ok")].toBool(), true);
    QCOMPARE(outcome[QStringLiteral("text")].toString(), reply);
}

void tst_E2eMacro::recordedKeysShowAsItems()
{
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-record').click()"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('screen-macro').dataset.recording === 'true'")));
    key(38, true); // A
    key(38, false);
    QTest::qWait(50); // a pause the recorder measures between the two keys, not a wait for anything
    key(105, true); // right Ctrl
    key(105, false);
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.querySelectorAll('#macro-items .macro-key').length === 4"), 10000));
    QCOMPARE(js(QStringLiteral(
                 "Array.from(document.querySelectorAll('#macro-items .macro-key'), "
                 "(li) => [li.dataset.down, li.dataset.scan, li.dataset.ext].join(' ')).join(',')")),
             QStringLiteral("1 30 0,0 30 0,1 29 1,0 29 1"));
    QCOMPARE(m_driver->evaluate(QStringLiteral("document.querySelectorAll('#macro-items .macro-pause').length")).toInt(), 3);
    QVERIFY(js(QStringLiteral("document.querySelector('#macro-items .macro-key .macro-text').textContent"))
                .startsWith(QLatin1String("A down")));

    m_driver->evaluate(QStringLiteral("document.getElementById('macro-stop').click()"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('screen-macro').dataset.recording === 'false'")));
    key(38, true);
    key(38, false);
    // A negative check (a stopped take gets no items), so a bounded wait: a key reaches the page
    // within milliseconds (bench/vexa_bench_macro).
    QTest::qWait(400);
    QCOMPARE(m_driver->evaluate(QStringLiteral("document.querySelectorAll('#macro-items li').length")).toInt(), 7);
}

// The recorder hears the desktop's keys, this window's too: Esc pressed in the window stops the
// take, and neither Esc nor the Enter that started the take (let go after it began) is kept.
void tst_E2eMacro::escInTheWindowStopsWithoutBeingRecorded()
{
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-record').click()"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('screen-macro').dataset.recording === 'true'")));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.activeElement === document.getElementById('macro-stop')")));
    key(36, false); // Enter let go: it started the take
    key(38, true);  // A
    key(38, false);
    key(9, true);   // Esc: heard by the recorder first, then by the page
    QVERIFY(m_driver->waitUntil(QStringLiteral("!!document.querySelector('#macro-items .macro-key[data-scan=\"1\"][data-down=\"1\"]')"), 10000));
    // This display has no window manager to give the window the keyboard; the page hears the
    // same Esc as a key event of its document.
    m_driver->evaluate(QStringLiteral("document.activeElement.dispatchEvent(new KeyboardEvent('keydown', {key: 'Escape', code: 'Escape', bubbles: true})); true"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('screen-macro').dataset.recording === 'false'")));
    key(9, false);
    QTest::qWait(300); // a negative check, as above: the Esc let go after the stop is not kept
    QCOMPARE(js(QStringLiteral("Array.from(document.querySelectorAll('#macro-items .macro-key'), "
                               "(li) => [li.dataset.down, li.dataset.scan].join(' ')).join(',')")),
             QStringLiteral("1 30,0 30"));
}

void tst_E2eMacro::macroIsWrittenToThePad()
{
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.querySelectorAll('#macro-pad option').length === 1"), 20000));
    QVERIFY(m_driver->waitUntil(QStringLiteral("!document.getElementById('macro-write').disabled")));
    const QJsonArray expected = m_driver->evaluate(
        QStringLiteral("vexaModules.macro.encode(vexaModules.macro.state.items)")).toArray();
    // Four key records, three pauses (a pause under a millisecond is left out), the end mark.
    QVERIFY(expected.size() >= 4 * 3 + 1 && expected.size() <= 7 * 3 + 1);
    QCOMPARE(expected.first().toInt(), 0x01);
    QCOMPARE(expected.last().toInt(), 0x00);

    // Without the Advanced switch no address is typed: the page places the take in the macro
    // area, and a second write of it goes beside the first, never over it.
    QCOMPARE(m_driver->evaluate(QStringLiteral("document.getElementById('macro-address').offsetParent === null")).toBool(), true);
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-address').value = '0100';"
                                      "document.getElementById('macro-write').click()"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('macro-result').dataset.tone === 'ok'")));
    m_firstAt = js(QStringLiteral("document.getElementById('macro-result').dataset.address"));
    QCOMPARE(m_firstAt, QStringLiteral("0200"));
    QVector<int> onPad = padMemory(m_firstAt, expected.size());
    QCOMPARE(onPad.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(onPad.at(i), expected.at(i).toInt());
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-result').dataset.tone = '';"
                                      "document.getElementById('macro-write').click()"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('macro-result').dataset.tone === 'ok'")));
    const int secondAt = js(QStringLiteral("document.getElementById('macro-result').dataset.address")).toInt(nullptr, 16);
    QVERIFY2(secondAt >= 0x200 + expected.size() && secondAt <= 0x200 + expected.size() + 2, qPrintable(QString::number(secondAt, 16)));
    QCOMPARE(padMemory(m_firstAt, expected.size()), onPad);

    // With it, a typed address that holds data is written only when the user asks to clear it.
    m_driver->evaluate(QStringLiteral("vexaModules.advanced.set(true);"
                                      "document.getElementById('macro-address').value = '0200';"
                                      "document.getElementById('macro-write').click()"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('macro-result').dataset.tone === 'warn'")));
    QCOMPARE(m_driver->evaluate(QStringLiteral("document.getElementById('macro-overwrite').hidden")).toBool(), false);
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-overwrite').click()"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("!!document.querySelector('dialog.ask[open]')")));
    m_driver->evaluate(QStringLiteral("document.getElementById('ask-yes').click(); true"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('macro-result').dataset.tone === 'ok'")));
    m_driver->evaluate(QStringLiteral("vexaModules.advanced.set(false)"));
    QCOMPARE(padMemory(m_firstAt, expected.size()), onPad);
}

// A key event on the take's list, as the page hears it (this display gives the window no keyboard).
bool tst_E2eMacro::listKey(const QString &init)
{
    return m_driver->evaluate(QStringLiteral("document.getElementById('macro-items').dispatchEvent("
                                             "new KeyboardEvent('keydown', Object.assign({bubbles: true, cancelable: true}, %1))) !== undefined")
                                  .arg(init))
        .toBool();
}

// Records the keys (pressed and let go in turn) as a new take, stopped with the mouse.
bool tst_E2eMacro::take(const QVector<unsigned> &keyCodes)
{
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-record').click()"));
    if (!m_driver->waitUntil(QStringLiteral("document.getElementById('screen-macro').dataset.recording === 'true'")))
        return false;
    for (unsigned code : keyCodes) {
        key(code, true);
        key(code, false);
    }
    if (!m_driver->waitUntil(QStringLiteral("vexaModules.macro.state.items.filter((i) => i.kind === 'key').length >= %1")
                                 .arg(keyCodes.size() * 2),
                             30000))
        return false;
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-stop').dispatchEvent(new MouseEvent('click', {detail: 1}))"));
    return m_driver->waitUntil(QStringLiteral("document.getElementById('screen-macro').dataset.recording === 'false'"));
}

void tst_E2eMacro::screenshot(const QString &name)
{
    m_driver->saveScreenshot(name);
}

// The take of the Esc test was never written: a new take asks before throwing it away.
void tst_E2eMacro::newTakeAsksBeforeAnUnwrittenOneIsLost()
{
    const int items = m_driver->evaluate(QStringLiteral("vexaModules.macro.state.items.length")).toInt();
    QVERIFY(items > 0);
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-record').click()"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("!!document.querySelector('dialog.ask[open]')")));
    QCOMPARE(js(QStringLiteral("document.activeElement.id")), QStringLiteral("ask-no"));
    screenshot(QStringLiteral("macro-discard"));
    m_driver->evaluate(QStringLiteral("document.getElementById('ask-no').click(); true"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("!document.querySelector('dialog.ask')")));
    QCOMPARE(js(QStringLiteral("document.getElementById('screen-macro').dataset.recording")), QStringLiteral("false"));
    QCOMPARE(m_driver->evaluate(QStringLiteral("vexaModules.macro.state.items.length")).toInt(), items);
}

// A, then B: A is deleted from the keyboard (its release goes with it), the first pause is set
// to 250 ms, B's press moves up; what the pad holds afterwards is the edited take.
void tst_E2eMacro::editedTakeIsWrittenAndReadBack()
{
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-record').click()"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("!!document.querySelector('dialog.ask[open]')")));
    m_driver->evaluate(QStringLiteral("document.getElementById('ask-yes').click(); true"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('screen-macro').dataset.recording === 'true'")));
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-stop').dispatchEvent(new MouseEvent('click', {detail: 1}))"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('screen-macro').dataset.recording === 'false'")));
    QVERIFY(take({38, 56})); // A, B
    const QString keys = QStringLiteral("vexaModules.macro.state.items.filter((i) => i.kind === 'key').map((i) => (i.down ? '+' : '-') + i.scan).join(' ')");
    QCOMPARE(js(keys), QStringLiteral("+30 -30 +48 -48"));

    m_driver->evaluate(QStringLiteral("document.getElementById('macro-items').focus(); true"));
    QVERIFY(listKey(QStringLiteral("{key: 'Home'}")));
    QVERIFY(listKey(QStringLiteral("{key: 'Delete'}")));
    QCOMPARE(js(keys), QStringLiteral("+48 -48"));
    // A pause goes in before B when the take has none there, so the edit below has one to set.
    const int pauseAt = m_driver->evaluate(QStringLiteral("vexaModules.macro.state.items.findIndex((i) => i.kind === 'pause')")).toInt();
    QVERIFY2(pauseAt >= 0, "the recorder gives pauses between keys");
    QVERIFY(listKey(QStringLiteral("{key: 'Home'}")));
    for (int i = 0; i < pauseAt; ++i)
        QVERIFY(listKey(QStringLiteral("{key: 'ArrowDown'}")));
    QVERIFY(listKey(QStringLiteral("{key: 'Enter'}")));
    QCOMPARE(js(QStringLiteral("document.activeElement.id")), QStringLiteral("macro-pause-ms"));
    m_driver->evaluate(QStringLiteral("(() => { const f = document.getElementById('macro-pause-ms'); f.value = '250';"
                                      " f.dispatchEvent(new KeyboardEvent('keydown', {key: 'Enter', bubbles: true})); return true; })()"));
    QCOMPARE(m_driver->evaluate(QStringLiteral("vexaModules.macro.state.items[%1].ms").arg(pauseAt)).toInt(), 250);
    // B's press up by one (past a pause), with Alt+Up; its release cannot go above it.
    const int bAt = m_driver->evaluate(QStringLiteral("vexaModules.macro.state.items.findIndex((i) => i.kind === 'key')")).toInt();
    m_driver->evaluate(QStringLiteral("vexaModules.macro.state.selected = %1; true").arg(bAt));
    if (bAt > 0) {
        QVERIFY(listKey(QStringLiteral("{key: 'ArrowUp', altKey: true}")));
        QCOMPARE(m_driver->evaluate(QStringLiteral("vexaModules.macro.state.items[%1].kind").arg(bAt - 1)).toString(), QStringLiteral("key"));
    }
    const int releaseAt = m_driver->evaluate(QStringLiteral("vexaModules.macro.state.items.findIndex((i) => i.kind === 'key' && !i.down)")).toInt();
    m_driver->evaluate(QStringLiteral("vexaModules.macro.state.selected = %1; true").arg(releaseAt));
    for (int i = 0; i < releaseAt + 1; ++i)
        QVERIFY(listKey(QStringLiteral("{key: 'ArrowUp', altKey: true}")));
    QCOMPARE(js(keys), QStringLiteral("+48 -48"));
    screenshot(QStringLiteral("macro-edited"));

    const QJsonArray expected = m_driver->evaluate(QStringLiteral("vexaModules.macro.encode(vexaModules.macro.state.items)")).toArray();
    QVERIFY(!QString::fromLatin1(QJsonDocument(expected).toJson(QJsonDocument::Compact)).contains(QLatin1String(",30,")));
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-result').dataset.tone = '';"
                                      "document.getElementById('macro-write').click()"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('macro-result').dataset.tone === 'ok'")));
    QVERIFY(js(QStringLiteral("document.getElementById('macro-result').textContent")).contains(QLatin1String("read back")));
    const QVector<int> onPad = padMemory(js(QStringLiteral("document.getElementById('macro-result').dataset.address")), expected.size());
    QCOMPARE(onPad.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(onPad.at(i), expected.at(i).toInt());
    // Written and read back: a new take throws nothing away, so it asks nothing.
    QCOMPARE(m_driver->evaluate(QStringLiteral("vexaModules.macro.state.unsaved")).toBool(), false);
}

// Over 2048 bytes: Enter in the form, Write and "Clear and write" (as a stale button would be
// pressed) are all refused on the page, and the stretch that held a macro still holds it.
void tst_E2eMacro::overLongMacroIsRefusedOnEveryPath()
{
    const QVector<int> before = padMemory(m_firstAt, 32);
    QVERIFY(before.size() == 32 && before.first() == 0x01);
    QVERIFY(take(QVector<unsigned>(350, 38)));
    const int size = m_driver->evaluate(QStringLiteral("vexaModules.macro.encode(vexaModules.macro.state.items).length")).toInt();
    QVERIFY2(size > 2048, qPrintable(QString::number(size)));

    const QStringList paths{
        QStringLiteral("document.getElementById('macro-address').dispatchEvent(new KeyboardEvent('keydown', {key: 'Enter', bubbles: true}))"),
        QStringLiteral("(() => { const b = document.getElementById('macro-write'); b.disabled = false; b.click(); })()"),
        QStringLiteral("(() => { const b = document.getElementById('macro-overwrite'); b.hidden = false; b.disabled = false; b.click(); })()"),
    };
    for (const QString &path : paths) {
        m_driver->evaluate(QStringLiteral("document.getElementById('macro-address').value = '3b00';"
                                          "document.getElementById('macro-result').dataset.tone = '';"
                                          "document.getElementById('macro-result').textContent = ''; true"));
        m_driver->evaluate(path + QStringLiteral("; true"));
        const bool enter = path == paths.first();
        if (enter)
            QTest::qWait(300); // a negative check (Enter may do nothing at all), so bounded
        else
            QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('macro-result').textContent !== ''"), 10000));
        const QString result = js(QStringLiteral("document.getElementById('macro-result').textContent"));
        // Enter presses the form's button, which a long take leaves disabled: nothing at all.
        QVERIFY2(enter ? (result.isEmpty() || result.contains(QLatin1String("Nothing was written")))
                       : result.contains(QLatin1String("Nothing was written")),
                 qPrintable(path + QStringLiteral(" → ") + result));
        QCOMPARE(padMemory(m_firstAt, 32), before);
    }
    // The size shows as a meter against the limit.
    QCOMPARE(m_driver->evaluate(QStringLiteral("document.getElementById('macro-write').disabled")).toBool(), true);
    QCOMPARE(m_driver->evaluate(QStringLiteral("document.getElementById('macro-size-warning').hidden")).toBool(), false);
    QCOMPARE(m_driver->evaluate(QStringLiteral("document.getElementById('macro-meter').dataset.over")).toString(), QStringLiteral("true"));
    QVERIFY(js(QStringLiteral("document.getElementById('macro-meter-text').textContent")).startsWith(QString::number(size) + QLatin1String(" of 2048")));
    screenshot(QStringLiteral("macro-too-long"));
}

// The raw memory form: what cannot be written as typed is refused with no question; the rest
// asks first, and the answer "write" ends with the bytes read back.
void tst_E2eMacro::rawMemoryWriteAsksAndReadsBack()
{
    m_driver->evaluate(QStringLiteral("location.hash = '#pads'"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("!document.getElementById('pad-detail').hidden"), 20000));
    const QString result = QStringLiteral("document.getElementById('mem-result').textContent");
    const auto write = [this](const QString &size, const QString &data, const QString &address = QStringLiteral("2b00")) {
        m_driver->evaluate(QStringLiteral("(() => { const set = (id, v) => { document.getElementById(id).value = v; };"
                                          " set('mem-address', %3); set('mem-size', %1); set('mem-data', %2);"
                                          " document.getElementById('mem-result').dataset.tone = '';"
                                          " document.getElementById('mem-write').click(); return true; })()")
                               .arg(VexaDriver::jsString(size), VexaDriver::jsString(data), VexaDriver::jsString(address)));
    };
    const QString threeThousand = QStringLiteral("ab ").repeated(3000).trimmed();
    for (const auto &[size, data, says] : std::initializer_list<std::tuple<QString, QString, QString>>{
             {QStringLiteral("8"), threeThousand, QStringLiteral("3000 bytes typed")},
             {QStringLiteral("8"), QStringLiteral("01 02 03"), QStringLiteral("Size says 8 bytes but 3 were typed")},
             {QStringLiteral("8"), QString(), QStringLiteral("Type the bytes to write")}}) {
        write(size, data);
        QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('mem-result').dataset.tone === 'bad'")));
        QVERIFY2(js(result).contains(says), qPrintable(js(result)));
        QCOMPARE(m_driver->evaluate(QStringLiteral("!!document.querySelector('dialog.ask')")).toBool(), false);
    }
    QCOMPARE(padMemory(QStringLiteral("2b00"), 8), QVector<int>(8, 0));

    write(QStringLiteral("3"), QStringLiteral("12 34 56"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("!!document.querySelector('dialog.ask[open]')")));
    QVERIFY(js(QStringLiteral("document.getElementById('ask-text').textContent")).contains(QLatin1String("address 2b00")));
    screenshot(QStringLiteral("pads-ask-write"));
    m_driver->evaluate(QStringLiteral("document.getElementById('ask-no').click(); true"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('mem-result').dataset.tone === 'warn'")));
    QCOMPARE(padMemory(QStringLiteral("2b00"), 3), QVector<int>(3, 0));

    // Over the profile block, the question says what would break.
    write(QStringLiteral("2"), QStringLiteral("00 00"), QStringLiteral("017f"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("!!document.querySelector('dialog.ask[open]')")));
    QVERIFY2(js(QStringLiteral("document.getElementById('ask-text').textContent")).contains(QLatin1String("the profile that Apply to pad wrote")),
             qPrintable(js(QStringLiteral("document.getElementById('ask-text').textContent"))));
    screenshot(QStringLiteral("pads-ask-block"));
    m_driver->evaluate(QStringLiteral("document.getElementById('ask-no').click(); true"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('mem-result').dataset.tone === 'warn'")));

    write(QStringLiteral("3"), QStringLiteral("12 34 56"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("!!document.querySelector('dialog.ask[open]')")));
    m_driver->evaluate(QStringLiteral("document.getElementById('ask-yes').click(); true"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('mem-result').dataset.tone === 'ok'")));
    QVERIFY2(js(result).contains(QLatin1String("read back the same")), qPrintable(js(result)));
    QCOMPARE(padMemory(QStringLiteral("2b00"), 3), (QVector<int>{0x12, 0x34, 0x56}));
    screenshot(QStringLiteral("pads-written"));
}

// The second pad is chosen, then unplugged: the picker keeps it (shown unplugged), the write is
// refused naming it, and the pad that stayed, first in the list now, receives nothing.
void tst_E2eMacro::writeAfterAnUnplugGoesToNoOtherPad()
{
    const char other[] = "7B00C0DE";
    QVERIFY(padctl({QStringLiteral("plug"), QStringLiteral("--id"), QLatin1String(other), QStringLiteral("--sn"), QStringLiteral("PX4272B")}));
    m_driver->evaluate(QStringLiteral("location.hash = '#macro'"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.querySelectorAll('#macro-pad option').length === 2"), 20000));
    // The over-long take before is cleared (it was never written, so Clear asks).
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-clear').click()"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("!!document.querySelector('dialog.ask[open]')")));
    m_driver->evaluate(QStringLiteral("document.getElementById('ask-yes').click(); true"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("vexaModules.macro.state.items.length === 0")));
    QVERIFY(take({38}));
    m_driver->evaluate(QStringLiteral("(() => { const s = document.getElementById('macro-pad'); s.value = '%1';"
                                      " s.dispatchEvent(new Event('change')); return true; })()").arg(QLatin1String(other)));
    // The start of the macro area on the pad that stays, where a write the page placed would go.
    const QVector<int> before = padMemory(QStringLiteral("0200"), 64);
    QCOMPARE(before.size(), 64);

    QVERIFY(padctl({QStringLiteral("unplug"), QLatin1String(other)}));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('macro-pad').dataset.unplugged === 'true'"), 20000));
    QCOMPARE(js(QStringLiteral("document.getElementById('macro-pad').value")), QLatin1String(other));
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-address').value = '3d00';"
                                      "document.getElementById('macro-write').click()"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('macro-result').dataset.tone === 'bad'")));
    QVERIFY2(js(QStringLiteral("document.getElementById('macro-result').textContent")).contains(QLatin1String("PX4272B is unplugged")),
             qPrintable(js(QStringLiteral("document.getElementById('macro-result').textContent"))));
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-pad').scrollIntoView({block: 'start'}); true"));
    screenshot(QStringLiteral("macro-pad-unplugged"));
    QCOMPARE(padMemory(QStringLiteral("0200"), 64), before);

    // Back again, the same pad takes the write, and the line names it.
    QVERIFY(padctl({QStringLiteral("plug"), QStringLiteral("--id"), QLatin1String(other), QStringLiteral("--sn"), QStringLiteral("PX4272B")}));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('macro-pad').dataset.unplugged === 'false'"), 20000));
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-write').click()"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('macro-result').dataset.tone === 'ok'")));
    const QString written = js(QStringLiteral("document.getElementById('macro-result').textContent"));
    // A pad the catalogue does not know is named by its serial, as on every screen.
    QVERIFY2(written.contains(QStringLiteral("Written to Unknown pad · PX4272B.")), qPrintable(written));
    QCOMPARE(padMemory(QStringLiteral("0200"), 64), before);
    // Where the page put it in the macro area.
    const QString at = js(QStringLiteral("document.getElementById('macro-result').dataset.address"));
    QVERIFY2(!at.isEmpty(), "the write names no address");
    QCOMPARE(padMemory(at, 1, other), QVector<int>{0x01});
}

QTEST_GUILESS_MAIN(tst_E2eMacro)
#include "tst_e2e_macro.moc"
