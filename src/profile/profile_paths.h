// Which files the profile commands may read and change: everything they name lies in the
// application folder, and only profiles are written.
#pragma once

#include <QString>

class ProfilePaths {
public:
    // applicationDir: the folder profile paths are relative to, with forward slashes.
    explicit ProfilePaths(const QString &applicationDir);

    QString applicationDir() const { return m_applicationDir; }
    // The file the page's relative path names, as a canonical path (symbolic links resolved), so
    // that every spelling of one file shares one cache entry; the cleaned path when nothing is
    // there. Empty when the path leads out of the application folder, by ".." or by a link.
    QString resolve(const QString &relative) const;
    // Whether a command may change the file (it is written on the next save).
    bool mayChange(const QString &fullPath) const;
    // Whether a profile package may be written to desFilePath, an absolute path.
    bool mayExportTo(const QString &desFilePath) const;

private:
    QString m_applicationDir;
    QString m_cleanApplicationDir;
    QString m_canonicalApplicationDir;
    QString m_settingsFile; // the application's own XML file, written only by the settings
};
