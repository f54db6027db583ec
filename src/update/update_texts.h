// What the update dialog tells the user when a step of an offer fails: each text says what went
// wrong in words that say what to do about it (retry, check the network or the disk, use the
// system's package manager). Kept apart from the flow so that the wording is read in one place.
#pragma once

#include "pspecific_wnd.h"

#include <QString>

namespace UpdateTexts {

// How the user knows each package kind in a sentence ("The new pages").
QString packageName(const QString &kind);

// The progress page's line while packages download (again, after Retry).
QString downloading();

// A downloader gave up: the network, the server, a damaged package or the disk.
QString downloadFailed(const QString &kind, UpdateFailure why, const QString &applicationDir);
// The offer gave no http(s) address for kind.
QString noWebAddress(const QString &kind);
// The offer named kinds but no package address at all.
QString offerWithoutPackage();

// The client package arrived but cannot be installed over this installation.
QString clientManagedBySystem();
QString clientNotInstallable(const QString &why);
QString installerWriteProtected(const QString &installerPath);
QString clientNotPrepared(const QString &applicationDir);
// Said beside other failures when the client package waits for the installer all the same.
QString clientReady();

// The page package could not be put in place; failedFile empty when it could not be read.
QString pageNotInstalled(const QString &failedFile);
// Asked while a page file stays unwritable: Retry or Cancel.
QString pageFileStuck(const QString &file);

QString firmwareHeldBack();
QString noPadLibrary();
// A flash's own outcome line followed by what to do about it.
QString loaderMissing(const QString &flashOutcome);
QString firmwareNotAccepted(const QString &flashOutcome);

} // namespace UpdateTexts
