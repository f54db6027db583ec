// A flash that was cut short, as the user meets it at the next start: the virtual pad waits in
// its loader and the image is still unpacked, so the update dialog asks to flash it again (and
// no update check comes up over it); "Flash again" writes the image and the pad comes back with
// the new version.
#include "missing_tool.h"
#include "vendor_service.h"
#include "vexa_driver.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const char kNewVersion[] = "2.4.2";

QString padctl(const QStringList &arguments, int *exitCode = nullptr)
{
    return VexaDriver::runTool(QStringLiteral(VEXA_APP_DIR "/padctl"), arguments, exitCode);
}

} // namespace

class tst_E2eReflash : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void padLeftInItsLoaderIsOfferedTheImageAgain();

private:

    VendorService m_service;
    QTemporaryDir m_work;
    std::unique_ptr<VexaDriver> m_app;
};

void tst_E2eReflash::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        VEXA_SKIP_WITHOUT_TOOL("DISPLAY is not set: the program's browser needs an X display (run under Xvfb)");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        VEXA_SKIP_WITHOUT_TOOL("xdotool is not installed");
    if (!m_service.start())
        VEXA_SKIP_WITHOUT_TOOL(qPrintable(QStringLiteral("no vendor service: ") + m_service.errorString()));
    QVERIFY(m_work.isValid());

    qputenv("PADIO_HOME", m_work.filePath(QStringLiteral("pads")).toLocal8Bit());
    qputenv("PADIO_RESTART_MS", "300");

    // The pad as a flash leaves it when the program ends between the restart and the finish.
    int code = -1;
    const QString listed = padctl({QStringLiteral("list")}, &code);
    QVERIFY2(code == 0, qPrintable(listed));
    QFile devices(m_work.filePath(QStringLiteral("pads/devices")));
    QVERIFY(devices.open(QIODevice::ReadOnly));
    QByteArray list = devices.readAll();
    devices.close();
    QVERIFY2(list.count("\tpad\t") == 1, list.constData());
    list.replace("\tpad\t", "\tloader\t");
    QVERIFY(devices.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(devices.write(list), qint64(list.size()));
    devices.close();
    QVERIFY2(padctl({QStringLiteral("list")}).contains(QLatin1String(" loader ")), qPrintable(padctl({QStringLiteral("list")})));

    const QString image = m_work.filePath(QStringLiteral("update.bin"));
    const QString made = padctl({QStringLiteral("firmware"), image, QLatin1String(kNewVersion), QStringLiteral("20001")}, &code);
    QVERIFY2(code == 0, qPrintable(made));
    QFile imageFile(image);
    QVERIFY(imageFile.open(QIODevice::ReadOnly));
    VexaDriver::Options options;
    options.files.insert(QStringLiteral("tupdates/firmware/ready/update.bin"), imageFile.readAll());

    // A service that would offer an update: the offer must not come up at this start.
    m_service.setUpgradeReply(R"({"code":0,"ret":{"type":"0","deployment":"firmware",)"
                              R"("firmwarePackage":"{{service}}/packages/none.pkg"}})");
    qputenv("VEXA_UPDATE_SERVICE", m_service.address().toUtf8());
    m_app.reset(new VexaDriver(QStringLiteral(VEXA_APP_DIR), options));
    QVERIFY2(m_app->start(), qPrintable(m_app->error()));
}

void tst_E2eReflash::cleanupTestCase()
{
    m_app.reset();
    qunsetenv("VEXA_UPDATE_SERVICE");
    qunsetenv("PADIO_RESTART_MS");
}

void tst_E2eReflash::padLeftInItsLoaderIsOfferedTheImageAgain()
{
    QStringList windows;
    QTRY_VERIFY_WITH_TIMEOUT(!(windows = VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("^vexa update$"))).isEmpty(), 20000);
    QCOMPARE(windows.size(), 1);
    // The page heard of the pad in its loader, though it was told before its browser existed.
    QTRY_VERIFY_WITH_TIMEOUT(
        m_app->evaluate(QStringLiteral("!document.getElementById('pads-loader-notice').hidden")).toBool(), 10000);

    // No check at this start, and none from the page while the offer is open.
    QCOMPARE(m_app->ask(QStringLiteral(R"({"funcname":"checkUpdate"})")), QStringLiteral("success checkUpdate success"));
    QTest::qWait(500); // a negative check (no request may follow), so a bounded wait
    QCOMPARE(m_service.requests().size(), 0);
    QCOMPARE(VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("^vexa update$")), windows);

    // "Flash again" sits where the dialog's Update button is: page 0 at (10, 60), the button at
    // (300, 190) on it, 104 × 44.
    QVERIFY(VexaDriver::clickInWindow(windows.first(), 362, 272));

    QTRY_VERIFY_WITH_TIMEOUT(m_app->webLog().contains("firmware flash ended: verified"), 30000);
    QVERIFY(m_app->isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(padctl({QStringLiteral("list")}).contains(QLatin1String(kNewVersion)), 10000);
    const QString after = padctl({QStringLiteral("list")});
    QVERIFY2(after.contains(QLatin1String(" pad ")) && !after.contains(QLatin1String(" loader ")), qPrintable(after));
}

QTEST_GUILESS_MAIN(tst_E2eReflash)
#include "tst_e2e_reflash.moc"
