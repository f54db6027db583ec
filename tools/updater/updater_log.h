// updater.log in the application folder: what the installer did and why it stopped. Each line is
// written through at once, so a line stays even if the installer is killed right after it.
#pragma once

#include <QFile>
#include <QString>

class UpdaterLog {
public:
    explicit UpdaterLog(const QString &path);
    void write(const QString &line);

private:
    QFile m_file;
};
