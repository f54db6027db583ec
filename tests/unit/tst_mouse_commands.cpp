// The mouse settings commands through the command registry. Runs offscreen without an X
// display, so what can be checked is Qt's own double-click interval, the range rules and GNOME's
// setting, which goes to a settings file of the test's own.
#include "command_test_support.h"
#include "missing_tool.h"
#include "mouse_commands.h"
#include "profile_commands.h"
#include "profile_store.h"

#include <QStyleHints>
#include <QtTest>


class TestMouseCommands : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void table();
    void commands_data();
    void commands();
    void modifyProfileResetsOnlyOwnDoubleClickTime();

private:
    QStringList send(const QString &text);
    QString desktopSettings() const;
    QTemporaryDir m_appDir;
    QTemporaryDir m_configHome;
    std::unique_ptr<ProfileStore> m_profiles;
    std::unique_ptr<Profiles> m_profileCommands;
    CommandRegistry m_commands;
};

void TestMouseCommands::initTestCase()
{
    // Never touch the desktop settings of whoever runs the tests: GNOME's settings go to a file
    // of our own, which shows what was written. Set before the settings library is first used.
    QVERIFY(m_configHome.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
    qputenv("GSETTINGS_BACKEND", "keyfile");
    registerMouseCommands(m_commands);
    // As the application wires them.
    m_profiles.reset(new ProfileStore(m_appDir.path()));
    m_profileCommands.reset(new Profiles{*m_profiles, resetOwnDoubleClickTime});
    registerProfileCommands(m_commands, *m_profileCommands);
}

void TestMouseCommands::cleanupTestCase()
{
    m_profiles.reset();
}

QStringList TestMouseCommands::send(const QString &text)
{
    QStringList replies = runCommand(m_commands, text);
    for (QString &reply : replies)
        reply.replace(QLatin1String("success:"), QLatin1String("ok:")).replace(QLatin1String("failure:"), QLatin1String("fail"));
    return replies;
}

void TestMouseCommands::table()
{
    QCOMPARE(doubleClickTable.size(), size_t(12));
    for (size_t i = 0; i < doubleClickTable.size(); ++i)
        QCOMPARE(doubleClickTable[i], 970 - 70 * int(i));
}

void TestMouseCommands::commands_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<int>("interval"); // Qt's double-click interval afterwards; 0: unchanged

    QTest::newRow("fastest") << R"({"funcname":"modifyMouseDoubleClick","position":11})"
                             << QStringList{"ok:modifyMouseDoubleClick success"} << 200;
    QTest::newRow("numeric text") << R"({"funcname":"modifyMouseDoubleClick","position":"3"})"
                                  << QStringList{"ok:modifyMouseDoubleClick success"} << 760;
    QTest::newRow("non-numeric text acts as 0") << R"({"funcname":"modifyMouseDoubleClick","position":"fast"})"
                                                << QStringList{"ok:modifyMouseDoubleClick success"} << 970;
    QTest::newRow("past the fast end") << R"({"funcname":"modifyMouseDoubleClick","position":12})"
                                       << QStringList{"fail0:modifyMouseDoubleClick failed"} << 0;
    QTest::newRow("below the slow end") << R"({"funcname":"modifyMouseDoubleClick","position":-1})"
                                        << QStringList{"fail0:modifyMouseDoubleClick failed"} << 0;
    QTest::newRow("no position") << R"({"funcname":"modifyMouseDoubleClick"})" << QStringList{} << 0;
    QTest::newRow("wheel lines") << R"({"funcname":"modifyMouseScrollLines","linenum":7})"
                                 << QStringList{"ok:modifyMouseScrollLines success"} << 0;
    QTest::newRow("negative wheel lines") << R"({"funcname":"modifyMouseScrollLines","linenum":-2})"
                                          << QStringList{"fail0:modifyMouseScrollLines failed"} << 0;
    QTest::newRow("no lines") << R"({"funcname":"modifyMouseScrollLines"})" << QStringList{} << 0;
    // Out of the 1 to 20 scale nothing is asked; inside it, no X display here to take it.
    QTest::newRow("speed too fast") << R"({"funcname":"modifyMouseSpeed","speednum":25})"
                                    << QStringList{"fail0:modifyMouseSpeed failed"} << 0;
    QTest::newRow("speed 0") << R"({"funcname":"modifyMouseSpeed","speednum":0})"
                             << QStringList{"fail0:modifyMouseSpeed failed"} << 0;
    QTest::newRow("speed without display") << R"({"funcname":"modifyMouseSpeed","speednum":10})"
                                           << QStringList{"fail0:modifyMouseSpeed failed"} << 0;
    QTest::newRow("no speed") << R"({"funcname":"modifyMouseSpeed"})" << QStringList{} << 0;
}

void TestMouseCommands::commands()
{
    QFETCH(QString, text);
    QFETCH(QStringList, replies);
    QFETCH(int, interval);

    QGuiApplication::styleHints()->setMouseDoubleClickInterval(123);
    QCOMPARE(send(text), replies);
    QCOMPARE(QGuiApplication::styleHints()->mouseDoubleClickInterval(), interval ? interval : 123);
    if (text.contains("linenum\":7"))
        QCOMPARE(QGuiApplication::styleHints()->wheelScrollLines(), 7);
}

QString TestMouseCommands::desktopSettings() const
{
    QFile file(m_configHome.filePath(QStringLiteral("glib-2.0/settings/keyfile")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void TestMouseCommands::modifyProfileResetsOnlyOwnDoubleClickTime()
{
    QCOMPARE(send(R"({"funcname":"modifyMouseDoubleClick","position":11})"),
             QStringList{"ok:modifyMouseDoubleClick success"});
    if (!desktopSettings().contains(QLatin1String("double-click=200")))
        VEXA_SKIP_WITHOUT_TOOL("GNOME's mouse settings (gsettings-desktop-schemas) are not installed");
    // Even a request that ends without a reply (no keys) puts the program's slowest time back,
    // while the desktop keeps the time its user chose.
    QCOMPARE(send(R"({"funcname":"modifyProfile"})"), QStringList{});
    QCOMPARE(QGuiApplication::styleHints()->mouseDoubleClickInterval(), 970);
    QVERIFY2(desktopSettings().contains(QLatin1String("double-click=200")), qPrintable(desktopSettings()));
}

QTEST_MAIN(TestMouseCommands)
#include "tst_mouse_commands.moc"
