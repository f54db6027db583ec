// The installer program, run as vexa runs it ("Updater -update" in the application folder) on
// application folders of its own with a stand-in vexa: a shell script that notes where and as
// which version it was started.
#include "install_rights.h"
#include "pspecific_wnd.h"
#include "running_lock.h"
#include "runtime_log.h"
#include "user_files.h"

#include <QtTest>

#include <sys/socket.h>
#include <unistd.h>

namespace {

const char *const oldVexa = "#!/bin/sh\necho \"$(pwd) old\" >> started.txt\n";
const char *const newVexa = "#!/bin/sh\necho \"$(pwd) new\" >> started.txt\n";

bool put(const QString &path, const QByteArray &content, QFile::Permissions mode = QFile::Permissions())
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    return mode == QFile::Permissions() || file.setPermissions(mode);
}

QByteArray content(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Whatever the installer leaves beside the files it touched.
QStringList leftovers(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(QLatin1String(".vexa-new")) || path.endsWith(QLatin1String(".vexa-old")))
            found << path;
    }
    return found;
}

QByteArray conf(const char *client, const char *catalogue = "")
{
    return QByteArray("<?xml version=\"1.0\"?>\n<root>\n\t<client ") + client + " />\n" + catalogue + "</root>\n";
}

// What the descriptors of process lead to ("socket:[123]", "/dev/null", a path).
QByteArrayList descriptorTargets(const QString &process)
{
    QByteArrayList targets;
    const QString folder = QStringLiteral("/proc/%1/fd").arg(process);
    for (const QString &fd : QDir(folder).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        char target[512];
        const ssize_t length = ::readlink(QFile::encodeName(folder + '/' + fd).constData(), target, sizeof target);
        if (length > 0)
            targets << QByteArray(target, int(length));
    }
    return targets;
}

bool executable(const QString &path)
{
    return QFile::permissions(path) & QFile::ExeOwner;
}

} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

private slots:
    void init();
    void installsEverythingAndStartsVexaOnlyWhenAsked_data();
    void installsEverythingAndStartsVexaOnlyWhenAsked();
    void keepsTheUsersFilesAndMergesTheSettings();
    void waitsForVexaToEnd();
    void handsOverOnlyTheStandardDescriptors();
    void rollsBackWhenOneFileCannotBeReplaced();
    void refusesTargetsOutsideTheApplicationFolder_data();
    void refusesTargetsOutsideTheApplicationFolder();
    void tellsWhereAnInstallerMayWork();

private:
    QString app(const QString &relative) const { return m_app->filePath(relative); }
    QString ready(const QString &relative) const { return m_app->filePath("tupdates/client/ready/" + relative); }
    void startUpdater(QProcess &updater, const QStringList &arguments = {"-update", "-restart"});
    QString log() const { return QString::fromUtf8(content(app("updater.log"))); }

    QScopedPointer<QTemporaryDir> m_app;
};

void TestUpdater::init()
{
    m_app.reset(new QTemporaryDir);
    QVERIFY(m_app->isValid());
    QVERIFY(put(app("vexa"), oldVexa, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    restartAfterUpdate = false;
    updaterWriteProtected = false;
    // launchUpdater's lines; the default log file would be in the working folder.
    cefLogConfigure(app("web.log"), LOGSEVERITY_INFO);
}

void TestUpdater::startUpdater(QProcess &updater, const QStringList &arguments)
{
    updater.setProgram(QStringLiteral(UPDATER));
    updater.setArguments(arguments);
    updater.setWorkingDirectory(m_app->path());
    updater.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    updater.start();
    QVERIFY(updater.waitForStarted());
}

void TestUpdater::installsEverythingAndStartsVexaOnlyWhenAsked_data()
{
    QTest::addColumn<bool>("restart");
    QTest::addColumn<bool>("writeProtected");
    QTest::newRow("Restart Now") << true << false;
    QTest::newRow("quit from the tray") << false << false;
    QTest::newRow("folder refused the new installer") << true << true;
}

// As the program hands over at its end: launchUpdater starts the installer of the folder.
void TestUpdater::installsEverythingAndStartsVexaOnlyWhenAsked()
{
    QFETCH(bool, restart);
    QFETCH(bool, writeProtected);
    QVERIFY(QFile::copy(QStringLiteral(UPDATER), app(installerFileName())));
    QVERIFY(put(app(userFiles::kSettingsFile), conf("language=\"de\" version=\"1.0.0\"")));
    QVERIFY(put(app("a.txt"), "old a"));
    QVERIFY(put(app("view/b.js"), "old b"));
    QVERIFY(put(app("keep.txt"), "kept"));
    // The unpacker writes plain files: programs and scripts arrive without their execute bit.
    QVERIFY(put(ready("vexa"), newVexa, QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(put(ready("a.txt"), "new a"));
    QVERIFY(put(ready("view/b.js"), "new b"));
    QVERIFY(put(ready("new/deep/c.txt"), "c"));
    QVERIFY(put(ready("lib/helper"), QByteArray("\x7f" "ELF\x02\x01\x01\0", 8)));
    QVERIFY(put(ready("tools/run.sh"), "#!/bin/sh\n"));

    restartAfterUpdate = restart;
    updaterWriteProtected = writeProtected;
    QCOMPARE(launchUpdater(m_app->path(), QStringLiteral("2.0.0")), !writeProtected);
    if (writeProtected) {
        QCOMPARE(content(app("a.txt")), QByteArray("old a"));
        QVERIFY(QFileInfo::exists(ready("a.txt")));
        return;
    }

    if (restart) {
        QTRY_VERIFY_WITH_TIMEOUT(content(app("started.txt")).endsWith("\n"), 10000);
        QCOMPARE(content(app("started.txt")), m_app->path().toUtf8() + " new\n");
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(log().contains(QLatin1String("vexa not started again")), 10000);
        QVERIFY2(!log().contains(QStringLiteral("started ") + app("vexa")), qPrintable(log()));
    }
    QCOMPARE(content(app("a.txt")), QByteArray("new a"));
    QCOMPARE(content(app("view/b.js")), QByteArray("new b"));
    QCOMPARE(content(app("new/deep/c.txt")), QByteArray("c"));
    QCOMPARE(content(app("keep.txt")), QByteArray("kept"));
    QVERIFY(executable(app("lib/helper")));
    QVERIFY(executable(app("tools/run.sh")));
    QVERIFY(!executable(app("new/deep/c.txt")));
    QCOMPARE(content(app(userFiles::kSettingsFile)), conf("language=\"de\" version=\"2.0.0\""));
    QVERIFY(!QFileInfo::exists(app("tupdates/client/ready")));
    QCOMPARE(leftovers(m_app->path()), QStringList());
}

void TestUpdater::keepsTheUsersFilesAndMergesTheSettings()
{
    QVERIFY(put(app(userFiles::kSettingsFile),
                conf("language=\"de\" autoStart=\"true\" version=\"1.0.0\" pageKey=\"mine\"",
                     "\t<conf deviceId=\"5E1C7A92\" name=\"renamed by the user\" />\n")));
    QVERIFY(put(app("view/profiles/profile1.xml"), "<profile>the user's</profile>\r\n"));
    QVERIFY(put(app("view/xml/configuration.xml"), "<modes>the user's</modes>"));
    QVERIFY(put(ready("vexa"), newVexa));
    QVERIFY(put(ready(userFiles::kSettingsFile),
                conf("language=\"en\" autoStart=\"false\" version=\"1.5.0\" closeFunc=\"hide\"",
                     "\t<conf deviceId=\"5E1C7A92\" name=\"PX-ORB42\" />\n\t<conf deviceId=\"5E1C7A93\" name=\"PX-ORB43\" />\n")));
    QVERIFY(put(ready("view/profiles/profile1.xml"), "<profile>the package's</profile>"));
    QVERIFY(put(ready("view/profiles/profile2.xml"), "<profile>new</profile>"));
    QVERIFY(put(ready("view/xml/configuration.xml"), "<modes>the package's</modes>"));

    QProcess updater;
    startUpdater(updater, {"-update", "-version", "2.0.0"});
    QVERIFY(updater.waitForFinished(30000));
    QCOMPARE(updater.exitCode(), 0);

    QCOMPARE(content(app("vexa")), QByteArray(newVexa));
    QCOMPARE(content(app("view/profiles/profile1.xml")), QByteArray("<profile>the user's</profile>\r\n"));
    QCOMPARE(content(app("view/xml/configuration.xml")), QByteArray("<modes>the user's</modes>"));
    QCOMPARE(content(app("view/profiles/profile2.xml")), QByteArray("<profile>new</profile>"));
    // The user's values and entries, the package's new setting and entry, the version installed.
    QCOMPARE(content(app(userFiles::kSettingsFile)),
             conf("language=\"de\" autoStart=\"true\" version=\"2.0.0\" pageKey=\"mine\" closeFunc=\"hide\"",
                  "\t<conf deviceId=\"5E1C7A92\" name=\"renamed by the user\" />\n\t<conf deviceId=\"5E1C7A93\" name=\"PX-ORB43\" />\n"));
    QCOMPARE(leftovers(m_app->path()), QStringList());
}

void TestUpdater::waitsForVexaToEnd()
{
    QVERIFY(put(app("a.txt"), "old a"));
    QVERIFY(put(ready("a.txt"), "new a"));
    RunningLock runningVexa;
    QVERIFY(runningVexa.tryHold(m_app->path()));

    QProcess updater;
    startUpdater(updater);
    // The line comes only from an installer that found the lock taken.
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(QLatin1String("waiting for vexa to end")), 10000);
    QCOMPARE(updater.state(), QProcess::Running);
    QCOMPARE(content(app("a.txt")), QByteArray("old a"));
    QVERIFY(!QFileInfo::exists(app("started.txt")));

    runningVexa.release();
    QVERIFY(updater.waitForFinished(30000));
    QCOMPARE(updater.exitCode(), 0);
    QCOMPARE(content(app("a.txt")), QByteArray("new a"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(app("started.txt")), 10000);
}

void TestUpdater::handsOverOnlyTheStandardDescriptors()
{
    // A descriptor of ours that would survive an exec, as the browser's channels to its zygotes
    // do: passed on, it kept the old zygotes alive beside the restarted vexa.
    int pair[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    const auto closePair = qScopeGuard([&] {
        ::close(pair[0]);
        ::close(pair[1]);
    });
    char target[64] = {};
    QVERIFY(::readlink(QByteArray("/proc/self/fd/" + QByteArray::number(pair[0])).constData(), target, sizeof target - 1) > 0);
    const QByteArray leaked(target);
    QVERIFY(put(app("vexa"), "#!/bin/sh\nfor fd in /proc/$$/fd/*; do readlink \"$fd\"; done > fds.txt\n",
                QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    // vexa's hand-over: the installer, found waiting for vexa's lock.
    QVERIFY(QFile::copy(QStringLiteral(UPDATER), app(installerFileName())));
    RunningLock runningVexa;
    QVERIFY(runningVexa.tryHold(m_app->path()));
    restartAfterUpdate = true;
    QVERIFY(launchUpdater(m_app->path()));
    QString installer;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (const QString &process : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs))
                if (QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(process)) == app(installerFileName()))
                    installer = process;
            return !installer.isEmpty();
        }(),
        10000);
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(QLatin1String("waiting for vexa to end")), 10000);
    const QByteArrayList held = descriptorTargets(installer);
    QVERIFY2(!held.contains(leaked), held.join(' ').constData());
    runningVexa.release();
    QTRY_VERIFY_WITH_TIMEOUT(content(app("fds.txt")).endsWith("\n"), 10000);
    QFile::remove(app("fds.txt"));

    // The installer's hand-over, from an installer that was given the descriptor.
    QProcess updater;
    startUpdater(updater, {"-update", "-restart"});
    QVERIFY(updater.waitForFinished(30000));
    QTRY_VERIFY_WITH_TIMEOUT(content(app("fds.txt")).endsWith("\n"), 10000);
    const QByteArrayList restarted = content(app("fds.txt")).split('\n');
    QVERIFY2(!restarted.contains(leaked), content(app("fds.txt")).constData());
}

void TestUpdater::rollsBackWhenOneFileCannotBeReplaced()
{
    QVERIFY(put(app("a.txt"), "old a"));
    QVERIFY(put(app("m.txt"), "old m"));
    // Root writes through any permission bits, so what blocks is a folder where a file should go;
    // it sorts last, after three files have been put in place.
    QVERIFY(put(app("z.dat/inside"), "in the way"));
    const QByteArray settings = conf("language=\"de\" version=\"1.0.0\"");
    QVERIFY(put(app(userFiles::kSettingsFile), settings));
    QVERIFY(put(ready(userFiles::kSettingsFile), conf("language=\"en\" version=\"2.0.0\" closeFunc=\"hide\"")));
    QVERIFY(put(ready("vexa"), newVexa));
    QVERIFY(put(ready("a.txt"), "new a"));
    QVERIFY(put(ready("m.txt"), "new m"));
    QVERIFY(put(ready("n/x.txt"), "new x"));
    QVERIFY(put(ready("z.dat"), "new z"));

    QProcess updater;
    startUpdater(updater, {"-update", "-version", "2.0.0", "-restart"});
    QVERIFY(updater.waitForFinished(30000));
    QCOMPARE(updater.exitCode(), 1);

    QCOMPARE(content(app("a.txt")), QByteArray("old a"));
    QCOMPARE(content(app("m.txt")), QByteArray("old m"));
    // Neither the merge nor the new version: the old program is what runs.
    QCOMPARE(content(app(userFiles::kSettingsFile)), settings);
    QCOMPARE(content(app("vexa")), QByteArray(oldVexa));
    QVERIFY(QFileInfo(app("vexa")).isExecutable());
    QVERIFY(!QFileInfo::exists(app("n")));
    QCOMPARE(content(app("z.dat/inside")), QByteArray("in the way"));
    QCOMPARE(leftovers(m_app->path()), QStringList());
    QVERIFY2(log().contains(QLatin1String("z.dat")), qPrintable(log()));
    // Kept for another attempt.
    QVERIFY(QFileInfo::exists(ready("a.txt")));
    QTRY_COMPARE_WITH_TIMEOUT(content(app("started.txt")), m_app->path().toUtf8() + " old\n", 10000);
}

void TestUpdater::refusesTargetsOutsideTheApplicationFolder_data()
{
    QTest::addColumn<bool>("linkInReady");
    QTest::newRow("a folder of the application is a link out") << false;
    QTest::newRow("an entry of the ready folder is a link out") << true;
}

void TestUpdater::refusesTargetsOutsideTheApplicationFolder()
{
    QFETCH(bool, linkInReady);
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    QVERIFY(put(outside.filePath("secret.txt"), "outside"));
    QVERIFY(put(app("a.txt"), "old a"));
    QVERIFY(put(ready("a.txt"), "new a"));
    if (linkInReady) {
        QVERIFY(QFile::link(outside.filePath("secret.txt"), ready("secret.txt")));
    } else {
        QVERIFY(QFile::link(outside.path(), app("linked")));
        QVERIFY(put(ready("linked/secret.txt"), "overwritten"));
    }

    QProcess updater;
    startUpdater(updater);
    QVERIFY(updater.waitForFinished(30000));
    QCOMPARE(updater.exitCode(), 1);

    QCOMPARE(content(app("a.txt")), QByteArray("old a"));
    QCOMPARE(content(outside.filePath("secret.txt")), QByteArray("outside"));
    if (linkInReady)
        QVERIFY(!QFileInfo(app("secret.txt")).exists());
    QVERIFY2(log().contains(QLatin1String("secret.txt")), qPrintable(log()));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(app("started.txt")), 10000);
}

void TestUpdater::tellsWhereAnInstallerMayWork()
{
    QString why;
    QVERIFY2(applicationFolderWritable(m_app->path(), &why), qPrintable(why));
    QVERIFY(!applicationFolderWritable(app("missing"), &why));
    QVERIFY(why.contains(app("missing")));
    // Nothing of the trial is left.
    QCOMPARE(QDir(m_app->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"vexa"});

    QVERIFY(installedByPackageManager(QStringLiteral("/usr/lib/vexa/"), app("no list")));
    QVERIFY(put(app("vexa.list"), "/.\n/usr\n/opt/vexa\n/opt/vexa/vexa\n/opt/vexa/view/index.html\n"));
    QVERIFY(installedByPackageManager(QStringLiteral("/opt/vexa"), app("vexa.list")));
    QVERIFY(!installedByPackageManager(m_app->path(), app("vexa.list")));
}

QTEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
