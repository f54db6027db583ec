#include "instance_channel.h"

#include "program_locations.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
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

InstanceServer::InstanceServer(std::function<void()> onShow, QObject *parent)
    : QObject(parent)
    , m_onShow(std::move(onShow))
    , m_server(new QLocalServer(this))
{
    connect(m_server, &QLocalServer::newConnection, this, &InstanceServer::newInstanceConnected);
}

InstanceServer::~InstanceServer() = default;

bool InstanceServer::listen(const QString &name)
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    return m_server->listen(name);
}

bool InstanceServer::isListening() const
{
    return m_server->isListening();
}

void InstanceServer::newInstanceConnected()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        m_clients.append(qMakePair(socket, QByteArray()));
        connect(socket, &QLocalSocket::readyRead, this, &InstanceServer::readClients);
        connect(socket, &QLocalSocket::disconnected, this, &InstanceServer::removeClients);
    }
}

void InstanceServer::readClients()
{
    for (auto &client : m_clients) {
        client.second += client.first->readAll();
        if (client.second.isEmpty())
            continue;
        const QStringList commands = takeCommands(&client.second);
        for (const QString &command : commands) {
            if (command == QLatin1String("show") && m_onShow)
                m_onShow();
            client.first->write(reply(QCoreApplication::applicationPid()));
        }
    }
}

void InstanceServer::removeClients()
{
    for (int i = m_clients.size() - 1; i >= 0; --i)
        if (m_clients.at(i).first->state() != QLocalSocket::ConnectedState)
            m_clients.takeAt(i).first->deleteLater(); // one socket per start of a second instance
}

} // namespace instance_channel
