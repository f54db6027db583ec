// The Pads screen of the real program against the virtual pad: what the page lists, how it hears
// of pads leaving and arriving, and that what it writes lands on the pad. The pad is driven from
// outside with padctl, as a user plugging and unplugging would.
#include "missing_tool.h"
#include "vexa_driver.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const char kPadId[] = "5E1C7A92";

} // namespace

class tst_E2ePads : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void listsTheVirtualPadWithItsProduct();
    void unplugAndPlugReachThePage();
    void memoryWrittenFromThePageIsOnThePad();
    void reportsStayWithTheirPad();

private:
    QString padctl(const QStringList &args, int *exitCode = nullptr);
    bool listed(int count);

    QTemporaryDir m_home;
    std::unique_ptr<VexaDriver> m_driver;
};

void tst_E2ePads::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        VEXA_SKIP_WITHOUT_TOOL("needs an X display (Xvfb)");
    if (!QFile::exists(QStringLiteral(VEXA_APP_DIR "/padctl")) || !QFile::exists(QStringLiteral(VEXA_APP_DIR "/libpadio.so")))
        VEXA_SKIP_WITHOUT_TOOL("the virtual pad library and padctl are not built");
    QVERIFY(m_home.isValid());
    // Both the program (through the driver's environment) and padctl keep the pads here.
    qputenv("PADIO_HOME", m_home.path().toLocal8Bit());
    m_driver.reset(new VexaDriver(QStringLiteral(VEXA_APP_DIR)));
    QVERIFY2(m_driver->start(), qPrintable(m_driver->error()));
    QVERIFY(m_driver->waitUntil(QStringLiteral("!!(window.vexaPage && window.vexaPage.ready)")));
}

void tst_E2ePads::cleanupTestCase()
{
    if (m_driver)
        m_driver->terminate();
}

QString tst_E2ePads::padctl(const QStringList &args, int *exitCode)
{
    QProcess tool;
    tool.start(QStringLiteral(VEXA_APP_DIR "/padctl"), args);
    if (!tool.waitForFinished(15000))
        return QStringLiteral("padctl did not finish");
    if (exitCode)
        *exitCode = tool.exitCode();
    return QString::fromUtf8(tool.readAllStandardOutput() + tool.readAllStandardError());
}

bool tst_E2ePads::listed(int count)
{
    return m_driver->waitUntil(
        QStringLiteral("document.querySelectorAll('#pads-list [data-device-id=\"%1\"]:not([data-unplugged=\"true\"])').length === %2")
            .arg(QLatin1String(kPadId))
            .arg(count),
        20000);
}

void tst_E2ePads::listsTheVirtualPadWithItsProduct()
{
    // The Pads screen is the one a fresh start shows.
    QVERIFY(m_driver->waitUntil(QStringLiteral("!document.getElementById('screen-pads').hidden")));
    QVERIFY(listed(1));
    QVERIFY(m_driver->evaluate(QStringLiteral("document.getElementById('pad-name').textContent")).toString()
                .startsWith(QStringLiteral("PX-ORB42 \u00b7 PX42")));
    QCOMPARE(m_driver->evaluate(QStringLiteral("document.getElementById('pads-empty').hidden")).toBool(), true);
}

void tst_E2ePads::unplugAndPlugReachThePage()
{
    QVERIFY(listed(1));
    const int before = m_driver->evaluate(QStringLiteral("window.vexaPage.counts.devicesChanged")).toInt();
    int code = -1;
    const QString out = padctl({QStringLiteral("unplug"), QLatin1String(kPadId)}, &code);
    QVERIFY2(code == 0, qPrintable(out));
    QVERIFY(m_driver->waitUntil(QStringLiteral("window.vexaPage.counts.devicesChanged > %1").arg(before), 20000));
    QVERIFY(listed(0));
    QVERIFY(m_driver->waitUntil(QStringLiteral("!document.getElementById('pads-empty').hidden")));
    // The selected pad stays selected, shown unplugged, so the forms never turn to another pad.
    QVERIFY(m_driver->evaluate(QStringLiteral(
        "document.querySelectorAll('#pads-list [data-unplugged=\"true\"][aria-pressed=\"true\"]').length === 1"
        " && !document.getElementById('pad-gone').hidden")).toBool());
    m_driver->saveScreenshot(QStringLiteral("pads-unplugged"));
    // The pad's five interface reports count as one change. A negative check (no second change),
    // so a bounded wait: the reports are raised together.
    QTest::qWait(500);
    QCOMPARE(m_driver->evaluate(QStringLiteral("window.vexaPage.counts.devicesChanged")).toInt(), before + 1);

    const QString plugged = padctl({QStringLiteral("plug"), QStringLiteral("--id"), QLatin1String(kPadId)}, &code);
    QVERIFY2(code == 0, qPrintable(plugged));
    QVERIFY(listed(1));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('pads-empty').hidden")));
}

void tst_E2ePads::memoryWrittenFromThePageIsOnThePad()
{
    QVERIFY(listed(1));
    // Filled in and sent the way a user does it; the size follows the bytes given.
    QVERIFY(m_driver->evaluate(QStringLiteral(R"JS((() => {
        const set = (id, value) => { document.getElementById(id).value = value; };
        set('mem-address', '2a00'); set('mem-size', ''); set('mem-data', '12 34 56');
        document.getElementById('mem-write').click();
        return true;
    })())JS")).toBool());
    // A raw write asks first.
    QVERIFY(m_driver->waitUntil(QStringLiteral("!!document.querySelector('dialog.ask[open] #ask-yes')")));
    m_driver->evaluate(QStringLiteral("document.getElementById('ask-yes').click(); true"));
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('mem-result').dataset.tone === 'ok'")));
    const QString dump = padctl({QStringLiteral("mem"), QLatin1String(kPadId), QStringLiteral("2a00"), QStringLiteral("3")});
    QVERIFY2(dump.contains(QLatin1String("12 34 56")), qPrintable(dump));

    // A bad byte is refused on the page with a reason, and nothing is sent.
    QVERIFY(m_driver->evaluate(QStringLiteral(R"JS((() => {
        document.getElementById('mem-data').value = '12 zz';
        document.getElementById('mem-write').click();
        return true;
    })())JS")).toBool());
    QVERIFY(m_driver->waitUntil(QStringLiteral("document.getElementById('mem-result').dataset.tone === 'bad'")));
    QVERIFY(m_driver->evaluate(QStringLiteral("document.getElementById('mem-result').textContent")).toString().contains(
        QLatin1String("zz")));
    QVERIFY(padctl({QStringLiteral("mem"), QLatin1String(kPadId), QStringLiteral("2a00"), QStringLiteral("3")})
                .contains(QLatin1String("12 34 56")));
}

void tst_E2ePads::reportsStayWithTheirPad()
{
    const QString second = QStringLiteral("5E1C7A99");
    const QString count = QStringLiteral("document.getElementById('report-count').textContent");
    const auto padsListed = [this](int n) {
        return m_driver->waitUntil(QStringLiteral("document.querySelectorAll('#pads-list [data-device-id]:not([data-unplugged=\"true\"])').length === %1").arg(n),
                                   20000);
    };
    const auto run = [this](const QStringList &args) {
        int code = -1;
        const QString out = padctl(args, &code);
        if (code != 0)
            qWarning() << "padctl" << args << out;
        return code == 0;
    };
    QVERIFY(run({QStringLiteral("plug"), QStringLiteral("--id"), second}));
    QVERIFY(padsListed(2));
    for (int i = 0; i < 3; ++i)
        QVERIFY(run({QStringLiteral("data"), QLatin1String(kPadId), QStringLiteral("0100808080800000")}));
    QVERIFY(m_driver->waitUntil(count + QStringLiteral(" === '3 reports'")));

    // The first pad goes: the second is now where reports come from, and shows none of the
    // first pad's once the person turns to it (the list keeps the unplugged choice).
    QVERIFY(run({QStringLiteral("unplug"), QLatin1String(kPadId)}));
    QVERIFY(padsListed(1));
    m_driver->evaluate(QStringLiteral("document.querySelector('#pads-list [data-unplugged=\"false\"]').click(); true"));
    QVERIFY(m_driver->waitUntil(count + QStringLiteral(" === '0 reports'")));
    QCOMPARE(m_driver->evaluate(QStringLiteral("document.getElementById('report-panel').dataset.live")).toString(),
             QStringLiteral("false"));

    QVERIFY(run({QStringLiteral("plug"), QStringLiteral("--id"), QLatin1String(kPadId)}));
    QVERIFY(run({QStringLiteral("unplug"), second}));
    QVERIFY(listed(1) && padsListed(1));
}

QTEST_GUILESS_MAIN(tst_E2ePads)
#include "tst_e2e_pads.moc"
