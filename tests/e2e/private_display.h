// A private X server for tests that type on the keyboard: keys sent to a shared display would
// reach other programs' windows, and theirs would reach the test's capture.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QThread>

class PrivateDisplay {
public:
    // Starts Xvfb on a free display number and points DISPLAY at it; false (DISPLAY untouched)
    // when there is no Xvfb or it did not come up. screen: width x height x depth.
    bool start(const QString &screen = QStringLiteral("640x480x24"))
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            return false;
        for (int number = 150; number < 200; ++number) {
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
            if (QFile::exists(socket) || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
                continue;
            m_server.start(xvfb, {QStringLiteral(":%1").arg(number), QStringLiteral("-screen"), QStringLiteral("0"),
                                  screen, QStringLiteral("-nolisten"), QStringLiteral("tcp")});
            if (!m_server.waitForStarted(5000))
                return false;
            for (int i = 0; i < 100 && m_server.state() == QProcess::Running; ++i) {
                if (QFile::exists(socket)) {
                    m_previous = qgetenv("DISPLAY");
                    qputenv("DISPLAY", QStringLiteral(":%1").arg(number).toLatin1());
                    m_active = true;
                    return true;
                }
                QThread::msleep(50);
            }
            stop();
        }
        return false;
    }

    void stop()
    {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.terminate();
            if (!m_server.waitForFinished(5000))
                m_server.kill();
            m_server.waitForFinished(1000);
        }
        if (m_active)
            qputenv("DISPLAY", m_previous);
        m_active = false;
    }

    ~PrivateDisplay() { stop(); }

private:
    QProcess m_server;
    QByteArray m_previous;
    bool m_active = false;
};
