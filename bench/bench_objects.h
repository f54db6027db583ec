// The native ends of the bench pages (moc reads this header; the bench's page scripts, kept as
// raw strings in the source file, would confuse it there).
#pragma once

#include <QObject>
#include <QStringList>

// What the pages report back besides replies.
struct PageSignals {
    QStringList done;
    bool has(const QString &name) const { return done.contains(name); }
};

// Native wall-clock time in milliseconds since the epoch, with microseconds, as text.
QString epochMsText();
// The bench reply to a request: the native time for "time", else the request itself.
QString echoOf(const QString &request);

// Bare: one echo object on QtWebEngine's web channel.
class EchoObject : public QObject {
    Q_OBJECT
public:
    explicit EchoObject(PageSignals *sink) : m_sink(sink) {}
public slots:
    void ping(const QString &request) { emit pong(echoOf(request)); }
    void query(const QString &context, double id, const QString &request, bool /*persistent*/)
    {
        emit reply(context, id, true, 0, echoOf(request));
    }
    void done(const QString &name) { m_sink->done << name; }
signals:
    void pong(const QString &text);
    void reply(const QString &context, double id, bool success, int code, const QString &text);
    void deviceData(const QString &payload);

private:
    PageSignals *m_sink;
};
