// Package downloads against real servers: nginx standing in for the vendor service, a server that
// misbehaves on purpose, and a scripted one for answers neither gives. Each case works in an
// application folder of its own.
#include "fault_server.h"
#include "missing_tool.h"
#include "pspecific_wnd.h"
#include "update_folders.h"
#include "package_writer.h"
#include "vendor_service.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(FaultServer::Fault)

namespace {

const QString kHtml = QStringLiteral("html");

// Random bytes do not compress, so the package is about as large as its content.
QByteArray noise(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(random.bounded(256));
    return bytes;
}

struct Package {
    QByteArray bytes;
    QByteArray index;
    QByteArray picture;
};

Package makePackage(const QString &version, int pictureSize, quint32 seed)
{
    Package package;
    package.index = "<!doctype html><title>" + version.toUtf8() + "</title>";
    package.picture = noise(pictureSize, seed);
    QString error;
    package.bytes = UpdatePackage::build(
        version, {{QStringLiteral("html/index.html"), package.index}, {QStringLiteral("html/img/pad.bin"), package.picture}},
        QByteArray(), &error);
    if (package.bytes.isEmpty())
        qWarning() << "cannot build the test package:" << error;
    return package;
}

// The decoder stops once it has the declared size, so bytes after the stream are never read;
// with the digest made anew the package stays valid at exactly the size asked for.
QByteArray paddedTo(QByteArray package, int size)
{
    package.append(QByteArray(size - package.size(), '\0'));
    package.replace(128, 20, QCryptographicHash::hash(package.mid(148), QCryptographicHash::Sha1));
    return package;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// What a downloader told, received on the test's thread.
class Outcome : public QObject {
    Q_OBJECT
public:
    QStringList versions;
    int finished = 0;
    int failed = 0;
    QList<UpdateFailure> failures;
    qint64 lastGot = 0;
    qint64 lastTotal = 0;

public slots:
    void onUnpacked(const QString &version) { versions << version; }
    void onFinished() { ++finished; }
    void onFailed() { ++failed; }
    void onPackageFailed(UpdateFailure why) { failures << why; }
    void onPart(qint64 got, qint64 total)
    {
        lastGot = got;
        lastTotal = total;
    }
};

// One downloader on a thread of its own, as the dialog runs it.
class Download {
public:
    Download(const QUrl &url, const QString &applicationDir, const QString &kind = kHtml,
             int stallMs = PsUpdateDownloader::kDefaultStallTimeoutMs)
    {
        downloader = new PsUpdateDownloader(&thread, url.toString(), kind, applicationDir, stallMs);
        QObject::connect(&thread, &QThread::finished, downloader, &QObject::deleteLater);
        QObject::connect(downloader, &PsUpdateDownloader::unpressFinished, &outcome, &Outcome::onUnpacked);
        QObject::connect(downloader, &PsUpdateDownloader::downLoadFinished, &outcome, &Outcome::onFinished);
        QObject::connect(downloader, &PsUpdateDownloader::downLoadFailed, &outcome, &Outcome::onFailed);
        QObject::connect(downloader, &PsUpdateDownloader::finishPart, &outcome, &Outcome::onPart);
        QObject::connect(downloader, &PsUpdateDownloader::packageFailed, &outcome, &Outcome::onPackageFailed);
    }
    ~Download()
    {
        thread.quit();
        thread.wait();
    }
    void start() { thread.start(); }

    QThread thread;
    QPointer<PsUpdateDownloader> downloader;
    Outcome outcome;
};

// Answers each connection with the next canned reply, then closes it; records the requests.
class ScriptedServer : public QObject {
    Q_OBJECT
public:
    struct Reply {
        QByteArray head;
        QByteArray body;
        // The body goes out in two parts this far apart.
        int pauseMs = 0;
    };

    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/files/package.bin").arg(m_server.serverPort())); }
    QList<Reply> replies;
    QList<QByteArray> requests;

    ScriptedServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                serve(socket);
        });
    }

private:
    void serve(QTcpSocket *socket)
    {
        auto request = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
            if (request->contains("\r\n\r\n"))
                return; // answered already
            request->append(socket->readAll());
            if (!request->contains("\r\n\r\n"))
                return;
            requests << *request;
            const Reply reply = replies.isEmpty() ? Reply{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n", {}, 0}
                                                  : replies.takeFirst();
            socket->write(reply.head + "Connection: close\r\n\r\n");
            const int half = reply.pauseMs > 0 ? reply.body.size() / 2 : reply.body.size();
            socket->write(reply.body.left(half));
            QTimer::singleShot(reply.pauseMs, socket, [socket, rest = reply.body.mid(half)] {
                socket->write(rest);
                socket->disconnectFromHost();
            });
        });
    }

    QTcpServer m_server;
};

QByteArray rangeOf(const QByteArray &request)
{
    for (const QByteArray &line : request.split('\n'))
        if (line.toLower().startsWith("range:"))
            return line.mid(6).trimmed();
    return QByteArray();
}

} // namespace

class TestUpdateDownload : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void leftoverKeptInWholeSteps_data();
    void leftoverKeptInWholeSteps();
    void leftoverResumedAndUnpacked();
    void completeLeftoverAnswered416IsUnpacked();
    void ignoredRangeStartsTheFileAgain();
    void cutConnectionResumedByNextAttempt();
    void stalledDownloadFailsAndKeepsWhatArrived();
    void serverErrorDiscardsOnlyThatKind();
    void unknownLengthCompleteWhenReplyEnds();
    void rangeFromElsewhereStartsTheFileAgain();
    void everyFailureIsTold_data();
    void everyFailureIsTold();
    void downloadStopsAtItsLimit_data();
    void downloadStopsAtItsLimit();
    void endlessBodyHeldBackWhileTheDiskLags();
    void packageFileKeyedOnTheWholeAddress();

private:
    QString packagePath(const QUrl &url) const
    {
        return UpdateFolders::kindFolder(m_dir->path(), kHtml) + '/' + PsUpdateDownloader::packageFileName(url.toString());
    }
    QString ready() const { return UpdateFolders::ready(m_dir->path(), kHtml); }
    void verifyReady(const Package &package);

    VendorService m_service;
    std::unique_ptr<QTemporaryDir> m_dir;
    Package m_package;
};

void TestUpdateDownload::initTestCase()
{
    if (!UpdatePackage::vendorPublicKey().isEmpty())
        QSKIP("built with a vendor key: unsigned test packages would be refused");
    m_package = makePackage(QStringLiteral("2.1.0"), 300000, 7);
    QVERIFY(m_package.bytes.size() > 300000);
}

void TestUpdateDownload::verifyReady(const Package &package)
{
    QCOMPARE(readFile(ready() + QStringLiteral("/index.html")), package.index);
    QVERIFY(readFile(ready() + QStringLiteral("/img/pad.bin")) == package.picture);
    QVERIFY(!QFileInfo::exists(UpdateFolders::temp(m_dir->path(), kHtml)));
}

void TestUpdateDownload::leftoverKeptInWholeSteps_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("kept");
    QTest::newRow("cut down to a whole step") << 250000 << 204800;
    QTest::newRow("whole steps stay") << 204800 << 204800;
    QTest::newRow("less than a step starts again") << 50000 << 0;
}

void TestUpdateDownload::leftoverKeptInWholeSteps()
{
    QFETCH(int, size);
    QFETCH(int, kept);
    m_dir.reset(new QTemporaryDir);
    const QUrl url(QStringLiteral("http://127.0.0.1:9/a/html.pkg?sig=1"));
    const QString output = packagePath(url);
    QVERIFY(writeFile(output, m_package.bytes.left(size)));
    // Stray files beside it go; another kind's data stays.
    const QString stray = UpdateFolders::root(m_dir->path()) + QStringLiteral("/stray.log");
    const QString older = packagePath(QUrl(QStringLiteral("http://127.0.0.1:9/a/html-1.9.pkg")));
    const QString client = UpdateFolders::kindFolder(m_dir->path(), QStringLiteral("client")) + QStringLiteral("/client.pkg");
    QVERIFY(writeFile(stray, "x") && writeFile(older, "x") && writeFile(client, "x"));

    QThread idle;
    PsUpdateDownloader downloader(&idle, url.toString(), kHtml, m_dir->path());
    QCOMPARE(downloader.outputFilePath(), output);
    QCOMPARE(downloader.already(), qint64(kept));
    if (kept == 0)
        QVERIFY(!QFileInfo::exists(output));
    else
        QVERIFY(readFile(output) == m_package.bytes.left(kept));
    QVERIFY(!QFileInfo::exists(stray));
    QVERIFY(!QFileInfo::exists(older));
    QVERIFY(QFileInfo::exists(client));
}

void TestUpdateDownload::leftoverResumedAndUnpacked()
{
    if (!m_service.isRunning() && !m_service.start())
        VEXA_SKIP_WITHOUT_TOOL(qPrintable(QStringLiteral("no vendor service: ") + m_service.errorString()));
    m_dir.reset(new QTemporaryDir);
    const QUrl url = m_service.placePackage(QStringLiteral("html-resume.pkg"), m_package.bytes);
    QVERIFY(writeFile(packagePath(url), m_package.bytes.left(250000)));
    const int before = m_service.requests().size();

    Download download(url, m_dir->path());
    download.start();
    QTRY_COMPARE_WITH_TIMEOUT(download.outcome.versions, QStringList{QStringLiteral("2.1.0")}, 15000);
    QCOMPARE(download.outcome.finished, 1);
    verifyReady(m_package);
    // The package file has served its purpose.
    QVERIFY(!QFileInfo::exists(packagePath(url)));
    QVERIFY(m_service.waitForRequests(before + 1));
    const ServiceRequest request = m_service.requests().at(before);
    QCOMPARE(request.range, QStringLiteral("bytes=204800-"));
    QCOMPARE(request.status, 206);
    QCOMPARE(request.bytesSent, qint64(m_package.bytes.size() - 204800));
}

void TestUpdateDownload::completeLeftoverAnswered416IsUnpacked()
{
    if (!m_service.isRunning() && !m_service.start())
        VEXA_SKIP_WITHOUT_TOOL(qPrintable(QStringLiteral("no vendor service: ") + m_service.errorString()));
    m_dir.reset(new QTemporaryDir);
    const Package small = makePackage(QStringLiteral("2.2.0"), 150000, 11);
    const QByteArray whole = paddedTo(small.bytes, 204800);
    const QUrl url = m_service.placePackage(QStringLiteral("html-whole.pkg"), whole);
    QVERIFY(writeFile(packagePath(url), whole));
    const int before = m_service.requests().size();

    Download download(url, m_dir->path());
    download.start();
    QTRY_COMPARE_WITH_TIMEOUT(download.outcome.versions, QStringList{QStringLiteral("2.2.0")}, 15000);
    verifyReady(small);
    QVERIFY(m_service.waitForRequests(before + 1));
    QCOMPARE(m_service.requests().at(before).status, 416);
    QCOMPARE(m_service.requests().at(before).range, QStringLiteral("bytes=204800-"));
}

void TestUpdateDownload::ignoredRangeStartsTheFileAgain()
{
    FaultServer server;
    QVERIFY(server.listen());
    server.setBody(m_package.bytes);
    server.setFault(FaultServer::Fault::IgnoreRange);
    m_dir.reset(new QTemporaryDir);
    QVERIFY(writeFile(packagePath(server.url()), m_package.bytes.left(204800)));

    Download download(server.url(), m_dir->path());
    download.start();
    QTRY_COMPARE_WITH_TIMEOUT(download.outcome.versions, QStringList{QStringLiteral("2.1.0")}, 15000);
    verifyReady(m_package);
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(server.requests().first().header("Range"), QByteArray("bytes=204800-"));
    // Offsets into the file are offsets into the server's bytes only without compression.
    QCOMPARE(server.requests().first().header("Accept-Encoding"), QByteArray("identity"));
}

void TestUpdateDownload::cutConnectionResumedByNextAttempt()
{
    FaultServer server;
    QVERIFY(server.listen());
    server.setBody(m_package.bytes);
    server.setFault(FaultServer::Fault::CutMidBody, 250000, 1);
    m_dir.reset(new QTemporaryDir);

    {
        Download first(server.url(), m_dir->path());
        first.start();
        QTRY_COMPARE_WITH_TIMEOUT(first.outcome.failed, 1, 15000);
        QVERIFY(first.outcome.versions.isEmpty());
    }
    QCOMPARE(QFileInfo(packagePath(server.url())).size(), qint64(250000));

    Download second(server.url(), m_dir->path());
    second.start();
    QTRY_COMPARE_WITH_TIMEOUT(second.outcome.versions, QStringList{QStringLiteral("2.1.0")}, 15000);
    verifyReady(m_package);
    // Qt may send the cut request once more by itself before the failure reaches us.
    QCOMPARE(server.requests().last().header("Range"), QByteArray("bytes=204800-"));
    // A resumed reply reports its own remainder only.
    QCOMPARE(second.outcome.lastTotal, qint64(m_package.bytes.size() - 204800));
}

// A server that goes quiet mid-body fails the download after the stall time; what arrived is
// kept, as after a cut connection, and the next attempt resumes after it.
void TestUpdateDownload::stalledDownloadFailsAndKeepsWhatArrived()
{
    FaultServer server;
    QVERIFY(server.listen());
    server.setBody(m_package.bytes);
    server.setFault(FaultServer::Fault::Stall, 250000, 1);
    m_dir.reset(new QTemporaryDir);

    {
        Download download(server.url(), m_dir->path(), kHtml, 300);
        download.start();
        QTRY_COMPARE_WITH_TIMEOUT(download.outcome.failed, 1, 15000);
        QCOMPARE(download.outcome.finished, 0);
        QVERIFY(download.outcome.versions.isEmpty());
    }
    server.releaseStalled();
    QCOMPARE(QFileInfo(packagePath(server.url())).size(), qint64(250000));

    Download second(server.url(), m_dir->path());
    second.start();
    QTRY_COMPARE_WITH_TIMEOUT(second.outcome.versions, QStringList{QStringLiteral("2.1.0")}, 15000);
    verifyReady(m_package);
    QCOMPARE(server.requests().last().header("Range"), QByteArray("bytes=204800-"));
}

void TestUpdateDownload::serverErrorDiscardsOnlyThatKind()
{
    FaultServer server;
    QVERIFY(server.listen());
    server.setBody(m_package.bytes);
    server.setFault(FaultServer::Fault::ServerError);
    m_dir.reset(new QTemporaryDir);
    const QString leftover = packagePath(server.url());
    QVERIFY(writeFile(leftover, m_package.bytes.left(204800)));
    QVERIFY(writeFile(ready() + QStringLiteral("/index.html"), "older page"));
    const QString client = UpdateFolders::kindFolder(m_dir->path(), QStringLiteral("client"));
    QVERIFY(writeFile(client + QStringLiteral("/client.pkg"), "partial client"));
    QVERIFY(writeFile(client + QStringLiteral("/ready/Updater"), "installer"));

    Download download(server.url(), m_dir->path());
    download.start();
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(leftover), 15000);
    QVERIFY(!QFileInfo::exists(ready()));
    QVERIFY(QFileInfo::exists(client + QStringLiteral("/client.pkg")));
    QVERIFY(QFileInfo::exists(client + QStringLiteral("/ready/Updater")));
    QTRY_COMPARE(download.outcome.failures, QList<UpdateFailure>{UpdateFailure::Server});
    QCOMPARE(download.outcome.failed, 0);
    QCOMPARE(download.outcome.finished, 0);
    QVERIFY(download.outcome.versions.isEmpty());
}

void TestUpdateDownload::unknownLengthCompleteWhenReplyEnds()
{
    ScriptedServer server;
    QVERIFY(server.listen());
    // No length: the body ends when the connection does, and the first part comes well before.
    server.replies << ScriptedServer::Reply{"HTTP/1.1 200 OK\r\n", m_package.bytes, 300};
    m_dir.reset(new QTemporaryDir);

    Download download(server.url(), m_dir->path());
    download.start();
    QTRY_COMPARE_WITH_TIMEOUT(download.outcome.versions, QStringList{QStringLiteral("2.1.0")}, 15000);
    verifyReady(m_package);
}

void TestUpdateDownload::rangeFromElsewhereStartsTheFileAgain()
{
    ScriptedServer server;
    QVERIFY(server.listen());
    const int size = m_package.bytes.size();
    // Asked for the rest from 204800, it sends bytes from 102400 on: appended, they would sit
    // 102400 bytes off.
    server.replies << ScriptedServer::Reply{"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 102400-" +
                                                QByteArray::number(size - 1) + '/' + QByteArray::number(size) +
                                                "\r\nContent-Length: " + QByteArray::number(size - 102400) + "\r\n",
                                            m_package.bytes.mid(102400), 0};
    server.replies << ScriptedServer::Reply{"HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(size) + "\r\n",
                                            m_package.bytes, 0};
    m_dir.reset(new QTemporaryDir);
    QVERIFY(writeFile(packagePath(server.url()), m_package.bytes.left(204800)));

    Download download(server.url(), m_dir->path());
    download.start();
    QTRY_COMPARE_WITH_TIMEOUT(download.outcome.versions, QStringList{QStringLiteral("2.1.0")}, 15000);
    verifyReady(m_package);
    QCOMPARE(server.requests.size(), 2);
    QCOMPARE(rangeOf(server.requests.at(0)), QByteArray("bytes=204800-"));
    QCOMPARE(rangeOf(server.requests.at(1)), QByteArray("bytes=0-"));
}

void TestUpdateDownload::everyFailureIsTold_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("folderInTheWay");
    QTest::addColumn<int>("why");

    const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Length: %1\r\n";
    const auto whole = [&](const QByteArray &body) { return QByteArray(ok).replace("%1", QByteArray::number(body.size())); };
    QByteArray badDigest = m_package.bytes;
    badDigest[200] = char(badDigest[200] ^ 0x55);
    QByteArray badStream = m_package.bytes;
    for (int i = 157; i < 400; ++i)
        badStream[i] = char(0xff);
    badStream.replace(128, 20, QCryptographicHash::hash(badStream.mid(148), QCryptographicHash::Sha1));
    QString error;
    const QByteArray unsafeName = UpdatePackage::seal(
        [] {
            QByteArray content;
            QDataStream out(&content, QIODevice::WriteOnly);
            out.setVersion(QDataStream::Qt_5_1);
            out << QStringLiteral("1.0") << quint32(1) << QStringLiteral("html/../../evil.js") << quint32(1) << QByteArray("x");
            return content;
        }(),
        QByteArray(), &error);
    QByteArray absurd = m_package.bytes;
    absurd.replace(153, 4, QByteArray("\xff\xff\xff\x7f", 4));
    absurd.replace(128, 20, QCryptographicHash::hash(absurd.mid(148), QCryptographicHash::Sha1));
    const int size = m_package.bytes.size();

    QTest::newRow("404") << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n") << QByteArray() << false
                         << int(UpdateFailure::Server);
    QTest::newRow("503") << QByteArray("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 4\r\n") << QByteArray("busy")
                         << false << int(UpdateFailure::Server);
    QTest::newRow("206 at the wrong offset") << "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 100-" +
                                                    QByteArray::number(size - 1) + '/' + QByteArray::number(size) +
                                                    "\r\nContent-Length: " + QByteArray::number(size - 100) + "\r\n"
                                             << m_package.bytes.mid(100) << false << int(UpdateFailure::Server);
    QTest::newRow("bad digest") << whole(badDigest) << badDigest << false << int(UpdateFailure::Damaged);
    QTest::newRow("lzma error") << whole(badStream) << badStream << false << int(UpdateFailure::Damaged);
    QTest::newRow("unsafe name") << whole(unsafeName) << unsafeName << false << int(UpdateFailure::Damaged);
    QTest::newRow("absurd size") << whole(absurd) << absurd << false << int(UpdateFailure::Damaged);
    QTest::newRow("package file cannot be written") << whole(m_package.bytes) << m_package.bytes << true
                                                    << int(UpdateFailure::Disk);
}

void TestUpdateDownload::everyFailureIsTold()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, body);
    QFETCH(bool, folderInTheWay);
    QFETCH(int, why);
    ScriptedServer server;
    QVERIFY(server.listen());
    server.replies << ScriptedServer::Reply{head, body, 0};
    m_dir.reset(new QTemporaryDir);
    // A folder where the package file goes fails every write, whoever runs the test.
    if (folderInTheWay)
        QVERIFY(QDir().mkpath(packagePath(server.url()) + QStringLiteral("/held")));

    Download download(server.url(), m_dir->path());
    download.start();
    QTRY_COMPARE_WITH_TIMEOUT(download.outcome.failures, QList<UpdateFailure>{UpdateFailure(why)}, 15000);
    QVERIFY(download.outcome.versions.isEmpty());
    QVERIFY(!QFileInfo::exists(ready()));
    QVERIFY(!QFileInfo::exists(UpdateFolders::temp(m_dir->path(), kHtml)));
}

void TestUpdateDownload::downloadStopsAtItsLimit_data()
{
    QTest::addColumn<FaultServer::Fault>("fault");
    QTest::newRow("endless body without a length") << FaultServer::Fault::Endless;
    QTest::newRow("announced beyond the limit") << FaultServer::Fault::None;
}

void TestUpdateDownload::downloadStopsAtItsLimit()
{
    QFETCH(FaultServer::Fault, fault);
    FaultServer server;
    QVERIFY(server.listen());
    server.setBody(m_package.bytes);
    server.setFault(fault);
    m_dir.reset(new QTemporaryDir);

    Download download(server.url(), m_dir->path());
    download.downloader->setSizeLimit(m_package.bytes.size() - 1);
    download.start();
    QTRY_COMPARE_WITH_TIMEOUT(download.outcome.failures, QList<UpdateFailure>{UpdateFailure::Server}, 15000);
    QVERIFY(download.outcome.versions.isEmpty());
    QVERIFY(!QFileInfo::exists(packagePath(server.url())));
}

// A server that sends faster than the package file takes it is held back by Qt's read buffer:
// memory stays flat while the downloader's thread is busy (a slow disk, simulated by blocking
// that thread).
void TestUpdateDownload::endlessBodyHeldBackWhileTheDiskLags()
{
    const auto residentBytes = [] {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return qint64(-1);
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
        return qint64(-1);
    };
    FaultServer server;
    QVERIFY(server.listen());
    server.setBody(noise(1 << 20, 3));
    server.setFault(FaultServer::Fault::Endless);
    m_dir.reset(new QTemporaryDir);

    Download download(server.url(), m_dir->path());
    download.downloader->setSizeLimit(qint64(4) << 30);
    download.start();
    QTRY_VERIFY_WITH_TIMEOUT(download.outcome.lastGot > 0, 15000);
    const qint64 before = residentBytes();
    QVERIFY(before > 0);
    // The lag itself, not a wait for something: the server goes on sending meanwhile.
    QMetaObject::invokeMethod(download.downloader, [] { QThread::msleep(1500); });
    QTest::qWait(1500);
    const qint64 grown = residentBytes() - before;
    download.downloader->cancel();
    QVERIFY2(grown < 64 << 20, qPrintable(QStringLiteral("%1 MiB more while the disk lagged").arg(grown >> 20)));
}

void TestUpdateDownload::packageFileKeyedOnTheWholeAddress()
{
    m_dir.reset(new QTemporaryDir);
    const QStringList urls{"http://h/v1/html.pkg", "http://h/v2/html.pkg", "http://h/v1/html.pkg?sig=2",
                           "https://h/v1/html.pkg", "http://h/x/ready", "http://h/x/temp", "http://h/"};
    QSet<QString> names;
    for (const QString &url : urls) {
        const QString name = PsUpdateDownloader::packageFileName(url);
        // Never a work folder's name, never a path.
        QVERIFY2(QRegularExpression(QStringLiteral("^package-[0-9a-f]{24}\\.pkg$")).match(name).hasMatch(), qPrintable(name));
        QCOMPARE(PsUpdateDownloader::packageFileName(url), name);
        names.insert(name);
    }
    QCOMPARE(names.size(), urls.size());

    // The bytes of one address are not resumed for another that ends in the same name.
    QVERIFY(writeFile(packagePath(QUrl(urls.at(0))), m_package.bytes.left(204800)));
    QThread idle;
    PsUpdateDownloader other(&idle, urls.at(1), kHtml, m_dir->path());
    QCOMPARE(other.already(), qint64(0));
    QVERIFY(!QFileInfo::exists(packagePath(QUrl(urls.at(0)))));
}

QTEST_GUILESS_MAIN(TestUpdateDownload)
#include "tst_update_download.moc"
