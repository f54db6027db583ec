// A firmware update as a user meets it, on the virtual pad: the vendor service (nginx) offers a
// firmware package made by mkupdate around an image made by padctl, the user asks from the page
// and clicks Update, the pad restarts into its loader, takes the image, passes the library's
// check, and comes back under its own HardwareID with the new version, which the page's pad
// list shows after the next "devicesChanged".
#include "missing_tool.h"
#include "update_package.h"
#include "vendor_service.h"
#include "vexa_driver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const char kPadId[] = "5E1C7A92";
const char kNewVersion[] = "2.4.1";

} // namespace

class tst_E2eFirmware : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void offeredFirmwareIsFlashedAndThePadComesBack();

private:
    QString padctl(const QStringList &arguments, int *exitCode = nullptr)
    {
        return VexaDriver::runTool(QStringLiteral(VEXA_APP_DIR "/padctl"), arguments, exitCode);
    }

    VendorService m_service;
    QTemporaryDir m_work;
    std::unique_ptr<VexaDriver> m_app;
};

void tst_E2eFirmware::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        VEXA_SKIP_WITHOUT_TOOL("DISPLAY is not set: the program's browser needs an X display (run under Xvfb)");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        VEXA_SKIP_WITHOUT_TOOL("xdotool is not installed");
    if (!UpdatePackage::vendorPublicKey().isEmpty())
        QSKIP("built with a vendor key: an unsigned test package would be refused");
    if (!m_service.start())
        VEXA_SKIP_WITHOUT_TOOL(qPrintable(QStringLiteral("no vendor service: ") + m_service.errorString()));
    QVERIFY(m_work.isValid());

    // The pad lives in our folder; a quick restart keeps the flash near its shortest (5 s).
    qputenv("PADIO_HOME", m_work.filePath(QStringLiteral("pads")).toLocal8Bit());
    qputenv("PADIO_RESTART_MS", "300");

    const QString folder = m_work.filePath(QStringLiteral("firmware"));
    QVERIFY(QDir().mkpath(folder));
    int code = -1;
    const QString made = padctl({QStringLiteral("firmware"), folder + QStringLiteral("/update.bin"),
                                 QLatin1String(kNewVersion), QStringLiteral("20001")},
                                &code);
    QVERIFY2(code == 0, qPrintable(made));
    const QString package = m_work.filePath(QStringLiteral("firmware-2.4.1.pkg"));
    const QString packed = VexaDriver::runTool(QStringLiteral(VEXA_MKUPDATE), {QStringLiteral("--prefix"), QStringLiteral("firmware"),
                                                               QStringLiteral("--version"), QLatin1String(kNewVersion),
                                                               folder, package},
                               &code);
    QVERIFY2(code == 0, qPrintable(packed));
    QFile packageFile(package);
    QVERIFY(packageFile.open(QIODevice::ReadOnly));
    m_service.placePackage(QStringLiteral("firmware-2.4.1.pkg"), packageFile.readAll());
    m_service.setUpgradeReply(R"({"code":1})");

    qputenv("VEXA_UPDATE_SERVICE", m_service.address().toUtf8());
    m_app.reset(new VexaDriver(QStringLiteral(VEXA_APP_DIR)));
    QVERIFY2(m_app->start(), qPrintable(m_app->error()));
}

void tst_E2eFirmware::cleanupTestCase()
{
    m_app.reset();
    qunsetenv("VEXA_UPDATE_SERVICE");
    qunsetenv("PADIO_RESTART_MS");
}

void tst_E2eFirmware::offeredFirmwareIsFlashedAndThePadComesBack()
{
    const QString facts = QStringLiteral("document.getElementById('pad-facts').textContent");
    QVERIFY(m_app->waitUntil(QStringLiteral("%1.includes('%2')").arg(facts, QLatin1String(kPadId))));
    const QString before = m_app->evaluate(facts).toString();
    QVERIFY2(!before.contains(QLatin1String(kNewVersion)), qPrintable(before));
    const QString listed = padctl({QStringLiteral("list")});
    QString hardwareId;
    for (const QString &word : listed.split(QRegularExpression(QStringLiteral("\\s+"))))
        if (word.startsWith(QLatin1String("HID\\")))
            hardwareId = word;
    QVERIFY2(hardwareId.startsWith(QLatin1String("HID\\")), qPrintable(listed));
    QVERIFY2(before.contains(hardwareId), qPrintable(before));

    m_service.setUpgradeReply(R"({"code":0,"ret":{"type":"0","deployment":"firmware",)"
                              R"("firmwarePackage":"{{service}}/packages/firmware-2.4.1.pkg"}})");
    QCOMPARE(m_app->ask(QStringLiteral(R"({"funcname":"checkUpdate"})")), QStringLiteral("success checkUpdate success"));
    QStringList windows;
    QTRY_VERIFY_WITH_TIMEOUT(!(windows = VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("^vexa update$"))).isEmpty(), 20000);
    const int changesBefore = m_app->evaluate(QStringLiteral("window.vexaPage.counts.devicesChanged")).toInt();

    // The Update button: page 0 at (10, 60), the button at (300, 190) on it, 104 × 44.
    QVERIFY(VexaDriver::clickInWindow(windows.first(), 362, 272));

    // The pad restarts into its loader while the flash waits.
    QTRY_VERIFY_WITH_TIMEOUT(padctl({QStringLiteral("list")}).contains(QLatin1String(" loader ")), 20000);
    QVERIFY(QFileInfo::exists(m_app->appDir() + QStringLiteral("/tupdates/firmware/ready/update.bin")));

    // A new check during the flash is answered and starts nothing under it.
    const int checks = m_service.requests().size();
    QCOMPARE(m_app->ask(QStringLiteral(R"({"funcname":"checkUpdate"})")), QStringLiteral("success checkUpdate success"));
    QTest::qWait(300); // a negative check (no request may follow), so a bounded wait
    QCOMPARE(m_service.requests().size(), checks);

    // The library's check passes only for the image's CRC over blocks at their offsets.
    QTRY_VERIFY_WITH_TIMEOUT(m_app->webLog().contains("firmware flash ended: verified"), 30000);
    QVERIFY(m_app->isRunning());
    QCOMPARE(VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("^vexa update$")), windows);

    // Back under its usual id with the new version, and on the page's list within 2 s, whichever
    // of the library's events the program acted on.
    QTRY_VERIFY_WITH_TIMEOUT(padctl({QStringLiteral("list")}).contains(QLatin1String(kNewVersion)), 10000);
    const QString after = padctl({QStringLiteral("list")});
    QVERIFY2(after.contains(hardwareId) && after.contains(QLatin1String(" pad ")), qPrintable(after));
    QVERIFY(m_app->waitUntil(QStringLiteral("%1.includes('%2')").arg(facts, QLatin1String(kNewVersion)), 2000));
    QVERIFY(m_app->evaluate(QStringLiteral("window.vexaPage.counts.devicesChanged")).toInt() > changesBefore);
    QVERIFY(m_app->evaluate(facts).toString().contains(hardwareId));
}

QTEST_GUILESS_MAIN(tst_E2eFirmware)
#include "tst_e2e_firmware.moc"
