// The Macros screen of the real program: keys typed on the X server while the page records
// show up as items, and the macro written from the page lands in the virtual pad's memory.
// Runs on a private X server so that its keys reach nobody else.
#include "private_display.h"
#include "vexa_driver.h"

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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

private:
    void key(unsigned keyCode, bool down);
    QVector<int> padMemory(const QString &address, int size);
    QString js(const QString &expression) { return m_driver->evaluate(expression).toVariant().toString(); }

    PrivateDisplay m_display;
    QTemporaryDir m_home;
    Display *m_x = nullptr;
    std::unique_ptr<VexaDriver> m_driver;
};

void tst_E2eMacro::initTestCase()
{
    if (!m_display.start())
        QSKIP("needs Xvfb for a private X server");
    if (!QFile::exists(QStringLiteral(VEXA_APP_DIR "/padctl")))
        QSKIP("the virtual pad library and padctl are not built");
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

QVector<int> tst_E2eMacro::padMemory(const QString &address, int size)
{
    QProcess tool;
    tool.start(QStringLiteral(VEXA_APP_DIR "/padctl"),
               {QStringLiteral("mem"), QLatin1String(kPadId), address, QString::number(size)});
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
    QTest::qWait(50);
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
    QTest::qWait(300);
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

    m_driver->evaluate(QStringLiteral("document.getElementById('macro-address').value = '3b00';"
                                      "document.getElementById('macro-write').click()"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('macro-result').dataset.tone === 'ok'")));
    QVector<int> onPad = padMemory(QStringLiteral("3b00"), expected.size());
    QCOMPARE(onPad.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(onPad.at(i), expected.at(i).toInt());

    // The stretch is taken now: nothing is written until the user asks to clear it first.
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-write').click()"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('macro-result').dataset.tone === 'warn'")));
    QCOMPARE(m_driver->evaluate(QStringLiteral("document.getElementById('macro-overwrite').hidden")).toBool(), false);
    m_driver->evaluate(QStringLiteral("document.getElementById('macro-overwrite').click()"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('macro-result').dataset.tone === 'ok'")));
    onPad = padMemory(QStringLiteral("3b00"), expected.size());
    QCOMPARE(onPad.size(), expected.size());
    QCOMPARE(onPad.first(), 0x01);
}

QTEST_GUILESS_MAIN(tst_E2eMacro)
#include "tst_e2e_macro.moc"
