// The single-instance channel's wire rules: commands cut out of what arrived so far, the running
// instance's reply, the titles that name the main window, and where the channel lives.
#include "instance_channel.h"

#include <QtTest>

#include <QLocalSocket>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The folder a channel name lives in, if it is a real folder of this user that nobody else may
// enter; else why not.
QString privateFolderProblem(const QString &serverName)
{
    const QFileInfo name(serverName);
    if (!name.isAbsolute())
        return QStringLiteral("a bare name, in a folder shared by every user: ") + serverName;
    struct stat st {};
    if (::lstat(QFile::encodeName(name.absolutePath()).constData(), &st) != 0)
        return QStringLiteral("no folder: ") + serverName;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0)
        return QStringLiteral("not a private folder of this user (mode %1, owner %2): %3")
            .arg(st.st_mode, 0, 8)
            .arg(st.st_uid)
            .arg(serverName);
    return QString();
}

// Runs a shell command as the unprivileged user nobody; false when that cannot be done.
bool runAsNobody(const QString &command)
{
    QProcess helper;
    helper.start(QStringLiteral("setpriv"),
                 {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "sh", "-c", command});
    return helper.waitForFinished(10000) && helper.exitStatus() == QProcess::NormalExit && helper.exitCode() == 0;
}

} // namespace

class TestInstanceChannel : public QObject {
    Q_OBJECT

private slots:
    void commands_data();
    void commands();
    void splitCommandIsAnsweredOnceItIsWhole();
    void replies_data();
    void replies();
    void mainWindowTitles_data();
    void mainWindowTitles();
    void wireTexts();
    void nameLivesInTheUsersRuntimeFolder();
    void anotherUsersRuntimeFolderIsRefused();
    void serverSurvivesFloodsAndAcceptFailures();
    void runningLockOfAnotherIsSeen();
    void notedNameIsTakenOnlyFromAPrivateFolder_data();
    void notedNameIsTakenOnlyFromAPrivateFolder();
};

void TestInstanceChannel::commands_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QByteArray>("left");
    QTest::newRow("one") << QByteArray("CMD:show;") << QStringList{"show"} << QByteArray();
    QTest::newRow("two in one read") << QByteArray("CMD:show;CMD:show;") << QStringList{"show", "show"} << QByteArray();
    QTest::newRow("first six characters") << QByteArray("CMD:sh") << QStringList() << QByteArray("CMD:sh");
    QTest::newRow("whole and a start") << QByteArray("CMD:show;CMD:") << QStringList{"show"} << QByteArray("CMD:");
    QTest::newRow("lower-case prefix") << QByteArray("cmd:show;") << QStringList() << QByteArray();
    QTest::newRow("other text between") << QByteArray("hello;CMD:show;;x") << QStringList{"show"} << QByteArray("x");
    QTest::newRow("unknown name") << QByteArray("CMD:quit;") << QStringList{"quit"} << QByteArray();
    QTest::newRow("empty name") << QByteArray("CMD:;") << QStringList{""} << QByteArray();
    QTest::newRow("name in other case") << QByteArray("CMD:Show;") << QStringList{"Show"} << QByteArray();
    QTest::newRow("split character kept as bytes")
        << QByteArray("CMD:show;CMD:\xc3") << QStringList{"show"} << QByteArray("CMD:\xc3");
}

void TestInstanceChannel::commands()
{
    QFETCH(QByteArray, received);
    QFETCH(QStringList, commands);
    QFETCH(QByteArray, left);
    QByteArray buffer = received;
    QCOMPARE(instance_channel::takeCommands(&buffer), commands);
    QCOMPARE(buffer, left);
}

void TestInstanceChannel::splitCommandIsAnsweredOnceItIsWhole()
{
    QByteArray buffer("CMD:sh");
    QVERIFY(instance_channel::takeCommands(&buffer).isEmpty());
    buffer += "ow;";
    QCOMPARE(instance_channel::takeCommands(&buffer), QStringList{"show"});
    QVERIFY(instance_channel::takeCommands(&buffer).isEmpty());
}

void TestInstanceChannel::replies_data()
{
    QTest::addColumn<QString>("buffer");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<quint64>("processId");
    QTest::newRow("whole") << "RES:4242;" << true << quint64(4242);
    QTest::newRow("not yet") << "RES:42" << false << quint64(0);
    QTest::newRow("beyond 32 bits") << "RES:18446744073709551615;" << true << quint64(18446744073709551615ull);
    QTest::newRow("zero") << "RES:0;" << true << quint64(0);
    QTest::newRow("two replies do not read as a number") << "RES:1;RES:2;" << true << quint64(0);
    QTest::newRow("no digits") << "RES:;" << false << quint64(0);
}

void TestInstanceChannel::replies()
{
    QFETCH(QString, buffer);
    QFETCH(bool, complete);
    QFETCH(quint64, processId);
    bool whole = !complete;
    QCOMPARE(instance_channel::replyProcessId(buffer, &whole), processId);
    QCOMPARE(whole, complete);
}

void TestInstanceChannel::mainWindowTitles_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("selects");
    QTest::newRow("bare word") << "vexa" << true;
    QTest::newRow("number in parentheses") << "vexa(2)" << true;
    QTest::newRow("blanks before it") << "vexa  (12)" << true;
    QTest::newRow("bare number") << "vexa 2" << false;
    QTest::newRow("non-digits in parentheses") << "vexa (two)" << false;
    QTest::newRow("other text before") << "my vexa" << false;
    QTest::newRow("other text after") << "vexa (2) x" << false;
    QTest::newRow("capital letter") << "Vexa" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("too long") << QStringLiteral("vexa(%1)").arg(QString(1020, QLatin1Char('1'))) << false;
}

void TestInstanceChannel::mainWindowTitles()
{
    QFETCH(QString, title);
    QFETCH(bool, selects);
    QCOMPARE(instance_channel::isMainWindowTitle(title), selects);
}

void TestInstanceChannel::wireTexts()
{
    QCOMPARE(instance_channel::showCommand(), QByteArray("CMD:show;"));
    QCOMPARE(instance_channel::reply(31337), QByteArray("RES:31337;"));
}

void TestInstanceChannel::runningLockOfAnotherIsSeen()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString lock = dir.filePath(QStringLiteral("vexa.lock"));
    QVERIFY(!instance_channel::heldByAnother(lock)); // no file
    const int holder = ::open(QFile::encodeName(lock).constData(), O_RDWR | O_CREAT, 0644);
    QVERIFY(holder >= 0);
    QVERIFY(!instance_channel::heldByAnother(lock)); // nobody holds it
    QCOMPARE(::flock(holder, LOCK_EX), 0);
    QVERIFY(instance_channel::heldByAnother(lock));
    ::close(holder);
    QVERIFY(!instance_channel::heldByAnother(lock));
}

void TestInstanceChannel::notedNameIsTakenOnlyFromAPrivateFolder_data()
{
    QTest::addColumn<QString>("folder"); // below the test's folder
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("socket");
    QTest::addColumn<bool>("taken");
    QTest::newRow("socket in a private folder") << "run" << 0700 << true << true;
    QTest::newRow("folder others may enter") << "run" << 0755 << true << false;
    QTest::newRow("no socket there") << "run" << 0700 << false << false;
}

void TestInstanceChannel::notedNameIsTakenOnlyFromAPrivateFolder()
{
    QFETCH(QString, folder);
    QFETCH(int, mode);
    QFETCH(bool, socket);
    QFETCH(bool, taken);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString runtime = dir.filePath(folder);
    QVERIFY(QDir().mkpath(runtime));
    QCOMPARE(::chmod(QFile::encodeName(runtime).constData(), 0700), 0);
    const QString name = runtime + QStringLiteral("/channel");
    instance_channel::InstanceServer server([] {});
    if (socket)
        QVERIFY(server.listen(name));
    QCOMPARE(::chmod(QFile::encodeName(runtime).constData(), mode_t(mode)), 0);
    QVERIFY(instance_channel::notedName(dir.path()).isEmpty()); // nothing noted yet
    QVERIFY(instance_channel::writeNote(dir.path(), name));
    QCOMPARE(instance_channel::notedName(dir.path()), taken ? name : QString());
    QVERIFY(instance_channel::writeNote(dir.path(), QStringLiteral("relative/channel")));
    QVERIFY(instance_channel::notedName(dir.path()).isEmpty());
}

void TestInstanceChannel::nameLivesInTheUsersRuntimeFolder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
    QCOMPARE(instance_channel::serverName(),
             dir.path() + QStringLiteral("/Global\\{08EFFF06-0EBE-4F0A-BA97-E9C3E7126F36}"));
}

void TestInstanceChannel::anotherUsersRuntimeFolderIsRefused()
{
    if (::geteuid() != 0)
        QSKIP("needs root, to act as another user");
    // A temporary folder like the system's: everybody may create in it, nobody may remove what
    // others made.
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    QVERIFY(::chmod(QFile::encodeName(temp.path()).constData(), 01777) == 0);
    const QByteArray oldTemp = qgetenv("TMPDIR"), oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    qunsetenv("XDG_RUNTIME_DIR");
    const auto restore = qScopeGuard([&] {
        qputenv("TMPDIR", oldTemp);
        qputenv("XDG_RUNTIME_DIR", oldRuntime);
    });
    const QString uid = QString::number(::geteuid());
    const QString user = QString::fromLocal8Bit(qgetenv("USER").isEmpty() ? "root" : qgetenv("USER"));

    // Whoever comes first takes the usual places: their own folder, a folder anybody may enter,
    // a link to a folder of theirs; and every other fixed name, and a name like the random ones.
    QVERIFY(runAsNobody(QStringLiteral("cd '%1' && mkdir -m 700 vexa-runtime-%2 runtime-%3 && mkdir -m 777 "
                                       "vexa-runtime-%2-1 && mkdir -m 700 own && ln -s own vexa-runtime-%2-2 && "
                                       "mkdir -m 700 vexa-runtime-%2-3 vexa-runtime-%2-4 vexa-runtime-%2-5 "
                                       "vexa-runtime-%2-6 vexa-runtime-%2-7 vexa-runtime-%2-000000")
                            .arg(temp.path(), uid, user)));
    const QString name = instance_channel::serverName();
    const QString problem = privateFolderProblem(name);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY2(name.startsWith(temp.path() + QLatin1Char('/')), qPrintable(name));
    // The same folder for the next start, so two instances of this user still meet, and no start
    // leaves a folder of its own behind.
    QCOMPARE(instance_channel::serverName(), name);
    QCOMPARE(instance_channel::serverName(), name);
    const QStringList made = QDir(temp.path()).entryList({"vexa-runtime-*"}, QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(made.size(), 10);

    // A runtime folder handed over in the environment is checked the same way.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(temp.filePath("own")));
    const QString handed = instance_channel::serverName();
    QVERIFY2(!handed.startsWith(temp.filePath("own")), qPrintable(handed));
    QVERIFY2(privateFolderProblem(handed).isEmpty(), qPrintable(privateFolderProblem(handed)));
}

void TestInstanceChannel::serverSurvivesFloodsAndAcceptFailures()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString name = dir.filePath(QStringLiteral("instance"));
    int shown = 0;
    instance_channel::InstanceServer server([&] { ++shown; });
    QVERIFY(server.listen(name));
    const QByteArray expected = instance_channel::reply(QCoreApplication::applicationPid());
    const auto answers = [&] {
        QLocalSocket probe;
        probe.connectToServer(name);
        if (!probe.waitForConnected(2000))
            return false;
        probe.write(instance_channel::showCommand());
        QByteArray got;
        QElapsedTimer waited;
        waited.start();
        while (got.size() < expected.size() && waited.elapsed() < 3000) {
            QCoreApplication::processEvents();
            if (probe.waitForReadyRead(10))
                got += probe.readAll();
        }
        return got == expected;
    };
    QVERIFY(answers());

    // Connections that never say anything are not kept without end.
    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i < 200; ++i) {
        idle.emplace_back(new QLocalSocket);
        idle.back()->connectToServer(name);
        QCoreApplication::processEvents();
    }
    // Connections are taken in the order they came: once a later one is answered, every idle one
    // before it has been taken (and pushed out again).
    QVERIFY(answers());
    QVERIFY2(server.clientCount() <= 32, qPrintable(QString::number(server.clientCount())));
    idle.clear();
    QVERIFY(answers());

    // Bytes without a ";" are not gathered without end: the sender is cut off.
    QLocalSocket flood;
    flood.connectToServer(name);
    QVERIFY(flood.waitForConnected(2000));
    const QByteArray chunk(64 * 1024, 'x');
    for (int i = 0; i < 64 && flood.state() == QLocalSocket::ConnectedState; ++i) {
        flood.write(chunk);
        flood.waitForBytesWritten(50);
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE(flood.state(), QLocalSocket::UnconnectedState);
    QVERIFY(answers());

    // accept() failing at the descriptor limit: the server still listens, and the waiting
    // connection is answered once descriptors are free again.
    const int waiting = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(waiting >= 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(name);
    QVERIFY(size_t(path.size()) < sizeof address.sun_path);
    memcpy(address.sun_path, path.constData(), size_t(path.size()));
    rlimit old {};
    QVERIFY(::getrlimit(RLIMIT_NOFILE, &old) == 0);
    std::vector<int> filler;
    {
        rlimit low = old;
        low.rlim_cur = rlim_t(waiting + 64);
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
        for (int fd; (fd = ::dup(waiting)) >= 0;)
            filler.push_back(fd);
        const bool full = errno == EMFILE;
        const bool connected = ::connect(waiting, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        server.newInstanceConnected(); // what the waiting connection sets off: accept() now fails
        for (int fd : filler)
            ::close(fd);
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &old) == 0);
        QVERIFY(full && connected);
    }
    QVERIFY(server.isListening());
    QVERIFY(answers());
    QVERIFY(::write(waiting, "CMD:show;", 9) == 9);
    QByteArray got;
    QElapsedTimer waited;
    waited.start();
    while (got.size() < expected.size() && waited.elapsed() < 3000) {
        QCoreApplication::processEvents();
        pollfd p {waiting, POLLIN, 0};
        char buffer[64];
        if (::poll(&p, 1, 10) > 0) {
            const ssize_t n = ::read(waiting, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, int(n));
        }
    }
    ::close(waiting);
    QCOMPARE(got, expected);
}

QTEST_GUILESS_MAIN(TestInstanceChannel)
#include "tst_instance_channel.moc"
