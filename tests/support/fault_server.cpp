#include "fault_server.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

namespace {

// Larger requests are not what a downloader sends; the connection is dropped.
constexpr int maxRequestBytes = 1 << 20;

struct Answer {
    int status = 200;
    QByteArray reason = "OK";
    QByteArray contentRange;
    QByteArray payload;
};

Answer honestAnswer(const QByteArray &body, const QByteArray &range)
{
    static const QRegularExpression pattern(QStringLiteral("^bytes=(\\d+)-(\\d*)$"));
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(range.trimmed()));
    const qint64 size = body.size();
    Answer answer;
    if (!match.hasMatch()) {
        answer.payload = body;
        return answer;
    }
    const qint64 first = match.captured(1).toLongLong();
    qint64 last = match.captured(2).isEmpty() ? size - 1 : match.captured(2).toLongLong();
    if (first >= size) {
        answer.status = 416;
        answer.reason = "Range Not Satisfiable";
        answer.contentRange = "bytes */" + QByteArray::number(size);
        return answer;
    }
    last = qMin(last, size - 1);
    if (last < first) {
        answer.payload = body;
        return answer;
    }
    answer.status = 206;
    answer.reason = "Partial Content";
    answer.contentRange = "bytes " + QByteArray::number(first) + '-' + QByteArray::number(last) + '/'
                          + QByteArray::number(size);
    answer.payload = body.mid(first, last - first + 1);
    return answer;
}

} // namespace

struct FaultServer::Private {
    QThread thread;
    // Lives on the thread; the server and every connection are its children.
    QObject *context = nullptr;
    QTcpServer *server = nullptr;
    QHash<QTcpSocket *, QByteArray> pending;
    QList<QPointer<QTcpSocket>> stalled;

    mutable QMutex mutex;
    quint16 port = 0;
    QByteArray body;
    Fault fault = Fault::None;
    qint64 bodyBytes = 0;
    int times = -1;
    QList<Request> requests;

    void accept();
    void read(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Request &request);
};

QByteArray FaultServer::Request::header(const QByteArray &name) const
{
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return QByteArray();
}

FaultServer::FaultServer() : d(new Private)
{
    d->context = new QObject;
    d->context->moveToThread(&d->thread);
    d->thread.start();
}

FaultServer::~FaultServer()
{
    QObject *context = d->context;
    QMetaObject::invokeMethod(context, [context] { delete context; }, Qt::BlockingQueuedConnection);
    d->thread.quit();
    d->thread.wait();
}

bool FaultServer::listen()
{
    Private *p = d.data();
    bool listening = false;
    QMetaObject::invokeMethod(
        p->context,
        [p, &listening] {
            if (!p->server) {
                p->server = new QTcpServer(p->context);
                QObject::connect(p->server, &QTcpServer::newConnection, p->context, [p] { p->accept(); });
            }
            listening = p->server->isListening() || p->server->listen(QHostAddress::LocalHost, 0);
            QMutexLocker lock(&p->mutex);
            p->port = listening ? p->server->serverPort() : 0;
        },
        Qt::BlockingQueuedConnection);
    return listening;
}

quint16 FaultServer::port() const
{
    QMutexLocker lock(&d->mutex);
    return d->port;
}

QUrl FaultServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
}

void FaultServer::setBody(const QByteArray &body)
{
    QMutexLocker lock(&d->mutex);
    d->body = body;
}

void FaultServer::setFault(Fault fault, qint64 bodyBytes, int times)
{
    QMutexLocker lock(&d->mutex);
    d->fault = fault;
    d->bodyBytes = bodyBytes;
    d->times = times;
}

void FaultServer::releaseStalled()
{
    Private *p = d.data();
    QMetaObject::invokeMethod(
        p->context,
        [p] {
            // A clean close, as a cut ends.
            for (const QPointer<QTcpSocket> &socket : qAsConst(p->stalled)) {
                if (socket)
                    socket->disconnectFromHost();
            }
            p->stalled.clear();
        },
        Qt::BlockingQueuedConnection);
}

QList<FaultServer::Request> FaultServer::requests() const
{
    QMutexLocker lock(&d->mutex);
    return d->requests;
}

bool FaultServer::waitForRequests(int count, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return requests().size() >= count; }, timeoutMs);
}

void FaultServer::Private::accept()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::readyRead, context, [this, socket] { read(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, context, [this, socket] {
            pending.remove(socket);
            socket->deleteLater();
        });
    }
}

void FaultServer::Private::read(QTcpSocket *socket)
{
    if (!pending.contains(socket) && socket->property("answered").toBool()) {
        socket->readAll();
        return;
    }
    QByteArray &buffer = pending[socket];
    buffer += socket->readAll();
    if (buffer.size() > maxRequestBytes) {
        pending.remove(socket);
        socket->abort();
        return;
    }
    const int headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;

    Request request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.append({lines.at(i).left(colon).trimmed(), lines.at(i).mid(colon + 1).trimmed()});
    }
    const qint64 length = request.header("Content-Length").toLongLong();
    if (buffer.size() - (headerEnd + 4) < length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    pending.remove(socket);
    // One request per connection: whatever follows on it is read and dropped.
    socket->setProperty("answered", true);
    answer(socket, request);
}

void FaultServer::Private::answer(QTcpSocket *socket, const Request &request)
{
    Fault chosen;
    qint64 limit;
    QByteArray content;
    {
        QMutexLocker lock(&mutex);
        requests.append(request);
        chosen = times == 0 ? Fault::None : fault;
        if (times > 0)
            --times;
        limit = bodyBytes;
        content = body;
    }

    Answer answer;
    switch (chosen) {
    case Fault::ServerError:
        answer.status = 500;
        answer.reason = "Internal Server Error";
        answer.payload = "the server failed on purpose\n";
        break;
    case Fault::IgnoreRange:
    case Fault::Endless:
        answer.payload = content;
        break;
    case Fault::None:
    case Fault::CutMidBody:
    case Fault::Stall:
        answer = honestAnswer(content, request.header("Range"));
        break;
    }

    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + answer.reason + "\r\n";
    head += "Content-Type: application/octet-stream\r\n";
    head += "Content-Length: " + QByteArray::number(answer.payload.size()) + "\r\n";
    if (!answer.contentRange.isEmpty())
        head += "Content-Range: " + answer.contentRange + "\r\n";
    head += "Connection: close\r\n\r\n";

    const bool headOnly = request.method == "HEAD";
    if (chosen == Fault::Endless) {
        const QByteArray chunk = content.isEmpty() ? QByteArray(64 * 1024, 'x') : content;
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n");
        // Topped up as the client takes it: never more than a few chunks wait in memory.
        auto topUp = [socket, chunk] {
            while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 4 * chunk.size())
                socket->write(chunk);
        };
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, topUp);
        topUp();
        return;
    }
    if (chosen == Fault::CutMidBody || chosen == Fault::Stall) {
        socket->write(head + (headOnly ? QByteArray() : answer.payload.left(limit)));
        if (chosen == Fault::Stall) {
            stalled.append(socket);
            return;
        }
    } else {
        socket->write(head + (headOnly ? QByteArray() : answer.payload));
    }
    // Closes once everything written has gone out.
    socket->disconnectFromHost();
}
