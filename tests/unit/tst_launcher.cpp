// The installed launcher's rules for the user's application folder: made on first start, brought
// up to a newer package with the user's files kept and the settings merged (whole, or not at
// all), never downgraded below its own self-update, never changed under a running vexa; and the
// built launcher, which runs only what it checked and tells the desktop when it cannot.
#include "missing_tool.h"
#include "user_folder.h"

#include <QDBusConnection>
#include <QtTest>
#include <QXmlStreamReader>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

using launcher::Preparation;

namespace {

const char kConf[] = "Resources/profiles/conf.xml";

QByteArray conf(const char *client, const char *catalogue)
{
    return QByteArray("<?xml version=\"1.0\"?>\n<root>\n\t<client ") + client + " />\n" + catalogue + "</root>\n";
}

// The desktop's notification service, as the launcher reaches it.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList received; // summary: body

public slots:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body, const QStringList &,
                const QVariantMap &, int)
    {
        received << summary + QStringLiteral(": ") + body;
        return uint(received.size());
    }
};

} // namespace

class TestLauncher : public QObject {
    Q_OBJECT

private slots:
    void init();

    void versionsOrderLikeDebian_data();
    void versionsOrderLikeDebian();
    void userFolderFollowsXdgDataHome();
    void firstStartCopiesThePackage();
    void newerPackageReplacesProgramFilesAndKeepsTheUsers();
    void olderOrSamePackageChangesNothing();
    void selfUpdatedProgramIsNotDowngraded();
    void runningVexaPutsTheRefreshOff();
    void foldersOthersMayChangeAreRefused_data();
    void foldersOthersMayChangeAreRefused();
    void lockOfOthersOrHeldTooLongIsRefused();
    void stagingOfABrokenOffStartGoes();
    void refreshBrokenOffLeavesTheCopyAsItWas();
    void launcherRunsOnlyWhatItChecked();

private:
    void write(const QString &folder, const QString &file, const QByteArray &bytes);
    QByteArray read(const QString &folder, const QString &file) const;
    Preparation::Result prepare() { return launcher::prepareUserFolder(m_pristine, m_user).result; }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_pristine;
    QString m_user;
};

void TestLauncher::write(const QString &folder, const QString &file, const QByteArray &bytes)
{
    const QString path = folder + QLatin1Char('/') + file;
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(bytes);
}

QByteArray TestLauncher::read(const QString &folder, const QString &file) const
{
    QFile in(folder + QLatin1Char('/') + file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("<missing>");
}

void TestLauncher::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_pristine = m_dir->filePath(QStringLiteral("usr/lib/vexa"));
    m_user = m_dir->filePath(QStringLiteral("home/.local/share/vexa"));
    write(m_pristine, QStringLiteral("vexa"), "program 1");
    QVERIFY(QFile::setPermissions(m_pristine + QStringLiteral("/vexa"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                            QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                                            QFileDevice::ExeOther));
    write(m_pristine, QStringLiteral("view/index.html"), "page 1");
    write(m_pristine, QStringLiteral("view/profiles/default.xml"), "profile 1");
    write(m_pristine, QStringLiteral("view/xml/configuration.xml"), "modes 1");
    write(m_pristine, QLatin1String(kConf),
          conf("autoStart=\"false\" language=\"en\" version=\"1.0.0\"", "\t<conf deviceId=\"5E1C7A92\" name=\"PX-ORB42\" />\n"));
    write(m_pristine, QLatin1String(launcher::kPackageStamp), "0.1.0-1\n");
}

void TestLauncher::versionsOrderLikeDebian_data()
{
    QTest::addColumn<QString>("lower");
    QTest::addColumn<QString>("higher");
    QTest::newRow("revision by value") << "0.1.0-9" << "0.1.0-10";
    QTest::newRow("part by value") << "1.9.0" << "1.10.0";
    QTest::newRow("longer is newer") << "1.0" << "1.0.1";
    QTest::newRow("tilde before the end") << "1.0~rc1" << "1.0";
    QTest::newRow("letter before dot") << "1.0a" << "1.0.1";
    QTest::newRow("anything after nothing") << "" << "0.1.0-1";
}

void TestLauncher::versionsOrderLikeDebian()
{
    QFETCH(QString, lower);
    QFETCH(QString, higher);
    QVERIFY(launcher::compareVersions(lower, higher) < 0);
    QVERIFY(launcher::compareVersions(higher, lower) > 0);
    QCOMPARE(launcher::compareVersions(higher, higher), 0);
    QCOMPARE(launcher::compareVersions(QStringLiteral("1.01.0"), QStringLiteral("1.1.0")), 0);
}

void TestLauncher::userFolderFollowsXdgDataHome()
{
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", "/somewhere/data/");
    QCOMPARE(launcher::userFolderLocation(), QStringLiteral("/somewhere/data/vexa"));
    qputenv("XDG_DATA_HOME", "relative/data");
    QCOMPARE(launcher::userFolderLocation(), QDir::homePath() + QStringLiteral("/.local/share/vexa"));
    qputenv("XDG_DATA_HOME", saved);
}

void TestLauncher::firstStartCopiesThePackage()
{
    QCOMPARE(prepare(), Preparation::Created);
    for (const char *file : {"vexa", "view/index.html", "view/profiles/default.xml", kConf, launcher::kPackageStamp})
        QCOMPARE(read(m_user, QLatin1String(file)), read(m_pristine, QLatin1String(file)));
    QVERIFY(QFileInfo(m_user + QStringLiteral("/vexa")).isExecutable());
    // The folder holds the user's settings: nobody else may look in.
    QCOMPARE(QFileInfo(m_user).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), QFileDevice::Permissions());
    // Nothing of the staging is left beside it.
    QCOMPARE(QDir(QFileInfo(m_user).absolutePath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"vexa"});
    QCOMPARE(prepare(), Preparation::UpToDate);
}

void TestLauncher::newerPackageReplacesProgramFilesAndKeepsTheUsers()
{
    QCOMPARE(prepare(), Preparation::Created);
    // What the user and the program did since.
    write(m_user, QLatin1String(kConf),
          conf("autoStart=\"true\" language=\"de\" version=\"1.0.0\" pageKey=\"kept\"",
               "\t<conf deviceId=\"5E1C7A92\" name=\"renamed by the user\" />\n"));
    write(m_user, QStringLiteral("view/profiles/default.xml"), "profile edited");
    write(m_user, QStringLiteral("view/profiles/mine.xml"), "profile of mine");
    write(m_user, QStringLiteral("view/xml/configuration.xml"), "modes edited");
    write(m_user, QStringLiteral("tupdates/html/ready/x"), "download");
    // The newer package.
    write(m_pristine, QStringLiteral("vexa"), "program 2");
    write(m_pristine, QStringLiteral("view/index.html"), "page 2");
    write(m_pristine, QStringLiteral("view/profiles/default.xml"), "profile 2");
    write(m_pristine, QStringLiteral("view/profiles/added.xml"), "added profile");
    write(m_pristine, QStringLiteral("view/xml/configuration.xml"), "modes 2");
    write(m_pristine, QLatin1String(kConf),
          conf("autoStart=\"false\" language=\"en\" version=\"1.1.0\" closeFunc=\"hide\"",
               "\t<conf deviceId=\"5E1C7A92\" name=\"PX-ORB42\" />\n\t<conf deviceId=\"5E1C7A93\" name=\"PX-ORB43\" />\n"));
    write(m_pristine, QLatin1String(launcher::kPackageStamp), "0.1.0-10\n");

    QCOMPARE(prepare(), Preparation::Refreshed);
    QCOMPARE(read(m_user, QStringLiteral("vexa")), QByteArray("program 2"));
    QVERIFY(QFileInfo(m_user + QStringLiteral("/vexa")).isExecutable());
    QCOMPARE(read(m_user, QStringLiteral("view/index.html")), QByteArray("page 2"));
    // The template is the page's own: it comes with the page.
    QCOMPARE(read(m_user, QStringLiteral("view/profiles/default.xml")), QByteArray("profile 2"));
    QCOMPARE(read(m_user, QStringLiteral("view/profiles/mine.xml")), QByteArray("profile of mine"));
    QCOMPARE(read(m_user, QStringLiteral("view/profiles/added.xml")), QByteArray("added profile"));
    QCOMPARE(read(m_user, QStringLiteral("view/xml/configuration.xml")), QByteArray("modes edited"));
    QCOMPARE(read(m_user, QStringLiteral("tupdates/html/ready/x")), QByteArray("download"));
    QCOMPARE(read(m_user, QLatin1String(launcher::kPackageStamp)), QByteArray("0.1.0-10\n"));

    // The user's values and entries, the package's new setting and entry, the package's version.
    QXmlStreamReader xml(read(m_user, QLatin1String(kConf)));
    QXmlStreamAttributes client;
    QStringList entries;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("root"))
            continue;
        if (xml.name() == QLatin1String("client"))
            client = xml.attributes();
        else if (xml.name() == QLatin1String("conf"))
            entries << xml.attributes().value(QLatin1String("deviceId")) + QLatin1Char(' ') + xml.attributes().value(QLatin1String("name"));
        xml.skipCurrentElement();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(client.value(QLatin1String("autoStart")), QLatin1String("true"));
    QCOMPARE(client.value(QLatin1String("language")), QLatin1String("de"));
    QCOMPARE(client.value(QLatin1String("pageKey")), QLatin1String("kept"));
    QCOMPARE(client.value(QLatin1String("closeFunc")), QLatin1String("hide"));
    QCOMPARE(client.value(QLatin1String("version")), QLatin1String("1.1.0"));
    QCOMPARE(entries, (QStringList{"5E1C7A92 renamed by the user", "5E1C7A93 PX-ORB43"}));
    QCOMPARE(prepare(), Preparation::UpToDate);
}

void TestLauncher::olderOrSamePackageChangesNothing()
{
    QCOMPARE(prepare(), Preparation::Created);
    write(m_user, QLatin1String(launcher::kPackageStamp), "0.1.0-2\n");
    write(m_pristine, QStringLiteral("vexa"), "program of an older package");
    QCOMPARE(prepare(), Preparation::UpToDate);
    QCOMPARE(read(m_user, QStringLiteral("vexa")), QByteArray("program 1"));
}

void TestLauncher::selfUpdatedProgramIsNotDowngraded()
{
    QCOMPARE(prepare(), Preparation::Created);
    // The user's folder installed client 2.0.0 by itself.
    write(m_user, QStringLiteral("vexa"), "program 2.0.0");
    write(m_user, QLatin1String(kConf), conf("language=\"de\" version=\"2.0.0\"", ""));
    write(m_pristine, QStringLiteral("vexa"), "program 1.5.0");
    write(m_pristine, QLatin1String(kConf), conf("language=\"en\" version=\"1.5.0\"", ""));
    write(m_pristine, QLatin1String(launcher::kPackageStamp), "0.2.0-1\n");
    QCOMPARE(prepare(), Preparation::KeptNewer);
    QCOMPARE(read(m_user, QStringLiteral("vexa")), QByteArray("program 2.0.0"));
    QVERIFY(read(m_user, QLatin1String(kConf)).contains("version=\"2.0.0\""));
    QCOMPARE(prepare(), Preparation::UpToDate);

    // A later package that brings a newer client than the self-update takes over again.
    write(m_pristine, QStringLiteral("vexa"), "program 2.1.0");
    write(m_pristine, QLatin1String(kConf), conf("language=\"en\" version=\"2.1.0\"", ""));
    write(m_pristine, QLatin1String(launcher::kPackageStamp), "0.3.0-1\n");
    QCOMPARE(prepare(), Preparation::Refreshed);
    QCOMPARE(read(m_user, QStringLiteral("vexa")), QByteArray("program 2.1.0"));
}

void TestLauncher::runningVexaPutsTheRefreshOff()
{
    QCOMPARE(prepare(), Preparation::Created);
    write(m_pristine, QStringLiteral("vexa"), "program 2");
    write(m_pristine, QLatin1String(launcher::kPackageStamp), "0.1.0-2\n");
    // Held as the running program holds it.
    const int fd = ::open(QFile::encodeName(m_user + QStringLiteral("/vexa.lock")).constData(), O_RDWR | O_CREAT, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX), 0);
    QCOMPARE(prepare(), Preparation::Busy);
    QCOMPARE(read(m_user, QStringLiteral("vexa")), QByteArray("program 1"));
    ::close(fd);
    QCOMPARE(prepare(), Preparation::Refreshed);
    QCOMPARE(read(m_user, QStringLiteral("vexa")), QByteArray("program 2"));
}

void TestLauncher::foldersOthersMayChangeAreRefused_data()
{
    QTest::addColumn<bool>("copy"); // the copy itself, else the folder holding it
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("otherOwner");
    QTest::addColumn<bool>("link");
    QTest::addColumn<QString>("refusal"); // a part of it; empty: accepted

    QTest::newRow("usual data folder") << false << 0755 << false << false << QString();
    QTest::newRow("data folder others may write") << false << 01777 << false << false << "others may write";
    QTest::newRow("data folder of another user") << false << 0700 << true << false << "belongs to another user";
    QTest::newRow("data folder as a link to one's own") << false << 0700 << false << true << QString();
    QTest::newRow("private copy") << true << 0700 << false << false << QString();
    QTest::newRow("copy others may enter") << true << 0750 << false << false << "others may enter";
    QTest::newRow("copy of another user") << true << 0700 << true << false << "belongs to another user";
    QTest::newRow("copy as a link") << true << 0700 << false << true << "is not a folder";
}

void TestLauncher::foldersOthersMayChangeAreRefused()
{
    QFETCH(bool, copy);
    QFETCH(int, mode);
    QFETCH(bool, otherOwner);
    QFETCH(bool, link);
    QFETCH(QString, refusal);
    if (otherOwner && ::geteuid() != 0)
        QSKIP("giving a folder to another user needs root");
    const QString real = m_dir->filePath(QStringLiteral("real"));
    QVERIFY(QDir().mkpath(real));
    QCOMPARE(::chmod(QFile::encodeName(real).constData(), mode_t(mode)), 0);
    if (otherOwner)
        QCOMPARE(::chown(QFile::encodeName(real).constData(), 65534, 65534), 0);
    QString path = real;
    if (link) {
        path = m_dir->filePath(QStringLiteral("link"));
        QVERIFY(QFile::link(real, path));
    }
    const QString why = launcher::folderRefusal(path, copy ? launcher::FolderUse::Copy : launcher::FolderUse::Parent);
    if (refusal.isEmpty())
        QVERIFY2(why.isEmpty(), qPrintable(why));
    else
        QVERIFY2(why.contains(refusal) && why.contains(path), qPrintable(why));
}

void TestLauncher::lockOfOthersOrHeldTooLongIsRefused()
{
    const QString path = m_dir->filePath(QStringLiteral(".vexa-launcher.lock"));
    QString error;
    const int first = launcher::takeLauncherLock(path, 0, &error);
    QVERIFY2(first >= 0, qPrintable(error));
    QCOMPARE(QFileInfo(path).permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther), QFileDevice::Permissions());

    // Held by another start: refused after the wait, not waited on for ever.
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(launcher::takeLauncherLock(path, 300, &error), -1);
    QVERIFY(clock.elapsed() >= 300 && clock.elapsed() < 5000);
    QVERIFY2(error.contains(QLatin1String("another start of vexa has held")), qPrintable(error));
    ::close(first);
    const int again = launcher::takeLauncherLock(path, 300, &error);
    QVERIFY2(again >= 0, qPrintable(error));
    ::close(again);

    // A lock file others may write, or a link, is nobody's to trust.
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::WriteOther));
    QCOMPARE(launcher::takeLauncherLock(path, 0, &error), -1);
    QVERIFY2(error.contains(QLatin1String("not a private file of your own")), qPrintable(error));
    const QString link = m_dir->filePath(QStringLiteral("linked.lock"));
    QVERIFY(QFile::link(path, link));
    QCOMPARE(launcher::takeLauncherLock(link, 0, &error), -1);
}

void TestLauncher::stagingOfABrokenOffStartGoes()
{
    // What a first start cut short leaves (the launcher's lock is held by the caller, so no other
    // start is still making it), beside a name that only looks alike.
    write(m_user + QStringLiteral(".new-Ab12Cd"), QStringLiteral("view/index.html"), "half");
    write(QFileInfo(m_user).absolutePath(), QStringLiteral("vexa.newer/keep"), "user's");
    QCOMPARE(prepare(), Preparation::Created);
    QCOMPARE(QDir(QFileInfo(m_user).absolutePath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList({"vexa", "vexa.newer"}));
    write(m_user + QStringLiteral(".new-Zz99Yy"), QStringLiteral("vexa"), "half");
    QCOMPARE(prepare(), Preparation::UpToDate);
    QVERIFY(!QFileInfo::exists(m_user + QStringLiteral(".new-Zz99Yy")));
}

void TestLauncher::refreshBrokenOffLeavesTheCopyAsItWas()
{
    write(m_pristine, QStringLiteral("Updater"), "installer 1");
    QCOMPARE(prepare(), Preparation::Created);
    const QByteArray settings = read(m_user, QLatin1String(kConf));
    // A newer package whose program is larger than the disk has room for; the installer and the
    // settings come before it.
    write(m_pristine, QStringLiteral("Updater"), "installer 2");
    write(m_pristine, QStringLiteral("vexa"), QByteArray(256 * 1024, 'P'));
    write(m_pristine, QLatin1String(kConf), conf("autoStart=\"false\" language=\"en\" version=\"1.1.0\" closeFunc=\"hide\"", ""));
    write(m_pristine, QLatin1String(launcher::kPackageStamp), "0.1.0-10\n");

    // No file may grow past 64 KiB while the refresh runs, as on a full disk (root included).
    struct rlimit saved {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    const auto oldAction = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const Preparation broken = launcher::prepareUserFolder(m_pristine, m_user);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldAction);
    QCOMPARE(broken.result, Preparation::Failed);
    QVERIFY2(broken.error.contains(QLatin1String("vexa")), qPrintable(broken.error));

    // The copy as it was: its installer, its program, the user's settings and version, its stamp
    // (so the next start tries again); nothing left beside it.
    QCOMPARE(read(m_user, QStringLiteral("Updater")), QByteArray("installer 1"));
    QCOMPARE(read(m_user, QStringLiteral("vexa")), QByteArray("program 1"));
    QCOMPARE(read(m_user, QLatin1String(kConf)), settings);
    QCOMPARE(read(m_user, QLatin1String(launcher::kPackageStamp)), QByteArray("0.1.0-1\n"));
    QCOMPARE(QDir(QFileInfo(m_user).absolutePath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"vexa"});

    // With room, the next start refreshes it.
    QCOMPARE(prepare(), Preparation::Refreshed);
    QCOMPARE(read(m_user, QStringLiteral("Updater")), QByteArray("installer 2"));
    QCOMPARE(read(m_user, QStringLiteral("vexa")).size(), 256 * 1024);
    QVERIFY(read(m_user, QLatin1String(kConf)).contains("closeFunc=\"hide\""));
}

void TestLauncher::launcherRunsOnlyWhatItChecked()
{
    // The package's tree as installed: the launcher in bin, the application folder in lib/vexa.
    // Its program is a shell, so a start runs what the arguments say.
    const QString root = m_dir->filePath(QStringLiteral("usr"));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/bin")));
    QVERIFY(QFile::copy(QStringLiteral(LAUNCHER), root + QStringLiteral("/bin/vexa")));
    QVERIFY(QFile::remove(m_pristine + QStringLiteral("/vexa")));
    QVERIFY(QFile::copy(QStringLiteral("/bin/sh"), m_pristine + QStringLiteral("/vexa")));

    // The desktop's notifications on a private session bus.
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    if (!bus.waitForStarted())
        VEXA_SKIP_WITHOUT_TOOL("dbus-daemon, for a private session bus");
    const auto stopBus = qScopeGuard([&] {
        bus.kill();
        bus.waitForFinished();
    });
    QVERIFY(bus.waitForReadyRead(10000));
    const QString address = QString::fromLocal8Bit(bus.readLine().trimmed());
    QDBusConnection desktop = QDBusConnection::connectToBus(address, QStringLiteral("desktop"));
    FakeNotifications notifications;
    QVERIFY(desktop.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(desktop.registerService(QStringLiteral("org.freedesktop.Notifications")));

    const QString shared = m_dir->filePath(QStringLiteral("shared"));
    const QString data = shared + QStringLiteral("/data");
    QVERIFY(QDir().mkpath(data));
    QVERIFY(::chmod(QFile::encodeName(data).constData(), 0700) == 0);
    bool withDesktop = true;
    const auto start = [&](QByteArray *output) {
        QProcess launcher;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), data);
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        if (withDesktop)
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        launcher.setProcessEnvironment(env);
        launcher.start(root + QStringLiteral("/bin/vexa"), {"-c", "echo checked"});
        // With the desktop, the event loop runs meanwhile: the notification service answers from
        // here.
        if (withDesktop ? !QTest::qWaitFor([&] { return launcher.state() == QProcess::NotRunning; }, 20000)
                        : !launcher.waitForFinished(20000))
            return -1;
        *output = launcher.readAllStandardOutput() + launcher.readAllStandardError();
        return launcher.exitStatus() == QProcess::NormalExit ? launcher.exitCode() : -2;
    };

    // A folder above the data folder that others may write to (not sticky): they could swap what
    // it holds between the check and the start. Nothing starts, and the desktop says why.
    QVERIFY(::chmod(QFile::encodeName(shared).constData(), 0777) == 0);
    QByteArray said;
    QCOMPARE(start(&said), 1);
    QVERIFY2(said.contains("others may write to " + QFile::encodeName(shared)) && !said.contains("checked"),
             said.constData());
    QCOMPARE(notifications.received.size(), 1);
    QVERIFY2(notifications.received.at(0).startsWith(QLatin1String("vexa did not start: others may write to ")),
             qPrintable(notifications.received.at(0)));

    // Closed to others, it starts (and makes the copy).
    QVERIFY(::chmod(QFile::encodeName(shared).constData(), 0755) == 0);
    QCOMPARE(start(&said), 0);
    QCOMPARE(said, QByteArray("checked\n"));

    // Another copy beside it that fails the checks (others may enter it) and whose program says
    // so; it trades places with the checked copy as fast as it can while vexa starts again and
    // again. Whatever was checked is what runs.
    const QString other = data + QStringLiteral("/other");
    QVERIFY(QDir().mkpath(other));
    const QString copy = data + QStringLiteral("/vexa");
    for (const QString &file : QDir(copy).entryList(QDir::Files))
        QVERIFY(QFile::copy(copy + QLatin1Char('/') + file, other + QLatin1Char('/') + file));
    QVERIFY(QFile::remove(other + QStringLiteral("/vexa")));
    QVERIFY(QFile::copy(QStringLiteral("/bin/echo"), other + QStringLiteral("/vexa")));
    QVERIFY(::chmod(QFile::encodeName(other).constData(), 0755) == 0);
    withDesktop = false;
    std::atomic<bool> swapping{true};
    std::thread swapper([&] {
        const QByteArray a = QFile::encodeName(copy), b = QFile::encodeName(other);
        while (swapping)
            ::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_EXCHANGE);
    });
    int checked = 0, refused = 0, unchecked = 0;
    QByteArray unexpected;
    for (int i = 0; i < 200; ++i) {
        const int code = start(&said);
        if (code == 0 && said == "checked\n")
            ++checked;
        else if (code == 1 && said.contains("others may enter"))
            ++refused;
        else
            ++unchecked, unexpected = said;
    }
    swapping = false;
    swapper.join();
    QVERIFY2(unchecked == 0, qPrintable(QStringLiteral("%1 of 200 starts ran what was not checked: %2")
                                          .arg(unchecked)
                                          .arg(QString::fromLocal8Bit(unexpected))));
    QVERIFY2(checked > 0 && refused > 0, qPrintable(QStringLiteral("%1 checked, %2 refused").arg(checked).arg(refused)));
}

QTEST_GUILESS_MAIN(TestLauncher)
#include "tst_launcher.moc"
