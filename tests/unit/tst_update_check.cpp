// The update check against nginx standing in for the vendor service: the request as the service
// sees it, what each reply opens, an offered client package followed through to the restart, and
// a page package that is not offered again once it is installed.
#include "command_test_support.h"
#include "missing_tool.h"
#include "pspecific_wnd.h"
#include "runtime_log.h"
#include "update_commands.h"
#include "update_dlg.h"
#include "update_folders.h"
#include "package_writer.h"
#include "updatesystem.h"
#include "vendor_service.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QString pageOf(updateDlg *dialog)
{
    return dialog->findChild<QStackedWidget *>()->currentWidget()->objectName();
}

// What the service was asked for; the offer page's size questions (HEAD) fetch nothing.
int fetches(const VendorService &service)
{
    int count = 0;
    for (const ServiceRequest &request : service.requests())
        count += request.method == QLatin1String("GET");
    return count;
}

} // namespace

class TestUpdateCheck : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void requestCarriesFieldsInKeyOrder_data();
    void requestCarriesFieldsInKeyOrder();
    void replyDecidesWhatOpens_data();
    void replyDecidesWhatOpens();
    void checkThatCannotAskSaysWhy();
    void checkUpdateAnswersAtOnce();
    void offeredClientEndsInRestart();
    void installedPagePackageIsNotOfferedAgain();

private:
    // Runs one check and hands each dialog it shows to act, which must close it; returns when
    // the check has written its reply line.
    void runCheck(UpdateCheck &check, bool manual, const std::function<void(updateDlg *)> &act,
                  const QString &deviceId = QStringLiteral("5E1C7A92"));
    QByteArray log() const { return readFile(m_dir->path() + QStringLiteral("/web.log")); }

    VendorService m_service;
    QScopedPointer<QTemporaryDir> m_dir;
    QScopedPointer<FakeContext> m_context;
    QWidget m_mainWindow;
};

void TestUpdateCheck::initTestCase()
{
    if (!m_service.start())
        VEXA_SKIP_WITHOUT_TOOL(qPrintable(QStringLiteral("no vendor service: ") + m_service.errorString()));
    m_mainWindow.setGeometry(100, 80, 800, 600);
}

void TestUpdateCheck::init()
{
    m_dir.reset(new QTemporaryDir);
    cefLogConfigure(m_dir->path() + QStringLiteral("/web.log"), LOGSEVERITY_INFO);
    QVERIFY(writeFile(m_dir->path() + QStringLiteral("/Resources/profiles/conf.xml"),
                      "<?xml version=\"1.0\"?>\n<root>\n\t<client version=\"1.0.0\" language=\"en\" />\n</root>\n"));
    m_context.reset(new FakeContext(m_dir->path()));
    m_context->settings().load();
    m_context->widget = &m_mainWindow;
    qputenv("VEXA_UPDATE_SERVICE", m_service.address().toUtf8());
    restartToUpdate = false;
}

void TestUpdateCheck::cleanup()
{
    qunsetenv("VEXA_UPDATE_SERVICE");
}

void TestUpdateCheck::runCheck(UpdateCheck &check, bool manual, const std::function<void(updateDlg *)> &act,
                               const QString &deviceId)
{
    QTimer watch;
    watch.setInterval(20);
    QPointer<updateDlg> handled;
    connect(&watch, &QTimer::timeout, this, [&] {
        updateDlg *dialog = check.dialogWindow();
        if (dialog && dialog != handled && dialog->isVisible()) {
            handled = dialog;
            act(dialog);
        }
    });
    watch.start();
    check.checkNow(deviceId, QStringLiteral("1.2"), QStringLiteral("1.0.0"), manual);
    QTRY_VERIFY_WITH_TIMEOUT(log().contains("updatesystem(112)]"), 15000);
}

void TestUpdateCheck::requestCarriesFieldsInKeyOrder_data()
{
    QTest::addColumn<QString>("deviceId");
    QTest::addColumn<QString>("target");
    QTest::newRow("a pad") << "5E1C7A92"
                           << "/api/system/upgrade?deviceid=5E1C7A92&fwversion=1.2&noencrypt=1&test=1&version=1.0.0";
    // No pad: the question still goes out.
    QTest::newRow("no pad") << ""
                            << "/api/system/upgrade?deviceid=&fwversion=1.2&noencrypt=1&test=1&version=1.0.0";
}

void TestUpdateCheck::requestCarriesFieldsInKeyOrder()
{
    QFETCH(QString, deviceId);
    QFETCH(QString, target);
    m_service.setUpgradeReply(R"({"code":1})");
    const int before = m_service.requests().size();
    UpdateCheck check(*m_context);
    runCheck(check, false, [](updateDlg *dialog) { dialog->reject(); }, deviceId);
    QVERIFY(m_service.waitForRequests(before + 1));
    QCOMPARE(m_service.requests().at(before).method, QStringLiteral("GET"));
    QCOMPARE(m_service.requests().at(before).target, target);
    QVERIFY(log().contains(R"(updatesystem(112)] {"code":1})"));
}

void TestUpdateCheck::replyDecidesWhatOpens_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("manual");
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("offers");
    // The start of what the information page says.
    QTest::addColumn<QString>("says");

    const QByteArray html = R"({"code":0,"ret":{"type":"0","deployment":"html","devicePackage":"x"}})";
    const QString nothing = QStringLiteral("The update service offered nothing");
    const QString notUnderstood = QStringLiteral("The update service sent an answer");
    QTest::newRow("offer") << html << false << "pageFirst" << 1 << "";
    // Asked for, a check always ends in a window that says how it ended; at start only an
    // offer shows.
    QTest::newRow("offer of another type") << QByteArray(R"({"code":0,"ret":{"type":"1","deployment":"html"}})")
                                           << true << "pageInfo" << 1 << nothing;
    QTest::newRow("type as a number") << QByteArray(R"({"code":0,"ret":{"type":0,"deployment":"html"}})") << true
                                      << "pageInfo" << 1 << nothing;
    QTest::newRow("nothing deployed") << QByteArray(R"({"code":0,"ret":{"type":"0","deployment":""}})") << true
                                      << "pageInfo" << 1 << nothing;
    QTest::newRow("nothing deployed, at start") << QByteArray(R"({"code":0,"ret":{"type":"0","deployment":""}})")
                                                << false << "" << 1 << "";
    QTest::newRow("latest, asked") << QByteArray(R"({"code":1})") << true << "pageInfo" << 0
                                   << "The current version is the latest version";
    QTest::newRow("latest, at start") << QByteArray(R"({"code":1})") << false << "" << 0 << "";
    // A code that is no number reads as 0: an offer without its "ret".
    QTest::newRow("code as text") << QByteArray(R"({"code":"1"})") << true << "pageInfo" << 0 << notUnderstood;
    QTest::newRow("other code") << QByteArray(R"({"code":2,"ret":{"type":"0","deployment":"html"}})") << true
                                << "pageInfo" << 0 << notUnderstood;
    QTest::newRow("not JSON") << QByteArray("<html>busy</html>") << true << "pageInfo" << 0 << notUnderstood;
    QTest::newRow("not JSON, at start") << QByteArray("<html>busy</html>") << false << "" << 0 << "";
    // The reply is logged: it must not start a line of its own nor speak to a terminal.
    QTest::newRow("lines and terminal controls") << QByteArray("busy\r\n[1:1/1:INFO:updatesystem(1)] ok\n\x1b]2;x\x07\x1b[2J")
                                                 << false << "" << 0 << "";
    QTest::newRow("larger than any answer") << QByteArray(R"({"code":1,"pad":")") + QByteArray(70000, 'x') + "\"}"
                                            << true << "pageInfo" << 0 << notUnderstood;
}

void TestUpdateCheck::replyDecidesWhatOpens()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, manual);
    QFETCH(QString, page);
    QFETCH(int, offers);
    QFETCH(QString, says);
    m_service.setUpgradeReply(reply);
    UpdateCheck check(*m_context);
    QSignalSpy found(&check, &UpdateCheck::FindNewVersion);
    QStringList pages;
    QString info;
    QPoint position;
    runCheck(check, manual, [&](updateDlg *dialog) {
        pages << pageOf(dialog);
        info = dialog->findChild<QLabel *>(QStringLiteral("lb_info"))->text();
        position = dialog->pos();
        dialog->reject();
    });
    QCOMPARE(pages, page.isEmpty() ? QStringList() : QStringList{page});
    if (page == QLatin1String("pageInfo"))
        QVERIFY2(info.startsWith(says), qPrintable(info));
    QCOMPARE(found.count(), offers);
    const QByteArray logged = log();
    for (const QByteArray &line : logged.left(logged.size() - 1).split('\n')) {
        QVERIFY2(line.startsWith('['), line.constData());
        for (const char c : line)
            QVERIFY2(uchar(c) >= 0x20 && c != 0x7f, line.constData());
    }
    if (QTest::currentDataTag() == QByteArrayLiteral("lines and terminal controls"))
        QVERIFY2(logged.contains(R"(] busy\r\n[1:1/1:INFO:updatesystem(1)] ok\n\x1b]2;x\x07\x1b[2J)"), logged.constData());
    if (!page.isEmpty()) // centred over the main window
        QCOMPARE(position, QPoint(100 + 400 - 300, 80 + 300 - 190));
}

void TestUpdateCheck::checkThatCannotAskSaysWhy()
{
    // No service: nothing is sent, and the user who asked learns why.
    qputenv("VEXA_UPDATE_SERVICE", "");
    const int before = m_service.requests().size();
    QStringList told;
    QTimer watch;
    watch.setInterval(20);
    UpdateCheck *current = nullptr;
    connect(&watch, &QTimer::timeout, this, [&] {
        updateDlg *dialog = current ? current->dialogWindow() : nullptr;
        if (dialog && dialog->isVisible()) {
            told << dialog->findChild<QLabel *>(QStringLiteral("lb_info"))->text();
            dialog->reject();
        }
    });
    watch.start();
    {
        UpdateCheck check(*m_context);
        current = &check;
        check.checkNow(QString(), QString(), QString(), true);
        QTRY_COMPARE(told.size(), 1);
        QVERIFY(told.first().startsWith(QLatin1String("This copy of vexa has no update service")));
        QCOMPARE(m_service.requests().size(), before);
        QCOMPARE(log().count("updatesystem("), 1);
        QVERIFY(log().contains("no vendor service address is configured"));
    }

    // A service that cannot be reached.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    qputenv("VEXA_UPDATE_SERVICE", QByteArray("http://127.0.0.1:") + QByteArray::number(port));
    UpdateCheck check(*m_context);
    current = &check;
    check.checkNow(QString(), QString(), QString(), true);
    QTRY_COMPARE_WITH_TIMEOUT(told.size(), 2, 15000);
    QVERIFY2(told.last().startsWith(QLatin1String("The update service could not be reached")), qPrintable(told.last()));
}

void TestUpdateCheck::checkUpdateAnswersAtOnce()
{
    CommandRegistry registry;
    int checks = 0;
    registerUpdateCommands(registry, [&checks] { ++checks; });
    QCOMPARE(runCommand(registry, R"({"funcname":"checkUpdate"})"), QStringList{"success:checkUpdate success"});
    QCOMPARE(checks, 1);
}

void TestUpdateCheck::offeredClientEndsInRestart()
{
    if (!UpdatePackage::vendorPublicKey().isEmpty())
        QSKIP("built with a vendor key: unsigned test packages would be refused");
    QString error;
    const QByteArray package = UpdatePackage::build(
        QStringLiteral("2.0.0"),
        {{QStringLiteral("client/vexa"), "new program"}, {QStringLiteral("client/") + installerFileName(), "new installer"}},
        QByteArray(), &error);
    QVERIFY2(!package.isEmpty(), qPrintable(error));
    const QUrl url = m_service.placePackage(QStringLiteral("client-2.0.0.pkg"), package);
    m_service.setUpgradeReply(R"({"code":0,"ret":{"type":"0","deployment":"client,firmware",)"
                              R"("clientPackage":"{{service}}/packages/client-2.0.0.pkg","firmwarePackage":"x"}})");
    const int before = fetches(m_service);

    UpdateCheck check(*m_context, nullptr, m_dir->path());
    QSignalSpy closeApp(&check, &UpdateCheck::closeApp);
    QStringList restartTexts;
    QString failure;
    runCheck(check, false, [&](updateDlg *dialog) {
        auto *button = dialog->findChild<QPushButton *>(QStringLiteral("uninstallButton"));
        QTest::mouseClick(button, Qt::LeftButton);
        // The firmware address is no web address: the offer's fault is told first, and the
        // ready client waits behind it.
        QTRY_COMPARE_WITH_TIMEOUT(pageOf(dialog), QStringLiteral("pageFailed"), 15000);
        failure = dialog->findChild<QLabel *>(QStringLiteral("lb_failed"))->text();
        auto *next = dialog->findChild<QPushButton *>(QStringLiteral("pb_close"));
        QCOMPARE(next->text(), QStringLiteral("Continue"));
        QTest::mouseClick(next, Qt::LeftButton);
        QCOMPARE(button->text(), QStringLiteral("Restart Now"));
        restartTexts << pageOf(dialog);
        QTest::mouseClick(button, Qt::LeftButton);
        dialog->reject();
    });
    QCOMPARE(restartTexts, QStringList{"pageFirst"});
    QVERIFY2(failure.startsWith(QLatin1String("The update offer is not valid")), qPrintable(failure));
    QCOMPARE(closeApp.count(), 1);
    QVERIFY(restartToUpdate);
    // The new installer is in place before the old one would run; the rest waits in ready/.
    QCOMPARE(readFile(m_dir->path() + '/' + installerFileName()), QByteArray("new installer"));
    QVERIFY(QFileInfo(m_dir->path() + '/' + installerFileName()).isExecutable());
    const QString ready = UpdateFolders::ready(m_dir->path(), QStringLiteral("client"));
    QCOMPARE(readFile(ready + QStringLiteral("/vexa")), QByteArray("new program"));
    QVERIFY(!QFileInfo::exists(ready + '/' + installerFileName()));
    // The version is the installer's to record, once every file is in place.
    QVERIFY(readFile(m_context->settings().confFilePath()).contains("version=\"1.0.0\""));
    // The check and one download; Restart Now downloads nothing more, and the firmware address
    // "x" is not fetched. A negative check, so a short bounded wait for a request that must not come.
    QTest::qWait(200);
    QCOMPARE(fetches(m_service), before + 2);
}

void TestUpdateCheck::installedPagePackageIsNotOfferedAgain()
{
    if (!UpdatePackage::vendorPublicKey().isEmpty())
        QSKIP("built with a vendor key: unsigned test packages would be refused");
    QString error;
    const auto place = [&](const QByteArray &page) {
        const QByteArray package =
            UpdatePackage::build(QStringLiteral("2.0.0"), {{QStringLiteral("html/index.html"), page}}, QByteArray(), &error);
        QVERIFY2(!package.isEmpty(), qPrintable(error));
        m_service.placePackage(QStringLiteral("html-latest.pkg"), package);
    };
    QVERIFY(writeFile(m_dir->path() + QStringLiteral("/view/index.html"), "old page"));
    place("new page");
    m_service.setUpgradeReply(R"({"code":0,"ret":{"type":"0","deployment":"html",)"
                              R"("devicePackage":"{{service}}/packages/html-latest.pkg"}})");

    // Each check: the pages of the dialogs it showed, once it has ended (the reply line, and the
    // line that tells the package is installed or the dialog that offers it).
    QStringList shown;
    const auto check = [&](bool manual) {
        shown.clear();
        const int installedLines = log().count("updatesystem(601)]");
        const int replyLines = log().count("updatesystem(112)]");
        UpdateCheck check(*m_context, nullptr, m_dir->path());
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            updateDlg *dialog = check.dialogWindow();
            if (!dialog || !dialog->isVisible())
                return;
            const QString page = pageOf(dialog);
            shown << (page == QLatin1String("pageInfo") ? dialog->findChild<QLabel *>(QStringLiteral("lb_info"))->text()
                                                        : page);
            if (page == QLatin1String("pageFirst")) {
                QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("uninstallButton")), Qt::LeftButton);
                // The pages go in; the window ends on the page that says so.
                QTRY_VERIFY_WITH_TIMEOUT(pageOf(dialog) == QLatin1String("pageDone") || !dialog->isVisible(), 15000);
            }
            dialog->reject();
        });
        watch.start(20);
        check.checkNow(QString(), QString(), QStringLiteral("1.0.0"), manual);
        QTRY_VERIFY_WITH_TIMEOUT(log().count("updatesystem(112)]") > replyLines
                                     && (log().count("updatesystem(601)]") > installedLines || !shown.isEmpty()),
                                 15000);
        QTRY_VERIFY(!check.busy());
    };

    check(false);
    QCOMPARE(shown, QStringList{"pageFirst"});
    QCOMPARE(readFile(m_dir->path() + QStringLiteral("/view/index.html")), QByteArray("new page"));
    // The same package again: nothing at start; asked for, the window says it is installed.
    check(false);
    QCOMPARE(shown, QStringList());
    check(true);
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().startsWith(QLatin1String("The pages the update service offers are already installed")),
             qPrintable(shown.first()));
    // Another package at the same address is new.
    place("newer page");
    check(false);
    QCOMPARE(shown, QStringList{"pageFirst"});
    QCOMPARE(readFile(m_dir->path() + QStringLiteral("/view/index.html")), QByteArray("newer page"));
}

QTEST_MAIN(TestUpdateCheck)
#include "tst_update_check.moc"
