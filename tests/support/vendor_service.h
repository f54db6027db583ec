// The stand-in vendor service for tests: a real nginx on 127.0.0.1, run from a generated
// configuration in a temporary folder of its own (vendor-service.conf), so it works as root and
// as a normal user and writes nowhere else.
//
//   /api/system/upgrade   the reply set with setUpgradeReply(), whatever the query and method
//                         allow ("{{service}}" in the reply reads as address())
//   /packages/<name>      files placed with placePackage(); Range, 206 and 416 are nginx's own
//   /api/record           takes any method and body and answers 200 "recorded"
//
// Every request leaves one record (requests()): its request line, its Range header and, for
// /api/record, its body and content type. nginx writes the record after the reply has gone out,
// so wait for it with waitForRequests().
//
// nginx is stopped with the object, and also when the test process dies (it is told to end
// with its parent).
#pragma once

#include <QByteArray>
#include <QList>
#include <QScopedPointer>
#include <QString>
#include <QUrl>

class QProcess;
class QTemporaryDir;

struct ServiceRequest {
    QString method;
    // Path and query as sent, percent-encoding untouched.
    QString target;
    QString protocol;
    // The Range header, empty when there was none.
    QString range;
    QString contentType;
    // Text bodies come back exactly; bytes that are not UTF-8 do not survive the log.
    QByteArray body;
    int status = 0;
    qint64 bytesSent = 0;
};

class VendorService {
public:
    VendorService();
    ~VendorService();
    VendorService(const VendorService &) = delete;
    VendorService &operator=(const VendorService &) = delete;

    // The nginx program, or empty when there is none (tests skip then).
    static QString nginxProgram();

    // Starts nginx on port, or on a free port when 0. False with errorString() when nginx is
    // missing, rejects the configuration or does not come up.
    bool start(quint16 port = 0);
    void stop();
    bool isRunning() const;
    QString errorString() const;

    quint16 port() const;
    // "http://127.0.0.1:<port>", the form VEXA_UPDATE_SERVICE takes.
    QString address() const;
    QUrl url(const QString &pathAndQuery) const;
    QUrl upgradeUrl() const;
    QUrl recordUrl() const;

    // Takes effect for the next request; the reply is {"code":1} (nothing newer) until set.
    void setUpgradeReply(const QByteArray &json);
    // Writes the file into the package folder and returns its address.
    QUrl placePackage(const QString &name, const QByteArray &content);
    QString packageFolder() const;
    // The service's own folder: configuration, logs, nginx's temporary folders.
    QString folder() const;

    QList<ServiceRequest> requests() const;
    // Spins the event loop until at least count requests are recorded or timeoutMs has passed.
    bool waitForRequests(int count, int timeoutMs = 5000) const;
    // The lines nginx wrote to its error log, for a failure message.
    QString errorLog() const;

private:
    bool startOnce(quint16 port);

    QScopedPointer<QTemporaryDir> m_dir;
    QScopedPointer<QProcess> m_nginx;
    quint16 m_port = 0;
    QString m_error;
};
