// Modes that change the pad, on the real program with the virtual pads: a copy of a real program
// bound to a mode whose profile differs from the current mode's; while it runs the PX-ORB42 holds
// the mode's block at 0x0100, and once it ends the current mode's block is back; the same with
// the window hidden in the tray, where the page says it with a desktop notification. A pad of
// another product is left alone; a pad plugged in while a mode is active gets its profile.
#include "missing_tool.h"
#include "pad_blocks.h"
#include "vexa_driver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
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
    void deletingAModesProfileAsksAndUnlinks();

private:
    QString block(const QString &id) const;
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
    options.files.insert("view/profiles/profile1.xml", pad_blocks::profileXml("Calm", 10, "#e0483e", "breathing"));
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
    QVERIFY(m_app->waitUntil("document.getElementById('modes-pad').textContent === 'The pad holds Calm \u2014 Desktop is the current mode'"));
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
    QVERIFY(m_app->waitUntil("document.getElementById('modes-pad').textContent === 'The pad holds Racing \u2014 RacerGame is running'"));
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
    QVERIFY(m_app->waitUntil("document.getElementById('modes-pad').textContent === 'The pad holds Racing \u2014 Editing is the current mode'"));
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
    QVERIFY(m_app->waitUntil("document.getElementById('modes-pad').textContent === 'The pad holds Racing \u2014 RacerGame is running'"));
    racer.kill();
    racer.waitForFinished();
    QTRY_COMPARE_WITH_TIMEOUT(block(kPad), kCalm, kLeaveMs);
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
