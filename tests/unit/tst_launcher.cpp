// The installed launcher's rules for the user's application folder: made on first start, brought
// up to a newer package with the user's files kept and the settings merged, never downgraded
// below its own self-update, never changed under a running vexa.
#include "user_folder.h"

#include <QtTest>
#include <QXmlStreamReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>

using launcher::Preparation;

namespace {

const char kConf[] = "Resources/profiles/conf.xml";

QByteArray conf(const char *client, const char *catalogue)
{
    return QByteArray("<?xml version=\"1.0\"?>\n<root>\n\t<client ") + client + " />\n" + catalogue + "</root>\n";
}

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

QTEST_GUILESS_MAIN(TestLauncher)
#include "tst_launcher.moc"
