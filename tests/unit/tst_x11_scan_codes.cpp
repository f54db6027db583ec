// X key codes (evdev numbering) → the scan code and extended flag a Windows keyboard reports for
// the same key; a macro recorded here must play back the same keys on the pad.
#include "x11_scan_codes.h"

#include <QSet>
#include <QtTest>

class TestX11ScanCodes : public QObject {
    Q_OBJECT

private slots:
    void mapped_data();
    void mapped();
    void unmapped_data();
    void unmapped();
    void noTwoKeysShareACode();
};

void TestX11ScanCodes::mapped_data()
{
    QTest::addColumn<unsigned>("keyCode");
    QTest::addColumn<unsigned>("scanCode");
    QTest::addColumn<bool>("extended");

    QTest::newRow("Escape") << 9u << 0x01u << false;
    QTest::newRow("A") << 38u << 0x1eu << false;
    QTest::newRow("Backspace") << 22u << 0x0eu << false;
    QTest::newRow("keypad .") << 91u << 0x53u << false;
    QTest::newRow("F11") << 95u << 0x57u << false;
    QTest::newRow("F12") << 96u << 0x58u << false;
    QTest::newRow("ISO extra key") << 94u << 0x56u << false;
    // Pairs that share a code and differ only in the flag.
    QTest::newRow("left Ctrl") << 37u << 0x1du << false;
    QTest::newRow("right Ctrl") << 105u << 0x1du << true;
    QTest::newRow("left Alt") << 64u << 0x38u << false;
    QTest::newRow("right Alt") << 108u << 0x38u << true;
    QTest::newRow("Return") << 36u << 0x1cu << false;
    QTest::newRow("keypad Enter") << 104u << 0x1cu << true;
    QTest::newRow("/") << 61u << 0x35u << false;
    QTest::newRow("keypad /") << 106u << 0x35u << true;
    QTest::newRow("keypad *") << 63u << 0x37u << false;
    QTest::newRow("Print Screen") << 107u << 0x37u << true;
    QTest::newRow("keypad 8") << 80u << 0x48u << false;
    QTest::newRow("Up") << 111u << 0x48u << true;
    QTest::newRow("keypad 4") << 83u << 0x4bu << false;
    QTest::newRow("Left") << 113u << 0x4bu << true;
    QTest::newRow("Right") << 114u << 0x4du << true;
    QTest::newRow("Down") << 116u << 0x50u << true;
    QTest::newRow("Home") << 110u << 0x47u << true;
    QTest::newRow("End") << 115u << 0x4fu << true;
    QTest::newRow("Page Up") << 112u << 0x49u << true;
    QTest::newRow("Page Down") << 117u << 0x51u << true;
    QTest::newRow("Insert") << 118u << 0x52u << true;
    QTest::newRow("Delete") << 119u << 0x53u << true;
    QTest::newRow("left Windows") << 133u << 0x5bu << true;
    QTest::newRow("right Windows") << 134u << 0x5cu << true;
    QTest::newRow("Menu") << 135u << 0x5du << true;
    QTest::newRow("Num Lock") << 77u << 0x45u << true;
    QTest::newRow("Pause") << 127u << 0x45u << false;
    QTest::newRow("F13") << 191u << 0x64u << false;
    QTest::newRow("F24") << 202u << 0x76u << false;
    QTest::newRow("Mute") << 121u << 0x20u << true;
}

void TestX11ScanCodes::mapped()
{
    QFETCH(unsigned, keyCode);
    QFETCH(unsigned, scanCode);
    QFETCH(bool, extended);
    CapturedKey key;
    key.extended = !extended;
    QVERIFY(X11ScanCodes::fromKeyCode(keyCode, &key));
    QCOMPARE(key.scanCode, scanCode);
    QCOMPARE(key.extended, extended);
}

void TestX11ScanCodes::unmapped_data()
{
    QTest::addColumn<unsigned>("keyCode");
    QTest::newRow("0") << 0u;
    QTest::newRow("below the evdev range") << 8u;
    QTest::newRow("unassigned evdev 84") << 92u;
    QTest::newRow("last") << 255u;
    QTest::newRow("beyond a byte") << 256u;
    QTest::newRow("huge") << 0xffffffffu;
}

void TestX11ScanCodes::unmapped()
{
    QFETCH(unsigned, keyCode);
    CapturedKey key;
    QVERIFY(!X11ScanCodes::fromKeyCode(keyCode, &key));
    QCOMPARE(key.scanCode, 0u);
}

void TestX11ScanCodes::noTwoKeysShareACode()
{
    // Two X keys with one scan code and flag would play back as the same key on the pad.
    QHash<unsigned, unsigned> owner; // scan code | extended << 8 → X key code
    for (unsigned keyCode = 0; keyCode < 256; ++keyCode) {
        CapturedKey key;
        if (!X11ScanCodes::fromKeyCode(keyCode, &key))
            continue;
        QVERIFY(key.scanCode > 0 && key.scanCode < 0x80);
        const unsigned code = key.scanCode | (key.extended ? 0x100u : 0u);
        QVERIFY2(!owner.contains(code),
                 qPrintable(QStringLiteral("key codes %1 and %2 share 0x%3").arg(owner.value(code)).arg(keyCode).arg(code, 0, 16)));
        owner.insert(code, keyCode);
    }
    QVERIFY(owner.size() > 100);
}

QTEST_GUILESS_MAIN(TestX11ScanCodes)
#include "tst_x11_scan_codes.moc"
