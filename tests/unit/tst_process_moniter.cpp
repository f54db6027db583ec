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
    void stopCutsThePauseShort();
    void noBindingsEndsAtOnce();

private:
    void writeConfiguration(const QString &modes);
    void startMonitor(int periodMs = kPeriodMs);
    QProcess *run(const QString &program = QString());
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
