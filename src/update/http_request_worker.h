// One HTTP request to the vendor service, described by a plain record and answered by a signal.
// The body travels in one of four layouts: parameters in the query, a url-encoded form, a
// multipart form with files, or nothing.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QNetworkReply>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QTimer;

struct HttpUploadFile {
    QString fieldName;
    QString localPath;
    // Announced to the server; empty means the file-name part of localPath.
    QString uploadName;
    // Empty sends no Content-Type for the part.
    QString mimeType;
};

class HttpRequestSpec {
public:
    enum BodyLayout { Unset, InQuery, FormUrlEncoded, Multipart };

    HttpRequestSpec();
    HttpRequestSpec(const QString &url, const QString &method);

    // The same key twice keeps the last value.
    void addField(const QString &key, const QString &value);
    void addFile(const QString &fieldName, const QString &localPath, const QString &uploadName = QString(),
                 const QString &mimeType = QString());

    QString url;
    // Compared exactly: "get" is a custom verb, not GET.
    QString method;
    BodyLayout bodyLayout;
    // A map, so fields always go out in ascending key order (UTF-16 code units), whatever order
    // the caller added them in.
    QMap<QString, QString> fields;
    // A non-empty list forces the multipart layout, even when every entry turns out unusable.
    QList<HttpUploadFile> files;
};

// Serves one request: create it, connect on_execution_finished, call startRequest once, read the
// members in the handler. The reply is read on the thread that created the worker.
class HttpRequestWorker : public QObject {
    Q_OBJECT

public:
    // The service answers with a small JSON object; anything larger is not an answer, and must
    // not cost the program its memory.
    static constexpr qint64 kDefaultMaxResponseBytes = 64 * 1024;
    static constexpr int kDefaultTimeoutMs = 30000;

    explicit HttpRequestWorker(QObject *parent = nullptr);

    // For the next startRequest: a reply past maxResponseBytes is aborted (responseTooLarge), and
    // a request that has not ended after timeoutMs is aborted as QNetworkReply::TimeoutError.
    void setLimits(qint64 maxResponseBytes, int timeoutMs);

    // Decides the layout and, for the query layout, appends the parameters to spec.url; the
    // caller may drop spec as soon as this returns.
    void startRequest(HttpRequestSpec &spec);

    // A Content-Disposition parameter such as name="abc". Bytes outside printable ASCII, and "/"
    // and "\", are left out of the quoted form; when any was left out, or nothing is left, the
    // RFC 5987 form attribute*=utf-8''… follows it with every byte but letters and digits escaped.
    static QString encodeDispositionParameter(const QString &attributeName, const QString &value);

    // The body of a successful reply; empty after an error, even when the server sent one.
    QByteArray response;
    // QNetworkReply::NoError (0) on success; HTTP error statuses count as errors.
    QNetworkReply::NetworkError errorType = QNetworkReply::NoError;
    QString errorText;
    // The reply went past the size limit and was not read; errorType is not 0 then.
    bool responseTooLarge = false;

signals:
    // Once per request, after response, errorType and errorText hold its outcome.
    void on_execution_finished(HttpRequestWorker *worker);

private slots:
    void on_manager_finished(QNetworkReply *reply);

private:
    void watch(QNetworkReply *reply);
    void take(QNetworkReply *reply);

    QNetworkAccessManager *manager;
    QTimer *m_timer;
    qint64 m_maxResponseBytes = kDefaultMaxResponseBytes;
    int m_timeoutMs = kDefaultTimeoutMs;
    QByteArray m_body;
    bool m_timedOut = false;
};
