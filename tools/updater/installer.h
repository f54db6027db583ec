// Installs a ready folder over the application folder: every file, or none.
//
// Each file of the ready folder replaces the file at the same relative path. The new content is
// written beside the target under a temporary name and renamed over it, so a target is always
// either the old or the new file, never a half-written one; the old file is kept beside it until
// every file is in place. When one file cannot be replaced, every file already replaced gets its
// old content back, and folders made for new files are removed again.
//
// Names are checked before anything changes: links in the ready folder, and targets that would
// end up outside the application folder (through a link in it), stop the whole installation.
// The installer's own files (vexa.lock, updater.log) and tupdates/ are never replaced.
//
// The user's files (user_files.h) that the folder has are kept as they are; the package's
// settings file is merged into the user's instead, and that merge is put in place, and rolled
// back, like any other file. A file the folder lacks comes in with the ready copy's mode, plus
// the execute bits when its content is a program or a script, which the unpacker cannot know.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class Installer {
public:
    using Log = std::function<void(const QString &)>;

    Installer(const QString &applicationDir, const QString &readyDir, Log log);

    // Files go in in the order of their relative paths. False with error() set when nothing
    // changed in the end (refused, or rolled back).
    bool install();
    QString error() const { return m_error; }
    int installedCount() const { return m_installed; }

private:
    struct Item {
        QString relative;
        QString source;
        QString target;
        QString temporary;
        QString backup;
        // The user's settings merged with the package's, written instead of the source.
        QByteArray mergedSettings;
        bool merged = false;
        bool targetExisted = false;
        bool written = false;
        bool backedUp = false;
        bool replaced = false;
    };

    bool plan();
    // False when the user's copy of item stays, and item is not to be installed.
    bool takeUsersFileIntoAccount(Item &item);
    bool isInsideApplicationDir(const QString &target) const;
    bool makeParentFolders(const Item &item);
    bool replace(Item &item);
    void rollBack();
    void removeLeftovers(bool installed);

    QString m_applicationDir;
    QString m_canonicalApplicationDir;
    QString m_readyDir;
    Log m_log;
    QList<Item> m_items;
    QStringList m_createdFolders;
    QString m_error;
    int m_installed = 0;
};
