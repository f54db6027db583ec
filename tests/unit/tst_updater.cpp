// The installer program, run as vexa runs it ("Updater -update" in the application folder) on
// application folders of its own with a stand-in vexa: a shell script that notes where and as
// which version it was started.
#include "running_lock.h"

#include <QtTest>

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

} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

private slots:
    void init();
    void installsEverythingAndStartsTheNewVexa();
    void waitsForVexaToEnd();
    void rollsBackWhenOneFileCannotBeReplaced();
    void refusesTargetsOutsideTheApplicationFolder_data();
    void refusesTargetsOutsideTheApplicationFolder();

private:
    QString app(const QString &relative) const { return m_app->filePath(relative); }
    QString ready(const QString &relative) const { return m_app->filePath("tupdates/client/ready/" + relative); }
    void startUpdater(QProcess &updater);
    QString log() const { return QString::fromUtf8(content(app("updater.log"))); }

    QScopedPointer<QTemporaryDir> m_app;
};

void TestUpdater::init()
{
    m_app.reset(new QTemporaryDir);
    QVERIFY(m_app->isValid());
    QVERIFY(put(app("vexa"), oldVexa, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void TestUpdater::startUpdater(QProcess &updater)
{
    updater.setProgram(QStringLiteral(UPDATER));
    updater.setArguments({QStringLiteral("-update")});
    updater.setWorkingDirectory(m_app->path());
    updater.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    updater.start();
    QVERIFY(updater.waitForStarted());
}

void TestUpdater::installsEverythingAndStartsTheNewVexa()
{
    QVERIFY(put(app("a.txt"), "old a"));
    QVERIFY(put(app("view/b.js"), "old b"));
    QVERIFY(put(app("keep.txt"), "kept"));
    // The unpacker writes plain files: the new vexa arrives without its execute bit.
    QVERIFY(put(ready("vexa"), newVexa, QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(put(ready("a.txt"), "new a"));
    QVERIFY(put(ready("view/b.js"), "new b"));
    QVERIFY(put(ready("new/deep/c.txt"), "c"));

    QProcess updater;
    startUpdater(updater);
    QVERIFY(updater.waitForFinished(30000));
    QCOMPARE(updater.exitCode(), 0);

    QTRY_VERIFY_WITH_TIMEOUT(content(app("started.txt")).endsWith("\n"), 10000);
    QCOMPARE(content(app("started.txt")), m_app->path().toUtf8() + " new\n");
    QCOMPARE(content(app("a.txt")), QByteArray("new a"));
    QCOMPARE(content(app("view/b.js")), QByteArray("new b"));
    QCOMPARE(content(app("new/deep/c.txt")), QByteArray("c"));
    QCOMPARE(content(app("keep.txt")), QByteArray("kept"));
    QVERIFY(!QFileInfo::exists(app("tupdates/client/ready")));
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

void TestUpdater::rollsBackWhenOneFileCannotBeReplaced()
{
    QVERIFY(put(app("a.txt"), "old a"));
    QVERIFY(put(app("m.txt"), "old m"));
    // Root writes through any permission bits, so what blocks is a folder where a file should go;
    // it sorts last, after three files have been put in place.
    QVERIFY(put(app("z.dat/inside"), "in the way"));
    QVERIFY(put(ready("vexa"), newVexa));
    QVERIFY(put(ready("a.txt"), "new a"));
    QVERIFY(put(ready("m.txt"), "new m"));
    QVERIFY(put(ready("n/x.txt"), "new x"));
    QVERIFY(put(ready("z.dat"), "new z"));

    QProcess updater;
    startUpdater(updater);
    QVERIFY(updater.waitForFinished(30000));
    QCOMPARE(updater.exitCode(), 1);

    QCOMPARE(content(app("a.txt")), QByteArray("old a"));
    QCOMPARE(content(app("m.txt")), QByteArray("old m"));
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

QTEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
