// The vendor service's address from configuration: what counts as an address, and the
// environment overriding what the build says.
#include "update_service.h"

#include <QtTest>

class TestUpdateService : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv("VEXA_UPDATE_SERVICE"); }
    void address_data();
    void address();
};

void TestUpdateService::address_data()
{
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<QString>("upgradeUrl");
    QTest::newRow("host and port") << QByteArray("http://127.0.0.1:8377") << "http://127.0.0.1:8377/api/system/upgrade";
    QTest::newRow("trailing slash") << QByteArray("https://updates.example.com/")
                                    << "https://updates.example.com/api/system/upgrade";
    QTest::newRow("spaces around") << QByteArray("  http://localhost:9000 \n") << "http://localhost:9000/api/system/upgrade";
    // Set but empty: updates off, whatever the build says.
    QTest::newRow("empty") << QByteArray("") << QString();
    // QUrl reads this as the scheme "localhost" with the path "8080".
    QTest::newRow("no scheme") << QByteArray("localhost:8080") << QString();
    QTest::newRow("other scheme") << QByteArray("ftp://127.0.0.1") << QString();
    QTest::newRow("with a path") << QByteArray("http://127.0.0.1/api") << QString();
    QTest::newRow("with a query") << QByteArray("http://127.0.0.1/?x=1") << QString();
}

void TestUpdateService::address()
{
    QFETCH(QByteArray, setting);
    QFETCH(QString, upgradeUrl);
    qputenv("VEXA_UPDATE_SERVICE", setting);
    QCOMPARE(UpdateService::upgradeUrl().toString(), upgradeUrl);
    QCOMPARE(UpdateService::configured(), !upgradeUrl.isEmpty());
    // Without a service the caller logs why; with one there is nothing to say.
    QCOMPARE(UpdateService::notConfiguredReason().isEmpty(), UpdateService::configured());
}

QTEST_GUILESS_MAIN(TestUpdateService)
#include "tst_update_service.moc"
