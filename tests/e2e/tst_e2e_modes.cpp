// The Modes screen of the real program: a program chosen in the program dialog is bound to a mode
// that had no binding attribute, saved at once and watched by the restarted process monitor; the
// row is marked running and active while it runs; a second binding of the same program is
// refused; the current mode and unbinding reach the file. Runs on a private X server, because
// the path is typed into the dialog with real key presses.
#include "missing_tool.h"
#include "private_display.h"
#include "vexa_driver.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class tst_E2eModes : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void boundProgramIsMarkedWhileItRuns();

private:
    QString focusDialog();
    bool dialogCloses();
    bool windowGoes(const QString &titlePattern, int timeoutMs);
    bool chooseInDialog(const QString &path);
    bool cancelDialog();
    bool focusWindow(const QString &window);
    static void key(const QString &keys);
    QString row(const QString &index, const QString &property) const;
    QString configuration() const;
    void screenshot(const QString &name);

    PrivateDisplay m_display;
    QTemporaryDir m_outside; // the bound program lives outside the application folder
    QString m_program;
    std::unique_ptr<VexaDriver> m_app;
};

void tst_E2eModes::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        VEXA_SKIP_WITHOUT_TOOL("xdotool is not installed");
    if (!m_display.start(QStringLiteral("1024x768x24")))
        VEXA_SKIP_WITHOUT_TOOL("needs Xvfb for a private X server");
    QVERIFY(m_outside.isValid());
    // Typed as a user would, links and all: the monitor follows a bound path to its program.
    m_program = m_outside.path() + QStringLiteral("/ModeRacer");
    QVERIFY(QFile::copy(QStandardPaths::findExecutable(QStringLiteral("sleep")), m_program));

    VexaDriver::Options options;
    // The smallest window the page is made for.
    QFile conf(QStringLiteral(VEXA_APP_DIR "/Resources/profiles/conf.xml"));
    QVERIFY(conf.open(QIODevice::ReadOnly));
    options.confXml = QString::fromUtf8(conf.readAll())
                          .replace(QRegularExpression(QStringLiteral("clientSize=\"[^\"]*\"")), QStringLiteral("clientSize=\"800,600\""))
                          .toUtf8();
    // Mode 2 is written without a binding attribute.
    options.files.insert(QStringLiteral("view/xml/configuration.xml"),
                         "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<conf><modeSetting current=\"1\"><modes group=\"pad\">"
                         "<mode index=\"1\" name=\"Desktop\" bindingProcess=\"\"/>"
                         "<mode index=\"2\" name=\"Racing\"/>"
                         "<mode index=\"3\" name=\"Editing\" bindingProcess=\"\"/>"
                         "</modes></modeSetting></conf>\n");
    m_app.reset(new VexaDriver(QStringLiteral(VEXA_APP_DIR), options));
    QVERIFY2(m_app->start(), qPrintable(m_app->error()));
    QVERIFY(m_app->waitUntil(QStringLiteral("!!(window.vexaPage && window.vexaPage.ready)")));
    QCOMPARE(m_app->evaluate(QStringLiteral("innerWidth")).toInt(), 800);
    m_app->evaluate(QStringLiteral("window.e2eSaved = 0;"
                                   "document.addEventListener('profilefilessaved', () => { window.e2eSaved++; }); true"));
    m_app->evaluate(QStringLiteral("location.hash = '#modes'; true"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.querySelectorAll('#mode-list .mode-row').length === 3")));
}

void tst_E2eModes::cleanupTestCase()
{
    if (m_app)
        QVERIFY2(m_app->isRunning(), "the program ended while it was being driven");
    m_app.reset();
    m_display.stop();
}

// The program dialog once it shows, with the keyboard focus; empty when it never shows.
QString tst_E2eModes::focusDialog()
{
    const QString dialog = VexaDriver::waitForWindow(m_app->processId(), QStringLiteral("^Open$"));
    if (!dialog.isEmpty())
        QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), dialog});
    return dialog;
}

bool tst_E2eModes::dialogCloses()
{
    return windowGoes(QStringLiteral("^Open$"), 2000);
}

bool tst_E2eModes::windowGoes(const QString &titlePattern, int timeoutMs)
{
    return QTest::qWaitFor([&] { return VexaDriver::visibleWindows(m_app->processId(), titlePattern).isEmpty(); }, timeoutMs);
}

// Types path into the open program dialog's file name field and accepts it.
bool tst_E2eModes::chooseInDialog(const QString &path)
{
    if (focusDialog().isEmpty())
        return false;
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("15"), path});
    // The name field's completer may take the first Return to close its list.
    for (int i = 0; i < 3; ++i) {
        QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
        if (dialogCloses())
            return true;
    }
    return false;
}

bool tst_E2eModes::cancelDialog()
{
    if (focusDialog().isEmpty())
        return false;
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
    return dialogCloses();
}

// Gives the program's window the X focus, as a window manager does when a dialog closes (this
// display has none), and waits for its page to have it. A focus given while the program still
// winds the closed dialog up can be lost to it; then the test does what a user does next: clicks
// into the window, on an empty stretch below the modes.
bool tst_E2eModes::focusWindow(const QString &window)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (attempt > 0)
            VexaDriver::clickInWindow(window, 400, 560);
        QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
        if (m_app->waitUntil(QStringLiteral("document.hasFocus()"), 2000))
            return true;
    }
    return false;
}

// A key press on the X server, to the window with the focus; the caller waits for its effect.
void tst_E2eModes::key(const QString &keys)
{
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keys});
}

QString tst_E2eModes::row(const QString &index, const QString &property) const
{
    return m_app->evaluate(QStringLiteral("document.querySelector('.mode-row[data-index=\"%1\"]').dataset.%2").arg(index, property))
        .toString();
}

QString tst_E2eModes::configuration() const
{
    QFile file(m_app->appDir() + QStringLiteral("/view/xml/configuration.xml"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void tst_E2eModes::screenshot(const QString &name)
{
    m_app->saveScreenshot(name);
}

void tst_E2eModes::boundProgramIsMarkedWhileItRuns()
{
    const QString bindButton = QStringLiteral("document.querySelector('.mode-row[data-index=\"%1\"] [data-action=bind]').click(); true");
    const QString binding = QStringLiteral("name=\"Racing\" bindingProcess=\"%1\"").arg(m_program);

    // A cancelled dialog never answers; the screen still stops asking to choose, and writes nothing.
    const QString untouched = configuration();
    m_app->evaluate(bindButton.arg(2));
    QVERIFY2(cancelDialog(), "the program dialog did not close on Escape");
    // What a window manager does as a dialog closes (this display has none): its window gets the focus.
    const QStringList windows = VexaDriver::visibleWindows(m_app->processId(), QStringLiteral("PARVEX PX-ORB42"));
    QVERIFY(!windows.isEmpty());
    QVERIFY2(focusWindow(windows.first()), "the window never took the focus back");
    QVERIFY(m_app->waitUntil(QStringLiteral("document.getElementById('modes-status').textContent === 'No program chosen; nothing changed.'")));
    QCOMPARE(configuration(), untouched);

    // A data file is not a program: the dialog says so and stays, and nothing is bound.
    m_app->evaluate(bindButton.arg(2));
    const QString dataFile = m_app->appDir() + QStringLiteral("/view/xml/configuration.xml");
    // The file dialog closes as it is accepted, and opens again once the refusal is read.
    chooseInDialog(dataFile);
    const QString refusal = VexaDriver::waitForWindow(m_app->processId(), QStringLiteral("^Not a program$"), 5000);
    QVERIFY2(!refusal.isEmpty(), "a data file was taken as a program");
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), refusal});
    key(QStringLiteral("Return"));
    QVERIFY2(windowGoes(QStringLiteral("^Not a program$"), 5000), "the refusal did not close on Return");
    QVERIFY2(cancelDialog(), "the program dialog did not stay after the refusal");
    QVERIFY2(focusWindow(windows.first()), "the window never took the focus back");
    QVERIFY(m_app->waitUntil(QStringLiteral("document.getElementById('modes-status').textContent === 'No program chosen; nothing changed.'")));
    QCOMPARE(configuration(), untouched);

    // Bound through the dialog: written to the file at once, and the Profiles screen is told.
    m_app->evaluate(bindButton.arg(2));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.getElementById('modes-status').textContent.includes('unsaved profile changes')")));
    QVERIFY2(chooseInDialog(m_program), "the program dialog did not take the typed path");
    QTRY_VERIFY_WITH_TIMEOUT(configuration().contains(binding), 10000);
    QVERIFY(m_app->waitUntil(QStringLiteral("document.getElementById('modes-status').dataset.tone === 'ok'")));
    QCOMPARE(m_app->evaluate(QStringLiteral("window.e2eSaved")).toInt(), 1);
    QCOMPARE(m_app->evaluate(QStringLiteral("document.querySelector('.mode-row[data-index=\"2\"] .mode-file').title")).toString(),
             m_program);
    QCOMPARE(row("1", "active"), QStringLiteral("true"));

    // The restarted monitor sees it start (it scans every 3 s): running, and the active mode.
    QProcess racer;
    racer.start(m_program, {QStringLiteral("60")});
    QVERIFY(racer.waitForStarted());
    QVERIFY(m_app->waitUntil(QStringLiteral("document.querySelector('.mode-row[data-index=\"2\"]').dataset.running === 'true'"
                                            " && document.querySelector('.mode-row[data-index=\"2\"]').dataset.active === 'true'"),
                             10000));
    QCOMPARE(row("1", "active"), QStringLiteral("false"));
    QVERIFY(m_app->evaluate(QStringLiteral("document.getElementById('modes-active').textContent")).toString().contains("ModeRacer"));
    screenshot(QStringLiteral("modes-running-800x600"));

    // The same program for another mode: refused with a reason, nothing written.
    const QString before = configuration();
    m_app->evaluate(bindButton.arg(3));
    QVERIFY2(chooseInDialog(m_program), "the program dialog did not take the typed path");
    QVERIFY(m_app->waitUntil(QStringLiteral("document.getElementById('modes-status').dataset.tone === 'bad'")));
    QVERIFY(m_app->evaluate(QStringLiteral("document.getElementById('modes-status').textContent")).toString().contains("Racing"));
    QCOMPARE(configuration(), before);

    racer.kill();
    racer.waitForFinished();
    QVERIFY(m_app->waitUntil(QStringLiteral("document.querySelector('.mode-row[data-index=\"2\"]').dataset.running === 'false'"
                                            " && document.querySelector('.mode-row[data-index=\"1\"]').dataset.active === 'true'"),
                             10000));

    // From the keyboard: an arrow key in the current-mode radios makes Racing current, and the
    // focus stays with the radios across the redraw.
    QVERIFY2(focusWindow(windows.first()), "the window never took the focus back");
    // Into the page first, as a user's hand goes, so the keys go where the page's focus is.
    VexaDriver::clickInWindow(windows.first(), 400, 560);
    const QString firstRadio = QStringLiteral("document.querySelector('.mode-row[data-index=\"1\"] .mode-current')");
    m_app->evaluate(firstRadio + QStringLiteral(".focus(); true"));
    QVERIFY(m_app->waitUntil(QStringLiteral("document.activeElement === ") + firstRadio));
    QVERIFY2(m_app->pressKeys(windows.first(), QStringLiteral("Down")), "the page never had the key");
    QTRY_VERIFY_WITH_TIMEOUT(configuration().contains(QStringLiteral("<modeSetting current=\"2\">")), 10000);
    const QString focused = QStringLiteral("document.activeElement === document.querySelector('.mode-row[data-index=\"2\"] %1')");
    QVERIFY(m_app->waitUntil(QStringLiteral("document.getElementById('modes-status').dataset.tone === 'ok' && %1")
                                 .arg(focused.arg(QStringLiteral(".mode-current")))));
    QCOMPARE(row("2", "active"), QStringLiteral("true"));

    // Tab past the mode's profile and "Bind program…" to "Unbind", Enter: the binding goes, the
    // focus moves to the row's other button, with the blue ring.
    key(QStringLiteral("Tab"));
    QVERIFY(m_app->evaluate(focused.arg(QStringLiteral(".mode-profile-select"))).toBool());
    key(QStringLiteral("Tab"));
    key(QStringLiteral("Tab"));
    QVERIFY(m_app->waitUntil(focused.arg(QStringLiteral("[data-action=unbind]"))));
    key(QStringLiteral("Return"));
    QTRY_VERIFY_WITH_TIMEOUT(configuration().contains(QStringLiteral("name=\"Racing\" bindingProcess=\"\"")), 10000);
    QVERIFY(configuration().contains(QStringLiteral("<mode index=\"3\" name=\"Editing\" bindingProcess=\"\" />")));
    QVERIFY(m_app->waitUntil(focused.arg(QStringLiteral("[data-action=bind]"))));
    QVERIFY(m_app->evaluate(QStringLiteral("getComputedStyle(document.activeElement).boxShadow")).toString()
                .contains(QStringLiteral("rgb(108, 182, 255)")));
    QVERIFY(m_app->evaluate(QStringLiteral("document.querySelector('.mode-row[data-index=\"2\"] [data-action=unbind]').disabled")).toBool());
    QCOMPARE(m_app->evaluate(QStringLiteral("window.e2eSaved")).toInt(), 3);
}

QTEST_GUILESS_MAIN(tst_E2eModes)
#include "tst_e2e_modes.moc"
