// Global shortcuts: the key and modifier tables with the identifier rule on their own, then real
// grabs on the X server of DISPLAY, pressed through XTest.
#include "hotkey_codes.h"
#include "missing_tool.h"
#include "qxtglobalshortcut.h"
#include "qxtglobalshortcut_p.h"

#include <QtTest>
#include <QX11Info>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef Bool
#undef KeyPress
#undef None
#undef Status

#include <memory>

namespace {

struct DisplayCloser {
    void operator()(Display *display) const { XCloseDisplay(display); }
};

// A client of its own, as another program would be.
std::unique_ptr<Display, DisplayCloser> otherClient()
{
    return std::unique_ptr<Display, DisplayCloser>(XOpenDisplay(nullptr));
}

// Presses and releases the combination: modifiers down, key down and up, modifiers up.
void press(const QVector<KeySym> &modifiers, KeySym key)
{
    auto display = otherClient();
    QVERIFY(display);
    Display *d = display.get();
    for (KeySym modifier : modifiers)
        XTestFakeKeyEvent(d, XKeysymToKeycode(d, modifier), True, 0);
    XTestFakeKeyEvent(d, XKeysymToKeycode(d, key), True, 0);
    XTestFakeKeyEvent(d, XKeysymToKeycode(d, key), False, 0);
    for (auto it = modifiers.crbegin(); it != modifiers.crend(); ++it)
        XTestFakeKeyEvent(d, XKeysymToKeycode(d, *it), False, 0);
    XSync(d, False);
}

// Presses a combination of its own after whatever was pressed before: once its activation is
// here, the server has delivered every earlier key event, so a shortcut that has not fired by
// then never will. Replaces waiting a while for something that must not happen.
bool pressedKeysHaveArrived()
{
    QxtGlobalShortcut barrier;
    if (!barrier.setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F12")))) {
        qWarning("the marker combination is taken by another client of the X server");
        return false;
    }
    QSignalSpy arrived(&barrier, &QxtGlobalShortcut::activated);
    press({XK_Control_L, XK_Alt_L, XK_Shift_L}, XK_F12);
    return arrived.count() > 0 || arrived.wait(5000);
}

int g_xError = 0;
int recordXError(Display *, XErrorEvent *event)
{
    g_xError = event->error_code;
    return 0;
}

// Whether another client could take the combination right now (it lets go at once).
bool otherClientCanGrab(KeySym key, unsigned int mask)
{
    auto display = otherClient();
    Display *d = display.get();
    g_xError = 0;
    XErrorHandler previous = XSetErrorHandler(recordXError);
    XGrabKey(d, XKeysymToKeycode(d, key), mask, DefaultRootWindow(d), True, GrabModeAsync, GrabModeAsync);
    XSync(d, False);
    XUngrabKey(d, XKeysymToKeycode(d, key), mask, DefaultRootWindow(d));
    XSync(d, False);
    XSetErrorHandler(previous);
    return g_xError == 0;
}

void tap(KeySym key)
{
    press({}, key);
}

const QVector<KeySym> kCtrlAltShift{XK_Control_L, XK_Alt_L, XK_Shift_L};

} // namespace

class TestQxtGlobalShortcut : public QObject {
    Q_OBJECT

private slots:
    void nativeCodes_data();
    void nativeCodes();
    void versionAndInterface();

    void pressEmitsActivated();
    void pressCountsWithCapsAndNumLock();
    void disabledKeepsTheGrabButStaysQuiet();
    void sameCombinationTwiceFailsTheSecondTime();
    void combinationHeldByAnotherClientFails();
    void changingTheShortcutReleasesTheOldOne();
    void clearedShortcutHoldsNothing();
    void filterOutlivesTheFirstShortcutAndGoesWithTheLast();

private:
    bool haveX11();
};

bool TestQxtGlobalShortcut::haveX11()
{
    return QX11Info::isPlatformX11();
}

void TestQxtGlobalShortcut::nativeCodes_data()
{
    QTest::addColumn<QString>("setting"); // the settings file's text form
    QTest::addColumn<quint32>("key");
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<int>("id");
    QTest::newRow("Ctrl+Alt+K") << "Ctrl+Alt+K" << 75u << 3u << 72;
    QTest::newRow("Ctrl+Alt+T") << "Ctrl+Alt+T" << 84u << 3u << 87;
    QTest::newRow("every modifier") << "Ctrl+Alt+Shift+Meta+Z" << 90u << 15u << 85;
    QTest::newRow("digit") << "Shift+0" << 48u << 4u << 52;
    QTest::newRow("space") << "Meta+Space" << 32u << 8u << 40;
    QTest::newRow("keypad multiply") << "Ctrl+*" << 106u << 2u << 104;
    QTest::newRow("keypad add") << "Ctrl++" << 107u << 2u << 105;
    QTest::newRow("keypad separator") << "Ctrl+," << 108u << 2u << 110;
    QTest::newRow("keypad subtract") << "Ctrl+-" << 109u << 2u << 111;
    QTest::newRow("keypad divide") << "Ctrl+/" << 111u << 2u << 109;
    QTest::newRow("backtab as tab") << "Alt+Backtab" << 9u << 1u << 8;
    QTest::newRow("enter as return") << "Ctrl+Enter" << 13u << 2u << 15;
    QTest::newRow("F1") << "Shift+F1" << 112u << 4u << 116;
    QTest::newRow("F24") << "F24" << 135u << 0u << 135;
    QTest::newRow("page down") << "PgDown" << 34u << 0u << 34;
    QTest::newRow("print") << "Print" << 42u << 0u << 42;
    QTest::newRow("volume down") << "Volume Down" << 174u << 0u << 174;
    QTest::newRow("media previous") << "Media Previous" << 177u << 0u << 177;
    QTest::newRow("no native key") << "Ctrl+F35" << 0u << 2u << 2;
    QTest::newRow("letter outside A-Z") << "Alt+Ä" << 0u << 1u << 1;
}

void TestQxtGlobalShortcut::nativeCodes()
{
    QFETCH(QString, setting);
    QFETCH(quint32, key);
    QFETCH(quint32, flags);
    QFETCH(int, id);
    const QKeySequence sequence(setting, QKeySequence::NativeText);
    QVERIFY2(!sequence.isEmpty(), qPrintable(setting));
    const quint32 combination = quint32(sequence[0]);
    QCOMPARE(hotkey_codes::nativeKey(combination & ~hotkey_codes::kModifierBits), key);
    QCOMPARE(hotkey_codes::nativeFlags(combination & hotkey_codes::kModifierBits), flags);
    QCOMPARE(hotkey_codes::hotKeyId(key, flags), id);
}

void TestQxtGlobalShortcut::versionAndInterface()
{
    QCOMPARE(QByteArray(qxtVersion()), QByteArray("0.7.0"));
    const QMetaObject &meta = QxtGlobalShortcut::staticMetaObject;
    QVERIFY(meta.indexOfSignal("activated()") >= 0);
    for (const char *slot : {"setEnabled(bool)", "setEnabled()", "setDisabled(bool)", "setDisabled()"})
        QVERIFY2(meta.indexOfSlot(slot) >= 0, slot);
    QVERIFY(meta.indexOfProperty("enabled") >= 0);
    QVERIFY(meta.indexOfProperty("shortcut") >= 0);

    // The sequence is kept even when it cannot be registered.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^QxtGlobalShortcut failed to register: "));
    QxtGlobalShortcut shortcut;
    QVERIFY(!shortcut.setShortcut(QKeySequence(QStringLiteral("Ctrl+F35"))));
    QCOMPARE(shortcut.shortcut(), QKeySequence(QStringLiteral("Ctrl+F35")));
    QMetaObject::invokeMethod(&shortcut, "setDisabled");
    QVERIFY(!shortcut.isEnabled());
    QMetaObject::invokeMethod(&shortcut, "setEnabled");
    QVERIFY(shortcut.isEnabled());
}

void TestQxtGlobalShortcut::pressEmitsActivated()
{
    if (!haveX11())
        VEXA_SKIP_WITHOUT_TOOL("needs an X display");
    QxtGlobalShortcut shortcut;
    QVERIFY(shortcut.setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F7"))));
    QSignalSpy spy(&shortcut, &QxtGlobalShortcut::activated);
    press(kCtrlAltShift, XK_F7);
    QTRY_COMPARE(spy.count(), 1);
    // Another combination of the same key is not ours.
    press({XK_Control_L, XK_Alt_L}, XK_F7);
    QVERIFY(pressedKeysHaveArrived());
    QCOMPARE(spy.count(), 1);
}

void TestQxtGlobalShortcut::pressCountsWithCapsAndNumLock()
{
    if (!haveX11())
        VEXA_SKIP_WITHOUT_TOOL("needs an X display");
    QxtGlobalShortcut shortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F6")));
    QVERIFY(shortcut.isEnabled());
    QSignalSpy spy(&shortcut, &QxtGlobalShortcut::activated);
    tap(XK_Caps_Lock);
    press(kCtrlAltShift, XK_F6);
    tap(XK_Caps_Lock);
    QTRY_COMPARE(spy.count(), 1);
    tap(XK_Num_Lock);
    press(kCtrlAltShift, XK_F6);
    tap(XK_Num_Lock);
    QTRY_COMPARE(spy.count(), 2);
}

void TestQxtGlobalShortcut::disabledKeepsTheGrabButStaysQuiet()
{
    if (!haveX11())
        VEXA_SKIP_WITHOUT_TOOL("needs an X display");
    QxtGlobalShortcut shortcut;
    QVERIFY(shortcut.setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F5"))));
    QSignalSpy spy(&shortcut, &QxtGlobalShortcut::activated);
    shortcut.setDisabled();
    press(kCtrlAltShift, XK_F5);
    QVERIFY(pressedKeysHaveArrived());
    QCOMPARE(spy.count(), 0);
    // Still reserved: nobody else gets it.
    QVERIFY(!otherClientCanGrab(XK_F5, ControlMask | Mod1Mask | ShiftMask));
    shortcut.setEnabled();
    press(kCtrlAltShift, XK_F5);
    QTRY_COMPARE(spy.count(), 1);
}

void TestQxtGlobalShortcut::sameCombinationTwiceFailsTheSecondTime()
{
    if (!haveX11())
        VEXA_SKIP_WITHOUT_TOOL("needs an X display");
    QxtGlobalShortcut first;
    QVERIFY(first.setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F4"))));
    QSignalSpy firstSpy(&first, &QxtGlobalShortcut::activated);
    {
        QxtGlobalShortcut second;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^QxtGlobalShortcut failed to register: .*F4$"));
        QVERIFY(!second.setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F4"))));
        // Going away, the second one must leave the first one's registration alone.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^QxtGlobalShortcut failed to unregister: .*F4$"));
    }
    press(kCtrlAltShift, XK_F4);
    QTRY_COMPARE(firstSpy.count(), 1);
}

void TestQxtGlobalShortcut::combinationHeldByAnotherClientFails()
{
    if (!haveX11())
        VEXA_SKIP_WITHOUT_TOOL("needs an X display");
    auto display = otherClient();
    QVERIFY(display);
    Display *d = display.get();
    const KeyCode code = XKeysymToKeycode(d, XK_F3);
    XGrabKey(d, code, ControlMask | Mod1Mask | ShiftMask, DefaultRootWindow(d), True, GrabModeAsync, GrabModeAsync);
    XSync(d, False);

    QxtGlobalShortcut shortcut;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^QxtGlobalShortcut failed to register: "));
    QVERIFY(!shortcut.setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F3"))));

    // Once the other program lets go, the combination can be had.
    XUngrabKey(d, code, ControlMask | Mod1Mask | ShiftMask, DefaultRootWindow(d));
    XSync(d, False);
    QVERIFY(shortcut.setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F3"))));
    QSignalSpy spy(&shortcut, &QxtGlobalShortcut::activated);
    press(kCtrlAltShift, XK_F3);
    QTRY_COMPARE(spy.count(), 1);
}

void TestQxtGlobalShortcut::changingTheShortcutReleasesTheOldOne()
{
    if (!haveX11())
        VEXA_SKIP_WITHOUT_TOOL("needs an X display");
    QxtGlobalShortcut shortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F2")));
    QVERIFY(shortcut.setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F1"))));
    QVERIFY(!otherClientCanGrab(XK_F1, ControlMask | Mod1Mask | ShiftMask | LockMask));
    QxtGlobalShortcut other;
    QVERIFY(other.setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F2"))));
    QSignalSpy spy(&shortcut, &QxtGlobalShortcut::activated);
    QSignalSpy otherSpy(&other, &QxtGlobalShortcut::activated);
    press(kCtrlAltShift, XK_F2);
    QTRY_COMPARE(otherSpy.count(), 1);
    QCOMPARE(spy.count(), 0);
}

// An empty setting is the user's "no shortcut": the old combination is let go, nothing else is
// tried (no warning of a failed registration), and other programs may have the combination.
void TestQxtGlobalShortcut::clearedShortcutHoldsNothing()
{
    if (!haveX11())
        VEXA_SKIP_WITHOUT_TOOL("needs an X display");
    QxtGlobalShortcut shortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F3")));
    QVERIFY(!otherClientCanGrab(XK_F3, ControlMask | Mod1Mask | ShiftMask));
    static int warnings;
    warnings = 0;
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &) {
        if (type == QtWarningMsg)
            ++warnings;
    });
    const bool registered = shortcut.setShortcut(QKeySequence());
    qInstallMessageHandler(previous);
    QVERIFY(!registered);
    QCOMPARE(warnings, 0);
    QVERIFY(shortcut.shortcut().isEmpty());
    QVERIFY(otherClientCanGrab(XK_F3, ControlMask | Mod1Mask | ShiftMask));
}

void TestQxtGlobalShortcut::filterOutlivesTheFirstShortcutAndGoesWithTheLast()
{
    if (!haveX11())
        VEXA_SKIP_WITHOUT_TOOL("needs an X display");
    QVERIFY(!QxtGlobalShortcutPrivate::isFilterInstalled());
    auto *first = new QxtGlobalShortcut;
    QVERIFY(QxtGlobalShortcutPrivate::isFilterInstalled());
    auto *second = new QxtGlobalShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F9")));
    QSignalSpy spy(second, &QxtGlobalShortcut::activated);
    delete first;
    QVERIFY(QxtGlobalShortcutPrivate::isFilterInstalled());
    press(kCtrlAltShift, XK_F9);
    QTRY_COMPARE(spy.count(), 1);
    delete second;
    QVERIFY(!QxtGlobalShortcutPrivate::isFilterInstalled());
    // Released with the object, Caps Lock variant included.
    QVERIFY(otherClientCanGrab(XK_F9, ControlMask | Mod1Mask | ShiftMask));
    QVERIFY(otherClientCanGrab(XK_F9, ControlMask | Mod1Mask | ShiftMask | LockMask));
}

QTEST_MAIN(TestQxtGlobalShortcut)
#include "tst_qxtglobalshortcut.moc"
