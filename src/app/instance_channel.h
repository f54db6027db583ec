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

class QLocalSocket;
class QSocketNotifier;
class QTimer;

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

// Whether another process holds the flock on lockFile (the running lock of an application
// folder): false when nobody does or the file is missing.
bool heldByAnother(const QString &lockFile);

// Two starts of one folder may find different channel names (another runtime folder, when
// names in the shared temporary folder were taken), so the running instance notes its name in
// <applicationDir>/vexa.channel for the others.
QString noteFile(const QString &applicationDir);
bool writeNote(const QString &applicationDir, const QString &serverName);
// The noted name when it is a socket file in a folder of this user that nobody else may enter;
// empty otherwise (no note, or a name that another user could answer on).
QString notedName(const QString &applicationDir);

// The running instance's side: listens under the channel's name, answers every "CMD:" command
// of a new instance with "RES:<pid>;" and calls onShow for "show".
//
// It must stay up for the program's whole life, whatever its clients do: at most kMaxClients
// connections are kept (a new one pushes out the oldest), a client that sends more than
// kMaxPending bytes without a ";" or does not read its replies is cut off, and when accept()
// fails (the process at its descriptor limit) the server pauses and tries again instead of
// closing, as QLocalServer would; a closed server would let the next start become a second
// primary instance.
class InstanceServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxClients = 16;
    static constexpr int kMaxPending = 4096;
    static constexpr int kMaxUnsent = 64 * 1024;

    explicit InstanceServer(std::function<void()> onShow, QObject *parent = nullptr);
    ~InstanceServer() override;

    // name: an absolute socket file path whose folder only this user may enter.
    bool listen(const QString &name);
    bool isListening() const { return m_listenFd >= 0; }
    int clientCount() const { return m_clients.size(); }

public slots:
    void newInstanceConnected();
    void readClients();
    void removeClients();

private:
    void drop(QLocalSocket *socket);
    // While accept() cannot get a descriptor: stop watching the socket and look again shortly.
    void pauseAccepting(bool paused);

    std::function<void()> m_onShow;
    int m_listenFd = -1;
    QByteArray m_path;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_retry = nullptr;
    // Accepted connections (children of this object) with their bytes not yet processed.
    QList<QPair<QLocalSocket *, QByteArray>> m_clients;
};

} // namespace instance_channel
