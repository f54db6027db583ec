// Whether the installer (Updater, started as the program ends) could put a client package in
// place, asked while there is still someone to tell: once the program has ended, the installer
// has nobody to ask for more rights, and a program started with more rights would run as root.
#pragma once

#include <QString>

// Whether the installer, run as this user, could replace the program's files in applicationDir:
// the folder takes new files (a file is made there and removed again), and every file the
// installer would replace is writable (the files directly in the folder, and those of a client
// package waiting in tupdates/client/ready, with every folder it writes into). The answer comes
// from the system (access(2), the trial file), not from mode bits, which do not bind root. why:
// the first obstacle, for the user.
bool applicationFolderWritable(const QString &applicationDir, QString *why = nullptr);

// Whether applicationDir is the Debian package's own folder: /usr/lib/vexa, or a folder whose
// program dpkg lists as the package's (dpkgList). Such a folder changes only with the package;
// an update of its own would be undone by the next package, or would fight it. Reads only.
bool installedByPackageManager(const QString &applicationDir,
                               const QString &dpkgList = QStringLiteral("/var/lib/dpkg/info/vexa.list"));
