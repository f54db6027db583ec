// The rules of the installed program's launcher. The package puts a pristine application folder
// under /usr/lib/vexa, which nobody but root may write; the program reads and writes its settings,
// profiles, update packages, logs and dumps inside its own folder. So every user runs a private
// copy, made from the pristine folder on first start and brought up to date when a newer package
// is installed, keeping what belongs to the user (user_files.h says what that is).
#pragma once

#include <QString>

namespace launcher {

// The file in the pristine folder (and, copied, in every user's folder) that names the package
// version it came from: the build writes it, the launcher compares it.
extern const char kPackageStamp[];

// $XDG_DATA_HOME/vexa, or ~/.local/share/vexa when the variable is unset or relative.
QString userFolderLocation();

// Orders two version texts as dpkg does (digits by value, letters before other characters, "~"
// before everything, even the end): negative, zero or positive.
int compareVersions(const QString &a, const QString &b);

struct Preparation {
    enum Result {
        Created,    // first start: the folder was made from the pristine one
        Refreshed,  // a newer package: program files replaced, user files kept, settings merged
        KeptNewer,  // a newer package whose program is older than the folder's own self-update
        UpToDate,   // nothing to do
        Busy,       // a newer package, but vexa runs from the folder: next start
        Failed
    };
    Result result = Failed;
    QString error;
};

// Makes or refreshes user from pristine by the rules above. The caller keeps two launchers of
// the same user apart (holds the launcher lock), so staging folders beside user that a start
// broke off ("vexa.new-*") are left over and go first.
Preparation prepareUserFolder(const QString &pristine, const QString &user);

// The launcher executes what the user's folder holds, so whoever may write there may run code as
// the user. Why path may not be used, in words for the user, or empty when it may:
//   Parent:  the folder holding the copy and the lock ($XDG_DATA_HOME): the user's own, a folder
//            (a link to one is the user's choice), writable by nobody else;
//   Copy:    the copy itself: a real folder of the user's own, closed to everybody else;
//   Package: the installed package's folder the copy is made from: root's or the user's,
//            writable by nobody else.
// For Parent and Package every folder above it counts too (openTrustedFolder).
enum class FolderUse { Parent, Copy, Package };
QString folderRefusal(const QString &path, FolderUse use);

// Opens a folder whose files are run (use: Parent or Package): its links resolved first, then
// walked down from "/" one folder at a time, never through a link, each folder checked through
// the descriptor it was opened as. Every folder above it may be changed by nobody but root and
// the user (one that others may write to only when root owns it and it is sticky, as /tmp):
// otherwise another user could swap a folder on the way between the check and the start. The
// descriptor (O_PATH, closed on exec) with *canonical, the folder's path without links; or -1
// with *refusal.
int openTrustedFolder(const QString &path, FolderUse use, QString *canonical, QString *refusal);
// The copy, named name inside the trusted folder parent, opened without following a link and
// held to the Copy rule; path names it in refusals. The descriptor (O_PATH), or -1 with *refusal.
int openCopy(int parent, const QString &name, const QString &path, QString *refusal);
// The program named name in the copy, opened to execute exactly what was checked (fexecve): a
// regular file of the user's own that nobody else may write and that the user may execute.
// The descriptor (closed on exec), or -1 with *refusal.
int openProgram(int copy, const QString &name, const QString &path, QString *refusal);

// The launcher lock at path (made private when missing), waited for at most timeoutMs; its descriptor (closed on exec), or -1 with *error: a lock file that is not the
// user's own private file, or one that another start holds for longer.
int takeLauncherLock(const QString &path, int timeoutMs, QString *error);

} // namespace launcher
