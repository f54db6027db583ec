// Modes that change the pad, on the real program with the virtual pads: a copy of a real program
// bound to a mode whose profile differs from the current mode's; while it runs the PX-ORB42 holds
// the mode's block at 0x0100, and once it ends the current mode's block is back; the same with
// the window hidden in the tray, where the page says it with a desktop notification. A pad of
// another product is left alone; a pad plugged in while a mode is active gets its profile. An
// imported profile whose macro lies where the current mode's profile keeps one takes turns with
// it on the pad, every macro intact; and each pad's line says what that pad holds, read back.
#include "missing_tool.h"
#include "pad_blocks.h"
#include "vexa_driver.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class tst_E2eModeSwitch : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void boundProgramSwitchesThePad();
    void hiddenInTheTray();
    void padPluggedInGetsTheActiveProfile();
    void reloadedPageKeepsTheRunningMode();
    void importedProfileKeepsEveryMacro();
    void eachPadSaysWhatItHoldsAfterAManualApply();
    void deletingAModesProfileAsksAndUnlinks();

private:
    QString block(const QString &id) const;
    QString mem(const QString &id, const QString &address, int size) const;
    QString padLine(const QString &list, const QString &id) const;
    void showWindow();
    QString line() const;
    QString configuration() const;
    void screenshotOfScreen(const QString &name);

    QTemporaryDir m_outside; // the bound program
    QTemporaryDir m_padHome; // the virtual pads
    QString m_program;
    QString m_padctl;
    std::unique_ptr<VexaDriver> m_app;
};

namespace {

const char kPad[] = "5E1C7A92";   // a PX-ORB42 (the catalogue knows its id)
const char kOther[] = "0BADF00D"; // a pad of another product

// The first 12 bytes of each block as padctl prints them, blanks removed: magic, version, size,
// speed, scroll lines, double-click, effect, colour, brightness.
const QString kCalm = QStringLiteral("565801800a030002e0483e50");
const QString kRacing = QStringLiteral("565801801403000100ff0050");
const QString kBoostBlock = QStringLiteral("565801800f0300030000ff50");
// Calm's macro, and the macro of a package made elsewhere, both at 0x0200 in their files.
const QString kReload = QStringLiteral("01 1e 00 02 1e 00 00");
const QString kBoost = QStringLiteral("01 39 00 02 39 00 00");
// How the screens name the two pads (padctl gives the PX-ORB42 its serial from its id).
const QString kPadName = QString::fromUtf8("PX-ORB42 \u00b7 PX4272405482");
const QString kOtherName = QString::fromUtf8("Unknown pad \u00b7 OTHER1");
// The monitor scans every 3 s; the pad must hold the block within 5 s of a start, and within 5 s
// of an end once the ended program's mode has been kept for 7 s (a program that restarts at once
// writes nothing). Desktop notifications come at most one in 30 s.
const int kSwitchMs = 5000;
const int kLeaveMs = kSwitchMs + 7000;
const int kNoteGapMs = 30000;

} // namespace

void tst_E2eModeSwitch::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        VEXA_SKIP_WITHOUT_TOOL("DISPLAY is not set: the program's browser needs an X display (run under Xvfb)");
    m_padctl = QStringLiteral(VEXA_APP_DIR "/padctl");
    if (!QFile::exists(m_padctl))
        VEXA_SKIP_WITHOUT_TOOL("padctl is not built");
    QVERIFY(m_outside.isValid());
    QVERIFY(m_padHome.isValid());
    qputenv("PADIO_HOME", m_padHome.path().toLocal8Bit());
    // A second pad, of a product the catalogue does not know, plugged in before the start.
    int code = -1;
    VexaDriver::runTool(m_padctl, {"plug", "--id", kOther, "--sn", "OTHER1"}, &code);
    QCOMPARE(code, 0);
    // The monitor compares with the path the system reports for a running program: no links.
    m_program = QFileInfo(m_outside.path()).canonicalFilePath() + "/RacerGame";
    QVERIFY(QFile::copy(QStandardPaths::findExecutable("sleep"), m_program));

    VexaDriver::Options options;
    // Calm's A plays its macro Reload.
    QByteArray calm = pad_blocks::profileXml("Calm", 10, "#e0483e", "breathing");
    calm.replace("<keys /><macros />", "<keys><key id=\"1\" name=\"A\" code=\"0x04,0x02,0x00,0x00\" /></keys><macros>"
                                       "<macro name=\"Reload\" address=\"0x0200\" size=\"7\" data=\"01 1e 00 02 1e 00 00\" /></macros>");
    options.files.insert("view/profiles/profile1.xml", calm);
    options.files.insert("view/profiles/profile2.xml", pad_blocks::profileXml("Racing", 20, "#00ff00", "static"));
    options.files.insert("view/xml/configuration.xml",
                         QString("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<conf><modeSetting current=\"1\"><modes group=\"pad\">"
                                 "<mode index=\"1\" name=\"Desktop\" bindingProcess=\"\" profile=\"profile1.xml\"/>"
                                 "<mode index=\"2\" name=\"Racing\" bindingProcess=\"%1\" profile=\"profile2.xml\"/>"
                                 "<mode index=\"3\" name=\"Editing\" bindingProcess=\"\"/>"
                                 "</modes></modeSetting></conf>\n")
                             .arg(m_program)
                             .toUtf8());
    m_app.reset(new VexaDriver(QStringLiteral(VEXA_APP_DIR), options));
    QVERIFY2(m_app->start(), qPrintable(m_app->error()));
    QVERIFY(m_app->waitUntil("!!(window.vexaPage && window.vexaPage.ready)"));
}

void tst_E2eModeSwitch::cleanupTestCase()
{
    if (m_app)
        QVERIFY2(m_app->isRunning(), "the program ended while it was being driven");
    m_app.reset();
}

QString tst_E2eModeSwitch::block(const QString &id) const
{
    return pad_blocks::blockStart(m_padctl, id, 12);
}

// size bytes of the pad's memory as padctl shows them ("01 1e 00 …").
QString tst_E2eModeSwitch::mem(const QString &id, const QString &address, int size) const
{
    const QString dump = VexaDriver::runTool(m_padctl, {"mem", id, address, QString::number(size)});
    return dump.section(QLatin1Char('|'), 0, 0).section(QLatin1Char(' '), 1).simplified();
}

// Brings the window back from the tray, as a second start of the program would.
void tst_E2eModeSwitch::showWindow()
{
    QLocalSocket client;
    client.connectToServer(m_app->environment().value("XDG_RUNTIME_DIR") + "/Global\\{08EFFF06-0EBE-4F0A-BA97-E9C3E7126F36}");
    QVERIFY2(client.waitForConnected(5000), qPrintable(client.errorString()));
    client.write("CMD:show;");
    QVERIFY(client.waitForBytesWritten(2000));
    QVERIFY(m_app->waitUntil("!document.hidden"));
}

// The line of one pad in a list of what the pads hold (#modes-holds, #pads-holds).
QString tst_E2eModeSwitch::padLine(const QString &list, const QString &id) const
{
    return m_app->evaluate(QString("(document.querySelector('#%1 li[data-device-id=\"%2\"]') || {}).textContent || ''").arg(list, id))
        .toString();
}

QString tst_E2eModeSwitch::line() const
{
    return m_app->evaluate("document.getElementById('modes-pad').textContent").toString();
}

QString tst_E2eModeSwitch::configuration() const
{
    QFile file(m_app->appDir() + "/view/xml/configuration.xml");
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The whole X screen (the tray's message is a window of its own), for people to look at.
void tst_E2eModeSwitch::screenshotOfScreen(const QString &name)
{
    const QString dir = qEnvironmentVariable("VEXA_SCREENSHOT_DIR");
    if (dir.isEmpty() || QStandardPaths::findExecutable("import").isEmpty())
        return;
    QDir().mkpath(dir);
    VexaDriver::runTool("import", {"-window", "root", QDir(dir).filePath(name + ".png")});
}

void tst_E2eModeSwitch::boundProgramSwitchesThePad()
{
    // At start the current mode's profile goes to the PX-ORB42, and only to it.
    QTRY_COMPARE_WITH_TIMEOUT(block(kPad), kCalm, 15000);
    QCOMPARE(block(kOther), QString(24, QLatin1Char('0')));

    m_app->evaluate("location.hash = '#modes'; true");
    QVERIFY(m_app->waitUntil("document.querySelectorAll('#mode-list .mode-row').length === 3"));
    QVERIFY(m_app->waitUntil("document.getElementById('modes-pad').textContent === 'Desktop is the current mode: each PX-ORB42 gets Calm'"));
    // Each mode's profile is a labelled select beside its program: the profiles in use and "none".
    const QString select = "document.querySelector('.mode-row[data-index=\"%1\"] .mode-profile-select')";
    QCOMPARE(m_app->evaluate(select.arg(2) + ".value").toString(), QStringLiteral("profile2.xml"));
    QCOMPARE(m_app->evaluate(select.arg(3) + ".value").toString(), QString());
    QCOMPARE(m_app->evaluate(select.arg(2) + ".labels[0].textContent").toString(), QStringLiteral("Profile"));
    QCOMPARE(m_app->evaluate("document.getElementById(" + select.arg(2) + ".getAttribute('aria-describedby')).textContent").toString(),
             QStringLiteral("Racing"));
    QCOMPARE(m_app->evaluate("Array.from(" + select.arg(3) + ".options, (o) => o.textContent).join('|')").toString(),
             QStringLiteral("No change|Calm|Racing"));

    QProcess racer;
    racer.start(m_program, {"120"});
    QVERIFY(racer.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(block(kPad), kRacing, kSwitchMs);
    QVERIFY(m_app->waitUntil("document.getElementById('modes-pad').textContent === 'RacerGame is running: each PX-ORB42 gets Racing'"));
    // Started a second time: the same mode, nothing new.
    QProcess again;
    again.start(m_program, {"120"});
    QVERIFY(again.waitForStarted());
    m_app->saveScreenshot("modes-switched-pad", 300);
    // The Pads screen says the same.
    m_app->evaluate("location.hash = '#pads'; true");
    QVERIFY(m_app->waitUntil("!document.getElementById('screen-pads').hidden"));
    QCOMPARE(m_app->evaluate("document.getElementById('pads-mode').textContent").toString(), line());
    m_app->saveScreenshot("pads-switched-pad", 300);
    m_app->evaluate("location.hash = '#modes'; true");
    again.kill();
    again.waitForFinished();
    racer.kill();
    racer.waitForFinished();
    QTRY_COMPARE_WITH_TIMEOUT(block(kPad), kCalm, kLeaveMs);
    QCOMPARE(block(kOther), QString(24, QLatin1Char('0')));

    // A profile chosen for a mode is written like a binding.
    m_app->evaluate("(() => { const s = " + select.arg(3) + "; s.value = 'profile2.xml'; s.dispatchEvent(new Event('change')); return true; })()");
    QTRY_VERIFY_WITH_TIMEOUT(configuration().contains("name=\"Editing\" bindingProcess=\"\" profile=\"profile2.xml\""), 10000);
    QVERIFY(m_app->waitUntil("document.getElementById('modes-status').textContent === 'Editing gives the pad Racing; saved.'"));
    // The user picks it as the current mode: the pad takes its profile; and back.
    const QString current = "document.querySelector('.mode-row[data-index=\"%1\"] .mode-current').click(); true";
    m_app->evaluate(current.arg(3));
    QTRY_COMPARE_WITH_TIMEOUT(block(kPad), kRacing, kSwitchMs);
    QVERIFY(m_app->waitUntil("document.getElementById('modes-pad').textContent === 'Editing is the current mode: each PX-ORB42 gets Racing'"));
    QVERIFY(m_app->waitUntil("document.getElementById('modes-status').dataset.tone === 'ok'"));
    m_app->evaluate(current.arg(1));
    QTRY_COMPARE_WITH_TIMEOUT(block(kPad), kCalm, kSwitchMs);
}

void tst_E2eModeSwitch::hiddenInTheTray()
{
    // Notifications the page makes are counted on their way to the program's presenter.
    QVERIFY(m_app->waitUntil("Notification.permission === 'granted'"));
    m_app->evaluate("window.e2eNotes = []; const N = window.Notification; window.Notification = class extends N {"
                    " constructor(title, options) { super(title, options); window.e2eNotes.push(options.body); } }; true");
    QCOMPARE(m_app->ask("{\"funcname\":\"closeApp\"}").left(7), QStringLiteral("success"));
    QVERIFY(m_app->waitUntil("document.hidden"));
    QTRY_VERIFY_WITH_TIMEOUT(VexaDriver::visibleWindows(m_app->processId(), "PARVEX PX-ORB42").isEmpty(), 10000);

    QProcess racer;
    racer.start(m_program, {"120"});
    QVERIFY(racer.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(block(kPad), kRacing, kSwitchMs);
    QVERIFY(m_app->waitUntil("window.e2eNotes.length === 1"));
    QCOMPARE(m_app->evaluate("window.e2eNotes[0]").toString(), QStringLiteral("The pad holds Racing \u2014 RacerGame is running"));
    QTest::qWait(500); // not a synchronisation: the tray's message fades in before the screenshot
    screenshotOfScreen("modes-notification");
    racer.kill();
    racer.waitForFinished();
    QTRY_COMPARE_WITH_TIMEOUT(block(kPad), kCalm, kLeaveMs);
    QVERIFY(m_app->waitUntil("window.e2eNotes.length === 2", kNoteGapMs + 5000));
    QCOMPARE(m_app->evaluate("window.e2eNotes[1]").toString(), QStringLiteral("The pad holds Calm \u2014 Desktop is the current mode"));
}

void tst_E2eModeSwitch::padPluggedInGetsTheActiveProfile()
{
    // Unplugged while Racing runs, then the game ends: nothing can be written, and it is said.
    QProcess racer;
    racer.start(m_program, {"120"});
    QVERIFY(racer.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(block(kPad), kRacing, kSwitchMs);
    int code = -1;
    VexaDriver::runTool(m_padctl, {"unplug", kPad}, &code);
    QCOMPARE(code, 0);
    racer.kill();
    racer.waitForFinished();
    QVERIFY(m_app->waitUntil("vexaModules.modeSwitch.switcher.status.kind === 'noPad'", kLeaveMs + 5000));
    // Plugged in again with Racing still in its memory: it gets the active mode's profile.
    VexaDriver::runTool(m_padctl, {"plug", "--id", kPad}, &code);
    QCOMPARE(code, 0);
    QTRY_COMPARE_WITH_TIMEOUT(block(kPad), kCalm, kLeaveMs);
    QVERIFY(m_app->waitUntil("vexaModules.modeSwitch.switcher.status.kind === 'applied'"));
    QCOMPARE(block(kOther), QString(24, QLatin1Char('0')));
}

void tst_E2eModeSwitch::reloadedPageKeepsTheRunningMode()
{
    QProcess racer;
    racer.start(m_program, {"120"});
    QVERIFY(racer.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(block(kPad), kRacing, kSwitchMs);
    // A new document (a reload, or the start page after a renderer crash) hears which bound
    // programs run, so its first apply is the running mode's, not the current mode's.
    QVERIFY2(m_app->reload(), qPrintable(m_app->error()));
    QVERIFY(m_app->waitUntil("!!(window.vexaPage && window.vexaPage.ready)"));
    QVERIFY(m_app->waitUntil("(vexaModules.modeSwitch.switcher.status || {}).kind === 'applied'", kSwitchMs + 5000));
    QCOMPARE(m_app->evaluate("vexaModules.modeSwitch.switcher.status.index").toString(), QStringLiteral("2"));
    QCOMPARE(block(kPad), kRacing);
    QVERIFY(m_app->waitUntil("document.getElementById('modes-pad').textContent === 'RacerGame is running: each PX-ORB42 gets Racing'"));
    racer.kill();
    racer.waitForFinished();
    QTRY_COMPARE_WITH_TIMEOUT(block(kPad), kCalm, kLeaveMs);
}

void tst_E2eModeSwitch::importedProfileKeepsEveryMacro()
{
    showWindow();
    // The other pad is listed first now (the PX-ORB42 was plugged in again after it).
    QVERIFY(VexaDriver::runTool(m_padctl, {"list"}).startsWith(kOther));
    QTRY_COMPARE_WITH_TIMEOUT(block(kPad), kCalm, kSwitchMs);
    QCOMPARE(mem(kPad, "200", 7), kReload);
    // A package made elsewhere: its Boost lies at 0x0200 too, and its A plays it.
    const QByteArray xml = "<?xml version=\"1.0\"?>\n<profile name=\"Boost\" version=\"2\"><mouse speed=\"15\" scrollLines=\"3\" doubleClick=\"0\" />"
                           "<lighting color=\"#0000ff\" brightness=\"80\" effect=\"wave\" /><stick deadzone=\"8\" curve=\"linear\" invertY=\"false\" />"
                           "<keys><key id=\"1\" name=\"A\" code=\"0x04,0x02,0x00,0x00\" /></keys>"
                           "<macros><macro name=\"Boost\" address=\"0x0200\" size=\"7\" data=\"01 39 00 02 39 00 00\" /></macros></profile>\n";
    const QString pfd = m_outside.filePath("Boost.pfd");
    {
        QFile file(pfd);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QDataStream out(&file);
        out.setVersion(QDataStream::Qt_5_1);
        out << quint32(0x0A0B0C0D) << xml.toBase64();
    }
    m_app->evaluate("location.hash = '#profiles'; true");
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.loaded === 'view/profiles/profile1.xml'"));
    m_app->evaluate(QString("document.getElementById('pfd-path').value = %1; document.getElementById('pfd-import').click(); true")
                        .arg(VexaDriver::jsString(pfd)));
    QVERIFY(m_app->waitUntil("!!document.querySelector('dialog.ask[open]')"));
    m_app->evaluate("document.getElementById('ask-choice-2').click(); true"); // as a new profile
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.loaded === 'view/profiles/profile3.xml'"));
    QVERIFY(m_app->waitUntil("document.getElementById('profiles-status').textContent.includes('moved to free places')"));
    // Its copy is rewritten: Boost after Reload, and A follows it.
    const QString copy = m_app->evaluate("vexaModules.profiles.state.places[2].text").toString();
    QVERIFY2(copy.contains("<macro name=\"Boost\" address=\"0x0207\" size=\"7\" data=\"01 39 00 02 39 00 00\""), qPrintable(copy));
    QVERIFY2(copy.contains("<key id=\"1\" name=\"A\" code=\"0x04,0x02,0x07,0x00\""), qPrintable(copy));
    m_app->evaluate("document.getElementById('profile-save').click(); true");
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.saved === 'true'"));
    m_app->saveScreenshot("profiles-imported-moved", 300);

    // Applied by hand: the picker chose the PX-ORB42, and no question comes.
    QVERIFY(m_app->waitUntil("!document.getElementById('profile-apply').disabled", 20000));
    QCOMPARE(m_app->evaluate("document.getElementById('profile-pad').value").toString(), QString(kPad));
    m_app->evaluate("document.getElementById('profile-apply').click(); true");
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.applied === 'true'", 20000));
    const QString status = m_app->evaluate("document.getElementById('profiles-status').textContent").toString();
    QVERIFY2(status.contains("Desktop is the current mode, so the pad gets Calm back at the next change"), qPrintable(status));
    m_app->saveScreenshot("profiles-applied-by-hand", 300);
    QCOMPARE(block(kPad), kBoostBlock);
    QCOMPARE(mem(kPad, "200", 7), kReload);
    QCOMPARE(mem(kPad, "207", 7), kBoost);

    // The mode switch still reaches the pad, both ways, without a question and with no failure.
    QProcess racer;
    racer.start(m_program, {"120"});
    QVERIFY(racer.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(block(kPad), kRacing, kSwitchMs);
    racer.kill();
    racer.waitForFinished();
    QTRY_COMPARE_WITH_TIMEOUT(block(kPad), kCalm, kLeaveMs);
    QVERIFY(m_app->waitUntil("vexaModules.modeSwitch.switcher.status.kind === 'applied'"));
    QCOMPARE(mem(kPad, "200", 7), kReload);
    QCOMPARE(mem(kPad, "207", 7), kBoost);
    QCOMPARE(block(kOther), QString(24, QLatin1Char('0')));
}

void tst_E2eModeSwitch::eachPadSaysWhatItHoldsAfterAManualApply()
{
    // Boost applied by hand over Calm: each pad's line says what it holds, read back from it.
    m_app->evaluate("location.hash = '#profiles'; true");
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.loaded === 'view/profiles/profile3.xml'"));
    m_app->evaluate("document.getElementById('screen-profiles').dataset.applied = ''; document.getElementById('profile-apply').click(); true");
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.applied === 'true'", 20000));
    QCOMPARE(block(kPad), kBoostBlock);
    m_app->evaluate("location.hash = '#modes'; true");
    QVERIFY(m_app->waitUntil("!document.getElementById('screen-modes').hidden"));
    QTRY_COMPARE_WITH_TIMEOUT(padLine("modes-holds", kPad), kPadName + " holds Boost", 10000);
    QCOMPARE(padLine("modes-holds", kOther), kOtherName + " is not a PX-ORB42: modes give profiles to PX-ORB42 pads only");
    QCOMPARE(line(), QStringLiteral("Desktop is the current mode: each PX-ORB42 gets Calm"));
    m_app->saveScreenshot("modes-pads-hold", 300);
    m_app->evaluate("location.hash = '#pads'; true");
    QVERIFY(m_app->waitUntil("!document.getElementById('screen-pads').hidden"));
    QTRY_COMPARE_WITH_TIMEOUT(padLine("pads-holds", kPad), kPadName + " holds Boost", 10000);
    // The pads are named alike on every screen, and the live view still follows the first pad.
    QCOMPARE(m_app->evaluate("document.querySelector('#pads-list [data-device-id=\"" + QString(kOther) + "\"] .pad-title').textContent")
                 .toString(),
             kOtherName);
    QVERIFY(m_app->evaluate("document.getElementById('report-source').textContent").toString().contains(kOtherName));
    m_app->saveScreenshot("pads-pads-hold", 300);

    // Boost saved with another speed: the pad holds Boost with other values until it is applied.
    m_app->evaluate("location.hash = '#profiles'; true");
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.loaded === 'view/profiles/profile3.xml'"));
    m_app->evaluate("(() => { const r = document.getElementById('profile-speed-range'); r.value = '16';"
                    " r.dispatchEvent(new Event('change')); return true; })()");
    QVERIFY(m_app->waitUntil("!document.getElementById('profile-unsaved').hidden"));
    m_app->evaluate("document.getElementById('profile-save').click(); true");
    QVERIFY(m_app->waitUntil("document.getElementById('profile-unsaved').hidden"));
    m_app->evaluate("location.hash = '#modes'; true");
    QTRY_COMPARE_WITH_TIMEOUT(padLine("modes-holds", kPad), kPadName + " holds Boost, with other values in 1 of its settings", 10000);
    QCOMPARE(block(kPad), kBoostBlock);
    // The next case starts from Calm on the Profiles screen.
    m_app->evaluate("location.hash = '#profiles'; true");
    QVERIFY(m_app->waitUntil("!document.getElementById('screen-profiles').hidden"));
    m_app->evaluate("(() => { const s = document.getElementById('profile-select'); s.value = '0';"
                    " s.dispatchEvent(new Event('change')); return true; })()");
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.loaded === 'view/profiles/profile1.xml'"));
    // What the line said about Boost does not stay beside Calm.
    QCOMPARE(m_app->evaluate("document.getElementById('profiles-status').textContent").toString(), QString());
}

void tst_E2eModeSwitch::deletingAModesProfileAsksAndUnlinks()
{
    m_app->evaluate("location.hash = '#profiles'; true");
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.loaded === 'view/profiles/profile1.xml'"));
    const QString conf = "vexaModules.bridge.query({ funcname: 'queryProfile', filePath: 'view/xml/configuration.xml', xpath: '/conf' })"
                         ".then((r) => r.text)";
    const QString unlinked = conf + ".then((t) => t.includes('name=\"Editing\" bindingProcess=\"\" profile=\"\"')"
                                    " && !t.includes('profile2.xml'))";
    m_app->evaluate("(() => { const s = document.getElementById('profile-select'); s.value = '1';"
                    " s.dispatchEvent(new Event('change')); return true; })()");
    const QString profile2Shown = "document.getElementById('screen-profiles').dataset.loaded === 'view/profiles/profile2.xml'";
    QVERIFY(m_app->waitUntil(profile2Shown));
    const auto deleteAndConfirm = [&] {
        m_app->evaluate("document.getElementById('profile-delete').click(); true");
        QVERIFY(m_app->waitUntil("!!document.getElementById('ask-text') && document.getElementById('ask-text').textContent"
                                 ".endsWith('Modes Racing, Editing give the pad this profile; they will leave the pad as it is.')"));
        m_app->evaluate("document.getElementById('ask-yes').click(); true");
        // The links go with the deletion, in the program's copy, and are saved with it.
        QVERIFY(m_app->waitUntil(unlinked));
    };
    deleteAndConfirm();
    if (QTest::currentTestFailed())
        return;
    // Discard brings the profile back, shown again, and its modes' links with it.
    m_app->evaluate("document.getElementById('screen-profiles').dataset.loaded = '';"
                    " document.getElementById('profile-discard').click(); true");
    QVERIFY(m_app->waitUntil(conf + ".then((t) => t.split('profile=\"profile2.xml\"').length === 3)"));
    QVERIFY(m_app->waitUntil(profile2Shown));
    QVERIFY(m_app->waitUntil("vexaModules.profiles.state.places[1].name !== '' && !vexaModules.profiles.state.places[1].dirty"));
    QCOMPARE(m_app->evaluate("document.getElementById('profile-select').value").toString(), QStringLiteral("1"));

    deleteAndConfirm();
    if (QTest::currentTestFailed())
        return;
    m_app->evaluate("document.getElementById('profile-save').click(); true");
    QTRY_VERIFY_WITH_TIMEOUT(!configuration().contains("profile2.xml") && configuration().contains("profile=\"profile1.xml\""), 10000);
}

QTEST_GUILESS_MAIN(tst_E2eModeSwitch)
#include "tst_e2e_modeswitch.moc"
