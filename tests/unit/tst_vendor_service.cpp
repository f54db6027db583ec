// The servers the update tests stand on: what nginx answers to ranged package requests and what
// it records, and that each fault of the fault server reaches Qt's network stack as that fault.
#include "fault_server.h"
#include "vendor_service.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QtTest>

Q_DECLARE_METATYPE(FaultServer::Fault)

namespace {

struct Got {
    bool finished = false;
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
};

Got get(QNetworkAccessManager &manager, const QUrl &url, const QByteArray &range = QByteArray())
{
    QNetworkRequest request(url);
    request.setRawHeader("Accept-Encoding", "identity");
    if (!range.isEmpty())
        request.setRawHeader("Range", range);
    QNetworkReply *reply = manager.get(request);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    Got got;
    got.finished = finished.wait(10000);
    got.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    got.error = reply->error();
    got.body = reply->readAll();
    delete reply;
    return got;
}

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xff);
    return bytes;
}

} // namespace

class TestVendorService : public QObject {
    Q_OBJECT

private slots:
    void packagesAnswerRangesAndTheLogRecordsThem();
    void replyNamesTheServiceItself();
    void faults_data();
    void faults();
    void stallHoldsTheAnswerUntilReleased();

private:
    QNetworkAccessManager m_manager;
};

void TestVendorService::packagesAnswerRangesAndTheLogRecordsThem()
{
    if (VendorService::nginxProgram().isEmpty())
        QSKIP("nginx is not installed (scripts/packages.txt lists it)");
    VendorService service;
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    const QByteArray package = pattern(250000);
    const QUrl url = service.placePackage(QStringLiteral("client.pkg"), package);

    const Got rest = get(m_manager, url, "bytes=204800-");
    QVERIFY(rest.finished);
    QCOMPARE(rest.status, 206);
    QCOMPARE(rest.body, package.mid(204800));

    const Got beyond = get(m_manager, url, "bytes=250000-");
    QVERIFY(beyond.finished);
    QCOMPARE(beyond.status, 416);

    const Got whole = get(m_manager, url);
    QCOMPARE(whole.status, 200);
    QCOMPARE(whole.body, package);

    QVERIFY(service.waitForRequests(3));
    const QList<ServiceRequest> requests = service.requests();
    QCOMPARE(requests.size(), 3);
    QCOMPARE(requests.at(0).target, QStringLiteral("/packages/client.pkg"));
    QCOMPARE(requests.at(0).range, QStringLiteral("bytes=204800-"));
    QCOMPARE(requests.at(0).status, 206);
    QCOMPARE(requests.at(0).bytesSent, qint64(250000 - 204800));
    QCOMPARE(requests.at(1).range, QStringLiteral("bytes=250000-"));
    QCOMPARE(requests.at(1).status, 416);
    QVERIFY(requests.at(2).range.isEmpty());
}

void TestVendorService::replyNamesTheServiceItself()
{
    if (VendorService::nginxProgram().isEmpty())
        QSKIP("nginx is not installed (scripts/packages.txt lists it)");
    VendorService service;
    service.setUpgradeReply(R"({"code":0,"ret":{"clientPackage":"{{service}}/packages/c.pkg"}})");
    QVERIFY2(service.start(), qPrintable(service.errorString()));

    const Got reply = get(m_manager, service.url(QStringLiteral("/api/system/upgrade?deviceid=&test=1")));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, R"({"code":0,"ret":{"clientPackage":")" + service.address().toUtf8() + R"(/packages/c.pkg"}})");
}

void TestVendorService::faults_data()
{
    QTest::addColumn<FaultServer::Fault>("fault");
    QTest::addColumn<QByteArray>("range");
    QTest::addColumn<int>("status");
    // error and size: -1 for not checked.
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("size");
    using F = FaultServer::Fault;
    const int noError = QNetworkReply::NoError;
    QTest::newRow("honest, ranged") << F::None << QByteArray("bytes=1000-") << 206 << noError << 1000 << 3000;
    QTest::newRow("honest, past the end")
        << F::None << QByteArray("bytes=4000-") << 416 << int(QNetworkReply::UnknownContentError) << 0 << 0;
    QTest::newRow("range ignored") << F::IgnoreRange << QByteArray("bytes=1000-") << 200 << noError << 0 << 4000;
    // Qt ends a reply whose connection closes before the declared length with
    // RemoteHostClosedError, or now and then with NoError: the error code is not checked here.
    QTest::newRow("cut after 100 bytes")
        << F::CutMidBody << QByteArray("bytes=1000-") << 206 << -1 << 1000 << 100;
    QTest::newRow("server error")
        << F::ServerError << QByteArray() << 500 << int(QNetworkReply::InternalServerError) << 0 << -1;
}

void TestVendorService::faults()
{
    QFETCH(FaultServer::Fault, fault);
    QFETCH(QByteArray, range);
    QFETCH(int, status);
    QFETCH(int, error);
    QFETCH(int, from);
    QFETCH(int, size);
    const QByteArray body = pattern(4000);
    FaultServer server;
    QVERIFY(server.listen());
    server.setBody(body);
    // Only the first request misbehaves; the second is answered honestly.
    server.setFault(fault, 100, 1);

    const Got first = get(m_manager, server.url(), range);
    QVERIFY(first.finished);
    QCOMPARE(first.status, status);
    if (error != -1)
        QCOMPARE(int(first.error), error);
    if (size >= 0)
        QCOMPARE(first.body, body.mid(from, size));

    const Got second = get(m_manager, server.url(), "bytes=1000-");
    QCOMPARE(second.status, 206);
    QCOMPARE(second.body, body.mid(1000));

    // Qt sometimes sends a cut request again on its own, unseen by the caller.
    const QList<FaultServer::Request> requests = server.requests();
    QVERIFY(requests.size() >= 2);
    QCOMPARE(requests.at(0).header("range"), range);
    QCOMPARE(requests.at(0).target, QByteArray("/package.bin"));
}

void TestVendorService::stallHoldsTheAnswerUntilReleased()
{
    FaultServer server;
    QVERIFY(server.listen());
    server.setBody(pattern(4000));
    server.setFault(FaultServer::Fault::Stall, 100);

    QNetworkRequest request(server.url());
    request.setRawHeader("Accept-Encoding", "identity");
    QNetworkReply *reply = m_manager.get(request);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    // Qt holds back downloadProgress for a while; readyRead says at once what has arrived.
    QTRY_COMPARE_WITH_TIMEOUT(reply->bytesAvailable(), qint64(100), 10000);
    QCOMPARE(finished.count(), 0);

    server.releaseStalled();
    QVERIFY(finished.wait(10000));
    // Qt ends such a reply with NoError about half the time; only the byte count tells.
    QCOMPARE(reply->readAll(), pattern(4000).left(100));
    delete reply;
}

QTEST_GUILESS_MAIN(TestVendorService)
#include "tst_vendor_service.moc"
