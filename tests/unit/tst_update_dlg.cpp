// The update dialog's installation steps on application folders of their own: a page package
// from the vendor service into view/, a page file that cannot be replaced, and the installer
// started (or not) at exit.
#include "pspecific_wnd.h"
#include "runtime_log.h"
#include "update_dlg.h"
#include "update_folders.h"
#include "update_package.h"
#include "vendor_service.h"

#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

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

} // namespace

class TestUpdateDlg : public QObject {
    Q_OBJECT

private slots:
    void init();

    void pagePackageInstalledIntoView();
    void lockedPageFileAsksRetryOrCancel_data();
    void lockedPageFileAsksRetryOrCancel();
    void installerStartedInApplicationFolder();
    void installerThatCannotStartIsForgotten();

private:
    QString view() const { return m_dir->path() + QStringLiteral("/view"); }
    QString htmlReady() const { return UpdateFolders::ready(m_dir->path(), QStringLiteral("html")); }

    QScopedPointer<QTemporaryDir> m_dir;
};

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
    if (!UpdatePackage::vendorPublicKey().isEmpty())
        QSKIP("built with a vendor key: unsigned test packages would be refused");
    VendorService service;
    if (!service.start())
        QSKIP(qPrintable(QStringLiteral("no vendor service: ") + service.errorString()));
    QString error;
    const QByteArray package = UpdatePackage::build(
        QStringLiteral("1.1.0"),
        {{QStringLiteral("html/index.html"), "new page"}, {QStringLiteral("html/js/about/new.js"), "new script"}},
        QByteArray(), &error);
    QVERIFY2(!package.isEmpty(), qPrintable(error));
    const QUrl url = service.placePackage(QStringLiteral("html-1.1.0.pkg"), package);

    updateDlg dialog(nullptr, m_dir->path());
    // "client" is offered without an address: nothing to download for it.
    dialog.setOffer({{QStringLiteral("devicePackage"), url.toString()}}, {QStringLiteral("client"), QStringLiteral("html")});
    dialog.show();
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("uninstallButton")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialog.result(), int(QDialog::Accepted), 15000);

    QCOMPARE(readFile(view() + QStringLiteral("/index.html")), QByteArray("new page"));
    QCOMPARE(readFile(view() + QStringLiteral("/js/about/new.js")), QByteArray("new script"));
    QCOMPARE(filesBelow(view()), QStringList({"index.html", "js/about/new.js", "js/keep.js"}));
    QVERIFY(!QFileInfo::exists(htmlReady()));
    QVERIFY(!QFileInfo::exists(UpdateFolders::kindFolder(m_dir->path(), QStringLiteral("client"))));
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("lb_install"))->text(), QStringLiteral("Update Complete"));
    QCOMPARE(service.requests().size(), 1);
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
    QVERIFY(writeFile(htmlReady() + QStringLiteral("/js/keep.js"), "new keep"));
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
    QCOMPARE(readFile(view() + QStringLiteral("/index.html")), QByteArray("new page"));
    if (retry)
        QCOMPARE(readFile(blocked), QByteArray("new keep"));
    // Nothing half-written is left beside the page files; a cancelled package stays ready for
    // the failure page's Retry.
    QCOMPARE(filesBelow(view()), retry ? QStringList({"index.html", "js/keep.js"}) : QStringList{"index.html"});
    QCOMPARE(QFileInfo::exists(htmlReady()), !retry);
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

QTEST_MAIN(TestUpdateDlg)
#include "tst_update_dlg.moc"
