#include "instance_channel.h"

#include "atomic_file.h"
#include "program_locations.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <QStandardPaths>

namespace instance_channel {

QString serverName()
{
    return platform::instanceChannelName(QStringLiteral("Global\\{08EFFF06-0EBE-4F0A-BA97-E9C3E7126F36}"));
}

QByteArray showCommand()
{
    return QStringLiteral("CMD:show;").toLocal8Bit();
}

QByteArray reply(qint64 processId)
{
    return QStringLiteral("RES:%1;").arg(processId).toUtf8();
}

QStringList takeCommands(QByteArray *buffer)
{
    const int end = buffer->lastIndexOf(';');
    if (end < 0)
        return {};
    QStringList commands;
    const QStringList segments = QString::fromLocal8Bit(buffer->left(end)).split(QLatin1Char(';'));
    for (const QString &segment : segments)
        if (segment.startsWith(QLatin1String("CMD:")))
            commands << segment.mid(4);
    // Bytes after the last ";" belong to a command still on its way; kept as bytes, so a
    // character split between two reads survives.
    buffer->remove(0, end + 1);
    return commands;
}

quint64 replyProcessId(const QString &buffer, bool *complete)
{
    static const QRegularExpression pattern(QStringLiteral("RES:(\\d+);"));
    *complete = pattern.match(buffer).hasMatch();
    if (!*complete)
        return 0;
    bool ok = false;
    const quint64 id = buffer.mid(4, buffer.size() - 5).toULongLong(&ok, 10);
    return ok ? id : 0;
}

bool isMainWindowTitle(const QString &title)
{
    static const QRegularExpression pattern(QStringLiteral("^vexa(\\s*\\(\\d+\\))?$"));
    return !title.isEmpty() && title.size() <= 1023 && pattern.match(title).hasMatch();
}

bool heldByAnother(const QString &lockFile)
{
    // flock conflicts between open files, so this also sees a lock of this very process taken
    // through another descriptor; the caller asks only before it holds the lock itself.
    const int fd = ::open(QFile::encodeName(lockFile).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

QString noteFile(const QString &applicationDir)
{
    return applicationDir + QStringLiteral("/vexa.channel");
}

bool writeNote(const QString &applicationDir, const QString &serverName)
{
    return platform::writeFileAtomically(noteFile(applicationDir), QFile::encodeName(serverName));
}

QString notedName(const QString &applicationDir)
{
    QFile file(noteFile(applicationDir));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QString name = QFile::decodeName(file.read(1024));
    const QFileInfo info(name);
    if (!info.isAbsolute())
        return QString();
    struct stat folder {};
    struct stat socketFile {};
    if (::lstat(QFile::encodeName(info.absolutePath()).constData(), &folder) != 0 || !S_ISDIR(folder.st_mode) ||
        folder.st_uid != ::geteuid() || (folder.st_mode & 077) != 0)
        return QString();
    if (::lstat(QFile::encodeName(name).constData(), &socketFile) != 0 || !S_ISSOCK(socketFile.st_mode) ||
        socketFile.st_uid != ::geteuid())
        return QString();
    return name;
}

InstanceServer::InstanceServer(std::function<void()> onShow, QObject *parent)
    : QObject(parent)
    , m_onShow(std::move(onShow))
    , m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    m_retry->setInterval(100);
    connect(m_retry, &QTimer::timeout, this, [this] {
        pauseAccepting(false);
        newInstanceConnected();
    });
}

InstanceServer::~InstanceServer()
{
    delete m_notifier; // before the descriptor it watches goes
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        ::unlink(m_path.constData());
    }
}

bool InstanceServer::listen(const QString &name)
{
    if (m_listenFd >= 0 || name.isEmpty())
        return false;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(name);
    // A name cut to fit would be another name, or an abstract one any user could reach.
    if (size_t(path.size()) >= sizeof address.sun_path || !path.startsWith('/'))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return false;
    }
    if (::chmod(path.constData(), 0600) != 0 || ::listen(fd, kMaxClients) != 0) {
        ::close(fd);
        ::unlink(path.constData());
        return false;
    }
    m_listenFd = fd;
    m_path = path;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InstanceServer::newInstanceConnected);
    return true;
}

// These run at the descriptor limit. The sanitizer's dynamic type check then finds no descriptor
// for its own memory probe and would report every object as broken, so it is left out here.
#if defined(__GNUC__)
#define VEXA_AT_DESCRIPTOR_LIMIT __attribute__((no_sanitize("vptr")))
#else
#define VEXA_AT_DESCRIPTOR_LIMIT
#endif

VEXA_AT_DESCRIPTOR_LIMIT void InstanceServer::pauseAccepting(bool paused)
{
    if (m_notifier)
        m_notifier->setEnabled(!paused);
    if (paused)
        m_retry->start();
}

VEXA_AT_DESCRIPTOR_LIMIT void InstanceServer::newInstanceConnected()
{
    if (m_listenFd < 0)
        return;
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // The connection waits in the backlog; polling meanwhile would only spin.
                pauseAccepting(true);
            }
            return;
        }
        if (m_clients.size() >= kMaxClients)
            drop(m_clients.first().first);
        QLocalSocket *socket = new QLocalSocket(this);
        if (!socket->setSocketDescriptor(fd)) {
            ::close(fd);
            delete socket;
            continue;
        }
        // Qt stops taking bytes off the connection beyond this until they are read.
        socket->setReadBufferSize(kMaxPending);
        m_clients.append(qMakePair(socket, QByteArray()));
        connect(socket, &QLocalSocket::readyRead, this, &InstanceServer::readClients);
        connect(socket, &QLocalSocket::disconnected, this, &InstanceServer::removeClients);
    }
}

void InstanceServer::readClients()
{
    QList<QLocalSocket *> cutOff;
    for (auto &client : m_clients) {
        const QByteArray arrived = client.first->readAll();
        client.second += arrived;
        if (client.second.isEmpty())
            continue;
        // Only the new bytes are looked at: without a ";" among them nothing is complete yet.
        if (!arrived.contains(';')) {
            if (client.second.size() > kMaxPending)
                cutOff << client.first;
            continue;
        }
        const QStringList commands = takeCommands(&client.second);
        for (const QString &command : commands) {
            if (command == QLatin1String("show") && m_onShow)
                m_onShow();
            client.first->write(reply(QCoreApplication::applicationPid()));
        }
        if (client.second.size() > kMaxPending || client.first->bytesToWrite() > kMaxUnsent)
            cutOff << client.first;
    }
    for (QLocalSocket *socket : cutOff)
        drop(socket);
}

void InstanceServer::removeClients()
{
    for (int i = m_clients.size() - 1; i >= 0; --i)
        if (m_clients.at(i).first->state() != QLocalSocket::ConnectedState)
            m_clients.takeAt(i).first->deleteLater(); // one socket per start of a second instance
}

void InstanceServer::drop(QLocalSocket *socket)
{
    for (int i = 0; i < m_clients.size(); ++i) {
        if (m_clients.at(i).first != socket)
            continue;
        m_clients.removeAt(i);
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        return;
    }
}

} // namespace instance_channel
