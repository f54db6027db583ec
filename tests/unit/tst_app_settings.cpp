// The settings commands on real files in a private application folder: what "getConf" lists,
// what "setConf" changes in the map, in the file and in the session's autostart entry, and what
// it must leave alone.
#include "autostart.h"
#include "command_test_support.h"
#include "settings_commands.h"
#include "settings_rules.h"
#include "vexa.h"

#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// folder refuses writes while this lives, for root too: root passes over mode bits, so this
// thread (the one the commands run on) gets a mount namespace of its own in which folder is a
// read-only bind mount; it goes back to its old namespace at the end.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString &folder) : m_folder(folder)
    {
        if (geteuid() != 0) {
            m_ok = QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
            return;
        }
        m_home = open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC);
        if (m_home < 0 || unshare(CLONE_NEWNS) != 0)
            return;
        m_unshared = true;
        const QByteArray path = QFile::encodeName(folder);
        // Private first, so that the bind mount does not travel back to the machine's namespace.
        m_ok = mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) == 0 &&
               mount(nullptr, path.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    ~ReadOnlyFolder()
    {
        if (geteuid() != 0)
            QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (m_unshared && setns(m_home, CLONE_NEWNS) != 0)
            qFatal("cannot leave the test's mount namespace");
        if (m_home >= 0)
            close(m_home);
    }
    bool ok() const { return m_ok; }

private:
    QString m_folder;
    int m_home = -1;
    bool m_unshared = false;
    bool m_ok = false;
};

const char kConf[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<root>\n"
                     "\t<client autoStart=\"false\" showConf=\"Ctrl+Alt+K\" testTool=\"Ctrl+Alt+T\" language=\"en\" "
                     "version=\"1.0.0\" closeFunc=\"hide\" handAdded=\"Grüße\" />\n"
                     "\t<conf deviceId=\"5E1C7A92\" name=\"PX-ORB42\">\n"
                     "\t\t<info name=\"产品信息\" productType=\"gamepad\" />\n"
                     "\t</conf>\n"
                     "</root>\n";

} // namespace

class TestAppSettings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void getConfListsEveryAttributeAndTheComputedOnes();
    void getConfWithoutAUsableFile_data();
    void getConfWithoutAUsableFile();
    void setConfRewritesTheFileAndKeepsTheCatalogue();
    void setConfAnswers_data();
    void setConfAnswers();
    void autostartEntryFollowsExactTrue();
    void setConfRefusesWhatTheProgramCannotUse_data();
    void setConfRefusesWhatTheProgramCannotUse();
    void setConfThatCannotWriteChangesNothing();
    void startReplacesUnusableValuesInMemoryOnly();
    void autostartChangesEvenWhenTheFileLacksTheKey();
    void autostartNamesTheLauncherThatStartedTheProgram();
    void unparsableTextDuringSetConfGivesNoReply();

private:
    QStringList run(const QString &json);
    QByteArray fileBytes() const;
    void writeConf(const QByteArray &bytes);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeContext> m_context;
    CommandRegistry m_commands;
    std::unique_ptr<vexa> m_window;
};

void TestAppSettings::initTestCase() {}

void TestAppSettings::cleanupTestCase() {}

void TestAppSettings::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    // The session's autostart folder lives in the test folder too.
    qputenv("XDG_CONFIG_HOME", m_dir->filePath(QStringLiteral("config")).toLocal8Bit());
    writeConf(kConf);
    m_context.reset(new FakeContext(m_dir->path()));
    m_context->settings().load();
    // The window holds the shortcuts that "setConf" sets and "getConf" reports.
    m_window.reset(new vexa(*m_context, m_commands));
    registerSettingsCommands(m_commands, m_context->settings(), *m_window);
}

void TestAppSettings::cleanup()
{
    m_window.reset();
    m_context.reset();
    m_dir.reset();
}

void TestAppSettings::writeConf(const QByteArray &bytes)
{
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("Resources/profiles"))));
    QFile file(m_dir->filePath(QStringLiteral("Resources/profiles/conf.xml")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray TestAppSettings::fileBytes() const
{
    QFile file(m_dir->filePath(QStringLiteral("Resources/profiles/conf.xml")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList TestAppSettings::run(const QString &json)
{
    return runCommand(m_commands, json);
}

void TestAppSettings::getConfListsEveryAttributeAndTheComputedOnes()
{
    const QStringList replies = run(R"({"funcname":"getConf"})");
    QCOMPARE(replies.size(), 1);
    const QString text = replies.first().mid(QStringLiteral("success:").size());
    QVERIFY2(text.startsWith(QLatin1String("[{\"IpAddress\":")), qPrintable(text)); // key order, compact
    const QJsonObject conf = QJsonDocument::fromJson(text.toUtf8()).array().at(0).toObject();
    QCOMPARE(conf.keys(), QStringList({"IpAddress", "MacAddress", "autoStart", "closeFunc", "handAdded", "language",
                                       "showConf", "testTool", "version"}));
    QCOMPARE(conf.value("handAdded").toString(), QStringLiteral("Grüße"));
    // No shortcut can be registered here: the state character is code 0.
    QCOMPARE(conf.value("showConf").toString(), QStringLiteral("Ctrl+Alt+K,") + QChar(0));
    QCOMPARE(conf.value("testTool").toString(), QStringLiteral("Ctrl+Alt+T,") + QChar(0));
}

void TestAppSettings::getConfWithoutAUsableFile_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::newRow("no file") << QByteArray();
    QTest::newRow("not XML") << QByteArray("<root><client a=\"1\"");
}

void TestAppSettings::getConfWithoutAUsableFile()
{
    QFETCH(QByteArray, content);
    QFile::remove(m_dir->filePath(QStringLiteral("Resources/profiles/conf.xml")));
    if (!content.isEmpty())
        writeConf(content);
    AppSettings empty(m_dir->path());
    empty.load();
    m_context->settings() = empty;
    QCOMPARE(run(R"({"funcname":"getConf"})"), QStringList{"failure:0:cant find conf.xml"});
    // Nothing can be kept, so no value is judged and nothing takes effect.
    for (const char *json : {R"({"funcname":"setConf","confKey":"language","confValue":"de-DE"})",
                             R"({"funcname":"setConf","confKey":"clientSize","confValue":"1,1"})",
                             R"({"funcname":"setConf","confKey":"autoStart","confValue":"true"})"})
        QCOMPARE(run(QString::fromLatin1(json)), QStringList{"failure:0:can't find conf name"});
    QVERIFY(!QFile::exists(platform::autostartLocation()));
    QCOMPARE(fileBytes(), content.isEmpty() ? QByteArray("<missing>") : content);
}

void TestAppSettings::setConfRewritesTheFileAndKeepsTheCatalogue()
{
    QCOMPARE(run(R"({"funcname":"setConf","confKey":"handAdded","confValue":"zh & <cn>"})"),
             QStringList{"success:modify conf sucess"});
    QCOMPARE(m_context->settings().value("handAdded"), QStringLiteral("zh & <cn>"));
    const QByteArray written = fileBytes();
    QVERIFY(written.contains("handAdded=\"zh &amp; &lt;cn"));
    QVERIFY(written.contains("<info name=\"产品信息\" productType=\"gamepad\" />"));
    QVERIFY(!written.startsWith("\xEF\xBB\xBF"));
    QCOMPARE(QString::fromUtf8(written), m_context->settings().confText());
    // No leftovers of the atomic replace beside the file.
    QCOMPARE(QDir(m_dir->filePath(QStringLiteral("Resources/profiles"))).entryList(QDir::Files),
             QStringList{"conf.xml"});

    // A hand-added attribute can be set, and the next start sees the new values.
    QCOMPARE(run(R"({"funcname":"setConf","confKey":"language","confValue":"zh-TW"})"),
             QStringList{"success:modify conf sucess"});
    AppSettings restarted(m_dir->path());
    restarted.load();
    QCOMPARE(restarted.value("language"), QStringLiteral("zh-TW"));
    QCOMPARE(restarted.value("handAdded"), QStringLiteral("zh & <cn>"));
}

void TestAppSettings::setConfAnswers_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<bool>("fileChanged");
    QTest::addColumn<QString>("mapValue"); // of confKey afterwards; "-" when it must be absent

    QTest::newRow("computed entry: map only")
        << R"({"funcname":"setConf","confKey":"MacAddress","confValue":"00:11"})"
        << QStringList{"success:modify conf sucess"} << false << "00:11";
    QTest::newRow("unknown key") << R"({"funcname":"setConf","confKey":"nope","confValue":"1"})"
                                 << QStringList{"failure:0:can't find conf name"} << false << "-";
    QTest::newRow("key differs in case") << R"({"funcname":"setConf","confKey":"Language","confValue":"1"})"
                                         << QStringList{"failure:0:can't find conf name"} << false << "-";
    QTest::newRow("missing value: no reply") << R"({"funcname":"setConf","confKey":"language"})" << QStringList{}
                                             << false << "en";
    QTest::newRow("missing key: no reply") << R"({"funcname":"setConf","confValue":"de"})" << QStringList{} << false
                                           << "-";
    // The sequence cannot be registered: one character of code 0, the value kept anyway.
    QTest::newRow("shortcut") << R"({"funcname":"setConf","confKey":"showConf","confValue":"Ctrl+Shift+F9"})"
                              << QStringList{QStringLiteral("success:") + QChar(0)} << true << "Ctrl+Shift+F9";
    QTest::newRow("number as value") << R"({"funcname":"setConf","confKey":"handAdded","confValue":2})"
                                     << QStringList{"success:modify conf sucess"} << true << "2";
}

void TestAppSettings::setConfAnswers()
{
    QFETCH(QString, json);
    QFETCH(QStringList, replies);
    QFETCH(bool, fileChanged);
    QFETCH(QString, mapValue);
    const QByteArray before = fileBytes();
    QCOMPARE(run(json), replies);
    QCOMPARE(fileBytes() != before, fileChanged);
    CommandArgs args;
    QVERIFY(CommandArgs::parse(json, &args));
    const QString key = args.toText("confKey");
    if (mapValue == QLatin1String("-"))
        QVERIFY(!m_context->settings().map().contains(key));
    else
        QCOMPARE(m_context->settings().value(key), mapValue);
}

void TestAppSettings::autostartEntryFollowsExactTrue()
{
    const QString entry = platform::autostartLocation();
    QCOMPARE(entry, m_dir->filePath(QStringLiteral("config/autostart/vexa.desktop")));
    // An entry of an earlier version (named "marlith") is replaced, not left to start vexa twice.
    const QString old = m_dir->filePath(QStringLiteral("config/autostart/marlith.desktop"));
    const auto writeOld = [&old] {
        QFile file(old);
        return QDir().mkpath(QFileInfo(old).absolutePath()) && file.open(QIODevice::WriteOnly) &&
               file.write("[Desktop Entry]\nType=Application\nExec=vexa -autostart\n") > 0;
    };
    QVERIFY(writeOld());

    QCOMPARE(run(R"({"funcname":"setConf","confKey":"autoStart","confValue":"true"})"),
             QStringList{"success:modify conf sucess"});
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(file.readAll());
    file.close();
    QVERIFY2(content.contains(QStringLiteral("\nExec=\"") + QCoreApplication::applicationFilePath() +
                              QStringLiteral("\" -autostart\n")),
             qPrintable(content));
    // Listed by the session under the product's name and icon.
    QVERIFY2(content.contains(QStringLiteral("\nName=vexa\n")) && content.contains(QStringLiteral("\nIcon=vexa\n")),
             qPrintable(content));
    QVERIFY(fileBytes().contains("autoStart=\"true\""));
    QVERIFY(!QFile::exists(old));

    QVERIFY(writeOld());
    QCOMPARE(run(R"({"funcname":"setConf","confKey":"autoStart","confValue":"false"})"),
             QStringList{"success:modify conf sucess"});
    QVERIFY(!QFile::exists(entry));
    QVERIFY(!QFile::exists(old));
    QVERIFY(fileBytes().contains("autoStart=\"false\""));
    // Any other text is stored and means off.
    QCOMPARE(run(R"({"funcname":"setConf","confKey":"autoStart","confValue":"TRUE"})"),
             QStringList{"success:modify conf sucess"});
    QVERIFY(!QFile::exists(entry));
    QVERIFY(fileBytes().contains("autoStart=\"TRUE\""));
}

void TestAppSettings::setConfRefusesWhatTheProgramCannotUse_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("stored");

    // The offscreen platform's one screen is 800 × 600.
    QTest::newRow("size the screens show") << "clientSize" << "640, 480" << true;
    QTest::newRow("size larger than int") << "clientSize" << "2147483647,2147483647" << false;
    QTest::newRow("size larger than the screens") << "clientSize" << "801,600" << false;
    QTest::newRow("size too small to use") << "clientSize" << "10,10" << false;
    QTest::newRow("size not numbers") << "clientSize" << "big,small" << false;
    QTest::newRow("size with a third part") << "clientSize" << "640,480,1" << false;
    // What the program does not know means "off", "hide" or "another language".
    QTest::newRow("autostart in capitals") << "autoStart" << "TRUE" << true;
    QTest::newRow("any close value") << "closeFunc" << "explode" << true;
    QTest::newRow("any language code") << "language" << "xx" << true;
    // Only an installation records what is installed.
    QTest::newRow("installed version") << "version" << "9.9.9" << false;
    QTest::newRow("no shortcut") << "testTool" << "" << true;
    QTest::newRow("key that does not exist") << "showConf" << "Ctrl+Alt+Nokey" << true;
    QTest::newRow("function key alone") << "showConf" << "F9" << true;
    QTest::newRow("Meta and a digit") << "testTool" << "Meta+1" << true;
    QTest::newRow("letter alone") << "showConf" << "A" << false;
    QTest::newRow("Shift is no modifier of its own") << "testTool" << "Shift+Space" << false;
    QTest::newRow("first chord bare") << "showConf" << "A, Ctrl+B" << false;
    QTest::newRow("text at its bound") << "handAdded" << QString(1024, QLatin1Char('x')) << true;
    QTest::newRow("text past its bound") << "language" << QString(1025, QLatin1Char('x')) << false;
}

void TestAppSettings::setConfRefusesWhatTheProgramCannotUse()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(bool, stored);
    if (key == QLatin1String("clientSize")) {
        writeConf(QByteArray(kConf).replace("closeFunc=", "clientSize=\"800,600\" closeFunc="));
        m_context->settings().load();
    }
    const QByteArray before = fileBytes();
    const QString old = m_context->settings().value(key);
    const QStringList replies = run(QString::fromUtf8(QJsonDocument(QJsonObject{
        {"funcname", "setConf"}, {"confKey", key}, {"confValue", value}}).toJson(QJsonDocument::Compact)));
    QCOMPARE(replies.size(), 1);
    if (stored) {
        QVERIFY2(replies.first().startsWith(QLatin1String("success:")), qPrintable(replies.first()));
        QCOMPARE(m_context->settings().value(key), value);
        return;
    }
    // Named in the reply, and nothing changed anywhere.
    QVERIFY2(replies.first().startsWith(QStringLiteral("failure:0:%1 not changed: ").arg(key)), qPrintable(replies.first()));
    QVERIFY(replies.first().size() < 200);
    QCOMPARE(m_context->settings().value(key), old);
    QCOMPARE(fileBytes(), before);
    QVERIFY(!QFile::exists(platform::autostartLocation()));
}

void TestAppSettings::setConfThatCannotWriteChangesNothing()
{
    const QString conf = m_context->settings().confFilePath();
    const QString entry = platform::autostartLocation();
    const QString textBefore = m_context->settings().confText();
    const QString getConfBefore = run(R"({"funcname":"getConf"})").value(0);
    // What "getConf" shows, the program's copy of the file and the file itself.
    const auto unchanged = [&] {
        return run(R"({"funcname":"getConf"})").value(0) == getConfBefore &&
               m_context->settings().confText() == textBefore && QString::fromUtf8(fileBytes()) == textBefore;
    };
    {
        ReadOnlyFolder readOnly(QFileInfo(conf).absolutePath());
        if (!readOnly.ok())
            QSKIP("no read-only folder can be made here (a mount namespace is needed as root)");
        QStringList replies = run(R"({"funcname":"setConf","confKey":"language","confValue":"de-DE"})");
        QCOMPARE(replies.size(), 1);
        QVERIFY2(replies.first().startsWith(QStringLiteral("failure:0:cannot write %1: ").arg(conf)),
                 qPrintable(replies.first()));
        QVERIFY(unchanged());
        // The autostart entry could be made, but the setting not kept: the entry goes again.
        replies = run(R"({"funcname":"setConf","confKey":"autoStart","confValue":"true"})");
        QVERIFY2(replies.value(0).startsWith(QStringLiteral("failure:0:cannot write %1: ").arg(conf)),
                 qPrintable(replies.value(0)));
        QVERIFY(!QFile::exists(entry));
        QVERIFY(unchanged());
    }

    // An autostart entry that can be neither made nor removed (a folder in its place, for root too).
    QVERIFY(QDir().mkpath(entry + QStringLiteral("/in the way")));
    QStringList replies = run(R"({"funcname":"setConf","confKey":"autoStart","confValue":"true"})");
    QVERIFY2(replies.value(0).startsWith(QStringLiteral("failure:0:cannot write %1: ").arg(entry)),
             qPrintable(replies.value(0)));
    QVERIFY(unchanged());
    replies = run(R"({"funcname":"setConf","confKey":"autoStart","confValue":"off"})");
    QVERIFY2(replies.value(0).startsWith(QStringLiteral("failure:0:cannot remove %1: ").arg(entry)),
             qPrintable(replies.value(0)));
    QVERIFY(unchanged());
}

void TestAppSettings::startReplacesUnusableValuesInMemoryOnly()
{
    SettingsMap settings{{"clientSize", "2147483647,2147483647"}, {"language", "fr"}, {"closeFunc", "closeapp"},
                         {"showConf", "Ctrl+Alt+Nokey"}, {"autoStart", "yes"}, {"testTool", "Space"},
                         {"version", QString(5000, QLatin1Char('9'))}};
    QStringList lines;
    settings_rules::repair(&settings, QSize(1280, 800), [&lines](const QString &line) { lines << line; });
    // A bare key becomes no shortcut at all; whatever else the program does not know stays.
    QCOMPARE(settings, (SettingsMap{{"clientSize", "800,600"}, {"language", "fr"}, {"closeFunc", "closeapp"},
                                    {"showConf", "Ctrl+Alt+Nokey"}, {"autoStart", "yes"}, {"testTool", ""},
                                    {"version", QString(5000, QLatin1Char('9'))}}));
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.first().startsWith(QLatin1String("settings file: clientSize \"2147483647,2147483647\" ")),
             qPrintable(lines.first()));
    QVERIFY2(lines.last().startsWith(QLatin1String("settings file: testTool \"Space\" has no Ctrl")) &&
                 lines.last().endsWith(QLatin1String("; no shortcut is used until it is set again")),
             qPrintable(lines.last()));
}

void TestAppSettings::autostartChangesEvenWhenTheFileLacksTheKey()
{
    writeConf("<root><client language=\"en\" /></root>");
    m_context->settings().load();
    QCOMPARE(run(R"({"funcname":"setConf","confKey":"autoStart","confValue":"true"})"),
             QStringList{"failure:0:can't find conf name"});
    QVERIFY(QFile::exists(platform::autostartLocation()));
    QCOMPARE(run(R"({"funcname":"setConf","confKey":"autoStart","confValue":"false"})"),
             QStringList{"failure:0:can't find conf name"});
    QVERIFY(!QFile::exists(platform::autostartLocation()));
}

void TestAppSettings::autostartNamesTheLauncherThatStartedTheProgram()
{
    const auto entryAfterEnabling = [this](const QByteArray &launcher) {
        qputenv("VEXA_LAUNCHER", launcher);
        run(R"({"funcname":"setConf","confKey":"autoStart","confValue":"true"})");
        qunsetenv("VEXA_LAUNCHER");
        QFile file(platform::autostartLocation());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    // A launcher with a space and a quote in its path: the entry still names it as one argument.
    const QString launcher = m_dir->filePath(QStringLiteral("my bin/\"vexa\""));
    QVERIFY(QDir().mkpath(QFileInfo(launcher).absolutePath()));
    QFile program(launcher);
    QVERIFY(program.open(QIODevice::WriteOnly));
    program.close();
    QVERIFY(program.setPermissions(program.permissions() | QFileDevice::ExeOwner));
    QString entry = entryAfterEnabling(QFile::encodeName(launcher));
    QVERIFY2(entry.contains(QStringLiteral("\nExec=\"") + m_dir->path() + QStringLiteral("/my bin/\\\\\"vexa\\\\\"\" -autostart\n")),
             qPrintable(entry));

    // A name that is no program (gone, relative) is not trusted: the program names itself.
    for (const QByteArray &bad : {QByteArray("vexa"), QFile::encodeName(m_dir->filePath(QStringLiteral("gone")))}) {
        entry = entryAfterEnabling(bad);
        QVERIFY2(entry.contains(QStringLiteral("\nExec=\"") + QCoreApplication::applicationFilePath() + QStringLiteral("\" -autostart\n")),
                 qPrintable(entry));
    }
}

void TestAppSettings::unparsableTextDuringSetConfGivesNoReply()
{
    const QByteArray before = fileBytes();
    m_context->settings().setConfText(QStringLiteral("<root><client"));
    QCOMPARE(run(R"({"funcname":"setConf","confKey":"language","confValue":"ja"})"), QStringList{});
    QCOMPARE(m_context->settings().value("language"), QStringLiteral("ja"));
    QCOMPARE(fileBytes(), before);
}

QTEST_MAIN(TestAppSettings)
#include "tst_app_settings.moc"
