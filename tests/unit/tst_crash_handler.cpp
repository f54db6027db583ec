// Crash reporting set up right: a wrong reporter path, dump folder or thread set-up shows only
// when a crash comes, and then nothing can be done about it. The crashes themselves are
// end-to-end tests.
#include "crash_handler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace {

QStringList g_messages;

void collectMessage(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    g_messages << (type == QtDebugMsg ? QStringLiteral("debug: ") : QStringLiteral("warning: ")) + text;
}

bool makeExecutable(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n") > 0 &&
           file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The calling thread's alternate signal stack, or null when it has none.
void *alternateStack()
{
    stack_t current{};
    if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE))
        return nullptr;
    return current.ss_sp;
}

// (The address sanitizer gives every thread an alternate stack of its own first, and that one
// is kept: there is nothing of ours to see released.)
#ifndef __SANITIZE_ADDRESS__
bool isMapped(void *address)
{
    const long page = sysconf(_SC_PAGESIZE);
    void *start = reinterpret_cast<void *>(reinterpret_cast<quintptr>(address) & ~quintptr(page - 1));
    unsigned char resident = 0;
    return mincore(start, 1, &resident) == 0 || errno != ENOMEM;
}
#endif

} // namespace

class tst_CrashHandler : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void setCrashReporter_data();
    void setCrashReporter();
    void setCrashReporter_refusesAPathItCannotKeep();
    void chooseDumpFolder_data();
    void chooseDumpFolder();
    void installCrashHandler_thatFails_saysSo();
    void threads_getAnAlternateStackFirst_andGiveItBackAtTheEnd();

private:
    QTemporaryDir m_dir;
    QString m_previousCwd;
    QByteArray m_previousCache;
    // The test library's own, which ignoreMessage needs back.
    QtMessageHandler m_testHandler = nullptr;
};

void tst_CrashHandler::init()
{
    QVERIFY(m_dir.isValid());
    m_previousCwd = QDir::currentPath();
    m_previousCache = qgetenv("XDG_CACHE_HOME");
    // A reporter of the right name in the current directory, which must never be taken.
    QVERIFY(QDir::setCurrent(m_dir.path()));
    QVERIFY(makeExecutable(QStringLiteral("CrashReporter")));
    // Something that is a file where a folder is expected: nothing can be created below it,
    // whatever the mode bits say and whoever asks (root too).
    QFile file(m_dir.filePath(QStringLiteral("file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
}

void tst_CrashHandler::cleanup()
{
    if (m_testHandler)
        qInstallMessageHandler(m_testHandler);
    m_testHandler = nullptr;
    QDir::setCurrent(m_previousCwd);
    qputenv("XDG_CACHE_HOME", m_previousCache);
    g_messages.clear();
}

void tst_CrashHandler::setCrashReporter_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected"); // "@app" and "@tmp" stand for those folders
    QTest::addColumn<QStringList>("messages");

    const QString missing = QStringLiteral("warning: crash reporter missing: %1; a crash leaves a dump but starts no reporter");
    const QString beside = QStringLiteral("@app/CrashReporter");
    QTest::newRow("relative: beside the program, never the current directory's")
        << "CrashReporter" << beside
        << QStringList({QStringLiteral("debug: BreakpadQt: setReporter: CrashReporter -> ") + beside, missing.arg(beside)});
    QTest::newRow("relative: cleaned")
        << "tools/../CrashReporter" << beside
        << QStringList({QStringLiteral("debug: BreakpadQt: setReporter: tools/../CrashReporter -> ") + beside,
                        missing.arg(beside)});
    QTest::newRow("absolute and there: as given, nothing said") << "@tmp/CrashReporter" << "@tmp/CrashReporter" << QStringList();
    QTest::newRow("absolute and missing: said once") << "@tmp/gone/CR" << "@tmp/gone/CR"
                                                     << QStringList({missing.arg(QStringLiteral("@tmp/gone/CR"))});
}

void tst_CrashHandler::setCrashReporter()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QFETCH(QStringList, messages);
    const auto expand = [this](QString text) {
        return text.replace(QStringLiteral("@app"), QCoreApplication::applicationDirPath())
            .replace(QStringLiteral("@tmp"), m_dir.path());
    };
    for (QString &message : messages)
        message = expand(message);
    m_testHandler = qInstallMessageHandler(collectMessage);
    QCOMPARE(platform::setCrashReporter(expand(name)), expand(expected));
    QCOMPARE(g_messages, messages);
    QCOMPARE(platform::crashReporterPath(), expand(expected));
}

void tst_CrashHandler::setCrashReporter_refusesAPathItCannotKeep()
{
    const QString tooLong = QLatin1Char('/') + QString(1100, QLatin1Char('r'));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("too long")));
    QCOMPARE(platform::setCrashReporter(tooLong), QString());
    // No half path is left to be started after a crash.
    QCOMPARE(platform::crashReporterPath(), QString());
}

void tst_CrashHandler::chooseDumpFolder_data()
{
    QTest::addColumn<QString>("preferred"); // "@tmp" stands for the test's folder
    QTest::addColumn<QString>("cache");     // $XDG_CACHE_HOME
    QTest::addColumn<QString>("expected");

    QTest::newRow("writable: kept") << "@tmp" << "@tmp/cache" << "@tmp";
    QTest::newRow("not writable: the user's cache") << "@tmp/file/app" << "@tmp/cache" << "@tmp/cache/vexa/crashes";
    QTest::newRow("neither writable: kept, so the reporter still hears of the crash")
        << "@tmp/file/app" << "@tmp/file/cache" << "@tmp/file/app";
}

void tst_CrashHandler::chooseDumpFolder()
{
    QFETCH(QString, preferred);
    QFETCH(QString, cache);
    QFETCH(QString, expected);
    for (QString *text : {&preferred, &cache, &expected})
        text->replace(QStringLiteral("@tmp"), m_dir.path());
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
    if (expected != preferred)
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("crash dumps go to %1: %2 cannot be written")
                                                          .arg(expected, preferred)));
    else if (preferred.contains(QStringLiteral("/file/")))
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^crash dumps: neither ")));

    QCOMPARE(platform::chooseDumpFolder(preferred), expected);
    // The fallback is the user's alone; a folder that is kept is left as it was.
    QCOMPARE(QFileInfo::exists(cache + QStringLiteral("/vexa/crashes")), expected.startsWith(cache));
    if (expected.startsWith(cache)) {
        const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
            QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(int(QFile::permissions(expected) & (ownerOnly | others)), int(ownerOnly));
    }
    // The probe leaves nothing behind.
    QCOMPARE(QDir(expected).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("probe")), QStringList());
}

void tst_CrashHandler::installCrashHandler_thatFails_saysSo()
{
    // A folder path too long to keep, and no fallback to be had.
    qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("file"))));
    const QString tooLong = m_dir.path() + QLatin1Char('/') + QString(4090, QLatin1Char('d'));
#ifdef VEXA_CRASH_DUMPS
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^crash dumps: neither ")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^crash dump folder path too long")));
#else
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^crash handler: minidumps are written on x86-64 only")));
#endif
    QVERIFY(!platform::installCrashHandler(tooLong));
    QVERIFY(!platform::crashHandlerInstalled());
}

void tst_CrashHandler::threads_getAnAlternateStackFirst_andGiveItBackAtTheEnd()
{
#ifndef VEXA_CRASH_DUMPS
    QSKIP("no crash handler, so no alternate stacks, in this build");
#endif
    // Before any other code on the thread: the process monitor starts from started() too.
    platform::CrashReadyThread thread;
    void *seenFirst = nullptr;
    connect(&thread, &QThread::started, &thread, [&] {
        seenFirst = alternateStack();
        thread.quit();
    }, Qt::DirectConnection);
    thread.start();
    QVERIFY(thread.wait(10000));
    QVERIFY(seenFirst);

    // The memory goes when the thread does: one profile command makes one thread.
    void *used = nullptr;
    void *again = nullptr;
    std::thread worker([&] {
        platform::prepareThreadForCrashes();
        used = alternateStack();
        platform::prepareThreadForCrashes();
        again = alternateStack();
    });
    worker.join();
    QVERIFY(used);
    QCOMPARE(again, used);
#ifndef __SANITIZE_ADDRESS__
    QVERIFY(!isMapped(used));
#endif
}

QTEST_GUILESS_MAIN(tst_CrashHandler)
#include "tst_crash_handler.moc"
