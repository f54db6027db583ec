// A page package put over view/ as a whole or not at all.
//
// Every file the package replaces is kept in tupdates/html/backup (a hard link where the file
// system has them, a copy elsewhere) until the last file is in. Before the first change in view/
// the whole plan goes into a journal (tupdates/html/install.journal): which files the package
// replaces, which it adds and which folders it makes. An installation that does not finish is
// rolled back from the backups, every file and folder the package added taken away, by the
// installation itself after a failure or a cancel, or, when the program was killed or crashed
// on the way, from the journal at the next start (recoverInterrupted). The journal goes first
// once everything is in, so a journal on disk always means "not finished".
//
// The user's own files (user_files.h) are only added where the user has none.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class PageInstall {
public:
    // Installs tupdates/html/ready below applicationDir into its view/.
    explicit PageInstall(const QString &applicationDir);

    static QString journalPath(const QString &applicationDir);
    static QString backupFolder(const QString &applicationDir);

    // Lists everything and writes the journal; nothing in view/ has changed yet. An installation
    // an earlier run left unfinished is rolled back first. False when a folder cannot be read,
    // the journal cannot be written or the earlier one cannot be undone; *stuck then names the
    // file in the way (empty when it is the package that cannot be read).
    bool list(QString *stuck);

    enum class Outcome { Done, FolderRefused, FileStuck };
    // From the first file not yet in on. *stuck: the folder or file that could not be written.
    Outcome run(QString *stuck);

    // Puts back every replaced file and removes what the package added; the journal goes only
    // when all of that worked (else the next start tries again). False when something stayed.
    bool rollBack();

    // Every file is in: the journal goes, then the backups.
    void commit();

    // The page files the package put in place, relative to view/ (the user's kept files left out).
    QStringList installedFiles() const;

    enum class Recovery { Nothing, RolledBack, Failed };
    // At start, before the page loads: rolls back an installation that a kill or a crash cut
    // short, and drops its ready folder (the package file is gone, so the next offer fetches it
    // again). *why: what could not be put back, for the log.
    static Recovery recoverInterrupted(const QString &applicationDir, QString *why = nullptr);

private:
    // What stood where a package file goes before the installation began.
    enum class Prior { Unknown, Kept, Absent };
    struct Copy {
        QString relative;
        QString source;
        QString target;
        QString backup;
        bool existed = false;
        Prior prior = Prior::Unknown;
    };

    bool keepOld(Copy &copy);
    bool writeJournal(QString *why) const;

    QString m_applicationDir;
    QString m_source;
    QString m_target;
    QString m_backups;
    // Folders to make, relative to view/, in order; those that were missing when listed.
    QStringList m_folders;
    QStringList m_missingFolders;
    QList<Copy> m_copies;
    QStringList m_createdFolders;
    int m_foldersMade = 0;
    int m_copied = 0;
};
