// A private X server for tests that type on the keyboard: keys sent to a shared display would
// reach other programs' windows, and theirs would reach the test's capture.
#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QString>

class PrivateDisplay {
public:
    // Starts Xvfb on a free display number and points DISPLAY at it; false (DISPLAY untouched)
    // when there is no Xvfb or it did not come up. screen: width x height x depth. Xvfb picks the
    // number itself and writes it out once it takes connections: it knows a stale lock (its
    // process gone) from a live one, which a look at /tmp cannot.
    bool start(const QString &screen = QStringLiteral("640x480x24"))
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            return false;
        m_server.setReadChannel(QProcess::StandardOutput);
        m_server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                              screen, QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!m_server.waitForStarted(5000))
            return false;
        QByteArray number;
        while (!number.endsWith('\n') && m_server.waitForReadyRead(10000))
            number += m_server.readAll();
        number = number.trimmed();
        if (number.isEmpty()) {
            stop();
            return false;
        }
        m_previous = qgetenv("DISPLAY");
        qputenv("DISPLAY", ":" + number);
        m_active = true;
        return true;
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
