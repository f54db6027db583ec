#include "updater_log.h"

#include <QDateTime>

#include <cstdio>

UpdaterLog::UpdaterLog(const QString &path) : m_file(path)
{
    // Appended to, so the lines of an earlier run that failed are still there to read.
    m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

void UpdaterLog::write(const QString &line)
{
    const QByteArray text =
        (QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + QLatin1Char(' ') + line + QLatin1Char('\n')).toUtf8();
    std::fputs(text.constData(), stderr);
    if (m_file.isOpen()) {
        m_file.write(text);
        m_file.flush();
    }
}
