// The program on a desktop: one instance only (a second start hands over to the first and leaves
// without a window, and does not wait for ever on one that never answers), the channel between
// instances as any local client sees it, a start over the socket file of a crashed instance, and
// global shortcuts changed from the page.
#include "missing_tool.h"
#include "vexa_driver.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

#include <memory>

namespace {

// The shortcuts must not collide with other programs on the same display.
const char kConfXml[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<root>
	<client autoStart="false" showConf="Ctrl+Alt+Shift+F11" testTool="Ctrl+Alt+Shift+F12" language="en" version="1.0.0" closeFunc="hide" clientSize="800,600" />
</root>
)";

const char kServerName[] = "Global\\{08EFFF06-0EBE-4F0A-BA97-E9C3E7126F36}";

// Everything a client gets within waitMs.
QByteArray readFor(QLocalSocket &socket, int waitMs)
{
    QByteArray all;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < waitMs) {
        socket.waitForReadyRead(50);
        all += socket.readAll();
    }
    return all;
}

} // namespace

class tst_E2eDesktop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void startsHiddenWithAutostart();
    void secondStartShowsTheFirstAndLeaves();
    void secondStartDoesNotWaitForeverOnASilentFirst();
    void channelAnswersWholeCommandsOnly();
    void showCommandUndoesMinimising();
    void shortcutsChangedFromThePage();
    void settingsScreenSavesEachChange();
    void browserCacheIsTheUsersOwn();
    void startsOverACrashedInstancesSocket();
    void nameThatCannotBeListenedOnEndsTheStart();

private:
    QString serverPath() const;
    QString ask(const QString &request);
    QByteArray confFile() const;
    std::unique_ptr<VexaDriver> m_app;
};

void tst_E2eDesktop::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        VEXA_SKIP_WITHOUT_TOOL("DISPLAY is not set: the program's browser needs an X display (run under Xvfb)");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        VEXA_SKIP_WITHOUT_TOOL("xdotool is not installed");
    VexaDriver::Options options;
    options.confXml = kConfXml;
    options.arguments = QStringList{QStringLiteral("-autostart")};
    m_app.reset(new VexaDriver(QStringLiteral(VEXA_APP_DIR), options));
    QVERIFY2(m_app->start(), qPrintable(m_app->error()));
}

void tst_E2eDesktop::cleanupTestCase()
{
    if (m_app && m_app->isRunning())
        QCOMPARE(m_app->terminate(), 0);
}

QString tst_E2eDesktop::serverPath() const
{
    return m_app->environment().value(QStringLiteral("XDG_RUNTIME_DIR")) + QLatin1Char('/') +
           QLatin1String(kServerName);
}

QString tst_E2eDesktop::ask(const QString &request)
{
    QString error;
    const QJsonValue answer = m_app->evaluate(
        QStringLiteral("new Promise((resolve) => cefQuery({request: %1, onSuccess: (t) => resolve('success:' + t),"
                       " onFailure: (c, t) => resolve('failure:' + c + ':' + t)}))")
            .arg(VexaDriver::jsString(request)),
        &error, 10000);
    return answer.isString() ? answer.toString() : QStringLiteral("no answer: ") + error;
}

void tst_E2eDesktop::startsHiddenWithAutostart()
{
    QVERIFY(QFileInfo::exists(serverPath()));
    QVERIFY(VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("PARVEX PX-ORB42")).isEmpty());
    QCOMPARE(m_app->evaluate(QStringLiteral("document.visibilityState")).toString(), QStringLiteral("hidden"));
}

void tst_E2eDesktop::secondStartShowsTheFirstAndLeaves()
{
    QProcess second;
    QProcessEnvironment environment = m_app->environment();
    environment.remove(QStringLiteral("QTWEBENGINE_REMOTE_DEBUGGING"));
    second.setProcessEnvironment(environment);
    second.setWorkingDirectory(m_app->appDir());
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.start(m_app->appDir() + QStringLiteral("/vexa"), QStringList());
    QVERIFY(second.waitForStarted(30000));
    QVERIFY2(second.waitForFinished(60000), "the second instance is still running");
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    // The first instance's window is up now; the second never made one of its own.
    QTRY_VERIFY_WITH_TIMEOUT(!VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("PARVEX PX-ORB42")).isEmpty(), 10000);
    QVERIFY(m_app->waitUntil(QStringLiteral("document.visibilityState === 'visible'"), 10000));
    QCOMPARE(m_app->webLog().count("mainwindow show!"), 1);
    QVERIFY(m_app->isRunning());
}

void tst_E2eDesktop::secondStartDoesNotWaitForeverOnASilentFirst()
{
    // A first instance that takes the connection and never answers (stuck, or not vexa at all).
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    QLocalServer silent;
    QVERIFY(silent.listen(runtime.path() + QLatin1Char('/') + QLatin1String(kServerName)));
    QProcessEnvironment environment = m_app->environment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.remove(QStringLiteral("QTWEBENGINE_REMOTE_DEBUGGING"));
    QProcess second;
    second.setProcessEnvironment(environment);
    second.setWorkingDirectory(runtime.path());
    second.start(m_app->appDir() + QStringLiteral("/vexa"), QStringList());
    QVERIFY(second.waitForStarted(30000));
    const bool ended = second.waitForFinished(60000);
    if (!ended) {
        second.kill();
        second.waitForFinished();
    }
    QVERIFY2(ended, "the second start still waits for an answer");
    const QByteArray said = second.readAllStandardError();
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 1);
    QVERIFY2(said.contains("vexa: another vexa runs from") && said.contains("it did not answer within 5 seconds"),
             said.constData());
    QVERIFY(m_app->isRunning());
}

void tst_E2eDesktop::channelAnswersWholeCommandsOnly()
{
    const QByteArray reply = QByteArray("RES:") + QByteArray::number(m_app->processId()) + ';';
    QLocalSocket client;
    client.connectToServer(serverPath());
    QVERIFY2(client.waitForConnected(5000), qPrintable(client.errorString()));

    // A command split across two writes: nothing for the first half, one answer for the whole.
    client.write("CMD:sh");
    QVERIFY(client.waitForBytesWritten(2000));
    QCOMPARE(readFor(client, 400), QByteArray());
    client.write("ow;");
    QCOMPARE(readFor(client, 600), reply);

    // Two commands in one write: two answers; an unknown name is answered all the same.
    client.write("CMD:show;CMD:whatever;");
    QCOMPARE(readFor(client, 600), reply + reply);

    // A lower-case prefix is no command; what follows it still is.
    client.write("cmd:show;");
    QCOMPARE(readFor(client, 400), QByteArray());
    client.write("CMD:show;");
    QCOMPARE(readFor(client, 600), reply);
    QVERIFY(m_app->isRunning());
}

void tst_E2eDesktop::showCommandUndoesMinimising()
{
    QStringList windows;
    QTRY_VERIFY_WITH_TIMEOUT(!(windows = VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("PARVEX PX-ORB42"))).isEmpty(), 10000);
    QVERIFY(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), windows.first()}) == 0);
    QTRY_VERIFY_WITH_TIMEOUT(VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("PARVEX PX-ORB42")).isEmpty(), 10000);

    QLocalSocket client;
    client.connectToServer(serverPath());
    QVERIFY(client.waitForConnected(5000));
    client.write("CMD:show;");
    QVERIFY(!readFor(client, 500).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("PARVEX PX-ORB42")).isEmpty(), 10000);
}

void tst_E2eDesktop::shortcutsChangedFromThePage()
{
    // Registered at start from the settings file.
    const QString conf = ask(QStringLiteral(R"({"funcname":"getConf"})"));
    QVERIFY2(conf.contains(QStringLiteral("\"showConf\":\"Ctrl+Alt+Shift+F11,\\u0001\"")), qPrintable(conf));
    QVERIFY2(conf.contains(QStringLiteral("\"testTool\":\"Ctrl+Alt+Shift+F12,\\u0001\"")), qPrintable(conf));

    QCOMPARE(ask(QStringLiteral(R"({"funcname":"setConf","confKey":"showConf","confValue":"Ctrl+Alt+Shift+F10"})")),
             QStringLiteral("success:") + QChar(1));
    // The same combination for the other shortcut: taken, so refused, and stored anyway.
    QCOMPARE(ask(QStringLiteral(R"({"funcname":"setConf","confKey":"testTool","confValue":"Ctrl+Alt+Shift+F10"})")),
             QStringLiteral("success:") + QChar(0));
    const QString after = ask(QStringLiteral(R"({"funcname":"getConf"})"));
    QVERIFY2(after.contains(QStringLiteral("\"showConf\":\"Ctrl+Alt+Shift+F10,\\u0001\"")), qPrintable(after));
    QVERIFY2(after.contains(QStringLiteral("\"testTool\":\"Ctrl+Alt+Shift+F10,\\u0000\"")), qPrintable(after));
    QFile file(m_app->appDir() + QStringLiteral("/Resources/profiles/conf.xml"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("testTool=\"Ctrl+Alt+Shift+F10\""));

    // Moving showConf away frees its old combination for testTool.
    QCOMPARE(ask(QStringLiteral(R"({"funcname":"setConf","confKey":"showConf","confValue":"Ctrl+Alt+Shift+F11"})")),
             QStringLiteral("success:") + QChar(1));
    QCOMPARE(ask(QStringLiteral(R"({"funcname":"setConf","confKey":"testTool","confValue":"Ctrl+Alt+Shift+F10"})")),
             QStringLiteral("success:") + QChar(1));
}

QByteArray tst_E2eDesktop::confFile() const
{
    QFile file(m_app->appDir() + QStringLiteral("/Resources/profiles/conf.xml"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void tst_E2eDesktop::settingsScreenSavesEachChange()
{
    QVERIFY(m_app->evaluate(QStringLiteral("location.hash = '#settings'; true")).toBool());
    QVERIFY(m_app->waitUntil(
        QStringLiteral("document.querySelector('#setting-showConf')?.value === 'Ctrl+Alt+Shift+F11'"), 10000));
    // Both combinations are ours after the previous case.
    QCOMPARE(m_app->evaluate(QStringLiteral("Array.from(document.querySelectorAll('.shortcut-state'),"
                                            " (b) => b.dataset.state).join()"))
                 .toString(),
             QStringLiteral("on,on"));

    // A combination pressed into the field is saved and reserved.
    const QString press = QStringLiteral(
        "(() => { const f = document.querySelector('#setting-%1'); f.focus();"
        " f.dispatchEvent(new KeyboardEvent('keydown', {key: 'Pause', code: 'Pause', ctrlKey: true, altKey: true,"
        " shiftKey: true, bubbles: true, cancelable: true})); return true; })()");
    QVERIFY(m_app->evaluate(press.arg(QStringLiteral("showConf"))).toBool());
    QVERIFY(m_app->waitUntil(QStringLiteral("document.querySelector('[data-key=showConf] .setting-note')"
                                            ".textContent === 'Saved: Ctrl+Alt+Shift+Pause'"),
                             10000));
    QVERIFY(confFile().contains("showConf=\"Ctrl+Alt+Shift+Pause\""));
    // The same for the other shortcut: stored, but shown as not available.
    QVERIFY(m_app->evaluate(press.arg(QStringLiteral("testTool"))).toBool());
    QVERIFY(m_app->waitUntil(
        QStringLiteral("document.querySelector('[data-key=testTool] .shortcut-state').dataset.state === 'off'"), 10000));
    QVERIFY(confFile().contains("testTool=\"Ctrl+Alt+Shift+Pause\""));

    // Cleared: stored empty, nothing held, so the other shortcut can have the combination now.
    QVERIFY(m_app->evaluate(QStringLiteral("document.querySelector('[data-key=showConf] .shortcut-clear').click(); true")).toBool());
    QVERIFY(m_app->waitUntil(
        QStringLiteral("document.querySelector('[data-key=showConf] .shortcut-state').dataset.state === 'none'"), 10000));
    QVERIFY(confFile().contains("showConf=\"\""));
    QCOMPARE(m_app->evaluate(QStringLiteral("document.querySelector('[data-key=showConf] .shortcut-clear').disabled")).toBool(), true);
    m_app->saveScreenshot(QStringLiteral("settings-shortcut-cleared"));
    QVERIFY(ask(QStringLiteral(R"({"funcname":"getConf"})")).contains(QStringLiteral("\"showConf\":\",\\u0000\"")));
    QCOMPARE(ask(QStringLiteral(R"({"funcname":"setConf","confKey":"testTool","confValue":"Ctrl+Alt+Shift+Pause"})")),
             QStringLiteral("success:") + QChar(1));

    QVERIFY(m_app->evaluate(QStringLiteral(
        "document.querySelector('input[name=closeFunc][value=closeapp]').click(); true")).toBool());
    QTRY_VERIFY_WITH_TIMEOUT(confFile().contains("closeFunc=\"closeapp\""), 10000);
    QVERIFY(m_app->evaluate(QStringLiteral(
        "(() => { const s = document.querySelector('#setting-language'); s.value = 'ja';"
        " s.dispatchEvent(new Event('change')); return true; })()")).toBool());
    QTRY_VERIFY_WITH_TIMEOUT(confFile().contains("language=\"ja\""), 10000);

    // What the screen shows after a reload is what the program holds.
    QVERIFY(m_app->evaluate(QStringLiteral("document.querySelector('#settings-reload').click(); true")).toBool());
    QVERIFY(m_app->waitUntil(QStringLiteral(
        "document.querySelector('input[name=closeFunc][value=closeapp]').checked &&"
        " document.querySelector('#setting-language').value === 'ja' &&"
        " document.querySelector('#setting-testTool').value === 'Ctrl+Alt+Shift+Pause' &&"
        " document.querySelector('[data-key=showConf] .shortcut-state').dataset.state === 'none' &&"
        " document.querySelector('[data-key=testTool] .shortcut-state').dataset.state === 'on'"), 10000));
}

void tst_E2eDesktop::browserCacheIsTheUsersOwn()
{
    // In the shared temporary folder another user could make the cache folder first, or a link
    // in its place, and read or feed what the browser keeps.
    const QProcessEnvironment environment = m_app->environment();
    const QString path = environment.value(QStringLiteral("XDG_CACHE_HOME")) + QStringLiteral("/vexa/Cache");
    QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo::exists(path), qPrintable(path), 10000);
    const QFileInfo cache(path);
    QVERIFY(cache.isDir() && !cache.isSymLink());
    QCOMPARE(cache.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                                    | QFile::WriteOther | QFile::ExeOther),
             QFile::Permissions());
    QVERIFY(!QFileInfo::exists(environment.value(QStringLiteral("TMPDIR")) + QStringLiteral("/Cache")));
}

void tst_E2eDesktop::startsOverACrashedInstancesSocket()
{
    // A crash: nothing tidies up, the socket file stays behind.
    const QString path = serverPath();
    ::kill(pid_t(m_app->processId()), SIGKILL);
    QTRY_VERIFY_WITH_TIMEOUT(!m_app->isRunning(), 10000);
    QVERIFY(QFileInfo::exists(path));

    QProcess next;
    QProcessEnvironment environment = m_app->environment();
    environment.remove(QStringLiteral("QTWEBENGINE_REMOTE_DEBUGGING"));
    next.setProcessEnvironment(environment);
    next.setWorkingDirectory(m_app->appDir());
    next.start(m_app->appDir() + QStringLiteral("/vexa"), QStringList());
    QVERIFY(next.waitForStarted(30000));
    // It becomes the running instance: it answers on the channel, and its window comes up.
    const QByteArray expected = QByteArray("RES:") + QByteArray::number(next.processId()) + ';';
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    while (answer != expected && clock.elapsed() < 120000 && next.state() == QProcess::Running) {
        QLocalSocket client;
        client.connectToServer(path);
        if (client.waitForConnected(1000)) {
            client.write("CMD:show;");
            answer = readFor(client, 600);
        } else {
            QTest::qWait(200); // the poll's pace until the new instance listens; the deadline is the loop's
        }
    }
    QCOMPARE(answer, expected);
    QTRY_VERIFY_WITH_TIMEOUT(!VexaDriver::visibleWindows(next.processId(), QStringLiteral("PARVEX PX-ORB42")).isEmpty(), 60000);

    next.terminate();
    QVERIFY(next.waitForFinished(30000));
    QCOMPARE(next.exitCode(), 0);
}

void tst_E2eDesktop::nameThatCannotBeListenedOnEndsTheStart()
{
    // Something that is no socket sits on the name: nobody answers, nobody can listen there.
    const QString path = serverPath();
    QVERIFY(!QFileInfo::exists(path));
    QVERIFY(QDir().mkpath(path + QStringLiteral("/occupied")));

    QProcess next;
    QProcessEnvironment environment = m_app->environment();
    environment.remove(QStringLiteral("QTWEBENGINE_REMOTE_DEBUGGING"));
    next.setProcessEnvironment(environment);
    next.setWorkingDirectory(m_app->appDir());
    next.start(m_app->appDir() + QStringLiteral("/vexa"), QStringList());
    QVERIFY(next.waitForStarted(30000));
    QVERIFY2(next.waitForFinished(60000), "the program kept running without being able to listen");
    QCOMPARE(next.exitCode(), 0);
    QVERIFY(QFileInfo(path).isDir());
    QDir(path).removeRecursively();
}

QTEST_GUILESS_MAIN(tst_E2eDesktop)
#include "tst_e2e_desktop.moc"
