// The reporter path rules: a wrong path here means no reporter after a crash, found out only then.
#include "crash_handler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class tst_CrashHandler : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void setCrashReporter_data();
    void setCrashReporter();
    void setCrashReporter_refusesAPathItCannotKeep();

private:
    QTemporaryDir m_cwd;
    QString m_previousCwd;
};

void tst_CrashHandler::init()
{
    // Relative names are looked up in the current directory: make it a private one.
    QVERIFY(m_cwd.isValid());
    m_previousCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_cwd.path()));
    QFile present(QStringLiteral("HereReporter"));
    QVERIFY(present.open(QIODevice::WriteOnly));
}

void tst_CrashHandler::cleanup()
{
    QDir::setCurrent(m_previousCwd);
}

void tst_CrashHandler::setCrashReporter_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected"); // "@app" and "@cwd" stand for those folders
    QTest::addColumn<bool>("logged");

    QTest::newRow("plain name: beside the program") << "CrashReporter" << "@app/CrashReporter" << true;
    QTest::newRow("cleaned") << "tools/../CrashReporter" << "@app/CrashReporter" << true;
    QTest::newRow("present in the current directory: kept, made absolute")
        << "HereReporter" << "@cwd/HereReporter" << true;
    QTest::newRow("absolute: as given, not logged") << "/opt/report/CR" << "/opt/report/CR" << false;
}

void tst_CrashHandler::setCrashReporter()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QFETCH(bool, logged);
    expected.replace(QStringLiteral("@app"), QCoreApplication::applicationDirPath());
    expected.replace(QStringLiteral("@cwd"), QDir::currentPath());
    if (logged)
        QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("BreakpadQt: setReporter: %1 -> %2").arg(name, expected)));
    QCOMPARE(platform::setCrashReporter(name), expected);
    QCOMPARE(platform::crashReporterPath(), expected);
}

void tst_CrashHandler::setCrashReporter_refusesAPathItCannotKeep()
{
    const QString tooLong = QLatin1Char('/') + QString(1100, QLatin1Char('r'));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("too long")));
    QCOMPARE(platform::setCrashReporter(tooLong), QString());
    // No half path is left to be started after a crash.
    QCOMPARE(platform::crashReporterPath(), QString());
}

QTEST_GUILESS_MAIN(tst_CrashHandler)
#include "tst_crash_handler.moc"
