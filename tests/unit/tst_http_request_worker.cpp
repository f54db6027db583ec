// The HTTP worker against real servers on loopback: what goes on the wire for each body layout,
// and what the caller finds in the worker when the signal comes.
#include "fault_server.h"
#include "http_request_worker.h"
#include "missing_tool.h"
#include "vendor_service.h"

#include <QtTest>

Q_DECLARE_METATYPE(FaultServer::Fault)

namespace {

struct Outcome {
    bool finished = false;
    QByteArray response;
    QNetworkReply::NetworkError errorType = QNetworkReply::NoError;
    QString errorText;
    bool tooLarge = false;
};

// Reads the members inside the handler, as callers do: they must be set when the signal comes.
Outcome run(HttpRequestSpec &spec, int timeoutMs = HttpRequestWorker::kDefaultTimeoutMs)
{
    Outcome outcome;
    HttpRequestWorker worker;
    worker.setLimits(HttpRequestWorker::kDefaultMaxResponseBytes, timeoutMs);
    QObject::connect(&worker, &HttpRequestWorker::on_execution_finished, [&outcome](HttpRequestWorker *w) {
        outcome.finished = true;
        outcome.response = w->response;
        outcome.errorType = w->errorType;
        outcome.errorText = w->errorText;
        outcome.tooLarge = w->responseTooLarge;
    });
    QSignalSpy finished(&worker, &HttpRequestWorker::on_execution_finished);
    worker.startRequest(spec);
    if (!finished.wait(10000) || finished.count() != 1 || finished.at(0).at(0).value<HttpRequestWorker *>() != &worker)
        outcome.finished = false;
    return outcome;
}

QByteArray boundaryOf(const QString &contentType)
{
    const QString prefix = QStringLiteral("multipart/form-data; boundary=");
    return contentType.startsWith(prefix) ? contentType.mid(prefix.size()).toLatin1() : QByteArray();
}

} // namespace

class TestHttpRequestWorker : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void queryIsInKeyOrder();
    void postSendsUrlEncodedForm();
    void fileForcesMultipartWithEscapedName();
    void missingFileIsLeftOut();
    void customVerbSendsItsBody();
    void httpErrorLeavesResponseEmpty_data();
    void httpErrorLeavesResponseEmpty();
    void replyIsBounded_data();
    void replyIsBounded();
    void dispositionParameter_data();
    void dispositionParameter();

private:
    VendorService m_service;
    FaultServer m_faults;
    QTemporaryDir m_files;
};

void TestHttpRequestWorker::initTestCase()
{
    qRegisterMetaType<HttpRequestWorker *>();
    if (VendorService::nginxProgram().isEmpty())
        VEXA_SKIP_WITHOUT_TOOL("nginx is not installed (scripts/packages.txt lists it)");
    QVERIFY2(m_service.start(), qPrintable(m_service.errorString()));
    QVERIFY(m_faults.listen());
    QVERIFY(m_files.isValid());
}

void TestHttpRequestWorker::queryIsInKeyOrder()
{
    const QByteArray reply = R"({"code":1,"ret":{}})";
    m_service.setUpgradeReply(reply);
    HttpRequestSpec spec(m_service.upgradeUrl().toString(), QStringLiteral("GET"));
    spec.addField(QStringLiteral("b"), QStringLiteral("2"));
    spec.addField(QStringLiteral("a"), QStringLiteral("x y"));
    const int before = m_service.requests().size();

    const Outcome outcome = run(spec);
    QVERIFY(outcome.finished);
    QCOMPARE(outcome.errorType, QNetworkReply::NoError);
    QCOMPARE(outcome.response, reply);
    QCOMPARE(spec.bodyLayout, HttpRequestSpec::InQuery);
    QVERIFY(m_service.waitForRequests(before + 1));
    const ServiceRequest sent = m_service.requests().at(before);
    QCOMPARE(sent.method, QStringLiteral("GET"));
    QCOMPARE(sent.target, QStringLiteral("/api/system/upgrade?a=x%20y&b=2"));
    QVERIFY(sent.body.isEmpty());
}

void TestHttpRequestWorker::postSendsUrlEncodedForm()
{
    HttpRequestSpec spec(m_service.recordUrl().toString(), QStringLiteral("POST"));
    spec.addField(QStringLiteral("b"), QStringLiteral("2"));
    spec.addField(QStringLiteral("a"), QStringLiteral("x y&z=é"));
    const int before = m_service.requests().size();

    const Outcome outcome = run(spec);
    QVERIFY(outcome.finished);
    QCOMPARE(outcome.errorType, QNetworkReply::NoError);
    QCOMPARE(outcome.response, QByteArray("recorded\n"));
    QVERIFY(m_service.waitForRequests(before + 1));
    const ServiceRequest sent = m_service.requests().at(before);
    QCOMPARE(sent.method, QStringLiteral("POST"));
    QCOMPARE(sent.target, QStringLiteral("/api/record"));
    QCOMPARE(sent.contentType, QStringLiteral("application/x-www-form-urlencoded"));
    QCOMPARE(sent.body, QByteArray("a=x%20y%26z%3D%C3%A9&b=2"));
}

void TestHttpRequestWorker::fileForcesMultipartWithEscapedName()
{
    const QString path = m_files.filePath(QStringLiteral("upload.bin"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("pad profile\n");
    file.close();

    HttpRequestSpec spec(m_service.recordUrl().toString(), QStringLiteral("POST"));
    spec.bodyLayout = HttpRequestSpec::FormUrlEncoded;
    spec.addField(QStringLiteral("note"), QStringLiteral("hi"));
    spec.addFile(QStringLiteral("upload"), path, QStringLiteral("日本"), QStringLiteral("application/octet-stream"));
    const int before = m_service.requests().size();

    const Outcome outcome = run(spec);
    QVERIFY(outcome.finished);
    QCOMPARE(outcome.errorType, QNetworkReply::NoError);
    QCOMPARE(spec.bodyLayout, HttpRequestSpec::Multipart);
    QVERIFY(m_service.waitForRequests(before + 1));
    const ServiceRequest sent = m_service.requests().at(before);
    const QByteArray boundary = boundaryOf(sent.contentType);
    QVERIFY2(QRegularExpression(QStringLiteral("^__-----------------------\\d+$")).match(boundary).hasMatch(),
             qPrintable(sent.contentType));
    const QByteArray expected = "--" + boundary + "\r\n"
                                "Content-Disposition: form-data; name=\"note\"\r\n"
                                "Content-Type: text/plain\r\n"
                                "\r\n"
                                "hi\r\n"
                                "--" + boundary + "\r\n"
                                "Content-Disposition: form-data; name=\"upload\"; "
                                "filename=\"\"; filename*=utf-8''%E6%97%A5%E6%9C%AC\r\n"
                                "Content-Type: application/octet-stream\r\n"
                                "Content-Transfer-Encoding: binary\r\n"
                                "\r\n"
                                "pad profile\n\r\n"
                                "--" + boundary + "--";
    QCOMPARE(sent.body, expected);
}

void TestHttpRequestWorker::missingFileIsLeftOut()
{
    HttpRequestSpec spec(m_service.recordUrl().toString(), QStringLiteral("POST"));
    spec.addField(QStringLiteral("a"), QStringLiteral("1"));
    spec.addFile(QStringLiteral("upload"), m_files.filePath(QStringLiteral("not-there.bin")));
    const int before = m_service.requests().size();

    const Outcome outcome = run(spec);
    QVERIFY(outcome.finished);
    QCOMPARE(outcome.errorType, QNetworkReply::NoError);
    QVERIFY(m_service.waitForRequests(before + 1));
    const ServiceRequest sent = m_service.requests().at(before);
    const QByteArray boundary = boundaryOf(sent.contentType);
    QVERIFY2(!boundary.isEmpty(), qPrintable(sent.contentType));
    QCOMPARE(sent.body, "--" + boundary + "\r\nContent-Disposition: form-data; name=\"a\"\r\n"
                        "Content-Type: text/plain\r\n\r\n1\r\n--" + boundary + "--");
}

void TestHttpRequestWorker::customVerbSendsItsBody()
{
    // Qt reads a custom request's body while the request runs, after startRequest returned.
    HttpRequestSpec spec(m_service.recordUrl().toString(), QStringLiteral("PATCH"));
    spec.addField(QStringLiteral("mode"), QStringLiteral("2"));
    const int before = m_service.requests().size();

    const Outcome outcome = run(spec);
    QVERIFY(outcome.finished);
    QCOMPARE(outcome.errorType, QNetworkReply::NoError);
    QVERIFY(m_service.waitForRequests(before + 1));
    const ServiceRequest sent = m_service.requests().at(before);
    QCOMPARE(sent.method, QStringLiteral("PATCH"));
    QCOMPARE(sent.contentType, QStringLiteral("application/x-www-form-urlencoded"));
    QCOMPARE(sent.body, QByteArray("mode=2"));
}

void TestHttpRequestWorker::httpErrorLeavesResponseEmpty_data()
{
    QTest::addColumn<bool>("nginx");
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::newRow("404 with a page") << true << QNetworkReply::ContentNotFoundError;
    QTest::newRow("500 with a body") << false << QNetworkReply::InternalServerError;
}

void TestHttpRequestWorker::httpErrorLeavesResponseEmpty()
{
    QFETCH(bool, nginx);
    QFETCH(QNetworkReply::NetworkError, error);
    m_faults.setFault(FaultServer::Fault::ServerError);
    const QUrl url = nginx ? m_service.url(QStringLiteral("/packages/not-there.pkg")) : m_faults.url();
    HttpRequestSpec spec(url.toString(), QStringLiteral("GET"));

    const Outcome outcome = run(spec);
    QVERIFY(outcome.finished);
    QCOMPARE(outcome.errorType, error);
    QVERIFY(!outcome.errorText.isEmpty());
    QVERIFY(outcome.response.isEmpty());
}

void TestHttpRequestWorker::replyIsBounded_data()
{
    QTest::addColumn<FaultServer::Fault>("fault");
    QTest::addColumn<int>("bodySize");
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::addColumn<bool>("tooLarge");
    const int cap = int(HttpRequestWorker::kDefaultMaxResponseBytes);
    QTest::newRow("exactly the cap is read") << FaultServer::Fault::None << cap << QNetworkReply::NoError << false;
    QTest::newRow("declared one byte more") << FaultServer::Fault::None << cap + 1
                                            << QNetworkReply::UnknownContentError << true;
    QTest::newRow("endless body without a length") << FaultServer::Fault::Endless << 1000
                                                    << QNetworkReply::UnknownContentError << true;
    QTest::newRow("stalled after the headers") << FaultServer::Fault::Stall << 10 << QNetworkReply::TimeoutError
                                               << false;
}

void TestHttpRequestWorker::replyIsBounded()
{
    QFETCH(FaultServer::Fault, fault);
    QFETCH(int, bodySize);
    QFETCH(QNetworkReply::NetworkError, error);
    QFETCH(bool, tooLarge);
    m_faults.setBody(QByteArray(bodySize, '{'));
    m_faults.setFault(fault, bodySize / 2);
    HttpRequestSpec spec(m_faults.url(QStringLiteral("/api/system/upgrade")).toString(), QStringLiteral("GET"));

    const Outcome outcome = run(spec, 1000);
    m_faults.releaseStalled();
    m_faults.setFault(FaultServer::Fault::None);
    QVERIFY(outcome.finished);
    QCOMPARE(outcome.errorType, error);
    QCOMPARE(outcome.tooLarge, tooLarge);
    QCOMPARE(outcome.response.size(), error == QNetworkReply::NoError ? bodySize : 0);
}

void TestHttpRequestWorker::dispositionParameter_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("plain") << "abc" << "name=\"abc\"";
    QTest::newRow("quote kept, slashes force the extended form")
        << "a\"b/c\\d" << "name=\"a\\\"bcd\"; name*=utf-8''a%22b%2Fc%5Cd";
    QTest::newRow("space kept, accent dropped") << "x yé" << "name=\"x y\"; name*=utf-8''x%20y%C3%A9";
    QTest::newRow("empty") << "" << "name=\"\"; name*=utf-8''";
    QTest::newRow("only non-ASCII") << "日本" << "name=\"\"; name*=utf-8''%E6%97%A5%E6%9C%AC";
}

void TestHttpRequestWorker::dispositionParameter()
{
    QFETCH(QString, value);
    QFETCH(QString, encoded);
    QCOMPARE(HttpRequestWorker::encodeDispositionParameter(QStringLiteral("name"), value), encoded);
}

QTEST_GUILESS_MAIN(TestHttpRequestWorker)
#include "tst_http_request_worker.moc"
