// Crash reporting end to end: real crashes of the program leave minidumps that a stock debugger
// reads, and the reporter is started with the dump's path.
#include "missing_tool.h"
#include "vexa_driver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

const QRegularExpression kDumpName(QStringLiteral(
    "^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\.dmp$"));

const QString kCrash = QStringLiteral("--crash-for-test");
const QString kOverflowStack = QStringLiteral("--overflow-stack-for-test");
const QString kOverflowStackOnQtThread = QStringLiteral("--overflow-stack-on-qt-thread-for-test");
const QString kAbort = QStringLiteral("--abort-for-test");

// Records its arguments one per line after their count, as a reporter would receive them; beside
// itself, or where REPORTER_ARGS says when its folder cannot be written.
const QByteArray kStandInReporter = "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" >> "
                                    "\"${REPORTER_ARGS:-$(dirname \"$0\")/reporter-args.txt}\"\n";

QStringList dumpsIn(const QString &dir)
{
    QStringList dumps;
    for (const QString &name : QDir(dir).entryList(QDir::Files))
        if (kDumpName.match(name).hasMatch())
            dumps << name;
    return dumps;
}

bool putStandInReporter(const QString &dir)
{
    QFile reporter(dir + QStringLiteral("/CrashReporter"));
    return reporter.open(QIODevice::WriteOnly | QIODevice::Truncate) && reporter.write(kStandInReporter) > 0 &&
           reporter.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The reporter is detached: it may still be writing when the crashed program is gone.
QStringList reporterCalls(const QString &dir, int expectedCalls, const QString &argsFile = QString())
{
    QStringList lines;
    (void)QTest::qWaitFor(
        [&] {
            QFile file(argsFile.isEmpty() ? dir + QStringLiteral("/reporter-args.txt") : argsFile);
            if (file.open(QIODevice::ReadOnly))
                lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            return lines.size() >= expectedCalls * 2;
        },
        10000);
    return lines;
}

} // namespace

class tst_E2eCrash : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void crash_leavesOneDump_andStartsTheReporterWithItsPath();
    void twoCrashes_leaveTwoDumps();
    void lldb_namesTheCrashingFunction();
    void lldb_showsTheOtherThreadsWhereTheyWait();
    void sigsegvSentToRunningVexa_leavesADump();
    void stackOverflowOnAWorkerThread_leavesADumpThatLldbReads_data();
    void stackOverflowOnAWorkerThread_leavesADumpThatLldbReads();
    void abortOnAWorkerThread_leavesADumpAndStartsTheReporter();
    void unwritableApplicationFolder_putsTheDumpInTheUserCache();
    void missingReporter_isSaidOnceAtStartUp_andNotTriedAtTheCrash();

private:
    // Crashes the test build in dir the way crashSwitch says; the shell's exit status.
    // readOnlyFolder: dir is mounted read-only for the program (in a namespace of its own, so
    // that writing fails even for root).
    int crashIn(const QString &dir, const QString &crashSwitch, QByteArray *output = nullptr,
                const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                bool readOnlyFolder = false);
    // Crashes the test build once and reads its one dump with LLDB running commands; *out stays
    // empty when that did not work out (the test has then failed or been skipped).
    void debugCrash(const QString &crashSwitch, const QStringList &commands, QString *out);

    QScopedPointer<QTemporaryDir> m_dir;
    QString m_appDir;
};

void tst_E2eCrash::initTestCase()
{
#ifdef VEXA_SANITIZE
    QSKIP("the sanitizers own the fatal signals in this build; crash handling is tested without them");
#endif
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        VEXA_SKIP_WITHOUT_TOOL("DISPLAY is not set: the program's browser needs an X display (run under Xvfb)");
}

void tst_E2eCrash::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    // A space in the folder: the dump path must reach the reporter as one argument.
    m_appDir = m_dir->path() + QStringLiteral("/crash folder");
    QVERIFY(QDir().mkpath(m_appDir));
    QVERIFY(putStandInReporter(m_appDir));
    QVERIFY(QFile::copy(QStringLiteral(VEXA_CRASHTEST), m_appDir + QStringLiteral("/vexa")));
}

int tst_E2eCrash::crashIn(const QString &dir, const QString &crashSwitch, QByteArray *output,
                          const QProcessEnvironment &environment, bool readOnlyFolder)
{
    QProcess shell;
    shell.setWorkingDirectory(dir);
    shell.setProcessChannelMode(QProcess::MergedChannels);
    shell.setProcessEnvironment(environment);
    // The shell reports how the program ended: 128 + the signal that killed it.
    QString script = QStringLiteral("\"$1/vexa\" \"$2\"; echo \"exit=$?\"");
    QStringList arguments = {QStringLiteral("/bin/sh"), QStringLiteral("-c"), script, QStringLiteral("sh"), dir,
                             crashSwitch};
    if (readOnlyFolder) {
        arguments.replace(2, QStringLiteral("mount --bind -o ro \"$1\" \"$1\" && { ") + script + QStringLiteral("; }"));
        arguments.prepend(QStringLiteral("-Urm"));
        arguments.prepend(QStringLiteral("unshare"));
    }
    shell.start(arguments.takeFirst(), arguments);
    if (!shell.waitForFinished(120000))
        return -1;
    const QByteArray out = shell.readAll();
    if (output)
        *output = out;
    const QRegularExpressionMatch status = QRegularExpression(QStringLiteral("exit=(\\d+)")).match(QString::fromUtf8(out));
    return status.hasMatch() ? status.captured(1).toInt() : -1;
}

void tst_E2eCrash::crash_leavesOneDump_andStartsTheReporterWithItsPath()
{
    QByteArray output;
    QCOMPARE(crashIn(m_appDir, kCrash, &output), 128 + SIGSEGV);
    const QStringList dumps = dumpsIn(m_appDir);
    QCOMPARE(dumps.size(), 1);
    QVERIFY2(output.contains("Request to terminate process has been sent!"), output.constData());

    QFile dump(m_appDir + QLatin1Char('/') + dumps.first());
    QVERIFY(dump.open(QIODevice::ReadOnly));
    QCOMPARE(dump.read(4), QByteArray("MDMP"));

    const QStringList call = reporterCalls(m_appDir, 1);
    QCOMPARE(call, QStringList({QStringLiteral("1"), dump.fileName()}));
}

void tst_E2eCrash::twoCrashes_leaveTwoDumps()
{
    QCOMPARE(crashIn(m_appDir, kCrash), 128 + SIGSEGV);
    QCOMPARE(crashIn(m_appDir, kCrash), 128 + SIGSEGV);
    const QStringList dumps = dumpsIn(m_appDir);
    QCOMPARE(dumps.size(), 2);
    const QStringList calls = reporterCalls(m_appDir, 2);
    QCOMPARE(calls.size(), 4);
    QVERIFY(calls.at(1) != calls.at(3));
}

void tst_E2eCrash::debugCrash(const QString &crashSwitch, const QStringList &commands, QString *out)
{
    const QString lldb = QStandardPaths::findExecutable(QStringLiteral("lldb"));
    if (lldb.isEmpty())
        VEXA_SKIP_WITHOUT_TOOL("lldb is not installed (scripts/packages.txt lists it)");
    QCOMPARE(crashIn(m_appDir, crashSwitch), 128 + SIGSEGV);
    const QStringList dumps = dumpsIn(m_appDir);
    QCOMPARE(dumps.size(), 1);

    QStringList arguments = {QStringLiteral("--batch"), QStringLiteral("--no-lldbinit")};
    for (const QString &command : commands)
        arguments << QStringLiteral("-o") << command;
    arguments << QStringLiteral("-c") << m_appDir + QLatin1Char('/') + dumps.first() << m_appDir + QStringLiteral("/vexa");
    QProcess debugger;
    debugger.setProcessChannelMode(QProcess::MergedChannels);
    debugger.start(lldb, arguments);
    QVERIFY(debugger.waitForFinished(180000));
    *out = QString::fromUtf8(debugger.readAll());
}

void tst_E2eCrash::lldb_namesTheCrashingFunction()
{
    QString out;
    debugCrash(kCrash, {QStringLiteral("bt")}, &out);
    if (out.isEmpty())
        return;
    // The faulting frame by name, its caller too: symbols matched by build id and the stack
    // memory walked.
    const int crashFrame = out.indexOf(QStringLiteral("frame #0: "));
    QVERIFY2(crashFrame >= 0, qPrintable(out));
    QVERIFY2(out.indexOf(QStringLiteral("vexa`crashOnPurposeForTests"), crashFrame) >= 0, qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("vexa`main")), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("stop reason = signal SIGSEGV")), qPrintable(out));
}

void tst_E2eCrash::lldb_showsTheOtherThreadsWhereTheyWait()
{
    QString out;
    debugCrash(kCrash, {QStringLiteral("thread list"), QStringLiteral("bt all")}, &out);
    if (out.isEmpty())
        return;
    // The test build keeps one thread waiting in a function of its own while another crashes:
    // that thread is in the dump, and its stack unwinds from the kernel call back to the function.
    QVERIFY2(out.contains(QStringLiteral("thread #2")), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("vexa`waitForeverForTests")), qPrintable(out));
    // The crashing thread still comes first.
    const int firstThread = out.indexOf(QStringLiteral("* thread #1"));
    QVERIFY2(firstThread >= 0, qPrintable(out));
    QVERIFY2(out.indexOf(QStringLiteral("vexa`crashOnPurposeForTests"), firstThread) >= 0, qPrintable(out));
}

void tst_E2eCrash::sigsegvSentToRunningVexa_leavesADump()
{
    VexaDriver app{QStringLiteral(VEXA_APP_DIR)};
    QVERIFY2(app.start(), qPrintable(app.error()));
    QVERIFY(putStandInReporter(app.appDir()));
    QVERIFY(::kill(static_cast<pid_t>(app.processId()), SIGSEGV) == 0);
    QTRY_VERIFY_WITH_TIMEOUT(!app.isRunning(), 60000);

    const QStringList dumps = dumpsIn(app.appDir());
    QCOMPARE(dumps.size(), 1);
    QCOMPARE(reporterCalls(app.appDir(), 1),
             QStringList({QStringLiteral("1"), app.appDir() + QLatin1Char('/') + dumps.first()}));
}

void tst_E2eCrash::stackOverflowOnAWorkerThread_leavesADumpThatLldbReads_data()
{
    QTest::addColumn<QString>("crashSwitch");
    QTest::newRow("a thread of the program's") << kOverflowStack;
    // Started inside a library, as Qt's event reader and D-Bus threads and the browser runtime's
    // are: no code of the program's runs there before the overflow.
    QTest::newRow("a thread Qt starts") << kOverflowStackOnQtThread;
}

void tst_E2eCrash::stackOverflowOnAWorkerThread_leavesADumpThatLldbReads()
{
    QFETCH(QString, crashSwitch);
    QString out;
    debugCrash(crashSwitch, {QStringLiteral("thread backtrace all -c 6")}, &out);
    if (out.isEmpty())
        return;
    // The thread that ran out of stack is the crashing one, and it is not the main thread, which
    // waits in a thread of its own in the dump.
    const int crashing = out.indexOf(QStringLiteral("* thread #1"));
    const int next = out.indexOf(QStringLiteral("thread #2"));
    QVERIFY2(crashing >= 0 && next > crashing, qPrintable(out));
    const QString crashingThread = out.mid(crashing, next - crashing);
    QVERIFY2(crashingThread.contains(QStringLiteral("stop reason = signal SIGSEGV")), qPrintable(out));
    QVERIFY2(crashingThread.contains(QStringLiteral("frame #0: ")), qPrintable(out));
    QVERIFY2(crashingThread.count(QStringLiteral("vexa`overflowStackForTests")) >= 2, qPrintable(out));
    QVERIFY2(out.indexOf(QStringLiteral("vexa`main"), next) > next, qPrintable(out));
}

void tst_E2eCrash::abortOnAWorkerThread_leavesADumpAndStartsTheReporter()
{
    QByteArray output;
    QCOMPARE(crashIn(m_appDir, kAbort, &output), 128 + SIGABRT);
    const QStringList dumps = dumpsIn(m_appDir);
    QCOMPARE(dumps.size(), 1);
    QVERIFY2(output.contains("Request to terminate process has been sent!"), output.constData());
    QCOMPARE(reporterCalls(m_appDir, 1),
             QStringList({QStringLiteral("1"), m_appDir + QLatin1Char('/') + dumps.first()}));
}

void tst_E2eCrash::unwritableApplicationFolder_putsTheDumpInTheUserCache()
{
    // Mode bits stop no root: the folder is mounted read-only instead, in a mount namespace of
    // the program's own (as the owner of a user namespace, which needs no privileges).
    QProcess probe;
    probe.start(QStringLiteral("unshare"),
                {QStringLiteral("-Urm"), QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                 QStringLiteral("mount --bind -o ro \"$1\" \"$1\" && ! touch \"$1/probe\" 2>/dev/null"),
                 QStringLiteral("sh"), m_appDir});
    if (!probe.waitForFinished(30000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        VEXA_SKIP_WITHOUT_TOOL("no read-only folder can be made here (unshare -Urm and mount --bind are needed)");

    const QString cache = m_dir->path() + QStringLiteral("/cache");
    const QString argsFile = m_dir->path() + QStringLiteral("/reporter-args.txt");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), cache);
    environment.insert(QStringLiteral("REPORTER_ARGS"), argsFile);
    QByteArray output;
    QCOMPARE(crashIn(m_appDir, kCrash, &output, environment, true), 128 + SIGSEGV);

    QCOMPARE(dumpsIn(m_appDir), QStringList());
    const QString crashes = cache + QStringLiteral("/vexa/crashes");
    const QStringList dumps = dumpsIn(crashes);
    QVERIFY2(dumps.size() == 1, output.constData());
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
        QFile::WriteOther | QFile::ExeOther;
    QCOMPARE(int(QFileInfo(crashes).permissions() & (ownerOnly | others)), int(ownerOnly));
    QCOMPARE(reporterCalls(m_appDir, 1, argsFile),
             QStringList({QStringLiteral("1"), crashes + QLatin1Char('/') + dumps.first()}));
}

void tst_E2eCrash::missingReporter_isSaidOnceAtStartUp_andNotTriedAtTheCrash()
{
    QVERIFY(QFile::remove(m_appDir + QStringLiteral("/CrashReporter")));
    QByteArray output;
    QCOMPARE(crashIn(m_appDir, kCrash, &output), 128 + SIGSEGV);
    QCOMPARE(dumpsIn(m_appDir).size(), 1);
    QVERIFY2(output.count("crash reporter missing: " + QFile::encodeName(m_appDir) + "/CrashReporter") == 1,
             output.constData());
    QVERIFY2(!output.contains("CreateProcess failed"), output.constData());
}

QTEST_GUILESS_MAIN(tst_E2eCrash)
#include "tst_e2e_crash.moc"
