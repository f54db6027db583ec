// The single-instance channel's wire rules: commands cut out of what arrived so far, the running
// instance's reply, the titles that name the main window, and where the channel lives.
#include "instance_channel.h"

#include <QtTest>

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

void TestInstanceChannel::nameLivesInTheUsersRuntimeFolder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
    QCOMPARE(instance_channel::serverName(),
             dir.path() + QStringLiteral("/Global\\{08EFFF06-0EBE-4F0A-BA97-E9C3E7126F36}"));
}

QTEST_GUILESS_MAIN(TestInstanceChannel)
#include "tst_instance_channel.moc"
