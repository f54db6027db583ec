#include "vendor_service.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// nginx runs in the foreground as our child; should the test die without stopping it, the
// kernel sends it SIGTERM, so no server outlives a crashed test.
class ChildProcess : public QProcess {
protected:
    void setupChildProcess() override { ::prctl(PR_SET_PDEATHSIG, SIGTERM); }
};

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &content)
{
    // Whole or not at all: nginx may be reading the reply while a test replaces it.
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit();
}

} // namespace

VendorService::VendorService() : m_dir(new QTemporaryDir(QDir::tempPath() + QStringLiteral("/vexa-vendor-XXXXXX")))
{
    QDir(m_dir->path()).mkpath(QStringLiteral("packages"));
    setUpgradeReply(R"({"code":1})");
}

VendorService::~VendorService()
{
    stop();
}

QString VendorService::nginxProgram()
{
    const QString inPath = QStandardPaths::findExecutable(QStringLiteral("nginx"));
    if (!inPath.isEmpty())
        return inPath;
    // A normal user's PATH often lacks the sbin folders.
    return QStandardPaths::findExecutable(QStringLiteral("nginx"),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
}

bool VendorService::start(quint16 port)
{
    stop();
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("no temporary folder: %1").arg(m_dir->errorString());
        return false;
    }
    if (port != 0)
        return startOnce(port);
    // A free port can be taken by someone else between our probe and nginx's bind; try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const quint16 candidate = freePort();
        if (candidate != 0 && startOnce(candidate))
            return true;
    }
    return false;
}

bool VendorService::startOnce(quint16 port)
{
    const QString program = nginxProgram();
    if (program.isEmpty()) {
        m_error = QStringLiteral("nginx is not installed");
        return false;
    }
    const QString prefix = m_dir->path();
    // The recording endpoint's socket path must fit sockaddr_un.
    if ((prefix + QStringLiteral("/record.sock")).toLocal8Bit().size() >= 100) {
        m_error = QStringLiteral("the temporary folder %1 is too deep for a socket path").arg(prefix);
        return false;
    }
    QByteArray config = readAll(QStringLiteral(VEXA_VENDOR_SERVICE_CONF));
    if (config.isEmpty()) {
        m_error = QStringLiteral("cannot read %1").arg(QStringLiteral(VEXA_VENDOR_SERVICE_CONF));
        return false;
    }
    config.replace("@USER@", ::geteuid() == 0 ? "user root;" : "");
    config.replace("@PREFIX@", QFile::encodeName(prefix));
    config.replace("@PORT@", QByteArray::number(port));
    config.replace("@REPLY@", QFile::encodeName(prefix + QStringLiteral("/reply.json")));
    config.replace("@PACKAGES@", QFile::encodeName(packageFolder()));
    const QString configPath = prefix + QStringLiteral("/nginx.conf");
    if (!writeAll(configPath, config)) {
        m_error = QStringLiteral("cannot write %1").arg(configPath);
        return false;
    }
    QFile::remove(prefix + QStringLiteral("/access.log"));
    QFile::remove(prefix + QStringLiteral("/error.log"));

    m_nginx.reset(new ChildProcess);
    m_nginx->setProgram(program);
    m_nginx->setArguments({QStringLiteral("-p"), prefix + QLatin1Char('/'), QStringLiteral("-c"), configPath,
                           QStringLiteral("-e"), prefix + QStringLiteral("/error.log"), QStringLiteral("-g"),
                           QStringLiteral("daemon off;")});
    // Into a file, never a pipe nobody reads: a full pipe would stall the server.
    m_nginx->setProcessChannelMode(QProcess::MergedChannels);
    m_nginx->setStandardOutputFile(prefix + QStringLiteral("/nginx.out"));
    m_nginx->start();
    if (!m_nginx->waitForStarted(5000)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(program, m_nginx->errorString());
        m_nginx.reset();
        return false;
    }

    // Up once it accepts a connection; a configuration or bind error ends the process instead.
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(200)) {
            m_port = port;
            return true;
        }
        if (m_nginx->waitForFinished(50))
            break;
    }
    m_error = QStringLiteral("nginx did not come up on port %1: %2").arg(port).arg(errorLog());
    stop();
    return false;
}

void VendorService::stop()
{
    if (m_nginx) {
        if (m_nginx->state() != QProcess::NotRunning) {
            // SIGTERM: nginx's fast shutdown; the master takes its workers along.
            m_nginx->terminate();
            if (!m_nginx->waitForFinished(5000)) {
                m_nginx->kill();
                m_nginx->waitForFinished(5000);
            }
        }
        m_nginx.reset();
    }
    m_port = 0;
}

bool VendorService::isRunning() const
{
    return m_nginx && m_nginx->state() == QProcess::Running;
}

QString VendorService::errorString() const
{
    return m_error;
}

quint16 VendorService::port() const
{
    return m_port;
}

QString VendorService::address() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QUrl VendorService::url(const QString &pathAndQuery) const
{
    return QUrl(address() + pathAndQuery);
}

QUrl VendorService::upgradeUrl() const
{
    return url(QStringLiteral("/api/system/upgrade"));
}

QUrl VendorService::recordUrl() const
{
    return url(QStringLiteral("/api/record"));
}

void VendorService::setUpgradeReply(const QByteArray &json)
{
    writeAll(m_dir->path() + QStringLiteral("/reply.json"), json);
}

QUrl VendorService::placePackage(const QString &name, const QByteArray &content)
{
    writeAll(packageFolder() + QLatin1Char('/') + name, content);
    return url(QStringLiteral("/packages/") + QString::fromLatin1(QUrl::toPercentEncoding(name)));
}

QString VendorService::packageFolder() const
{
    return m_dir->path() + QStringLiteral("/packages");
}

QString VendorService::folder() const
{
    return m_dir->path();
}

QList<ServiceRequest> VendorService::requests() const
{
    QList<ServiceRequest> requests;
    const QList<QByteArray> lines = readAll(m_dir->path() + QStringLiteral("/access.log")).split('\n');
    for (const QByteArray &line : lines) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        if (record.isEmpty())
            continue;
        ServiceRequest request;
        const QStringList requestLine = record.value(QStringLiteral("request")).toString().split(QLatin1Char(' '));
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        request.protocol = requestLine.value(2);
        request.range = record.value(QStringLiteral("range")).toString();
        request.contentType = record.value(QStringLiteral("contentType")).toString();
        request.body = record.value(QStringLiteral("body")).toString().toUtf8();
        request.status = record.value(QStringLiteral("status")).toInt();
        request.bytesSent = record.value(QStringLiteral("bytesSent")).toVariant().toLongLong();
        requests.append(request);
    }
    return requests;
}

bool VendorService::waitForRequests(int count, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return requests().size() >= count; }, timeoutMs);
}

QString VendorService::errorLog() const
{
    return QString::fromLocal8Bit(readAll(m_dir->path() + QStringLiteral("/error.log"))
                                  + readAll(m_dir->path() + QStringLiteral("/nginx.out")));
}
