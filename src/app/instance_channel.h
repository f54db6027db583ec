// The single-instance channel's wire rules: "CMD:<name>;" from a new instance, "RES:<pid>;" back
// from the running one, over a local socket whose name both find the same way.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;
class QLocalSocket;

namespace instance_channel {

// The channel's name. On Windows this is the whole name; elsewhere it becomes a socket file in
// the user's private runtime folder, so the instances of two users never meet.
QString serverName();

QByteArray showCommand();              // "CMD:show;"
QByteArray reply(qint64 processId);    // "RES:<pid>;"

// Takes every complete segment out of *buffer and returns the names of its "CMD:" commands, in
// order; text after the last ";" stays for the next read.
QStringList takeCommands(QByteArray *buffer);

// The running instance's process id once *buffer holds a whole reply: *complete tells whether it
// does; the id is 0 when the reply cannot be read as a number.
quint64 replyProcessId(const QString &buffer, bool *complete);

// Whether a window title names the program's main window.
bool isMainWindowTitle(const QString &title);

// The running instance's side: listens under the channel's name, answers every "CMD:" command
// of a new instance with "RES:<pid>;" and calls onShow for "show".
class InstanceServer : public QObject {
    Q_OBJECT
public:
    explicit InstanceServer(std::function<void()> onShow, QObject *parent = nullptr);
    ~InstanceServer() override;

    bool listen(const QString &name);
    bool isListening() const;
    int clientCount() const { return m_clients.size(); }

public slots:
    void newInstanceConnected();
    void readClients();
    void removeClients();

private:
    std::function<void()> m_onShow;
    QLocalServer *m_server;
    // Accepted connections (owned by the server) with their bytes not yet processed.
    QList<QPair<QLocalSocket *, QByteArray>> m_clients;
};

} // namespace instance_channel
