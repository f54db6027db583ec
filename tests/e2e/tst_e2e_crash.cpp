// Crash reporting end to end: real crashes of the program leave minidumps that a stock debugger
// reads, and the reporter is started with the dump's path.
#include "vexa_driver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

const QRegularExpression kDumpName(QStringLiteral(
    "^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\.dmp$"));

// Records its arguments one per line after their count, as a reporter would receive them.
const QByteArray kStandInReporter =
    "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" >> \"$(dirname \"$0\")/reporter-args.txt\"\n";

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
QStringList reporterCalls(const QString &dir, int expectedCalls)
{
    QStringList lines;
    for (int i = 0; i < 100; ++i) {
        QFile file(dir + QStringLiteral("/reporter-args.txt"));
        if (file.open(QIODevice::ReadOnly))
            lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (lines.size() >= expectedCalls * 2)
            break;
        QTest::qWait(100);
    }
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

private:
    // Copies the test build into the folder and crashes it there; the shell's exit status.
    int crashIn(const QString &dir, QByteArray *output = nullptr);
    // Crashes the test build once and reads its one dump with LLDB running commands; *out stays
    // empty when that did not work out (the test has then failed or been skipped).
    void debugCrash(const QStringList &commands, QString *out);

    QScopedPointer<QTemporaryDir> m_dir;
    QString m_appDir;
};

void tst_E2eCrash::initTestCase()
{
#ifdef VEXA_SANITIZE
    QSKIP("the sanitizers own the fatal signals in this build; crash handling is tested without them");
#endif
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("DISPLAY is not set: the program's browser needs an X display (run under Xvfb)");
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

int tst_E2eCrash::crashIn(const QString &dir, QByteArray *output)
{
    QProcess shell;
    shell.setWorkingDirectory(dir);
    shell.setProcessChannelMode(QProcess::MergedChannels);
    // The shell reports how the program ended: 128 + the signal that killed it.
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"), QStringLiteral("\"$1/vexa\" --crash-for-test; echo \"exit=$?\""),
                 QStringLiteral("sh"), dir});
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
    QCOMPARE(crashIn(m_appDir, &output), 128 + SIGSEGV);
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
    QCOMPARE(crashIn(m_appDir), 128 + SIGSEGV);
    QCOMPARE(crashIn(m_appDir), 128 + SIGSEGV);
    const QStringList dumps = dumpsIn(m_appDir);
    QCOMPARE(dumps.size(), 2);
    const QStringList calls = reporterCalls(m_appDir, 2);
    QCOMPARE(calls.size(), 4);
    QVERIFY(calls.at(1) != calls.at(3));
}

void tst_E2eCrash::debugCrash(const QStringList &commands, QString *out)
{
    const QString lldb = QStandardPaths::findExecutable(QStringLiteral("lldb"));
    if (lldb.isEmpty())
        QSKIP("lldb is not installed (scripts/packages.txt lists it)");
    QCOMPARE(crashIn(m_appDir), 128 + SIGSEGV);
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
    debugCrash({QStringLiteral("bt")}, &out);
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
    debugCrash({QStringLiteral("thread list"), QStringLiteral("bt all")}, &out);
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

QTEST_GUILESS_MAIN(tst_E2eCrash)
#include "tst_e2e_crash.moc"
