// The desktop features away from X11 (here the offscreen platform, no DISPLAY): every one of them
// answers as unavailable without touching X, and the log tells each of them once.
#include "global_hotkeys.h"
#include "key_capture.h"
#include "mouse_settings.h"
#include "window_ops.h"
#include "window_search.h"
#include "window_system.h"

#include <QtTest>

namespace {

QStringList g_messages;
QtMessageHandler g_previous = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (qstrcmp(context.category, "vexa.platform") == 0)
        g_messages << message;
    else
        g_previous(type, context, message);
}

int countContaining(const QString &text)
{
    int count = 0;
    for (const QString &message : qAsConst(g_messages))
        count += message.contains(text) ? 1 : 0;
    return count;
}

} // namespace

class TestDesktopBackend : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void withoutX11_everyFeatureAnswersUnavailableAndTheLogSaysSoOnce();
};

void TestDesktopBackend::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    QLoggingCategory::setFilterRules(QStringLiteral("vexa.platform.info=true\nvexa.platform.warning=true"));
    g_previous = qInstallMessageHandler(collect);
}

void TestDesktopBackend::cleanupTestCase()
{
    qInstallMessageHandler(g_previous);
}

void TestDesktopBackend::withoutX11_everyFeatureAnswersUnavailableAndTheLogSaysSoOnce()
{
    QCOMPARE(platform::windowSystem(), platform::WindowSystem::None);

    for (int round = 0; round < 2; ++round) {
        const platform::HotKey hotKey{1, 'A', 2};
        QVERIFY(!platform::registerHotKey(hotKey));
        QVERIFY(!platform::unregisterHotKey(hotKey));
        // An event shaped like an X key press must not be taken for a hot key.
        char press[32] = {2};
        quint32 key = 0, flags = 0;
        QVERIFY(!platform::hotKeyPress("xcb_generic_event_t", press, &key, &flags));

        std::unique_ptr<KeyCapture> capture = KeyCapture::create();
        QVERIFY(capture);
        bool delivered = false;
        QVERIFY(!capture->start([&](const CapturedKey &) { delivered = true; }));
        QVERIFY(!capture->isRunning());
        capture->stop();

        QVERIFY(platform::topLevelWindows().isEmpty());
        QVERIFY(!platform::foregroundWindow(1));
        QVERIFY(!MouseSettings::setPointerSpeed(10));
        QVERIFY(!delivered);
    }

    // Qt's own part still works: the work area and the program's own mouse hints.
    QVERIFY(!WindowOps::workArea().isEmpty());
    QVERIFY(MouseSettings::setWheelScrollLines(5));

    QCOMPARE(countContaining(QStringLiteral("desktop backend: none")), 1);
    for (const char *feature : {"global hot keys", "key capture", "top-level windows", "pointer speed"})
        QVERIFY2(countContaining(QLatin1String(feature) + QStringLiteral(": not available on the Qt platform "
                                                                          "\"offscreen\"")) == 1,
                 qPrintable(g_messages.join(QLatin1Char('\n'))));
    // One line for the pick, one for each feature asked for; nothing about the work area, which
    // Qt answers by itself on one screen.
    QCOMPARE(g_messages.size(), 5);
}

QTEST_MAIN(TestDesktopBackend)
#include "tst_desktop_backend.moc"
