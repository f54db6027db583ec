// What the update installed, kept for later starts and checks, since the vendor service hears
// only the client version:
//
// - A client package handed to the installer: its version and what its files hold
//   (tupdates/client/installing.json). The next start records the version once those files are
//   in place, whoever put them there: an installer that knows no "-version" records nothing.
// - The page package installed last: its address, its digest and what the files it put into
//   view/ hold (page-package.json in the application folder). An offer of exactly that package
//   is not made again while view/ still holds those files; a page that came any other way (a
//   newer system package, a rollback) makes the record void.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace InstallRecords {

QString clientNotePath(const QString &applicationDir);
QString pageRecordPath(const QString &applicationDir);

// Notes tupdates/client/ready as version before the installer starts. False when there is
// nothing to note (no version, or no file of the package that the installer would put in place
// as it is).
bool noteClientPackage(const QString &applicationDir, const QString &version);
void forgetClientPackage(const QString &applicationDir);

enum class ClientInstall {
    None,         // no client package was handed to an installer
    Recorded,     // its files are in place; *version is the settings' client version now
    NotKept,      // its files are in place; the settings keep no client version
    Waiting,      // not in place, and the ready folder is still there (kept for a later start)
    NotInstalled, // not in place and nothing left to install: the note is dropped
    Failed        // in place, but the settings could not be written (*why; kept for a later start)
};
// At start, while this program holds the running lock (so no installer of ours is at work).
ClientInstall confirmClientInstall(const QString &applicationDir, QString *version, QString *why = nullptr);

// Records the page package at address with digest (its SHA-1 as the package carries it) whose
// files, relative to view/, are in place now. False when the record could not be written.
bool recordPagePackage(const QString &applicationDir, const QString &address, const QByteArray &digest,
                       const QStringList &files);
// The digest of the recorded page package when it came from address and view/ still holds its
// files as installed; empty otherwise.
QByteArray installedPageDigest(const QString &applicationDir, const QString &address);

} // namespace InstallRecords
