// The process monitor against real processes: a copy of a small program under a private path.
#include "process_moniter.h"

#include <QtTest>

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
    void stopCutsThePauseShort();
    void noBindingsEndsAtOnce();

private:
    void writeConfiguration(const QString &modes);
    void startMonitor(int periodMs = kPeriodMs);
    QProcess *run();

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
    m_program = QFileInfo(m_dir->path()).canonicalFilePath() + "/PadGame";
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

QProcess *TestProcessMoniter::run()
{
    auto *process = new QProcess;
    process->start(m_program, {"60"});
    if (!process->waitForStarted())
        qFatal("cannot start %s", qPrintable(m_program));
    m_processes.append(process);
    return process;
}

void TestProcessMoniter::reportsStartAndEnd()
{
    writeConfiguration(QString("<mode index=\"1\"/><mode index=\"2\" bindingProcess=\"%1\"/>"
                               "<mode index=\"3\" bindingProcess=\"\"/>")
                           .arg(m_program));
    startMonitor();
    QTest::qWait(3 * kPeriodMs);
    QVERIFY(m_changes.isEmpty()); // not running: no event at all

    QProcess *process = run();
    QTRY_COMPARE(m_changes.size(), 1);
    QCOMPARE(m_changes.at(0).index, QStringLiteral("2"));
    QCOMPARE(m_changes.at(0).state, true);
    QTest::qWait(3 * kPeriodMs);
    QCOMPARE(m_changes.size(), 1); // still running: nothing new

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
    QTest::qWait(3 * kPeriodMs);
    QCOMPARE(m_changes.size(), 1); // the second still runs

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
    QTest::qWait(2 * kPeriodMs);
    QCOMPARE(m_changes.size(), 1);
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
    QTest::qWait(3 * kPeriodMs);
    QCOMPARE(m_changes.size(), 1);
}

void TestProcessMoniter::stopCutsThePauseShort()
{
    writeConfiguration(QString("<mode index=\"1\" bindingProcess=\"%1\"/>").arg(m_program));
    startMonitor(60 * 60 * 1000);
    QTest::qWait(100); // well into its first pause
    QElapsedTimer timer;
    timer.start();
    m_monitor->stop();
    m_thread->quit();
    // Generous: only a wait for the hour-long pause would fail this.
    QVERIFY(m_thread->wait(10000));
    QVERIFY(timer.elapsed() < 10000);
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
        QTest::qWait(50);
        thread->quit(); // the thread can finish only once start() has returned
        QVERIFY(finished.wait(10000) || finished.count() == 1);
        delete monitor;
        delete thread;
    }
}

QTEST_GUILESS_MAIN(TestProcessMoniter)
#include "tst_process_moniter.moc"
