// The process monitor against real processes: a copy of a small program under a private path.
#include "process_moniter.h"

#include <QtTest>

#include <atomic>
#include <memory>

namespace {

struct Change {
    QString index;
    bool state;
};

// Short pauses keep the test quick; the period itself is not what is tested.
constexpr int kPeriodMs = 150;

} // namespace

class TestProcessMoniter : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void reportsStartAndEnd();
    void alreadyRunningProgramAndSeveralInstances();
    void laterModeWinsForTheSameProgram();
    void otherLetterCaseNeverMatches_data();
    void otherLetterCaseNeverMatches();
    void pathThroughLinksMatches_data();
    void pathThroughLinksMatches();
    void scriptCountsWhileAnInterpreterRunsIt_data();
    void scriptCountsWhileAnInterpreterRunsIt();
    void windowsProgramCountsWhileWineRunsIt_data();
    void windowsProgramCountsWhileWineRunsIt();
    void stopCutsThePauseShort();
    void noBindingsEndsAtOnce();

private:
    void writeConfiguration(const QString &modes);
    void startMonitor(int periodMs = kPeriodMs);
    QProcess *run(const QString &program = QString());
    QProcess *runWith(const QString &program, const QStringList &arguments, const QString &folder = QString(),
                      const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    QString writeScript(const QString &name);
    void expectRunningOrNot(bool expected);
    bool nothingChangesForScans(int scans, int expectedChanges);
    static bool threadIdles(QObject *onThread);

    QScopedPointer<QTemporaryDir> m_dir;
    QString m_program;
    QString m_configuration;
    QThread *m_thread = nullptr;
    ProcessMoniter *m_monitor = nullptr;
    QVector<Change> m_changes;
    QList<QProcess *> m_processes;
};

void TestProcessMoniter::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    const QString sleep = QStandardPaths::findExecutable("sleep");
    if (sleep.isEmpty())
        QSKIP("no sleep program to copy");
    // As the user picks it in the program dialog: the temporary folder's path may lead through
    // links, and the binding keeps it so.
    m_program = m_dir->path() + "/PadGame";
    QVERIFY(QFile::copy(sleep, m_program));
    m_configuration = m_dir->filePath("configuration.xml");
    m_changes.clear();
}

void TestProcessMoniter::cleanup()
{
    if (m_monitor) {
        m_monitor->stop();
        m_thread->quit();
        QVERIFY(m_thread->wait(5000));
        delete m_monitor;
        delete m_thread;
        m_monitor = nullptr;
        m_thread = nullptr;
    }
    for (QProcess *process : qAsConst(m_processes)) {
        process->kill();
        process->waitForFinished();
        delete process;
    }
    m_processes.clear();
    m_dir.reset();
}

void TestProcessMoniter::writeConfiguration(const QString &modes)
{
    QFile file(m_configuration);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<conf><modeSetting><modes>" + modes.toUtf8() + "</modes><other/></modeSetting></conf>");
}

void TestProcessMoniter::startMonitor(int periodMs)
{
    m_thread = new QThread;
    m_monitor = new ProcessMoniter(m_thread, m_configuration, periodMs);
    // Queued into this thread: the list is only touched here.
    connect(m_monitor, &ProcessMoniter::processChanged, this,
            [this](const QString &index, bool state) { m_changes.append({index, state}); }, Qt::QueuedConnection);
    m_thread->start();
}

QProcess *TestProcessMoniter::run(const QString &program)
{
    auto *process = new QProcess;
    process->start(program.isEmpty() ? m_program : program, {"60"});
    if (!process->waitForStarted())
        qFatal("cannot start %s", qPrintable(m_program));
    m_processes.append(process);
    return process;
}

QProcess *TestProcessMoniter::runWith(const QString &program, const QStringList &arguments, const QString &folder,
                                      const QProcessEnvironment &environment)
{
    auto *process = new QProcess;
    process->setWorkingDirectory(folder.isEmpty() ? m_dir->path() : folder);
    process->setProcessEnvironment(environment);
    process->start(program, arguments);
    if (!process->waitForStarted())
        qFatal("cannot start %s", qPrintable(program));
    m_processes.append(process);
    return process;
}

// A script that waits on its input, which stays open until the test ends it.
QString TestProcessMoniter::writeScript(const QString &name)
{
    QFile file(m_dir->filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write("#!/bin/sh\nread line\n") < 0)
        qFatal("cannot write %s", qPrintable(file.fileName()));
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    return file.fileName();
}

// Mode 1 is the binding under test; mode 2, bound to the running copy of sleep, proves the scans ran.
void TestProcessMoniter::expectRunningOrNot(bool expected)
{
    run();
    startMonitor();
    if (expected) {
        QTRY_COMPARE(m_changes.size(), 2);
        QSet<QString> started;
        for (const Change &change : qAsConst(m_changes))
            if (change.state)
                started.insert(change.index);
        QCOMPARE(started, (QSet<QString>{"1", "2"}));
        m_processes.first()->kill(); // the process under test
        m_processes.first()->waitForFinished();
        QTRY_COMPARE(m_changes.size(), 3);
        QCOMPARE(m_changes.at(2).index, QStringLiteral("1"));
        QCOMPARE(m_changes.at(2).state, false);
    } else {
        QTRY_COMPARE(m_changes.size(), 1);
        QCOMPARE(m_changes.at(0).index, QStringLiteral("2"));
        QVERIFY(nothingChangesForScans(3, 1));
    }
}

// A negative check: no further change within a few scans. Bounded on purpose (nothing can be
// waited for), and as short as a few periods allows.
bool TestProcessMoniter::nothingChangesForScans(int scans, int expectedChanges)
{
    QTest::qWait(scans * kPeriodMs);
    return m_changes.size() == expectedChanges;
}

// True once onThread's thread has turned its event loop: whatever ran as it started is done.
bool TestProcessMoniter::threadIdles(QObject *onThread)
{
    const auto reached = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(onThread, [reached] { *reached = true; }, Qt::QueuedConnection);
    return QTest::qWaitFor([reached] { return reached->load(); }, 10000);
}

void TestProcessMoniter::reportsStartAndEnd()
{
    writeConfiguration(QString("<mode index=\"1\"/><mode index=\"2\" bindingProcess=\"%1\"/>"
                               "<mode index=\"3\" bindingProcess=\"\"/>")
                           .arg(m_program));
    startMonitor();
    QVERIFY(nothingChangesForScans(3, 0)); // not running: no event at all

    QProcess *process = run();
    QTRY_COMPARE(m_changes.size(), 1);
    QCOMPARE(m_changes.at(0).index, QStringLiteral("2"));
    QCOMPARE(m_changes.at(0).state, true);
    QVERIFY(nothingChangesForScans(3, 1)); // still running: nothing new

    process->kill();
    process->waitForFinished();
    QTRY_COMPARE(m_changes.size(), 2);
    QCOMPARE(m_changes.at(1).index, QStringLiteral("2"));
    QCOMPARE(m_changes.at(1).state, false);
}

void TestProcessMoniter::alreadyRunningProgramAndSeveralInstances()
{
    writeConfiguration(QString("<mode index=\"4\" bindingProcess=\"%1\"/>").arg(m_program));
    QProcess *first = run();
    QProcess *second = run();
    startMonitor();
    // Running before the monitor started: reported at its first scan, once for both.
    QTRY_COMPARE(m_changes.size(), 1);
    QCOMPARE(m_changes.at(0).state, true);

    first->kill();
    first->waitForFinished();
    QVERIFY(nothingChangesForScans(3, 1)); // the second still runs

    second->kill();
    second->waitForFinished();
    QTRY_COMPARE(m_changes.size(), 2);
    QCOMPARE(m_changes.at(1).index, QStringLiteral("4"));
    QCOMPARE(m_changes.at(1).state, false);
}

void TestProcessMoniter::laterModeWinsForTheSameProgram()
{
    writeConfiguration(QString("<mode index=\"1\" bindingProcess=\"%1\"/><mode index=\"5\" bindingProcess=\"%1\"/>")
                           .arg(m_program));
    run();
    startMonitor();
    QTRY_COMPARE(m_changes.size(), 1);
    QCOMPARE(m_changes.at(0).index, QStringLiteral("5"));
    QVERIFY(nothingChangesForScans(2, 1));
}

void TestProcessMoniter::otherLetterCaseNeverMatches_data()
{
    QTest::addColumn<QString>("bound");
    QTest::newRow("upper case name") << "/PADGAME";
    QTest::newRow("lower case name") << "/padgame";
    QTest::newRow("doubled separator") << "//PadGame";
}

void TestProcessMoniter::otherLetterCaseNeverMatches()
{
    QFETCH(QString, bound);
    const QString path = QFileInfo(m_program).path() + bound;
    // A control binding that does match proves the scans ran.
    writeConfiguration(QString("<mode index=\"7\" bindingProcess=\"%1\"/><mode index=\"8\" bindingProcess=\"%2\"/>")
                           .arg(path, m_program));
    run();
    startMonitor();
    QTRY_COMPARE(m_changes.size(), 1);
    QCOMPARE(m_changes.at(0).index, QStringLiteral("8"));
    QVERIFY(nothingChangesForScans(3, 1));
}

// The system names a running program by its resolved path; a binding made through a link (a
// linked folder, or a name pointing to the program file, as many installed programs are) still
// follows the program, whether it was started through the link or not.
void TestProcessMoniter::pathThroughLinksMatches_data()
{
    QTest::addColumn<QString>("linkedFolder");
    QTest::addColumn<QString>("linkedName");
    QTest::addColumn<bool>("startThroughLink");
    QTest::newRow("linked folder") << "games" << "" << false;
    QTest::newRow("linked folder, started through it") << "games" << "" << true;
    QTest::newRow("linked name") << "" << "pad-game" << true;
}

void TestProcessMoniter::pathThroughLinksMatches()
{
    QFETCH(QString, linkedFolder);
    QFETCH(QString, linkedName);
    QFETCH(bool, startThroughLink);
    QString chosen = m_program;
    if (!linkedFolder.isEmpty()) {
        QVERIFY(QFile::link(m_dir->path(), m_dir->filePath(linkedFolder)));
        chosen = m_dir->filePath(linkedFolder) + "/PadGame";
    } else {
        QVERIFY(QFile::link(m_program, m_dir->filePath(linkedName)));
        chosen = m_dir->filePath(linkedName);
    }
    writeConfiguration(QString("<mode index=\"6\" bindingProcess=\"%1\"/>").arg(chosen));
    QProcess *process = run(startThroughLink ? chosen : m_program);
    startMonitor();
    QTRY_COMPARE(m_changes.size(), 1);
    QCOMPARE(m_changes.at(0).index, QStringLiteral("6"));
    QCOMPARE(m_changes.at(0).state, true);
    process->kill();
    process->waitForFinished();
    QTRY_COMPARE(m_changes.size(), 2);
    QCOMPARE(m_changes.at(1).state, false);
}

// Many games start from a launcher script: it runs while an interpreter runs it, whether the
// kernel started it from its #! line or the user named it to an interpreter; an argument that is
// not the interpreter's script does not count.
void TestProcessMoniter::scriptCountsWhileAnInterpreterRunsIt_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("counts");
    QTest::newRow("started from its #! line") << "" << QStringList() << true;
    QTest::newRow("sh with a path relative to its folder") << "/bin/sh" << QStringList{"-e", "./run.sh"} << true;
    QTest::newRow("sh running another script") << "/bin/sh" << QStringList{"other.sh", "run.sh"} << false;
    QTest::newRow("sh -c, the script as a mere argument") << "/bin/sh" << QStringList{"-c", "read line", "run.sh"} << false;
}

void TestProcessMoniter::scriptCountsWhileAnInterpreterRunsIt()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(bool, counts);
    const QString script = writeScript("run.sh");
    writeScript("other.sh");
    writeConfiguration(QString("<mode index=\"1\" bindingProcess=\"%1\"/><mode index=\"2\" bindingProcess=\"%2\"/>")
                           .arg(script, m_program));
    runWith(program.isEmpty() ? script : program, arguments);
    expectRunningOrNot(counts);
}

// A Windows game runs in Wine's loader, whose command line names the program in Windows form; the
// drive leads through the prefix's dosdevices to a folder. The stand-in for the loader is a shell
// named like it, waiting on its input.
void TestProcessMoniter::windowsProgramCountsWhileWineRunsIt_data()
{
    QTest::addColumn<QString>("loader");
    QTest::addColumn<QString>("drive");
    QTest::addColumn<bool>("counts");
    QTest::newRow("a drive of the prefix") << "wine64-preloader" << "c:" << true;
    QTest::newRow("the drive of the whole file system") << "wine-preloader" << "z:" << true;
    QTest::newRow("not Wine's loader") << "preloader" << "c:" << false;
}

void TestProcessMoniter::windowsProgramCountsWhileWineRunsIt()
{
    QFETCH(QString, loader);
    QFETCH(QString, drive);
    QFETCH(bool, counts);
    const QString driveC = m_dir->filePath("drive_c");
    QVERIFY(QDir().mkpath(driveC + "/Games"));
    const QString game = driveC + "/Games/PadGame.exe";
    QFile gameFile(game);
    QVERIFY(gameFile.open(QIODevice::WriteOnly));
    gameFile.close();
    const QString prefix = m_dir->filePath("prefix");
    QVERIFY(QDir().mkpath(prefix + "/dosdevices"));
    QVERIFY(QFile::link(driveC, prefix + "/dosdevices/c:"));
    QVERIFY(QFile::link("/", prefix + "/dosdevices/z:"));
    const QString windowsPath = drive == "c:" ? QStringLiteral("C:\\Games\\PadGame.exe")
                                              : "Z:" + QString(game).replace('/', '\\');

    const QString shell = QFileInfo("/bin/sh").canonicalFilePath();
    QVERIFY(QFile::copy(shell, m_dir->filePath(loader)));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("WINEPREFIX", prefix);
    writeConfiguration(QString("<mode index=\"1\" bindingProcess=\"%1\"/><mode index=\"2\" bindingProcess=\"%2\"/>")
                           .arg(game, m_program));
    runWith(m_dir->filePath(loader), {"-c", "read line", windowsPath}, QString(), environment);
    expectRunningOrNot(counts);
}

void TestProcessMoniter::stopCutsThePauseShort()
{
    writeConfiguration(QString("<mode index=\"1\" bindingProcess=\"%1\"/>").arg(m_program));
    startMonitor(60 * 60 * 1000);
    QVERIFY(threadIdles(m_monitor)); // started, and into its first pause
    m_monitor->stop();
    m_thread->quit();
    // Generous next to the scheduler, short next to the hour: only waiting out the pause fails.
    QVERIFY2(m_thread->wait(10000), "the monitor's thread waited out its pause");
    QVERIFY(!m_monitor->isRunning());
}

void TestProcessMoniter::noBindingsEndsAtOnce()
{
    // Missing file, then a file without any bound mode: the loop never starts.
    for (const QString &modes : {QString(), QString("<mode index=\"1\" bindingProcess=\"\"/>")}) {
        if (!modes.isEmpty())
            writeConfiguration(modes);
        auto *thread = new QThread;
        auto *monitor = new ProcessMoniter(thread, m_configuration, 60 * 60 * 1000);
        QSignalSpy finished(thread, &QThread::finished);
        thread->start();
        QVERIFY(threadIdles(monitor)); // start() has returned
        thread->quit();
        QVERIFY(finished.wait(10000) || finished.count() == 1);
        delete monitor;
        delete thread;
    }
}

QTEST_GUILESS_MAIN(TestProcessMoniter)
#include "tst_process_moniter.moc"
