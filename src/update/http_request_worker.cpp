#include "http_request_worker.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>

#include <cstdlib>

namespace {

const QByteArray crlf("\r\n");

QByteArray formText(const QMap<QString, QString> &fields)
{
    QByteArray text;
    for (auto it = fields.cbegin(); it != fields.cend(); ++it) {
        if (!text.isEmpty())
            text += '&';
        text += QUrl::toPercentEncoding(it.key()) + '=' + QUrl::toPercentEncoding(it.value());
    }
    return text;
}

bool isPlain(unsigned char byte)
{
    return byte >= 0x20 && byte <= 0x7e && byte != '/' && byte != '\\';
}

bool isAsciiAlphanumeric(unsigned char byte)
{
    return (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

} // namespace

HttpRequestSpec::HttpRequestSpec() : method(QStringLiteral("GET")), bodyLayout(Unset) {}

HttpRequestSpec::HttpRequestSpec(const QString &url, const QString &method) : HttpRequestSpec()
{
    this->url = url;
    this->method = method;
}

void HttpRequestSpec::addField(const QString &key, const QString &value)
{
    fields[key] = value;
}

void HttpRequestSpec::addFile(const QString &fieldName, const QString &localPath, const QString &uploadName,
                              const QString &mimeType)
{
    files.append(HttpUploadFile{fieldName, localPath, uploadName, mimeType});
}

HttpRequestWorker::HttpRequestWorker(QObject *parent)
    : QObject(parent), manager(new QNetworkAccessManager(this)), m_timer(new QTimer(this))
{
    connect(manager, SIGNAL(finished(QNetworkReply *)), this, SLOT(on_manager_finished(QNetworkReply *)));
    m_timer->setSingleShot(true);
}

void HttpRequestWorker::setLimits(qint64 maxResponseBytes, int timeoutMs)
{
    m_maxResponseBytes = maxResponseBytes;
    m_timeoutMs = timeoutMs;
}

QString HttpRequestWorker::encodeDispositionParameter(const QString &attributeName, const QString &value)
{
    const QByteArray bytes = value.toUtf8();
    QByteArray plain;
    bool needsExtended = false;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (!isPlain(byte))
            needsExtended = true;
        else if (byte == '"')
            plain += "\\\"";
        else
            plain += c;
    }
    if (plain.isEmpty() || needsExtended) {
        QByteArray extended;
        for (const char c : bytes) {
            const auto byte = static_cast<unsigned char>(c);
            if (isAsciiAlphanumeric(byte))
                extended += c;
            else
                extended += '%' + QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
        }
        return QStringLiteral("%1=\"%2\"; %1*=utf-8''%3")
            .arg(attributeName, QString::fromLatin1(plain), QString::fromLatin1(extended));
    }
    return QStringLiteral("%1=\"%2\"").arg(attributeName, QString::fromLatin1(plain));
}

void HttpRequestWorker::startRequest(HttpRequestSpec &spec)
{
    response.clear();
    errorType = QNetworkReply::NoError;
    errorText.clear();
    responseTooLarge = false;
    m_timedOut = false;
    m_body.clear();

    if (!spec.files.isEmpty())
        spec.bodyLayout = HttpRequestSpec::Multipart;
    else if (spec.bodyLayout == HttpRequestSpec::Unset)
        spec.bodyLayout = (spec.method == QLatin1String("GET") || spec.method == QLatin1String("HEAD"))
                              ? HttpRequestSpec::InQuery
                              : HttpRequestSpec::FormUrlEncoded;

    QByteArray body;
    QByteArray boundary;
    if (spec.bodyLayout == HttpRequestSpec::InQuery || spec.bodyLayout == HttpRequestSpec::FormUrlEncoded) {
        if (!spec.fields.isEmpty())
            body = formText(spec.fields);
        if (spec.bodyLayout == HttpRequestSpec::InQuery) {
            // Always "?", even after a query already in url: callers hand over the bare
            // endpoint and the parameters separately.
            if (!body.isEmpty())
                spec.url += QLatin1Char('?') + QString::fromLatin1(body);
            body.clear();
        }
    } else if (spec.bodyLayout == HttpRequestSpec::Multipart) {
        // Seconds and a random number make a boundary that the parts' content will not contain
        // by chance. (qrand() is gone from Qt 5.15; the global generator is seeded by the system.)
        boundary = "__-----------------------"
                   + QByteArray::number(QDateTime::currentDateTimeUtc().toSecsSinceEpoch())
                   + QByteArray::number(QRandomGenerator::global()->bounded(RAND_MAX));
        for (auto it = spec.fields.cbegin(); it != spec.fields.cend(); ++it) {
            body += "--" + boundary + crlf;
            body += "Content-Disposition: form-data; " + encodeDispositionParameter("name", it.key()).toLatin1() + crlf;
            body += "Content-Type: text/plain" + crlf + crlf;
            body += it.value().toUtf8() + crlf;
        }
        for (HttpUploadFile &upload : spec.files) {
            if (upload.localPath.isEmpty() || upload.fieldName.isEmpty())
                continue;
            const QFileInfo info(upload.localPath);
            if (!info.exists() || !info.isFile() || !info.isReadable())
                continue;
            QFile file(upload.localPath);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            if (upload.uploadName.isEmpty())
                upload.uploadName = info.fileName();
            if (upload.uploadName.isEmpty())
                upload.uploadName = QStringLiteral("file");
            body += "--" + boundary + crlf;
            body += QStringLiteral("Content-Disposition: form-data; %1; %2")
                        .arg(encodeDispositionParameter(QStringLiteral("name"), upload.fieldName),
                             encodeDispositionParameter(QStringLiteral("filename"), upload.uploadName))
                        .toLatin1()
                    + crlf;
            if (!upload.mimeType.isEmpty())
                body += "Content-Type: " + upload.mimeType.toLatin1() + crlf;
            body += "Content-Transfer-Encoding: binary" + crlf + crlf;
            body += file.readAll() + crlf;
        }
        body += "--" + boundary + "--";
    }

    QNetworkRequest request{QUrl(spec.url)};
    request.setRawHeader("User-Agent", "Agent name goes here");
    if (spec.bodyLayout == HttpRequestSpec::FormUrlEncoded)
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/x-www-form-urlencoded"));
    else if (spec.bodyLayout == HttpRequestSpec::Multipart)
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("multipart/form-data; boundary=" + boundary));

    if (spec.method == QLatin1String("GET")) {
        watch(manager->get(request));
    } else if (spec.method == QLatin1String("POST")) {
        watch(manager->post(request, body));
    } else if (spec.method == QLatin1String("PUT")) {
        watch(manager->put(request, body));
    } else if (spec.method == QLatin1String("HEAD")) {
        watch(manager->head(request));
    } else if (spec.method == QLatin1String("DELETE")) {
        watch(manager->deleteResource(request));
    } else {
        // Qt reads a custom request's data while the request is under way, so the device must
        // outlive this call: the reply owns it and takes it along when it is deleted.
        auto *device = new QBuffer;
        device->setData(body);
        device->open(QIODevice::ReadOnly);
        QNetworkReply *reply = manager->sendCustomRequest(request, spec.method.toLatin1(), device);
        device->setParent(reply);
        watch(reply);
    }
}

void HttpRequestWorker::watch(QNetworkReply *reply)
{
    // Read as it arrives, so that no more than the limit is ever held, by us or by Qt.
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { take(reply); });
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > m_maxResponseBytes && !responseTooLarge) {
            responseTooLarge = true;
            reply->abort();
        }
    });
    disconnect(m_timer, &QTimer::timeout, nullptr, nullptr);
    connect(m_timer, &QTimer::timeout, reply, [this, reply] {
        m_timedOut = true;
        reply->abort();
    });
    m_timer->start(m_timeoutMs);
}

void HttpRequestWorker::take(QNetworkReply *reply)
{
    if (responseTooLarge || !reply->isOpen())
        return;
    m_body += reply->read(m_maxResponseBytes + 1 - m_body.size());
    if (m_body.size() > m_maxResponseBytes) {
        responseTooLarge = true;
        m_body = QByteArray();
        reply->abort();
    }
}

void HttpRequestWorker::on_manager_finished(QNetworkReply *reply)
{
    m_timer->stop();
    take(reply);
    errorType = reply->error();
    if (responseTooLarge) {
        errorType = QNetworkReply::UnknownContentError;
        errorText = QStringLiteral("the reply is larger than %1 bytes and was not read").arg(m_maxResponseBytes);
    } else if (m_timedOut) {
        errorType = QNetworkReply::TimeoutError;
        errorText = QStringLiteral("no complete reply within %1 ms").arg(m_timeoutMs);
    } else if (errorType != QNetworkReply::NoError) {
        errorText = reply->errorString();
    } else {
        response = m_body;
    }
    m_body = QByteArray();
    reply->deleteLater();
    emit on_execution_finished(this);
}
