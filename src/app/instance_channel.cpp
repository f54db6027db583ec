#include "instance_channel.h"

#include "program_locations.h"

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

} // namespace instance_channel
