// The tray icon: its menu texts per language, the main window's reactions to clicks and to the
// menu, the icon showing up in a real notification area (fluxbox's) when there is a display, and
// the notifications that go to the desktop's service, or to the tray where none answers.
#include "command_test_support.h"
#include "desktop_notifications.h"
#include "missing_tool.h"
#include "notification_service.h"
#include "systemtray.h"
#include "vexa.h"

#include <QtTest>

#include <QAction>
#include <QMenu>

namespace {

const char kConf[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<root><client language=\"zh-HK\" closeFunc=\"hide\" /></root>\n";

} // namespace

class TestSystemTray : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void menuTexts_data();
    void menuTexts();
    void menuHoldsOpenSeparatorExit();
    void contextClickAppliesTheLanguageSetting();
    void clicksShowTheWindow_data();
    void clicksShowTheWindow();
    void exitOffersThePageAQuestionButNeverWaitsOnIt();
    void iconShowsInTheNotificationArea();
    void notificationsGoToTheDesktopService_elseToTheTray();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<FakeContext> m_context;
    CommandRegistry m_commands;
    vexa *m_window = nullptr;
};

void TestSystemTray::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir().mkpath(m_dir.filePath("Resources/profiles")));
    QFile conf(m_dir.filePath("Resources/profiles/conf.xml"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(kConf);
    conf.close();
    m_context.reset(new FakeContext(m_dir.path()));
    m_context->settings().load();
    m_window = new vexa(*m_context, m_commands);
    m_window->createSystemTray();
    QVERIFY(m_window->systemTray());
}

void TestSystemTray::cleanupTestCase()
{
    delete m_window;
    m_context.reset();
}

void TestSystemTray::menuTexts_data()
{
    QTest::addColumn<QStringList>("languages"); // applied in order
    QTest::addColumn<QString>("open");
    QTest::addColumn<QString>("close");
    QTest::newRow("none yet") << QStringList() << "Open" << "Exit";
    QTest::newRow("empty keeps English") << QStringList{""} << "Open" << "Exit";
    QTest::newRow("zh") << QStringList{"zh"} << "打开" << "关闭";
    QTest::newRow("zh-TW") << QStringList{"zh-TW"} << "打開" << "關閉";
    QTest::newRow("zh-HK") << QStringList{"zh-HK"} << "打開" << "關閉";
    QTest::newRow("de-DE") << QStringList{"de-DE"} << "Öffnen" << "Beenden";
    QTest::newRow("ja") << QStringList{"ja"} << "オープン" << "クローズ";
    QTest::newRow("ru") << QStringList{"ru"} << "Открыть" << "Выход";
    QTest::newRow("ko") << QStringList{"ko"} << "열기" << "종료";
    QTest::newRow("en") << QStringList{"en", "ja", "en"} << "Open" << "Exit";
    QTest::newRow("fr: outside the table") << QStringList{"fr"} << "設定画面を開く" << "終了";
    QTest::newRow("de: only de-DE is listed") << QStringList{"de"} << "設定画面を開く" << "終了";
    QTest::newRow("ZH: letter case counts") << QStringList{"ZH"} << "設定画面を開く" << "終了";
    QTest::newRow("empty keeps the last") << QStringList{"ko", ""} << "열기" << "종료";
    QTest::newRow("switching back") << QStringList{"ru", "ja"} << "オープン" << "クローズ";
}

void TestSystemTray::menuTexts()
{
    QFETCH(QStringList, languages);
    QFETCH(QString, open);
    QFETCH(QString, close);
    SystemTray tray(nullptr);
    for (const QString &language : languages)
        tray.setLanguage(language);
    QCOMPARE(tray.openAction()->text(), open);
    QCOMPARE(tray.closeAction()->text(), close);
}

void TestSystemTray::menuHoldsOpenSeparatorExit()
{
    SystemTray tray(nullptr);
    QVERIFY(tray.contextMenu());
    const QList<QAction *> actions = tray.contextMenu()->actions();
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions.at(0), tray.openAction());
    QVERIFY(actions.at(1)->isSeparator());
    QCOMPARE(actions.at(2), tray.closeAction());
    QVERIFY(!tray.icon().isNull());
    QVERIFY(tray.isVisible());

    QSignalSpy show(&tray, &SystemTray::showWidget);
    QSignalSpy close(&tray, &SystemTray::closeApp);
    tray.openAction()->trigger();
    QCOMPARE(show.count(), 1);
    QCOMPARE(close.count(), 0);
    tray.closeAction()->trigger();
    QCOMPARE(close.count(), 1);
}

void TestSystemTray::contextClickAppliesTheLanguageSetting()
{
    SystemTray *tray = m_window->systemTray();
    QCOMPARE(tray->openAction()->text(), QStringLiteral("Open"));
    emit tray->activated(QSystemTrayIcon::Context);
    QCOMPARE(tray->openAction()->text(), QStringLiteral("打開"));
    QCOMPARE(tray->closeAction()->text(), QStringLiteral("關閉"));
    // Changed by the page later: the next right click follows.
    QVERIFY(m_context->settings().setValue(QStringLiteral("language"), QStringLiteral("en")));
    emit tray->activated(QSystemTrayIcon::Context);
    QCOMPARE(tray->openAction()->text(), QStringLiteral("Open"));
}

void TestSystemTray::clicksShowTheWindow_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("shown");
    QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << true;
    QTest::newRow("context") << int(QSystemTrayIcon::Context) << false;
    QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << true;
    QTest::newRow("trigger") << int(QSystemTrayIcon::Trigger) << true;
    QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
}

void TestSystemTray::clicksShowTheWindow()
{
    QFETCH(int, reason);
    QFETCH(bool, shown);
    m_window->hide();
    m_window->setWindowState(Qt::WindowMinimized);
    emit m_window->systemTray()->activated(QSystemTrayIcon::ActivationReason(reason));
    QCOMPARE(m_window->isVisible(), shown);
    if (shown)
        QVERIFY(!(m_window->windowState() & Qt::WindowMinimized));
    m_window->hide();
}

// Exit lets the page ask about unsaved work first (quitting saves it), but never waits on the
// page: a page that never spoke quits at once, one that does not take the offer up within the
// bound quits after it, and a second Exit while the page asks quits too. "stay" ends the offer,
// so the next Exit offers again.
void TestSystemTray::exitOffersThePageAQuestionButNeverWaitsOnIt()
{
    QAction *exitAction = m_window->systemTray()->closeAction();
    exitAction->trigger();
    QCOMPARE(m_context->quits, 1);

    m_window->hide();
    m_context->recorded.events.clear();
    m_window->setExitTakeUpMs(50);
    m_window->onJsMessage(QStringLiteral(R"({"funcname":"getVersion"})"), CefRefPtr<RecordingCallback>(new RecordingCallback));
    exitAction->trigger();
    QVERIFY(m_window->isVisible());
    QCOMPARE(m_context->recorded.events, QStringList{QStringLiteral("onBrowserMsg:trayExit")});
    QCOMPARE(m_context->quits, 1);
    QTRY_COMPARE(m_context->quits, 2); // nobody took it up

    const QString asking = QStringLiteral(R"({"funcname":"closeApp","exit":"asking"})");
    m_window->setExitTakeUpMs(60000);
    exitAction->trigger();
    QCOMPARE(runCommand(m_commands, asking), QStringList{QStringLiteral("success:modify conf sucess")});
    QVERIFY(m_window->exitOfferOpen());
    exitAction->trigger(); // again while the page asks
    QCOMPARE(m_context->quits, 3);
    QVERIFY(!m_window->exitOfferOpen());

    // "stay": nothing quits or hides, and the next Exit asks again.
    m_context->recorded.events.clear();
    exitAction->trigger();
    runCommand(m_commands, asking);
    runCommand(m_commands, QStringLiteral(R"({"funcname":"closeApp","exit":"stay"})"));
    QVERIFY(!m_window->exitOfferOpen());
    QCOMPARE(m_context->quits, 3);
    QVERIFY(m_window->isVisible());
    exitAction->trigger();
    QCOMPARE(m_context->recorded.events.size(), 2);
    QCOMPARE(runCommand(m_commands, QStringLiteral(R"({"funcname":"closeApp","exit":true})")),
             QStringList{QStringLiteral("success:modify conf sucess")});
    QCOMPARE(m_context->quits, 4);
    // Without an offer open, "asking" holds nothing; the close button closes as "closeFunc" says.
    runCommand(m_commands, asking);
    QVERIFY(!m_window->exitOfferOpen());
    QCOMPARE(runCommand(m_commands, QStringLiteral(R"({"funcname":"closeApp"})")),
             QStringList{QStringLiteral("success:modify conf sucess")});
    QCOMPARE(m_context->quits, 4);
    if (m_window->trayAvailable())
        QVERIFY(!m_window->isVisible());
    else
        QVERIFY(m_window->isVisible() && m_window->isMinimized());
}

void TestSystemTray::iconShowsInTheNotificationArea()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        VEXA_SKIP_WITHOUT_TOOL("needs an X display with a window manager that has a notification area");
    QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(), "no notification area: is fluxbox running?");
    QTRY_VERIFY(!m_window->systemTray()->geometry().isEmpty());
}

// A session bus of the test's own, with python3-dbusmock's notification service as the
// desktop's: the page's notification reaches it in vexa's name and with vexa's icon; with no
// service on the bus it goes to the tray icon's message instead.
void TestSystemTray::notificationsGoToTheDesktopService_elseToTheTray()
{
    NotificationService desktop;
    if (!desktop.startBus())
        VEXA_SKIP_WITHOUT_TOOL(qPrintable(desktop.error()));
    const QByteArray previous = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", desktop.address().toLocal8Bit());
    struct Restore {
        QByteArray previous;
        ~Restore() { previous.isEmpty() ? qunsetenv("DBUS_SESSION_BUS_ADDRESS") : qputenv("DBUS_SESSION_BUS_ADDRESS", previous); }
    } restore{previous};

    DesktopNotifications *notifications = m_window->desktopNotifications();
    QVERIFY(notifications);
    QSignalSpy shown(notifications, &DesktopNotifications::shown);
    QSignalSpy fellBack(notifications, &DesktopNotifications::fellBack);
    m_window->notify(QStringLiteral("No service"), QStringLiteral("yet"));
    QTRY_COMPARE(fellBack.count(), 1);
    QCOMPARE(fellBack.at(0).at(0).toString(), QStringLiteral("No service"));
    QCOMPARE(shown.count(), 0);

    if (!desktop.startService())
        VEXA_SKIP_WITHOUT_TOOL(qPrintable(desktop.error()));
    m_window->notify(QStringLiteral("Mode switch"), QStringLiteral("Pad 1 gets <Racing>"));
    QTRY_COMPARE(shown.count(), 1);
    QCOMPARE(fellBack.count(), 1);
    QTRY_VERIFY(desktop.log().contains("Notify"));
    QVERIFY2(desktop.log().contains(R"(Notify "vexa" 0 "vexa" "Mode switch" "Pad 1 gets &lt;Racing&gt;")"), desktop.log().constData());

    desktop.stopService();
    m_window->notify(QStringLiteral("Gone"), QString());
    QTRY_COMPARE(fellBack.count(), 2);
}

int main(int argc, char *argv[])
{
    // Without a display the widget cases still run, off screen.
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestSystemTray test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_systemtray.moc"
