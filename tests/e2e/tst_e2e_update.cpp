// The update as a user meets it: the real program asks nginx (standing in for the vendor
// service) at start, the About screen's button asks again, the update window appears on the
// display, a click on its Update button (through the X server, as a mouse would) downloads the
// page package, the new page files are in the application's view/ folder, and the window's
// Reload shows them. A page installation killed half way is undone by the next start before its
// page loads.
#include "missing_tool.h"
#include "package_writer.h"
#include "vendor_service.h"
#include "vexa_driver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <signal.h>

namespace {

const char kEdition[] = R"JS((function (vexa) {
  'use strict';
  vexa.edition = Object.freeze({ version: '1.1.0-e2e', note: 'Installed by the end-to-end test.' });
})(window.vexaModules = window.vexaModules || {});
)JS";

int upgradeRequests(const VendorService &service)
{
    int count = 0;
    for (const ServiceRequest &request : service.requests())
        count += request.target.startsWith(QLatin1String("/api/system/upgrade?"));
    return count;
}

} // namespace

class tst_E2eUpdate : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void pagePackageOfferedInstalledAndShown();
    void pageInstallKilledHalfWayIsUndoneAtTheNextStart();

private:

    VendorService m_service;
    QTemporaryDir m_padHome;
    std::unique_ptr<VexaDriver> m_app;
};

void tst_E2eUpdate::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        VEXA_SKIP_WITHOUT_TOOL("DISPLAY is not set: the program's browser needs an X display (run under Xvfb)");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        VEXA_SKIP_WITHOUT_TOOL("xdotool is not installed");
    if (!UpdatePackage::vendorPublicKey().isEmpty())
        QSKIP("built with a vendor key: an unsigned test package would be refused");
    if (!m_service.start())
        VEXA_SKIP_WITHOUT_TOOL(qPrintable(QStringLiteral("no vendor service: ") + m_service.errorString()));

    QString error;
    const QByteArray package = UpdatePackage::build(QStringLiteral("1.1.0"),
                                                    {{QStringLiteral("html/js/edition.js"), kEdition}}, QByteArray(), &error);
    QVERIFY2(!package.isEmpty(), qPrintable(error));
    m_service.placePackage(QStringLiteral("html-1.1.0.pkg"), package);
    // Nothing newer at start: the start-up check shows nothing.
    m_service.setUpgradeReply(R"({"code":1})");

    // The program reads both when it starts (the driver passes our environment on).
    qputenv("VEXA_UPDATE_SERVICE", m_service.address().toUtf8());
    qputenv("PADIO_HOME", m_padHome.path().toLocal8Bit());
    m_app.reset(new VexaDriver(QStringLiteral(VEXA_APP_DIR)));
    QVERIFY2(m_app->start(), qPrintable(m_app->error()));
}

void tst_E2eUpdate::cleanupTestCase()
{
    m_app.reset();
    qunsetenv("VEXA_UPDATE_SERVICE");
}

void tst_E2eUpdate::pagePackageOfferedInstalledAndShown()
{
    // The silent check at start: the first pad and the installed version, in key order.
    QVERIFY(m_service.waitForRequests(1, 30000));
    const QString startCheck = m_service.requests().first().target;
    QVERIFY2(startCheck.startsWith(QLatin1String("/api/system/upgrade?deviceid=5E1C7A92&fwversion=")), qPrintable(startCheck));
    QVERIFY2(startCheck.endsWith(QLatin1String("&noencrypt=1&test=1&version=1.0.0")), qPrintable(startCheck));
    QTRY_VERIFY_WITH_TIMEOUT(m_app->webLog().contains(R"(updatesystem(112)] {"code":1})"), 10000);
    QVERIFY(VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("^vexa update$")).isEmpty());

    // Now there is a page package, and the user asks from the About screen.
    m_service.setUpgradeReply(R"({"code":0,"ret":{"type":"0","deployment":"html",)"
                              R"("devicePackage":"{{service}}/packages/html-1.1.0.pkg"}})");
    m_app->evaluate(QStringLiteral("location.hash = '#about'"));
    QVERIFY(m_app->waitUntil(QStringLiteral("!!document.querySelector('#about-check')")));
    m_app->evaluate(QStringLiteral("document.querySelector('#about-check').click()"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.querySelector('#about-status').textContent.startsWith('Check started')")));

    QStringList windows;
    QTRY_VERIFY_WITH_TIMEOUT(!(windows = VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("^vexa update$"))).isEmpty(), 20000);
    QCOMPARE(windows.size(), 1);
    QCOMPARE(upgradeRequests(m_service), 2);

    // Asked again while the window is open: answered, and nothing new starts under it.
    QCOMPARE(m_app->ask(QStringLiteral(R"({"funcname":"checkUpdate"})")), QStringLiteral("success checkUpdate success"));
    QTest::qWait(500); // a negative check (no request may follow), so a bounded wait
    QCOMPARE(upgradeRequests(m_service), 2);
    QVERIFY(m_app->isRunning());
    QCOMPARE(VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("^vexa update$")), windows);

    // The Update button: page 0 of the stacked pages at (10, 60), the button at (300, 190) on
    // it, 104 × 44.
    QVERIFY(VexaDriver::clickInWindow(windows.first(), 362, 272));

    const QString edition = m_app->appDir() + QStringLiteral("/view/js/edition.js");
    QTRY_VERIFY_WITH_TIMEOUT(QFile(edition).open(QIODevice::ReadOnly) && QFile(edition).size() == qint64(qstrlen(kEdition)),
                             30000);
    QFile installed(edition);
    QVERIFY(installed.open(QIODevice::ReadOnly));
    QCOMPARE(installed.readAll(), QByteArray(kEdition));

    // The page shown is not reloaded by the update, but About says a newer page is in place;
    // by then the window says what was installed and offers Reload where Update was.
    QVERIFY(m_app->waitUntil(QStringLiteral("document.querySelector('#about-status').textContent.startsWith('A newer page')")));
    QCOMPARE(VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("^vexa update$")), windows);
    QVERIFY(!QFileInfo::exists(m_app->appDir() + QStringLiteral("/tupdates/html/ready")));
    QVERIFY(VexaDriver::clickInWindow(windows.first(), 362, 272));
    QTRY_VERIFY_WITH_TIMEOUT(VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("^vexa update$")).isEmpty(), 10000);
    // The program reloads its page itself: the same screen shows the new edition.
    QVERIFY(m_app->waitUntil(QStringLiteral("document.querySelector('#about-edition')?.textContent === '1.1.0-e2e'")));
}

void tst_E2eUpdate::pageInstallKilledHalfWayIsUndoneAtTheNextStart()
{
    const char cutEdition[] = "(function (vexa) { vexa.edition = Object.freeze({ version: '2.0.0-cut', note: '' }); })"
                              "(window.vexaModules = window.vexaModules || {});\n";
    QString error;
    // Files go in in name order, folder by folder: the added page and the new edition first, then
    // a file that a folder stands in the way of, so the installation stops at its question.
    const QByteArray package = UpdatePackage::build(QStringLiteral("2.0.0"),
                                                    {{QStringLiteral("html/aa-added.html"), "added page"},
                                                     {QStringLiteral("html/js/edition.js"), cutEdition},
                                                     {QStringLiteral("html/js/zz-blocked.js"), "blocked"}},
                                                    QByteArray(), &error);
    QVERIFY2(!package.isEmpty(), qPrintable(error));
    m_service.placePackage(QStringLiteral("html-2.0.0.pkg"), package);
    m_service.setUpgradeReply(R"({"code":0,"ret":{"type":"0","deployment":"html",)"
                              R"("devicePackage":"{{service}}/packages/html-2.0.0.pkg"}})");
    const auto nothingNew = qScopeGuard([this] { m_service.setUpgradeReply(R"({"code":1})"); });

    VexaDriver::Options options;
    options.files.insert(QStringLiteral("view/js/zz-blocked.js/held"), "in the way");
    VexaDriver app(QStringLiteral(VEXA_APP_DIR), options);
    QVERIFY2(app.start(), qPrintable(app.error()));
    const QString view = app.appDir() + QStringLiteral("/view");
    QFile shipped(view + QStringLiteral("/js/edition.js"));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    const QByteArray shippedEdition = shipped.readAll();
    shipped.close();
    const QString shippedVersion =
        QRegularExpression(QStringLiteral("version: '([^']*)'")).match(QString::fromUtf8(shippedEdition)).captured(1);
    QVERIFY(!shippedVersion.isEmpty());

    // The start-up check offers the package; Update, as in the test above.
    const QString offer = VexaDriver::waitForWindow(app.processId(), QStringLiteral("^vexa update$"), 30000);
    QVERIFY(!offer.isEmpty());
    QVERIFY(VexaDriver::clickInWindow(offer, 362, 272));
    QVERIFY(!VexaDriver::waitForWindow(app.processId(), QStringLiteral("^Update error!$"), 30000).isEmpty());
    QFile half(view + QStringLiteral("/js/edition.js"));
    QVERIFY(half.open(QIODevice::ReadOnly));
    QCOMPARE(half.readAll(), QByteArray(cutEdition));
    half.close();
    QVERIFY(QFileInfo::exists(view + QStringLiteral("/aa-added.html")));

    // Killed while it asks: view/ is half old, half new.
    QCOMPARE(::kill(pid_t(app.processId()), SIGKILL), 0);
    app.terminate();
    m_service.setUpgradeReply(R"({"code":1})");
    QVERIFY2(app.start(), qPrintable(app.error()));

    // The page that loaded is the old one, and view/ holds it whole.
    QCOMPARE(app.evaluate(QStringLiteral("window.vexaModules.edition.version")).toString(), shippedVersion);
    QFile restored(view + QStringLiteral("/js/edition.js"));
    QVERIFY(restored.open(QIODevice::ReadOnly));
    QCOMPARE(restored.readAll(), shippedEdition);
    QVERIFY(!QFileInfo::exists(view + QStringLiteral("/aa-added.html")));
    QVERIFY(QFileInfo(view + QStringLiteral("/js/zz-blocked.js")).isDir());
    QVERIFY(!QFileInfo::exists(app.appDir() + QStringLiteral("/tupdates/html")));
    QVERIFY(app.webLog().contains("a page update was cut short: the pages it replaced were put back"));
}

QTEST_GUILESS_MAIN(tst_E2eUpdate)
#include "tst_e2e_update.moc"
