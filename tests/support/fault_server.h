// A small HTTP server that misbehaves on purpose, for download tests: the faults a real
// network and real servers produce, on demand and on 127.0.0.1. It serves one body at every
// path and runs on a thread of its own, so it answers even while the test's thread blocks.
//
//   None         an honest server: 200, or 206 for "Range: bytes=N-" / "bytes=N-M", 416 for a
//                range that starts at or past the end
//   IgnoreRange  200 with the whole body whatever the Range header says
//   CutMidBody   honest headers, then bodyBytes of the body, then the connection closes
//   Stall        honest headers, then bodyBytes of the body, then nothing until
//                releaseStalled() or the server goes away
//   ServerError  500 with a short text body
//   Endless      200 without a length, then the body over and over until the client goes
//
// Every answer closes its connection. A fault can be limited to the next few requests, after
// which the server is honest again (a download that fails once and is resumed).
//
// Measured with Qt 5.15: when the connection closes before the declared Content-Length, the
// reply ends with RemoteHostClosedError, or with NoError and the body short (a stalled answer
// released later: about half the time; a cut: about one time in three). Only the byte count
// tells a cut body from a whole one. When it ends with NoError, Qt also sends the same request
// once more on its own and drops the answer, so the server counts one request more.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QScopedPointer>
#include <QUrl>

class FaultServer {
public:
    enum class Fault { None, IgnoreRange, CutMidBody, Stall, ServerError, Endless };

    struct Request {
        QByteArray method;
        QByteArray target;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        // The value of the first header of that name (case-insensitive); empty when absent.
        QByteArray header(const QByteArray &name) const;
    };

    FaultServer();
    ~FaultServer();
    FaultServer(const FaultServer &) = delete;
    FaultServer &operator=(const FaultServer &) = delete;

    // Listens on 127.0.0.1 at a free port.
    bool listen();
    quint16 port() const;
    QUrl url(const QString &path = QStringLiteral("/package.bin")) const;

    void setBody(const QByteArray &body);
    // times: how many of the next requests get the fault; -1 for all of them.
    void setFault(Fault fault, qint64 bodyBytes = 0, int times = -1);
    // Ends the stalled answers by closing their connections.
    void releaseStalled();

    QList<Request> requests() const;
    // Spins the event loop until at least count requests have arrived or timeoutMs has passed.
    bool waitForRequests(int count, int timeoutMs = 5000) const;

private:
    struct Private;
    QScopedPointer<Private> d;
};
