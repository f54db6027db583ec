// The macro recorder on a real X server: keys typed through XTest, items as the page gets them.
#include "command_test_support.h"
#include "hook_handler.h"
#include "key_capture.h"
#include "missing_tool.h"
#include "private_display.h"

#include <QtTest>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/record.h>
#undef Bool
#undef KeyPress
#undef KeyRelease
#undef None
#undef Status

class TestHookHandler : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void sequences_data();
    void sequences();
    void pauses_data();
    void pauses();
    void captureThatCannotStartRecordsNothing();

private:
    void key(unsigned keyCode, bool down);
    bool keysHaveArrived();
    void run(const QString &script);
    // Items with the pause values left out ("2 ~ 0 0"), and the pauses themselves.
    QStringList shapes() const;
    QList<qint64> pauseValues() const;

    PrivateDisplay m_display;
    Display *m_x = nullptr;
    MacroRecorder m_recorder{nullptr};
    QList<QStringList> m_items;
    QSet<unsigned> m_down;
};

void TestHookHandler::initTestCase()
{
    if (!m_display.start() && qEnvironmentVariableIsEmpty("DISPLAY"))
        VEXA_SKIP_WITHOUT_TOOL("needs Xvfb or an X display");
    m_x = XOpenDisplay(nullptr);
    QVERIFY(m_x);
    int eventBase, errorBase, major, minor;
    if (!XTestQueryExtension(m_x, &eventBase, &errorBase, &major, &minor) || !XRecordQueryVersion(m_x, &major, &minor))
        VEXA_SKIP_WITHOUT_TOOL("the X server lacks XTEST or RECORD");
    m_recorder.setItemSink([this](const QString &a, const QString &b, const QString &c, const QString &d) {
        m_items.append({a, b, c, d});
    });
}

void TestHookHandler::cleanupTestCase()
{
    m_recorder.stopRecording();
        if (m_x)
        XCloseDisplay(m_x);
}

void TestHookHandler::init()
{
    m_items.clear();
}

void TestHookHandler::cleanup()
{
    // Let every key go while still recording so that no test leaves a held key behind.
    if (!m_down.isEmpty()) {
        if (!m_recorder.isRecording())
            m_recorder.startRecording();
        for (unsigned keyCode : QSet<unsigned>(m_down))
            key(keyCode, false);
        QVERIFY(keysHaveArrived());
    }
    m_recorder.stopRecording();
}

void TestHookHandler::key(unsigned keyCode, bool down)
{
    XTestFakeKeyEvent(m_x, keyCode, down ? 1 : 0, 0);
    XSync(m_x, 0);
    if (down)
        m_down.insert(keyCode);
    else
        m_down.remove(keyCode);
}

// Keys typed so far have reached the recorder once a key typed after them has: the server hands
// them over in order. The marker key ("q", scan code 16, typed by no case) and the pause before
// each of its items are taken out of the items again. Only while recording.
bool TestHookHandler::keysHaveArrived()
{
    constexpr unsigned kMarkerKeyCode = 24;
    const auto isMarker = [](const QStringList &item) {
        return item.at(0) == QLatin1String("0") && item.at(2) == QLatin1String("16");
    };
    key(kMarkerKeyCode, true);
    key(kMarkerKeyCode, false);
    const bool arrived = QTest::qWaitFor(
        [&] { return !m_items.isEmpty() && isMarker(m_items.last()) && m_items.last().at(1) == QLatin1String("0"); }, 10000);
    for (int i = m_items.size() - 1; i >= 0; --i) {
        if (!isMarker(m_items.at(i)))
            continue;
        m_items.removeAt(i);
        if (i > 0 && m_items.at(i - 1).at(0) == QLatin1String("2"))
            m_items.removeAt(--i);
    }
    return arrived;
}

// Steps: "start", "stop", "d<keycode>" press, "u<keycode>" release, "w<ms>" a key held or a pause
// between keys for that long (a duration the recorder measures, not a wait for it).
void TestHookHandler::run(const QString &script)
{
    for (const QString &step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (step == QLatin1String("start")) {
            m_recorder.startRecording();
            QVERIFY(m_recorder.isRecording());
        } else if (step == QLatin1String("stop")) {
            // What is on its way is delivered before the capture ends.
            QVERIFY(!m_recorder.isRecording() || keysHaveArrived());
            m_recorder.stopRecording();
        } else if (step.startsWith(QLatin1Char('d')) || step.startsWith(QLatin1Char('u'))) {
            key(step.mid(1).toUInt(), step.startsWith(QLatin1Char('d')));
        } else if (step.startsWith(QLatin1Char('w'))) {
            QTest::qWait(step.mid(1).toInt());
        } else {
            QFAIL(qPrintable(QStringLiteral("bad step ") + step));
        }
    }
}

QStringList TestHookHandler::shapes() const
{
    QStringList out;
    for (const QStringList &item : m_items)
        out.append(item.at(0) == QLatin1String("2") ? QStringLiteral("2 ~ %1 %2").arg(item.at(2), item.at(3))
                                                    : item.join(QLatin1Char(' ')));
    return out;
}

QList<qint64> TestHookHandler::pauseValues() const
{
    QList<qint64> out;
    for (const QStringList &item : m_items) {
        if (item.at(0) == QLatin1String("2")) {
            bool ok = false;
            out.append(item.at(1).toLongLong(&ok));
            if (!ok)
                out.last() = -1;
        }
    }
    return out;
}

void TestHookHandler::sequences_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("expected");

    const QStringList aTyped = {"0 1 30 0", "2 ~ 0 0", "0 0 30 0"};
    QTest::newRow("press and release right after start") << "start d38 u38" << aTyped;
    // The server repeats a held key after 660 ms (XTest's own second press of a held key is
    // dropped by the server, so only holding makes repeats).
    QTest::newRow("auto-repeat gives one down item") << "start d38 w1000 u38" << aTyped;
    QTest::newRow("extended key") << "start d113 u113" << QStringList{"0 1 75 1", "2 ~ 0 0", "0 0 75 1"};
    QTest::newRow("left and right Ctrl are two keys")
        << "start d37 d105 u105 u37"
        << QStringList{"0 1 29 0", "2 ~ 0 0", "0 1 29 1", "2 ~ 0 0", "0 0 29 1", "2 ~ 0 0", "0 0 29 0"};
    // "/" and keypad "/" share 0x35 and repeat (Ctrl does not): "/" pressed second replaces the
    // held flag, so its repeats are dropped; keypad "/" let go forgets the code, so the next
    // repeat of "/" counts as a press.
    QTest::newRow("a release forgets the shared code")
        << "start d106 d61 w900 u106 w300 u61"
        << QStringList{"0 1 53 1", "2 ~ 0 0", "0 1 53 0", "2 ~ 0 0", "0 0 53 1",
                       "2 ~ 0 0",  "0 1 53 0", "2 ~ 0 0", "0 0 53 0"};
    QTest::newRow("key held before the start") << "d38 start u38" << QStringList{"2 ~ 0 0", "0 0 30 0"};
    QTest::newRow("second start keeps one capture") << "start start d38 u38" << aTyped;
    QTest::newRow("nothing after stop") << "start d38 u38 stop d38 u38" << aTyped;
    // A key still held at the stop stays held: its repeats in the next recording are dropped.
    QTest::newRow("held across a restart") << "start d38 stop start d38 w30 d38 u38" << aTyped;
    QTest::newRow("keys without a scan code are left out") << "start d255 u255 d38 u38" << aTyped;
}

void TestHookHandler::sequences()
{
    QFETCH(QString, script);
    QFETCH(QStringList, expected);
    run(script);
    // Everything typed is in once the marker is (a stopped recorder was drained as it stopped).
    if (m_recorder.isRecording())
        QVERIFY(keysHaveArrived());
    QCOMPARE(shapes(), expected);
    for (qint64 pause : pauseValues())
        QVERIFY2(pause >= 0 && pause < 10000, qPrintable(QString::number(pause)));
}

void TestHookHandler::pauses_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("pauseIndex");
    QTest::addColumn<int>("atLeastMs");
    QTest::addColumn<int>("items");

    // A pause is timed when each key reaches the recorder, so a key handled late (a loaded
    // machine, a sanitizer build) shortens the pause after it: the waits leave room for that
    // above the bound (200 ms waits once gave 188 ms).
    QTest::newRow("between press and release") << "start d38 w300 u38" << 0 << 190 << 3;
    QTest::newRow("between two keys") << "start d38 u38 w300 d37 u37" << 1 << 190 << 7;
    QTest::newRow("a held key's release counts from the start") << "d38 start w300 u38" << 0 << 190 << 2;
    QTest::newRow("the first press after a start has no pause") << "start w200 d38 u38" << 0 << 0 << 3;
}

void TestHookHandler::pauses()
{
    QFETCH(QString, script);
    QFETCH(int, pauseIndex);
    QFETCH(int, atLeastMs);
    QFETCH(int, items);
    run(script);
    QTRY_COMPARE(m_items.size(), items);
    const QList<qint64> found = pauseValues();
    QVERIFY(pauseIndex < found.size());
    QVERIFY2(found.at(pauseIndex) >= atLeastMs && found.at(pauseIndex) < atLeastMs + 2000,
             qPrintable(QString::number(found.at(pauseIndex))));
    if (atLeastMs == 0) // taken right after the press: no time has passed since
        QVERIFY2(found.at(pauseIndex) < 150, qPrintable(QString::number(found.at(pauseIndex))));
}

void TestHookHandler::captureThatCannotStartRecordsNothing()
{
    run(QStringLiteral("start"));
    CommandRegistry commands;
    registerRecorderCommands(commands, m_recorder);
    const QByteArray display = qgetenv("DISPLAY");
    qputenv("DISPLAY", ":1999"); // no such server
    // The page must not wait for keys that cannot come.
    const QStringList replies = runCommand(commands, QStringLiteral(R"({"funcname":"startRecord"})"));
    qputenv("DISPLAY", display);
    QCOMPARE(replies, QStringList{QStringLiteral("failure:0:startRecord failed!")});
    QVERIFY(!m_recorder.isRecording());
    // A negative check, so a bounded wait: a capture left running would deliver these by then.
    run(QStringLiteral("d38 u38 w200"));
    QCOMPARE(m_items.size(), 0);
}

QTEST_GUILESS_MAIN(TestHookHandler)
#include "tst_hook_handler.moc"
