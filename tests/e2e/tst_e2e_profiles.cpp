// The profiles and modes screens of the shipped page on the real program: an edit saved to the
// profile file, a package export, and a bound program's "running" mark.
#include "vexa_driver.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class tst_E2eProfiles : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void profilesScreen_editSavedToTheFile();
    void profilesScreen_exportsAPackage();
    void modesScreen_marksABoundProgramRunning();

private:
    bool showScreen(const QString &name);
    QString fileText(const QString &relative) const;

    QTemporaryDir m_outside; // a bound program and an exported package live outside the app
    QString m_program;
    std::unique_ptr<VexaDriver> m_app;
};

void tst_E2eProfiles::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("DISPLAY is not set: the program's browser needs an X display (run under Xvfb)");
    QVERIFY(m_outside.isValid());
    const QString sleep = QStandardPaths::findExecutable("sleep");
    QVERIFY(!sleep.isEmpty());
    m_program = QFileInfo(m_outside.path()).canonicalFilePath() + "/RacerGame";
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
}

void tst_E2eProfiles::cleanupTestCase()
{
    if (m_app)
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

void tst_E2eProfiles::profilesScreen_editSavedToTheFile()
{
    QVERIFY(showScreen("profiles"));
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.loaded"
                             " === 'view/profiles/profile1.xml'"));
    QVERIFY(fileText("view/profiles/profile1.xml").contains("brightness=\"80\""));

    // The user types a new brightness and leaves the field, then presses Save.
    QString error;
    const QJsonValue edited = m_app->evaluate(R"JS(
        (() => {
          const input = document.querySelector('.profile-value[data-attribute="brightness"]');
          if (!input) return false;
          input.value = '42';
          input.dispatchEvent(new Event('change'));
          return true;
        })())JS", &error);
    QVERIFY2(edited.toBool(), qPrintable(error));
    QVERIFY(m_app->waitUntil("document.querySelector('.profile-value[data-attribute=\"brightness\"]')"
                             ".dataset.state === 'changed'"));
    // Edited in the program's cache only: the file is unchanged until the save.
    QVERIFY(fileText("view/profiles/profile1.xml").contains("brightness=\"80\""));

    m_app->evaluate("document.getElementById('profile-save').click(); true");
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.saved === 'true'"));
    const QString saved = fileText("view/profiles/profile1.xml");
    QVERIFY2(saved.contains("<lighting color=\"#e0483e\" brightness=\"42\" effect=\"breathing\" />"),
             qPrintable(saved));
    QVERIFY(saved.contains("<key id=\"4\" name=\"Y\" code=\"0x05,0x07\" />"));
}

void tst_E2eProfiles::profilesScreen_exportsAPackage()
{
    QVERIFY(showScreen("profiles"));
    QVERIFY(m_app->waitUntil("document.getElementById('screen-profiles').dataset.loaded"));
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

QTEST_GUILESS_MAIN(tst_E2eProfiles)
#include "tst_e2e_profiles.moc"
