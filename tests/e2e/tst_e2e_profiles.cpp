// The profiles and modes screens of the shipped page on the real program: a named profile made,
// changed by real key presses, refused a bad value, saved to its file, its changes discarded,
// exported as a package and applied to a virtual pad; and a bound program's "running" mark.
#include "missing_tool.h"
#include "vexa_driver.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class tst_E2eProfiles : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void profilesScreen_namedProfileChangedSavedAndDiscarded();
    void profilesScreen_buttonTakesACapturedKey();
    void profilesScreen_exportsAPackage();
    void profilesScreen_appliesToAPad();
    void modesScreen_marksABoundProgramRunning();
    void trayExitAsksAboutUnsavedChanges(); // last: it ends the program

private:
    QString trayIcon() const;
    void chooseTrayExit(const QString &icon);
    bool showScreen(const QString &name);
    QString fileText(const QString &relative) const;
    QString cached(const QString &relative);
    void key(const QString &keys);
    bool focus(const QString &selector);
    void screenshot(const QString &name);

    QTemporaryDir m_outside; // a bound program and an exported package live outside the app
    QTemporaryDir m_padHome; // the virtual pads
    QString m_program;
    QString m_window;
    bool m_ended = false;
    std::unique_ptr<VexaDriver> m_app;
};

void tst_E2eProfiles::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        VEXA_SKIP_WITHOUT_TOOL("DISPLAY is not set: the program's browser needs an X display (run under Xvfb)");
    QVERIFY(m_outside.isValid());
    QVERIFY(m_padHome.isValid());
    qputenv("PADIO_HOME", m_padHome.path().toLocal8Bit());
    const QString sleep = QStandardPaths::findExecutable("sleep");
    QVERIFY(!sleep.isEmpty());
    m_program = m_outside.path() + "/RacerGame"; // as chosen, links and all
    QVERIFY(QFile::copy(sleep, m_program));

    VexaDriver::Options options;
    options.files.insert("view/xml/configuration.xml",
                         QString("<?xml version=\"1.0\"?>\n<conf><modeSetting><modes>"
                                 "<mode index=\"1\" name=\"Desktop\" bindingProcess=\"\"/>"
                                 "<mode index=\"2\" name=\"Racing\" bindingProcess=\"%1\"/>"
                                 "</modes></modeSetting></conf>\n")
                             .arg(m_program)
                             .toUtf8());
    m_app.reset(new VexaDriver(QStringLiteral(VEXA_APP_DIR), options));
    QVERIFY2(m_app->start(), qPrintable(m_app->error()));
    QVERIFY(m_app->waitUntil("!!(window.vexaPage && window.vexaPage.ready)"));
    // Real key presses go to the window with the focus (a window manager runs on the display).
    if (!QStandardPaths::findExecutable("xdotool").isEmpty()) {
        m_window = VexaDriver::waitForWindow(m_app->processId(), QStringLiteral("PARVEX PX-ORB42"));
        if (!m_window.isEmpty())
            QProcess::execute("xdotool", {"windowactivate", "--sync", m_window});
    }
}

void tst_E2eProfiles::cleanupTestCase()
{
    if (m_app && !m_ended)
        QVERIFY2(m_app->isRunning(), "the program ended while it was being driven");
    m_app.reset();
}

bool tst_E2eProfiles::showScreen(const QString &name)
{
    m_app->evaluate(QString("location.hash = %1; true").arg(VexaDriver::jsString("#" + name)));
    return m_app->waitUntil(QString("!document.getElementById('screen-%1').hidden").arg(name));
}

QString tst_E2eProfiles::fileText(const QString &relative) const
{
    QFile file(m_app->appDir() + "/" + relative);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The program's own copy of a profile file (what the next save writes).
QString tst_E2eProfiles::cached(const QString &relative)
{
    return m_app->evaluate(QString("vexaModules.bridge.query({ funcname: 'queryProfile', filePath: %1, xpath: '/profile' })"
                                   ".then((r) => r.ok ? r.text : 'failed: ' + r.text)")
                               .arg(VexaDriver::jsString(relative)))
        .toString();
}

// Returns once the page has had the keys.
void tst_E2eProfiles::key(const QString &keys)
{
    if (!m_app->pressKeys(m_window, keys))
        qWarning("the page did not see %s let go", qPrintable(keys));
}

bool tst_E2eProfiles::focus(const QString &selector)
{
    return m_app->evaluate(QString("(() => { const e = document.querySelector(%1); if (!e) return false; e.focus();"
                                   " return document.activeElement === e; })()")
                               .arg(VexaDriver::jsString(selector)))
        .toBool();
}

// With VEXA_SCREENSHOT_DIR set, the window as it is now, for people to look at.
void tst_E2eProfiles::screenshot(const QString &name)
{
    m_app->saveScreenshot(name, 200);
}

void tst_E2eProfiles::profilesScreen_namedProfileChangedSavedAndDiscarded()
{
    if (m_window.isEmpty())
        VEXA_SKIP_WITHOUT_TOOL("xdotool is not installed or the window was not found");
    QVERIFY(showScreen("profiles"));
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.loaded === 'view/profiles/profile1.xml'"));
    // Names, never file names; the seven free places are not offered.
    QCOMPARE(m_app->evaluate("Array.from(document.querySelectorAll('#profile-select option'), (o) => o.textContent).join('|')")
                 .toString(),
             QStringLiteral("Profile 1"));

    // New: a name that is taken is refused at the field; a free one fills the first free place.
    m_app->evaluate("document.getElementById('profile-new').click(); true");
    QVERIFY(m_app->waitUntil("document.activeElement && document.activeElement.id === 'profile-name'"));
    m_app->evaluate("document.getElementById('profile-name').value = 'profile 1'; true");
    key("Return");
    QVERIFY(m_app->waitUntil("document.getElementById('profile-name').getAttribute('aria-invalid') === 'true'"));
    QCOMPARE(m_app->evaluate("document.getElementById('profile-name-error').textContent").toString(),
             QStringLiteral("Another profile has this name"));
    screenshot("profiles-name-taken");
    m_app->evaluate("document.getElementById('profile-name').value = 'Racing'; true");
    key("Return");
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.loaded === 'view/profiles/profile2.xml'"
                             " && document.getElementById('profile-select').selectedOptions[0].textContent === 'Racing'"));
    QVERIFY(m_app->waitUntil("!document.getElementById('profile-unsaved').hidden"));
    QVERIFY(fileText("view/profiles/profile2.xml").contains("name=\"\""));

    // The brightness slider by keys, the colour by script (its picker is the system's dialog).
    QVERIFY(focus("#profile-brightness-range"));
    key("Right");
    key("Right");
    QVERIFY(m_app->waitUntil("document.getElementById('profiles-status').textContent === 'Brightness changed; not saved yet'"));
    QCOMPARE(m_app->evaluate("document.getElementById('profile-brightness').value").toString(), QStringLiteral("82"));
    // "modifyProfile" resets the desktop's double-click time each time: a slider step must not
    // take the user's own setting with it.
    QVERIFY2(!m_app->programOutput().contains("funname \"modifyProfile\""), "a value went in through modifyProfile");
    m_app->evaluate("(() => { const c = document.getElementById('profile-color'); c.value = '#00ff80';"
                    " c.dispatchEvent(new Event('change')); return true; })()");
    QVERIFY(m_app->waitUntil(QString("%1.includes('color=\"#00ff80\"')")
                                 .arg("vexaModules.profiles.state.places[1].text")));

    // A typed value out of range is refused at the field and never reaches the program.
    QVERIFY(focus("#profile-deadzone"));
    key("ctrl+a");
    key("4");
    key("5");
    key("Return");
    QVERIFY(m_app->waitUntil("document.getElementById('profile-deadzone').getAttribute('aria-invalid') === 'true'"));
    QCOMPARE(m_app->evaluate("document.getElementById('profile-deadzone-error').textContent").toString(),
             QStringLiteral("A whole number from 0 to 30"));
    QCOMPARE(m_app->evaluate("document.getElementById('profile-deadzone').getAttribute('aria-describedby').split(' ')[0]")
                 .toString(),
             QStringLiteral("profile-deadzone-error"));
    QVERIFY(cached("view/profiles/profile2.xml").contains("deadzone=\"8\""));
    screenshot("profiles-unsaved-refused");

    m_app->evaluate("document.getElementById('profile-save').click(); true");
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.saved === 'true'"
                             " && document.getElementById('profile-unsaved').hidden"));
    QString saved = fileText("view/profiles/profile2.xml");
    QVERIFY2(saved.contains("<profile name=\"Racing\" version=\"2\">"), qPrintable(saved));
    QVERIFY2(saved.contains("<lighting color=\"#00ff80\" brightness=\"82\" effect=\"breathing\" />"), qPrintable(saved));
    QVERIFY2(saved.contains("<stick deadzone=\"8\""), qPrintable(saved));

    // Discard really puts back what was saved: in the program's copy, so a later save keeps it.
    m_app->evaluate("(() => { const r = document.getElementById('profile-deadzone-range'); r.value = '20';"
                    " r.dispatchEvent(new Event('change')); return true; })()");
    QVERIFY(m_app->waitUntil("!document.getElementById('profile-unsaved').hidden"));
    QVERIFY(cached("view/profiles/profile2.xml").contains("deadzone=\"20\""));
    // Leaving asks first; the first answer stays.
    m_app->evaluate("location.hash = '#modes'; true");
    QVERIFY(m_app->waitUntil("document.activeElement && document.activeElement.id === 'ask-choice-0'"));
    key("Return");
    QVERIFY(m_app->waitUntil("!document.querySelector('dialog.ask') && location.hash === '#profiles'"));
    QVERIFY(!m_app->evaluate("document.getElementById('screen-profiles').hidden").toBool());
    m_app->evaluate("location.hash = '#modes'; true");
    QVERIFY(m_app->waitUntil("!!document.querySelector('dialog.ask')"));
    m_app->evaluate("document.getElementById('ask-choice-1').click(); true"); // Discard
    QVERIFY(m_app->waitUntil("!document.getElementById('screen-modes').hidden"));
    QVERIFY(m_app->waitUntil("document.getElementById('profile-unsaved').hidden"));
    QVERIFY(cached("view/profiles/profile2.xml").contains("deadzone=\"8\""));
    QCOMPARE(m_app->evaluate("vexaModules.bridge.query({ funcname: 'savexml' }).then((r) => r.text)").toString(),
             QStringLiteral("save xml success"));
    saved = fileText("view/profiles/profile2.xml");
    QVERIFY2(saved.contains("<stick deadzone=\"8\"") && saved.contains("brightness=\"82\""), qPrintable(saved));
}

void tst_E2eProfiles::profilesScreen_buttonTakesACapturedKey()
{
    if (m_window.isEmpty())
        VEXA_SKIP_WITHOUT_TOOL("xdotool is not installed or the window was not found");
    QVERIFY(showScreen("profiles"));
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.loaded === 'view/profiles/profile2.xml'"));
    m_app->evaluate("document.getElementById('profile-key-4-change').click(); true");
    QVERIFY(m_app->waitUntil("document.activeElement && document.activeElement.id === 'profile-key-kind'"));
    m_app->evaluate("(() => { const k = document.getElementById('profile-key-kind'); k.value = 'key';"
                    " k.dispatchEvent(new Event('change')); return true; })()");
    QVERIFY(focus("#profile-key-capture"));
    key("ctrl+Up");
    QVERIFY(m_app->waitUntil("document.getElementById('profile-key-capture').textContent === 'Ctrl + Up'"));
    screenshot("profiles-key-captured");
    m_app->evaluate("document.getElementById('profile-key-set').click(); true");
    QVERIFY(m_app->waitUntil("document.querySelector('.profile-key[data-id=\"4\"]').dataset.kind === 'key'"));
    QCOMPARE(m_app->evaluate("document.querySelector('.profile-key[data-id=\"4\"] .profile-key-does').textContent").toString(),
             QStringLiteral("Ctrl + Up"));
    QVERIFY(cached("view/profiles/profile2.xml").contains("<key id=\"4\" name=\"Y\" code=\"0x02,0x01,0x48,0x01\" />"));

    // A macro a button plays is not removed behind its back.
    m_app->evaluate("(() => { const v = (id, x) => { document.getElementById(id).value = x; };"
                    " v('profile-macro-name', 'Reload'); v('profile-macro-address', '0x1f00'); v('profile-macro-size', '24');"
                    " document.getElementById('profile-macro-add').click(); return true; })()");
    QVERIFY(m_app->waitUntil("document.querySelectorAll('#profile-macros .profile-macro').length === 1"));
    // Typed by hand, it names bytes the profile does not hold, and says so.
    QVERIFY(m_app->evaluate("!!document.querySelector('#profile-macros .profile-macro-unkept')").toBool());
    m_app->evaluate("(() => { const v = (id, x) => { document.getElementById(id).value = x; };"
                    " v('profile-macro-name', 'Jump'); v('profile-macro-address', '0x1f10'); v('profile-macro-size', '8');"
                    " document.getElementById('profile-macro-add').click(); return true; })()");
    QVERIFY(m_app->waitUntil("document.getElementById('profile-macro-address').getAttribute('aria-invalid') === 'true'"));
    QCOMPARE(m_app->evaluate("document.querySelectorAll('#profile-macros .profile-macro').length").toInt(), 1);
    m_app->evaluate("document.getElementById('profile-key-1-change').click(); true");
    QVERIFY(m_app->waitUntil("!!document.getElementById('profile-key-kind')"));
    m_app->evaluate("(() => { const k = document.getElementById('profile-key-kind'); k.value = 'macro';"
                    " k.dispatchEvent(new Event('change')); document.getElementById('profile-key-set').click(); return true; })()");
    QVERIFY(m_app->waitUntil("document.querySelector('.profile-key[data-id=\"1\"] .profile-key-does').textContent === 'Plays \u201cReload\u201d'"));
    m_app->evaluate("document.querySelector('.profile-macro button:last-of-type').click(); true");
    QVERIFY(m_app->waitUntil("document.getElementById('profiles-status').dataset.tone === 'bad'"));
    QCOMPARE(m_app->evaluate("document.getElementById('profiles-status').textContent").toString(),
             QStringLiteral("\u201cReload\u201d is played by A. Give those buttons another function first."));
    QVERIFY(cached("view/profiles/profile2.xml").contains("<macro name=\"Reload\" address=\"0x1f00\" size=\"24\" />"));
    m_app->evaluate("document.getElementById('profile-macros-title').scrollIntoView(); true");
    screenshot("profiles-macro-in-use");
    m_app->evaluate("document.getElementById('profile-save').click(); true");
    QVERIFY(m_app->waitUntil("document.getElementById('profile-unsaved').hidden"));
    QVERIFY(fileText("view/profiles/profile2.xml").contains("<key id=\"1\" name=\"A\" code=\"0x04,0x1f,0x00,0x00\" />"));
}

void tst_E2eProfiles::profilesScreen_exportsAPackage()
{
    QVERIFY(showScreen("profiles"));
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.loaded"));
    m_app->evaluate("(() => { const s = document.getElementById('profile-select'); s.value = '0';"
                    " s.dispatchEvent(new Event('change')); return true; })()");
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.loaded === 'view/profiles/profile1.xml'"));
    const QString pfd = m_outside.filePath("export.pfd");
    m_app->evaluate(QString("document.getElementById('pfd-path').value = %1;"
                            "document.getElementById('pfd-export').click(); true")
                        .arg(VexaDriver::jsString(pfd)));
    QVERIFY(m_app->waitUntil("document.getElementById('profiles-status').textContent.startsWith('Exported')"));
    QFile file(pfd);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes.left(4), QByteArray::fromHex("0a0b0c0d"));
    QVERIFY(QByteArray::fromBase64(bytes.mid(8)).contains("<profile name=\"Profile 1\""));

    // Importing asks: a new profile by default (named after the file), or replacing the
    // selected one, named. Cancel changes nothing; the new one leaves Profile 1 be.
    const QString profile1 = cached("view/profiles/profile1.xml");
    const auto import = [&] {
        m_app->evaluate(QString("document.getElementById('pfd-path').value = %1;"
                                "document.getElementById('pfd-import').click(); true")
                            .arg(VexaDriver::jsString(pfd)));
        return m_app->waitUntil("!!document.querySelector('dialog.ask[open]')");
    };
    QVERIFY(import());
    QCOMPARE(m_app->evaluate("Array.from(document.querySelectorAll('dialog.ask button'), (b) => b.textContent).join('|')").toString(),
             QString::fromUtf8("Cancel|Replace \u201cProfile 1\u201d|As a new profile"));
    screenshot("profiles-import-asks");
    m_app->evaluate("document.getElementById('ask-choice-0').click(); true");
    QVERIFY(m_app->waitUntil("document.getElementById('profiles-status').textContent === 'Not imported.'"));
    QVERIFY(import());
    m_app->evaluate("document.getElementById('ask-choice-2').click(); true");
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.loaded === 'view/profiles/profile3.xml'"));
    QCOMPARE(m_app->evaluate("document.getElementById('profile-select').selectedOptions[0].textContent").toString(),
             QStringLiteral("export"));
    QCOMPARE(cached("view/profiles/profile1.xml"), profile1);
    m_app->evaluate("document.getElementById('profile-discard').click(); true");
    // Discarded, the new place is free again and Profile 1 is shown.
    QVERIFY(m_app->waitUntil("document.getElementById('profile-unsaved').hidden"
                             " && document.getElementById('profile-select').value === '0'"));

    // A name without the extension gets it, so that import (".pfd" only) finds the package.
    const QString bare = m_outside.filePath("bare");
    m_app->evaluate(QString("document.getElementById('profiles-status').textContent = '';"
                            "document.getElementById('pfd-path').value = %1;"
                            "document.getElementById('pfd-export').click(); true")
                        .arg(VexaDriver::jsString(bare)));
    QVERIFY(m_app->waitUntil("document.getElementById('profiles-status').textContent.startsWith('Exported')"));
    QVERIFY(QFile::exists(bare + ".pfd"));
    QVERIFY(!QFile::exists(bare));

    // A place that cannot be written is said in the user's words, not the command's.
    const QString nowhere = m_outside.filePath("no-such-folder/p.pfd");
    m_app->evaluate(QString("document.getElementById('profiles-status').textContent = '';"
                            "document.getElementById('pfd-path').value = %1;"
                            "document.getElementById('pfd-export').click(); true")
                        .arg(VexaDriver::jsString(nowhere)));
    QVERIFY(m_app->waitUntil("document.getElementById('profiles-status').dataset.tone === 'bad'"));
    QCOMPARE(m_app->evaluate("document.getElementById('profiles-status').textContent").toString(),
             QStringLiteral("Not exported: The package could not be written there. Choose a folder you can write to."));
}

void tst_E2eProfiles::profilesScreen_appliesToAPad()
{
    const QString padctl = QStringLiteral(VEXA_APP_DIR "/padctl");
    if (!QFile::exists(padctl))
        VEXA_SKIP_WITHOUT_TOOL("padctl is not built");
    if (!m_app->evaluate("typeof vexaModules.padMemory === 'object'").toBool())
        VEXA_SKIP_WITHOUT_TOOL("the page has no pad memory writer (padmemory.js)");
    QVERIFY(showScreen("profiles"));
    m_app->evaluate("(() => { const s = document.getElementById('profile-select'); s.value = '1';"
                    " s.dispatchEvent(new Event('change')); return true; })()");
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.loaded === 'view/profiles/profile2.xml'"));
    QVERIFY(m_app->waitUntil("document.querySelectorAll('#profile-pad option').length > 0"
                             " && !document.getElementById('profile-apply').disabled", 20000));
    const QString id = m_app->evaluate("document.getElementById('profile-pad').value").toString();
    m_app->evaluate("document.getElementById('profile-apply').click(); true");
    // A plays "Reload", typed in by address with no bytes: nothing goes to the pad.
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.applied === 'false'", 20000));
    QVERIFY(m_app->evaluate("document.getElementById('profiles-status').textContent").toString().contains("A plays macro Reload"));
    int code = -1;
    QVERIFY(!VexaDriver::runTool(padctl, {"mem", id, "100", "2"}, &code).contains("56 58"));

    // A take written from the Macros screen (with 0100 left in the hidden address field, where
    // it once went over the block) and the profile applied again: the pad holds both.
    QVERIFY(showScreen("macro"));
    QVERIFY(m_app->waitUntil("document.querySelectorAll('#macro-pad option').length > 0", 20000));
    // A take of A pressed and let go, as the recorder would give it; a redraw shows it.
    m_app->evaluate("(() => { const s = vexaModules.macro.state; s.items = [{kind: 'key', down: true, scan: 30, ext: false},"
                    " {kind: 'key', down: false, scan: 30, ext: false}]; s.drawnCount = Infinity;"
                    " document.getElementById('macro-pad').value = " + VexaDriver::jsString(id) + ";"
                    " document.getElementById('macro-address').value = '0100';"
                    " document.dispatchEvent(new Event('languagechanged')); return true; })()");
    QVERIFY(m_app->waitUntil("!document.getElementById('macro-write').disabled"));
    m_app->evaluate("document.getElementById('macro-write').click(); true");
    QVERIFY(m_app->waitUntil("document.getElementById('macro-result').dataset.tone === 'ok'", 20000));
    const QString at = m_app->evaluate("document.getElementById('macro-result').dataset.address").toString();
    // Written straight to the pad, it is no profile's: no button plays it, and the screen says so.
    QVERIFY(m_app->evaluate("document.getElementById('macro-result').textContent").toString().contains("no button plays it"));
    QVERIFY(!m_app->evaluate("document.getElementById('macro-clear-pad').hidden").toBool());
    screenshot("macro-written-loose");
    // The same take kept in the profile: its bytes go into the file, and the first free place of
    // the profiles' layout is where it was written, so on that pad it is the profile's macro now.
    QVERIFY(m_app->waitUntil("!!document.querySelector('#macro-profile option[value=\"1\"]')"));
    m_app->evaluate("document.getElementById('macro-profile').value = '1'; document.getElementById('macro-name').value = 'Boost';"
                    " document.getElementById('macro-save').click(); true");
    QVERIFY(m_app->waitUntil("document.getElementById('macro-keep-result').dataset.tone === 'ok'", 20000));
    QVERIFY(m_app->waitUntil("document.getElementById('macro-result').textContent.startsWith('Kept in profile \"Racing\" as \"Boost\"')"
                             " && document.getElementById('macro-clear-pad').hidden"));
    screenshot("macro-kept");
    const QString kept = m_app->evaluate("(() => { const m = new DOMParser().parseFromString(vexaModules.profiles.state.places[1].text,"
                                         " 'application/xml').querySelector('macro[name=\"Boost\"]');"
                                         " return [m.getAttribute('address'), m.getAttribute('data')].join('|'); })()").toString();
    QVERIFY2(kept.endsWith("|01 1e 00 02 1e 00 00") && kept.section('|', 0, 0).toInt(nullptr, 16) == at.toInt(nullptr, 16), qPrintable(kept));
    QVERIFY2(fileText("view/profiles/profile2.xml").contains("data=\"01 1e 00 02 1e 00 00\""), "saved into the file");
    // A plays it, picked by name; Apply writes it and the block, with no question.
    QVERIFY(showScreen("profiles"));
    m_app->evaluate("document.getElementById('profile-key-1-change').click(); true");
    QVERIFY(m_app->waitUntil("!!document.getElementById('profile-key-kind')"));
    m_app->evaluate("(() => { const k = document.getElementById('profile-key-kind'); k.value = 'macro'; k.dispatchEvent(new Event('change'));"
                    " const m = document.getElementById('profile-key-macro');"
                    " m.value = Array.from(m.options).find((o) => o.textContent === 'Boost').value;"
                    " document.getElementById('profile-key-set').click(); return true; })()");
    QVERIFY(m_app->waitUntil("document.querySelector('.profile-key[data-id=\"1\"] .profile-key-does').textContent === 'Plays \u201cBoost\u201d'"));
    m_app->evaluate("document.getElementById('profile-save').click(); true");
    QVERIFY(m_app->waitUntil("document.getElementById('profile-unsaved').hidden"));
    m_app->evaluate("document.getElementById('screen-profiles').dataset.applied = ''; document.getElementById('profile-apply').click(); true");
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.applied === 'true'", 20000));
    // The line names the pad that has it.
    QVERIFY(m_app->evaluate("document.getElementById('profiles-status').textContent").toString()
                .contains(QString::fromUtf8("Written to PX-ORB42 \u00b7 PX")));
    const QString block = QString(VexaDriver::runTool(padctl, {"mem", id, "100", "128"}, &code)).remove(QRegularExpression("[^0-9a-fA-F]")).toLower();
    QVERIFY2(block.contains("565801800a03000200ff80520800"), qPrintable(block));
    const QString macro = VexaDriver::runTool(padctl, {"mem", id, at, "7"}, &code);
    QVERIFY2(macro.contains("01 1e 00 02 1e 00 00"), qPrintable(at + ": " + macro));
    const QString keptOnPad = VexaDriver::runTool(padctl, {"mem", id, kept.section('|', 0, 0).mid(2), "7"}, &code);
    QVERIFY2(keptOnPad.contains("01 1e 00 02 1e 00 00"), qPrintable(kept + ": " + keptOnPad));
}

void tst_E2eProfiles::modesScreen_marksABoundProgramRunning()
{
    QVERIFY(showScreen("modes"));
    QVERIFY(m_app->waitUntil("document.querySelectorAll('#mode-list .mode-row').length === 2"));
    QVERIFY(m_app->waitUntil("document.querySelector('.mode-row[data-index=\"2\"]').dataset.running === 'false'"));

    QProcess racer;
    racer.start(m_program, {"60"});
    QVERIFY(racer.waitForStarted());
    // The monitor scans every 3 s.
    QVERIFY(m_app->waitUntil("document.querySelector('.mode-row[data-index=\"2\"]').dataset.running === 'true'",
                             15000));
    QVERIFY(m_app->webLog().contains("current process status changed!"));
    QVERIFY(m_app->webLog().contains(QString(m_program + "  become 1").toUtf8()));
    racer.kill();
    racer.waitForFinished();
    QVERIFY(m_app->waitUntil("document.querySelector('.mode-row[data-index=\"2\"]').dataset.running === 'false'",
                             15000));
    QCOMPARE(m_app->evaluate("document.querySelector('.mode-row[data-index=\"1\"]').dataset.running").toString(),
             QStringLiteral("false"));
}

// The icon in the notification area (fluxbox's): the program's small window there.
QString tst_E2eProfiles::trayIcon() const
{
    const QStringList windows = VexaDriver::runTool("xdotool", {"search", "--onlyvisible", "--pid", QString::number(m_app->processId())})
                                    .split('\n', Qt::SkipEmptyParts);
    for (const QString &window : windows) {
        const QRegularExpressionMatch size = QRegularExpression("Geometry: (\\d+)x(\\d+)")
                                                 .match(VexaDriver::runTool("xdotool", {"getwindowgeometry", window}));
        if (size.hasMatch() && size.captured(1).toInt() <= 64 && size.captured(2).toInt() <= 64)
            return window;
    }
    return QString();
}

// Right click on the icon, then the menu's last item (Exit) by keyboard.
void tst_E2eProfiles::chooseTrayExit(const QString &icon)
{
    const auto shown = [this] {
        return VexaDriver::runTool("xdotool", {"search", "--onlyvisible", "--pid", QString::number(m_app->processId())})
            .split('\n', Qt::SkipEmptyParts)
            .size();
    };
    const int before = shown();
    // Each click lands away from the last: two presses on one spot within the double-click time
    // (which the profiles may have set long) are a double click, which opens no menu.
    static int clicks = 0;
    const QString at = QString::number(++clicks % 2 ? 4 : 13);
    QProcess::execute("xdotool", {"mousemove", "--window", icon, at, at, "click", "3"});
    QTRY_VERIFY_WITH_TIMEOUT(shown() > before, 5000); // the menu is up
    QProcess::execute("xdotool", {"key", "Up", "Return"});
}

// Exit in the tray with unsaved changes asks in the window (the unit test sees it come forward), as its own close
// does; Stay keeps the program and the change, Save writes it and ends the program.
void tst_E2eProfiles::trayExitAsksAboutUnsavedChanges()
{
    if (m_window.isEmpty())
        VEXA_SKIP_WITHOUT_TOOL("xdotool is not installed or the window was not found");
    const QString icon = trayIcon();
    if (icon.isEmpty())
        VEXA_SKIP_WITHOUT_TOOL("no notification area on this display");
    QVERIFY(showScreen("profiles"));
    const QString path = m_app->evaluate("document.getElementById('screen-profiles').dataset.loaded").toString();
    QVERIFY(!path.isEmpty());
    m_app->evaluate("(() => { const r = document.getElementById('profile-deadzone-range'); r.value = '30';"
                    " r.dispatchEvent(new Event('change')); return true; })()");
    QVERIFY(m_app->waitUntil("!document.getElementById('profile-unsaved').hidden"));

    chooseTrayExit(icon);
    QVERIFY(m_app->waitUntil("!!document.querySelector('dialog.ask[open]')"));
    QVERIFY(!VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("PARVEX PX-ORB42")).isEmpty());
    screenshot("profiles-tray-exit-asks");
    m_app->evaluate("document.getElementById('ask-choice-0').click(); true"); // Stay
    QVERIFY(m_app->waitUntil("!document.querySelector('dialog.ask')"));
    QVERIFY(m_app->isRunning());
    QVERIFY(!fileText(path).contains("deadzone=\"30\""));
    QVERIFY(cached(path).contains("deadzone=\"30\""));

    chooseTrayExit(icon);
    QVERIFY(m_app->waitUntil("!!document.querySelector('dialog.ask[open]')"));
    m_app->evaluate("document.getElementById('ask-choice-2').click(); true"); // Save
    m_ended = true;
    QTRY_VERIFY_WITH_TIMEOUT(!m_app->isRunning(), 30000);
    QVERIFY(fileText(path).contains("deadzone=\"30\""));
}

QTEST_GUILESS_MAIN(tst_E2eProfiles)
#include "tst_e2e_profiles.moc"
