// A desktop without a tray (GNOME without an extension; here a bare X server with no window
// manager, which has no notification area): vexa must never be left running where it can be
// neither reached nor quit. Closing into the tray and "-autostart" minimise instead of hiding,
// a window hidden in a tray that goes comes back minimised, and the page hears that there is no
// tray, so that it can offer Exit.
#include "command_test_support.h"
#include "missing_tool.h"
#include "private_display.h"
#include "vexa.h"

#include <QtTest>

namespace {

const char kConf[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<root><client language=\"en\" closeFunc=\"hide\" /></root>\n";

} // namespace

class TestNoTray : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void aWindowHiddenInATrayThatGoesComesBackMinimised();
    void autostartAndClosingMinimise_andThePageHearsThereIsNoTray();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<FakeContext> m_context;
    CommandRegistry m_commands;
    vexa *m_window = nullptr;
};

void TestNoTray::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        VEXA_SKIP_WITHOUT_TOOL("needs Xvfb for a display of its own");
    QVERIFY2(!QSystemTrayIcon::isSystemTrayAvailable(), "a bare X server has no notification area");
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir().mkpath(m_dir.filePath("Resources/profiles")));
    QFile conf(m_dir.filePath("Resources/profiles/conf.xml"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(kConf);
    conf.close();
    m_context.reset(new FakeContext(m_dir.path()));
    m_context->settings().load();
    m_window = new vexa(*m_context, m_commands);
}

void TestNoTray::cleanupTestCase()
{
    delete m_window;
    m_context.reset();
}

void TestNoTray::aWindowHiddenInATrayThatGoesComesBackMinimised()
{
    // A window manager with a tray for a while (fluxbox, its settings in a folder of the test's).
    const QString fluxbox = QStandardPaths::findExecutable(QStringLiteral("fluxbox"));
    if (fluxbox.isEmpty())
        VEXA_SKIP_WITHOUT_TOOL("needs fluxbox for a tray that comes and goes");
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcess manager;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    manager.setProcessEnvironment(environment);
    manager.start(fluxbox, QStringList());
    QVERIFY(manager.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 15000);

    m_window->createSystemTray();
    QVERIFY(m_window->trayAvailable());
    QVERIFY(m_context->recorded.events.isEmpty());
    m_window->show();
    m_window->putAway();
    QVERIFY(!m_window->isVisible());

    // Ended as a crash would end it (it finishes slowly on SIGTERM while clients hold its tray).
    manager.kill();
    QVERIFY(manager.waitForFinished(5000));
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isVisible(), vexa::kTrayWatchMs * 3);
    QVERIFY(m_window->isMinimized());
    QCOMPARE(m_context->recorded.events, QStringList{QStringLiteral("onBrowserMsg:noTray")});
    m_context->recorded.events.clear();
}

void TestNoTray::autostartAndClosingMinimise_andThePageHearsThereIsNoTray()
{
    const bool firstTray = !m_window->systemTray();
    m_window->createSystemTray();
    QVERIFY(!m_window->trayAvailable());
    if (firstTray) // without a tray from the start, the page is told at once
        QCOMPARE(m_context->recorded.events, QStringList{QStringLiteral("onBrowserMsg:noTray")});

    // "-autostart": in the task bar, minimised, instead of hidden in a tray that is not there.
    m_window->hide();
    m_window->setWindowState(Qt::WindowNoState);
    m_window->putAway();
    QVERIFY(m_window->isVisible());
    QVERIFY(m_window->isMinimized());

    // The page's close with "closeFunc" "hide", and the window's own close.
    m_window->setWindowState(Qt::WindowNoState);
    m_window->show();
    QVERIFY(!m_window->isMinimized());
    QCOMPARE(runCommand(m_commands, QStringLiteral(R"({"funcname":"closeApp"})")),
             QStringList{QStringLiteral("success:modify conf sucess")});
    QVERIFY(m_window->isVisible());
    QVERIFY(m_window->isMinimized());
    m_window->setWindowState(Qt::WindowNoState);
    QVERIFY(!m_window->close());
    QVERIFY(m_window->isVisible());
    QVERIFY(m_window->isMinimized());
    QCOMPARE(m_context->quits, 0);

    // The page's Exit.
    runCommand(m_commands, QStringLiteral(R"({"funcname":"closeApp","exit":true})"));
    QCOMPARE(m_context->quits, 1);
}

int main(int argc, char *argv[])
{
    // A display of its own, with no window manager and so no tray; before the application, which
    // connects to the display it finds.
    PrivateDisplay display;
    const bool haveDisplay = display.start();
    if (!haveDisplay)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestNoTray test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_no_tray.moc"
