// The files of an application folder that hold the user's own data, and the rules every package
// follows with them, whoever puts the package in place (the launcher from the installed package,
// the installer from a client package, the update dialog from a page package):
//
// - a package may add a user file the user does not have yet, and never replaces the user's copy;
// - a package's settings file is merged into the user's (mergeSettings), never put over it.
//
// Paths are relative to the application folder, with "/".
#pragma once

#include <QByteArray>
#include <QString>

namespace userFiles {

// The settings file: the `client` element's settings and the device catalogue.
extern const char kSettingsFile[];

// The profile template the page resets profiles from: the page's own, so every package brings
// its own.
extern const char kProfileTemplate[];

// The settings file, the mode bindings (view/xml/configuration.xml) and every profile under
// view/profiles/ but the template.
bool isUserFile(const QString &relativePath);

// Whether a package must leave relativePath in applicationDir as it is: a user file that the
// user has (a link counts, even one that leads nowhere). The settings file is such a file too;
// whoever installs a package's settings file merges it instead (mergeSettings).
bool keepsUsersCopy(const QString &relativePath, const QString &applicationDir);

// The user's settings file brought up to a package's: every setting of the package's `client`
// element the user lacks is added, every catalogue entry (`conf` by "deviceId") the user lacks
// too; the user's values and entries stay, except "version", which names the program and so
// becomes the package's. False when the user's text does not parse (merged is then untouched).
bool mergeSettings(const QByteArray &userConf, const QByteArray &packageConf, QByteArray *merged);

enum class VersionRecord {
    Recorded, // the settings file names version now
    NotKept,  // the file keeps no client version (no "version" on `client`, or an empty one)
    Failed    // the file is missing, does not parse or cannot be written; it is unchanged
};

// Records version as the installed client's in applicationDir's settings file, where the file
// keeps one; the file is replaced as a whole or not at all. why: the reason of a failure.
VersionRecord setClientVersion(const QString &applicationDir, const QString &version, QString *why = nullptr);

} // namespace userFiles
