// The update dialog's installation steps on application folders of their own: a page package
// from the vendor service into view/, a page file that cannot be replaced, and the installer
// started (or not) at exit, with its version recorded once its files are in place; and the window
// a user follows an offer through, in their language.
#include "app_settings.h"
#include "fault_server.h"
#include "firmware_flash.h"
#include "install_records.h"
#include "missing_tool.h"
#include "pspecific_wnd.h"
#include "runtime_log.h"
#include "update_dlg.h"
#include "update_folders.h"
#include "update_resources.h"
#include "package_writer.h"
#include "vendor_service.h"

#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// Every file below folder, relative, sorted.
QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

QString pageOf(updateDlg *dialog)
{
    return dialog->findChild<QStackedWidget *>()->currentWidget()->objectName();
}

QString textOf(updateDlg *dialog, const char *label)
{
    return dialog->findChild<QLabel *>(QLatin1String(label))->text();
}

void click(updateDlg *dialog, const char *button)
{
    QTest::mouseClick(dialog->findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
}

QString buttonText(updateDlg *dialog, const char *button)
{
    return dialog->findChild<QPushButton *>(QLatin1String(button))->text();
}

// Package downloads the service saw; the offer page's size questions (HEAD) are not counted.
int packageDownloads(const VendorService &service)
{
    int count = 0;
    for (const ServiceRequest &request : service.requests())
        count += request.method == QLatin1String("GET") && request.target.startsWith(QLatin1String("/packages/"));
    return count;
}

// With VEXA_SCREENSHOT_DIR set, the window as it is now, for people to look at.
void screenshot(updateDlg *dialog, const QString &name)
{
    const QString dir = qEnvironmentVariable("VEXA_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    QVERIFY(dialog->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png")));
}

// A firmware image the flash accepts: the header, a short payload, its length and check value.
QByteArray firmwareImage()
{
    QByteArray image(66125, '\0');
    const auto put = [&image](int offset, quint64 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            image[offset + i] = char(value >> (8 * i));
    };
    put(FirmwareFlash::kMagicOffset, FirmwareFlash::kMagic, 4);
    put(FirmwareFlash::kLengthOffset, 100, 8);
    return image;
}

// A pad whose loader shows up once loaderReady says so, and which takes every block.
class LoaderRom : public FirmwareRom {
public:
    std::function<bool()> loaderReady = [] { return true; };
    int blocks = 0;

    QString firstPadHardwareId() override { return QStringLiteral("HID\\Vid_5e1c&Pid_7a92&SN_1"); }
    bool deviceExists(const QString &id) override { return id != FirmwareFlash::loaderHardwareId || loaderReady(); }
    bool canRebootIntoLoader() override { return true; }
    void resetIntoLoader(const QString &) override {}
    void eraseRom(const QString &) override {}
    bool bornRom(const QString &, const Block &, int, int) override { return ++blocks > 0; }
    bool checkRom(const QString &, uint32_t, uint32_t) override { return true; }
    void finishUpdateRom(const QString &) override {}
};

} // namespace

// Cases that download need unsigned test packages and the stand-in service.
#define SKIP_WITHOUT_SERVICE()                                                                                         \
    do {                                                                                                               \
        if (!UpdatePackage::vendorPublicKey().isEmpty())                                                              \
            QSKIP("built with a vendor key: unsigned test packages would be refused");                               \
        if (!m_serviceStarted)                                                                                         \
            VEXA_SKIP_WITHOUT_TOOL(qPrintable(QStringLiteral("no vendor service: ") + m_service.errorString()));                        \
    } while (false)

class TestUpdateDlg : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void pagePackageInstalledIntoView();
    void lockedPageFileAsksRetryOrCancel_data();
    void lockedPageFileAsksRetryOrCancel();
    void installerStartedInApplicationFolder();
    void installerThatCannotStartIsForgotten();
    void clientVersionIsRecordedOnceItsFilesAreInPlace_data();
    void clientVersionIsRecordedOnceItsFilesAreInPlace();
    void offersOfSeveralKindsEndWhereTheyShould_data();
    void offersOfSeveralKindsEndWhereTheyShould();
    void failuresEndOnTheFailurePageWithAWayOut();
    void pagePackageKeepsTheUsersFiles();
    void closingDuringAnUnpackDoesNotWaitForIt();
    void offerOfAnotherSchemeIsRefused_data();
    void offerOfAnotherSchemeIsRefused();
    void offerProgressAndEndSpeakTheUsersLanguage_data();
    void offerProgressAndEndSpeakTheUsersLanguage();

private:
    QString view() const { return m_dir->path() + QStringLiteral("/view"); }
    QString htmlReady() const { return UpdateFolders::ready(m_dir->path(), QStringLiteral("html")); }

    QScopedPointer<QTemporaryDir> m_dir;
    VendorService m_service;
    bool m_serviceStarted = false;
};

void TestUpdateDlg::initTestCase()
{
    m_serviceStarted = m_service.start();
    UpdateResources::init();
    QFile sheet(QStringLiteral(":/qss/vexa"));
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
}

void TestUpdateDlg::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(writeFile(view() + QStringLiteral("/index.html"), "old page"));
    QVERIFY(writeFile(view() + QStringLiteral("/js/keep.js"), "kept"));
    cefLogConfigure(m_dir->path() + QStringLiteral("/web.log"), LOGSEVERITY_INFO);
    updaterWriteProtected = false;
}

void TestUpdateDlg::pagePackageInstalledIntoView()
{
    SKIP_WITHOUT_SERVICE();
    QString error;
    const QByteArray package = UpdatePackage::build(
        QStringLiteral("1.1.0"),
        {{QStringLiteral("html/index.html"), "new page"}, {QStringLiteral("html/js/about/new.js"), "new script"}},
        QByteArray(), &error);
    QVERIFY2(!package.isEmpty(), qPrintable(error));
    const QUrl url = m_service.placePackage(QStringLiteral("html-1.1.0.pkg"), package);
    const int downloadsBefore = packageDownloads(m_service);

    updateDlg dialog(nullptr, m_dir->path());
    // "client" is offered without an address: nothing to download for it.
    dialog.setOffer({{QStringLiteral("devicePackage"), url.toString()}}, {QStringLiteral("client"), QStringLiteral("html")});
    dialog.show();
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("uninstallButton")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(pageOf(&dialog), QStringLiteral("pageDone"), 15000);

    QCOMPARE(readFile(view() + QStringLiteral("/index.html")), QByteArray("new page"));
    QCOMPARE(readFile(view() + QStringLiteral("/js/about/new.js")), QByteArray("new script"));
    QCOMPARE(filesBelow(view()), QStringList({"index.html", "js/about/new.js", "js/keep.js"}));
    QVERIFY(!QFileInfo::exists(htmlReady()));
    QVERIFY(!QFileInfo::exists(UpdateFolders::kindFolder(m_dir->path(), QStringLiteral("client"))));
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("lb_install"))->text(), QStringLiteral("Update Complete"));
    QCOMPARE(packageDownloads(m_service), downloadsBefore + 1);
}

void TestUpdateDlg::lockedPageFileAsksRetryOrCancel_data()
{
    QTest::addColumn<bool>("retry");
    QTest::newRow("cancel") << false;
    QTest::newRow("retry after the file is free") << true;
}

void TestUpdateDlg::lockedPageFileAsksRetryOrCancel()
{
    QFETCH(bool, retry);
    QVERIFY(writeFile(htmlReady() + QStringLiteral("/index.html"), "new page"));
    QVERIFY(writeFile(htmlReady() + QStringLiteral("/added.html"), "added page"));
    QVERIFY(writeFile(htmlReady() + QStringLiteral("/js/keep.js"), "new keep"));
    QVERIFY(writeFile(htmlReady() + QStringLiteral("/js/about/new.js"), "new script"));
    // A folder where the file goes cannot be replaced by a file, whoever runs the test.
    const QString blocked = view() + QStringLiteral("/js/keep.js");
    QVERIFY(QFile::remove(blocked) && QDir().mkpath(blocked + QStringLiteral("/held")));

    updateDlg dialog(nullptr, m_dir->path());
    QStringList asked;
    QTimer answer;
    answer.setInterval(50);
    connect(&answer, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        asked << box->windowTitle() + QLatin1Char('|') + box->text();
        if (retry) {
            QDir(blocked).removeRecursively();
            box->button(QMessageBox::Retry)->click();
        } else {
            box->button(QMessageBox::Cancel)->click();
        }
    });
    answer.start();
    const bool installed = dialog.installPagePackage();

    QCOMPARE(installed, retry);
    QCOMPARE(asked, QStringList{QStringLiteral("Update error!|Failed to update vexa :(\n%1 is not accessible.").arg(blocked)});
    // All or nothing: a cancelled package leaves the old page exactly as it was (nothing
    // half-written beside it, nothing added) and stays ready for the failure page's Retry.
    QCOMPARE(readFile(view() + QStringLiteral("/index.html")), retry ? QByteArray("new page") : QByteArray("old page"));
    if (retry)
        QCOMPARE(readFile(blocked), QByteArray("new keep"));
    QCOMPARE(filesBelow(view()), retry ? QStringList({"added.html", "index.html", "js/about/new.js", "js/keep.js"})
                                       : QStringList{"index.html"});
    QCOMPARE(QFileInfo::exists(view() + QStringLiteral("/js/about")), retry);
    QCOMPARE(QFileInfo::exists(htmlReady()), !retry);
    QVERIFY(!QFileInfo::exists(UpdateFolders::kindFolder(m_dir->path(), QStringLiteral("html")) + QStringLiteral("/backup")));
}

void TestUpdateDlg::installerStartedInApplicationFolder()
{
    const QString installer = m_dir->path() + '/' + installerFileName();
    QVERIFY(writeFile(installer, "#!/bin/sh\necho \"$PWD $*\" > started.txt\n"));
    QVERIFY(QFile::setPermissions(installer, QFile::permissions(installer) | QFile::ExeOwner));

    QVERIFY(launchUpdater(m_dir->path() + '/'));
    QTRY_COMPARE(readFile(m_dir->path() + QStringLiteral("/started.txt")), m_dir->path().toUtf8() + " -update\n");
    QVERIFY(readFile(m_dir->path() + QStringLiteral("/web.log"))
                .contains(QStringLiteral("pspecific_wnd(441)] Application Info: executing %1 -update").arg(installer).toUtf8()));
}

void TestUpdateDlg::installerThatCannotStartIsForgotten()
{
    const QString ready = UpdateFolders::ready(m_dir->path(), QStringLiteral("client"));
    QVERIFY(writeFile(ready + QStringLiteral("/vexa"), "new program"));

    QVERIFY(!launchUpdater(m_dir->path()));
    QVERIFY(readFile(m_dir->path() + QStringLiteral("/web.log")).contains("pspecific_wnd(444)] Application Error: failed to execute"));
    // The next check downloads the client again instead of waiting for an installer.
    QVERIFY(!QFileInfo::exists(ready));
}

void TestUpdateDlg::clientVersionIsRecordedOnceItsFilesAreInPlace_data()
{
    QTest::addColumn<QByteArray>("installer");
    QTest::addColumn<int>("confirmed");
    QTest::addColumn<QByteArray>("version");
    // An older installer knows no "-version": it puts the files in place and records nothing.
    QTest::newRow("installed by an installer that ignores -version")
        << QByteArray("cp -R tupdates/client/ready/. . && rm -rf tupdates/client/ready")
        << int(InstallRecords::ClientInstall::Recorded) << QByteArray("2.0.0");
    QTest::newRow("nothing installed") << QByteArray("rm -rf tupdates/client/ready")
                                       << int(InstallRecords::ClientInstall::NotInstalled) << QByteArray("1.0.0");
}

void TestUpdateDlg::clientVersionIsRecordedOnceItsFilesAreInPlace()
{
    QFETCH(QByteArray, installer);
    QFETCH(int, confirmed);
    QFETCH(QByteArray, version);
    const QString conf = m_dir->path() + QStringLiteral("/Resources/profiles/conf.xml");
    QVERIFY(writeFile(conf, "<?xml version=\"1.0\"?>\n<root>\n\t<client version=\"1.0.0\" />\n</root>\n"));
    const QString ready = UpdateFolders::ready(m_dir->path(), QStringLiteral("client"));
    QVERIFY(writeFile(ready + QStringLiteral("/vexa"), "new program"));
    QVERIFY(writeFile(ready + QStringLiteral("/view/index.html"), "new page"));
    const QString script = m_dir->path() + '/' + installerFileName();
    QVERIFY(writeFile(script, "#!/bin/sh\n" + installer + "\n"));
    QVERIFY(QFile::setPermissions(script, QFile::permissions(script) | QFile::ExeOwner));

    QVERIFY(launchUpdater(m_dir->path(), QStringLiteral("2.0.0")));
    QTRY_VERIFY(!QFileInfo::exists(ready));
    // The next start, holding the running lock.
    QString recorded;
    QCOMPARE(int(InstallRecords::confirmClientInstall(m_dir->path(), &recorded)), confirmed);
    QVERIFY(readFile(conf).contains("version=\"" + version + "\""));
    QVERIFY(!QFileInfo::exists(InstallRecords::clientNotePath(m_dir->path())));
    // Confirmed once: a later start finds nothing to do.
    QCOMPARE(InstallRecords::confirmClientInstall(m_dir->path(), &recorded), InstallRecords::ClientInstall::None);
}

void TestUpdateDlg::offersOfSeveralKindsEndWhereTheyShould_data()
{
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<QString>("page");
    QTest::newRow("client and page") << QStringList{"client", "html"} << "pageFirst";
    QTest::newRow("page and firmware") << QStringList{"html", "firmware"} << "pageDone";
    QTest::newRow("client and firmware") << QStringList{"client", "firmware"} << "pageFirst";
}

void TestUpdateDlg::offersOfSeveralKindsEndWhereTheyShould()
{
    QFETCH(QStringList, kinds);
    QFETCH(QString, page);
    SKIP_WITHOUT_SERVICE();
    QString error;
    QJsonObject offer;
    const auto place = [&](const QString &key, const QString &name, const QString &file, const QByteArray &content) {
        const QByteArray package = UpdatePackage::build(QStringLiteral("2.0.0"), {{file, content}}, QByteArray(), &error);
        offer.insert(key, m_service.placePackage(name, package).toString());
    };
    place(QStringLiteral("clientPackage"), QStringLiteral("client.pkg"), QStringLiteral("client/vexa"), "new program");
    place(QStringLiteral("devicePackage"), QStringLiteral("html.pkg"), QStringLiteral("html/index.html"), "new page");
    place(QStringLiteral("firmwarePackage"), QStringLiteral("firmware.pkg"), QStringLiteral("firmware/update.bin"),
          firmwareImage());

    updateDlg dialog(nullptr, m_dir->path());
    auto rom = std::make_shared<LoaderRom>();
    // The loader comes up only once the client package is ready, so that the client finishes
    // while the flash runs; the page shown at that moment is recorded.
    QStringList pagesWhenClientReady;
    const QString clientReady = UpdateFolders::ready(m_dir->path(), QStringLiteral("client"));
    if (kinds.contains(QStringLiteral("client")) && kinds.contains(QStringLiteral("firmware")))
        rom->loaderReady = [&] {
            if (!QFileInfo::exists(clientReady))
                return false;
            if (pagesWhenClientReady.isEmpty())
                pagesWhenClientReady << pageOf(&dialog) + QLatin1Char('|') + textOf(&dialog, "lb_install");
            return true;
        };
    dialog.setFirmwareRom(rom);
    dialog.setOffer(offer, kinds);
    dialog.show();
    click(&dialog, "uninstallButton");
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.workRunning() && pageOf(&dialog) == page, 30000);

    if (kinds.contains(QStringLiteral("html"))) {
        QCOMPARE(readFile(view() + QStringLiteral("/index.html")), QByteArray("new page"));
        QVERIFY(dialog.isVisible()); // it stays for what comes after the page
    }
    if (kinds.contains(QStringLiteral("firmware"))) {
        QVERIFY(rom->blocks > 0);
        QCOMPARE(textOf(&dialog, "lb_install"), FirmwareFlash::kVerifiedText);
    }
    if (kinds.contains(QStringLiteral("client"))) {
        QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("uninstallButton"))->text(), QStringLiteral("Restart Now"));
        QCOMPARE(pendingClientVersion, QStringLiteral("2.0.0"));
    }
    if (!pagesWhenClientReady.isEmpty()) {
        // The flash stayed in view while the client became ready; its outcome heads the prompt.
        QVERIFY2(pagesWhenClientReady.first().startsWith(QLatin1String("pageThird|")), qPrintable(pagesWhenClientReady.first()));
        QVERIFY(textOf(&dialog, "lb_text").startsWith(FirmwareFlash::kVerifiedText));
    }
}

void TestUpdateDlg::failuresEndOnTheFailurePageWithAWayOut()
{
    SKIP_WITHOUT_SERVICE();
    const QString missing = m_service.address() + QStringLiteral("/packages/late.pkg");
    const auto retryShown = [](updateDlg *dialog) { return dialog->findChild<QPushButton *>(QStringLiteral("pb_retry"))->isVisible(); };

    {
        // Not on the server yet: a retry helps once it is.
        updateDlg dialog(nullptr, m_dir->path());
        dialog.setOffer({{QStringLiteral("devicePackage"), missing}}, {QStringLiteral("html")});
        dialog.show();
        click(&dialog, "uninstallButton");
        QTRY_COMPARE_WITH_TIMEOUT(pageOf(&dialog), QStringLiteral("pageFailed"), 15000);
        QVERIFY(textOf(&dialog, "lb_failed").contains(QLatin1String("the update server did not deliver it")));
        QVERIFY(retryShown(&dialog));
        QString error;
        m_service.placePackage(QStringLiteral("late.pkg"),
                               UpdatePackage::build(QStringLiteral("2.0.0"), {{QStringLiteral("html/index.html"), "new page"}},
                                                  QByteArray(), &error));
        click(&dialog, "pb_retry");
        QTRY_COMPARE_WITH_TIMEOUT(pageOf(&dialog), QStringLiteral("pageDone"), 15000);
        QCOMPARE(readFile(view() + QStringLiteral("/index.html")), QByteArray("new page"));
    }
    {
        // Kinds without addresses: nothing to retry, Close only.
        updateDlg dialog(nullptr, m_dir->path());
        dialog.setOffer({}, {QStringLiteral("client"), QStringLiteral("html")});
        dialog.show();
        click(&dialog, "uninstallButton");
        QCOMPARE(pageOf(&dialog), QStringLiteral("pageFailed"));
        QVERIFY(!retryShown(&dialog));
        click(&dialog, "pb_close");
        QVERIFY(!dialog.isVisible());
    }
    {
        // A page file that cannot be written: the ready folder stays and Retry finishes the
        // installation; the firmware that waits for the page is not flashed before.
        QVERIFY(writeFile(htmlReady() + QStringLiteral("/js/keep.js"), "new keep"));
        const QString blocked = view() + QStringLiteral("/js/keep.js");
        QVERIFY(QFile::remove(blocked) && QDir().mkpath(blocked + QStringLiteral("/held")));
        updateDlg dialog(nullptr, m_dir->path());
        QTimer cancel;
        connect(&cancel, &QTimer::timeout, this, [] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                box->button(QMessageBox::Cancel)->click();
        });
        cancel.start(50);
        dialog.show();
        dialog.on_htmlPackageDownLoadFinished(QStringLiteral("2.0.0"));
        QCOMPARE(pageOf(&dialog), QStringLiteral("pageFailed"));
        QVERIFY(textOf(&dialog, "lb_failed").contains(QDir::toNativeSeparators(blocked)));
        QVERIFY(QFileInfo::exists(htmlReady()));
        QDir(blocked).removeRecursively();
        click(&dialog, "pb_retry");
        QCOMPARE(readFile(blocked), QByteArray("new keep"));
        QVERIFY(!QFileInfo::exists(htmlReady()));
        QCOMPARE(pageOf(&dialog), QStringLiteral("pageDone"));
    }
}

void TestUpdateDlg::pagePackageKeepsTheUsersFiles()
{
    QVERIFY(writeFile(view() + QStringLiteral("/profiles/default.xml"), "<profile name=\"old template\"/>"));
    QVERIFY(writeFile(view() + QStringLiteral("/profiles/profile1.xml"), "<profile name=\"Mine\"/>"));
    QVERIFY(writeFile(view() + QStringLiteral("/xml/configuration.xml"), "<modes mine=\"1\"/>"));
    QVERIFY(writeFile(htmlReady() + QStringLiteral("/profiles/profile1.xml"), "<profile/>"));
    QVERIFY(writeFile(htmlReady() + QStringLiteral("/profiles/profile2.xml"), "<profile/>"));
    QVERIFY(writeFile(htmlReady() + QStringLiteral("/xml/configuration.xml"), "<modes/>"));
    QVERIFY(writeFile(htmlReady() + QStringLiteral("/profiles/default.xml"), "<profile name=\"new template\"/>"));
    QVERIFY(writeFile(htmlReady() + QStringLiteral("/index.html"), "new page"));

    updateDlg dialog(nullptr, m_dir->path());
    QVERIFY(dialog.installPagePackage());
    // The template profiles are reset from is the page's own, not the user's.
    QCOMPARE(readFile(view() + QStringLiteral("/profiles/default.xml")),
             QByteArray("<profile name=\"new template\"/>"));
    QCOMPARE(readFile(view() + QStringLiteral("/profiles/profile1.xml")), QByteArray("<profile name=\"Mine\"/>"));
    QCOMPARE(readFile(view() + QStringLiteral("/xml/configuration.xml")), QByteArray("<modes mine=\"1\"/>"));
    // A place the user has not made yet comes from the package.
    QCOMPARE(readFile(view() + QStringLiteral("/profiles/profile2.xml")), QByteArray("<profile/>"));
    QCOMPARE(readFile(view() + QStringLiteral("/index.html")), QByteArray("new page"));
}

void TestUpdateDlg::closingDuringAnUnpackDoesNotWaitForIt()
{
    SKIP_WITHOUT_SERVICE();
    // Large enough that its unpacking is still under way when the dialog goes.
    QByteArray big(200 << 20, 'v');
    QString error;
    const QUrl url = m_service.placePackage(
        QStringLiteral("html.pkg"),
        UpdatePackage::build(QStringLiteral("2.0.0"), {{QStringLiteral("html/big.bin"), big}}, QByteArray(), &error));
    big.clear();
    const QString package = UpdateFolders::kindFolder(m_dir->path(), QStringLiteral("html")) + QLatin1Char('/')
                            + PsUpdateDownloader::packageFileName(url.toString());

    auto *dialog = new updateDlg(nullptr, m_dir->path());
    dialog->setOffer({{QStringLiteral("devicePackage"), url.toString()}}, {QStringLiteral("html")});
    dialog->show();
    // The whole package has arrived once the bar is full; the unpacking follows on the same thread.
    bool arrived = false;
    connect(dialog->findChild<QProgressBar *>(), &QProgressBar::valueChanged, this, [&](int value) { arrived = value == 100; });
    click(dialog, "uninstallButton");
    QTRY_VERIFY_WITH_TIMEOUT(arrived, 15000);
    delete dialog;
    QVERIFY(PsUpdateDownloader::finishAll(5000));
    QVERIFY(!QFileInfo::exists(htmlReady()));
    QVERIFY(!QFileInfo::exists(UpdateFolders::temp(m_dir->path(), QStringLiteral("html"))));
    // Kept whole for the next attempt.
    QVERIFY(QFileInfo::exists(package));
}

void TestUpdateDlg::offerOfAnotherSchemeIsRefused_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("a file") << "file:%1/view/index.html";
    // Opened, a pipe would block the download's thread for ever.
    QTest::newRow("a pipe") << "file://%1/pipe";
    QTest::newRow("ftp") << "ftp://127.0.0.1/html.pkg";
    QTest::newRow("no scheme") << "%1/view/index.html";
    QTest::newRow("no host") << "http:///html.pkg";
}

void TestUpdateDlg::offerOfAnotherSchemeIsRefused()
{
    QFETCH(QString, address);
    QCOMPARE(mkfifo(QFile::encodeName(m_dir->path() + QStringLiteral("/pipe")).constData(), 0600), 0);
    updateDlg dialog(nullptr, m_dir->path());
    dialog.setOffer({{QStringLiteral("devicePackage"), address.replace(QStringLiteral("%1"), m_dir->path())}},
                    {QStringLiteral("html")});
    dialog.show();
    click(&dialog, "uninstallButton");

    QCOMPARE(pageOf(&dialog), QStringLiteral("pageFailed"));
    QVERIFY2(textOf(&dialog, "lb_failed").startsWith(QLatin1String("The update offer is not valid")),
             qPrintable(textOf(&dialog, "lb_failed")));
    QVERIFY(!dialog.findChild<QPushButton *>(QStringLiteral("pb_retry"))->isVisible());
    QVERIFY(!dialog.workRunning());
    QVERIFY(!QFileInfo::exists(UpdateFolders::root(m_dir->path())));
}

void TestUpdateDlg::offerProgressAndEndSpeakTheUsersLanguage_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<bool>("sizeInOffer");
    // What the window says at each step; the dialog's fixed texts are the same in every language.
    QTest::addColumn<QString>("offered");
    QTest::addColumn<QString>("progress");
    QTest::addColumn<QString>("failed");
    QTest::addColumn<QString>("retry");
    QTest::addColumn<QString>("done");
    QTest::addColumn<QString>("reload");
    QTest::newRow("en, size from the server")
        << "en" << false << "Pages 1.1.0 · 1.5 MB"
        << "^Pages: \\d+(\\.\\d)?\u00a0(KB|MB) of 1\\.5\u00a0MB$"
        << "Pages: the download failed. Please check the network." << "Retry"
        << "Installed:\nPages 1.1.0\n\nvexa still shows the pages it loaded before: Reload shows the new ones."
        << "Reload";
    QTest::newRow("de-DE, size from the service")
        << "de-DE" << true << "Seiten 1.1.0 · 1,5 MB"
        << "^Seiten: [\\d.]+(,\\d)?\u00a0(KB|MB) von 1,5\u00a0MB$"
        << "Seiten: Der Download ist fehlgeschlagen. Bitte prüfen Sie die Netzwerkverbindung." << "Wiederholen"
        << "Installiert:\nSeiten 1.1.0\n\nvexa zeigt noch die zuvor geladenen Seiten: „Neu laden“ zeigt die neuen."
        << "Neu laden";
}

void TestUpdateDlg::offerProgressAndEndSpeakTheUsersLanguage()
{
    QFETCH(QString, language);
    QFETCH(bool, sizeInOffer);
    QFETCH(QString, offered);
    QFETCH(QString, progress);
    QFETCH(QString, failed);
    QFETCH(QString, retry);
    QFETCH(QString, done);
    QFETCH(QString, reload);
    if (!UpdatePackage::vendorPublicKey().isEmpty())
        QSKIP("built with a vendor key: unsigned test packages would be refused");
    QVERIFY(writeFile(m_dir->path() + QStringLiteral("/Resources/profiles/conf.xml"),
                      "<?xml version=\"1.0\"?>\n<root>\n\t<client version=\"1.0.0\" language=\"" + language.toUtf8()
                          + "\" />\n</root>\n"));
    AppSettings settings(m_dir->path());
    settings.load();

    // 1.5 MiB that LZMA cannot shrink, so the package is as large as the offer says.
    QByteArray noise(3 << 19, Qt::Uninitialized);
    QRandomGenerator(42).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    QString error;
    const QByteArray package = UpdatePackage::build(
        QStringLiteral("1.1.0"), {{QStringLiteral("html/index.html"), "new page"}, {QStringLiteral("html/noise.bin"), noise}},
        QByteArray(), &error);
    QVERIFY2(!package.isEmpty(), qPrintable(error));
    FaultServer server;
    QVERIFY(server.listen());
    server.setBody(package);

    QJsonObject offer{{QStringLiteral("devicePackage"), server.url(QStringLiteral("/html-1.1.0.pkg")).toString()},
                      {QStringLiteral("deviceVersion"), QStringLiteral("1.1.0")},
                      {QStringLiteral("notes"), QStringLiteral("Macros <b>keep</b> their names.")}};
    if (sizeInOffer)
        offer.insert(QStringLiteral("deviceSize"), QString::number(package.size()));
    updateDlg dialog(&settings, m_dir->path());
    QSignalSpy reloads(&dialog, SIGNAL(reloadPageRequested()));
    dialog.setOffer(offer, {QStringLiteral("html")});
    dialog.show();

    // The offer: the dialog's question and buttons as they are, what comes beside them (read
    // with plain spaces where a size keeps its unit with a no-break space).
    const auto details = [&dialog] {
        const auto *box = dialog.findChild<QTextBrowser *>(QStringLiteral("tb_offer"));
        return box ? box->toPlainText() : QString();
    };
    QTRY_VERIFY2(details().startsWith(offered + QLatin1Char('\n')), qPrintable(details()));
    QVERIFY2(details().endsWith(QLatin1String("\nMacros <b>keep</b> their names.")), qPrintable(details()));
    QCOMPARE(textOf(&dialog, "lb_text"), QStringLiteral("Found the new version,update now?"));
    QCOMPARE(buttonText(&dialog, "cancelButton"), QStringLiteral("cancel"));
    QCOMPARE(buttonText(&dialog, "uninstallButton"), QStringLiteral("Update"));
    // Only a size the service did not give is asked of the server.
    QCOMPARE(server.requests().size(), sizeInOffer ? 0 : 1);
    screenshot(&dialog, language + QStringLiteral("-1-offer"));

    // Half the package, then the server goes quiet: the progress stays where it got to.
    server.setFault(FaultServer::Fault::Stall, package.size() / 2, 1);
    click(&dialog, "uninstallButton");
    QCOMPARE(pageOf(&dialog), QStringLiteral("pageThird"));
    const QRegularExpression progressLine(progress);
    QTRY_VERIFY2_WITH_TIMEOUT(progressLine.match(textOf(&dialog, "lb_progress")).hasMatch(),
                              qPrintable(textOf(&dialog, "lb_progress")), 10000);
    const int value = dialog.findChild<QProgressBar *>()->value();
    QVERIFY2(value > 0 && value <= 50, qPrintable(QString::number(value)));
    QCOMPARE(textOf(&dialog, "lb_install"), QStringLiteral("Downloading package resources。。。"));
    screenshot(&dialog, language + QStringLiteral("-2-progress"));

    server.releaseStalled();
    QTRY_COMPARE_WITH_TIMEOUT(pageOf(&dialog), QStringLiteral("pageFailed"), 15000);
    QCOMPARE(textOf(&dialog, "lb_failed"), failed);
    QCOMPARE(buttonText(&dialog, "pb_retry"), retry);
    screenshot(&dialog, language + QStringLiteral("-3-failed"));

    // Retry goes on from what arrived; the end says what is in place and offers the reload.
    click(&dialog, "pb_retry");
    QTRY_COMPARE_WITH_TIMEOUT(pageOf(&dialog), QStringLiteral("pageDone"), 15000);
    QCOMPARE(textOf(&dialog, "lb_done"), done);
    QCOMPARE(buttonText(&dialog, "pb_reload"), reload);
    QCOMPARE(textOf(&dialog, "lb_install"), QStringLiteral("Update Complete"));
    QCOMPARE(readFile(view() + QStringLiteral("/index.html")), QByteArray("new page"));
    screenshot(&dialog, language + QStringLiteral("-4-done"));
    click(&dialog, "pb_reload");
    QCOMPARE(reloads.count(), 1);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

QTEST_MAIN(TestUpdateDlg)
#include "tst_update_dlg.moc"
