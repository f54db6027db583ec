#include "update_texts.h"

#include "update_folders.h"
#include "update_kinds.h"

#include <QDir>

namespace UpdateTexts {

QString packageName(const QString &kind)
{
    if (kind == UpdateKinds::kClient)
        return QStringLiteral("The new version of vexa");
    if (kind == UpdateKinds::kHtml)
        return QStringLiteral("The new pages");
    return QStringLiteral("The new firmware");
}

QString downloading()
{
    return QStringLiteral("Downloading package resources。。。");
}

// Things the folder of vexa (or the disk) has to do with, a package that is not what it says, and
// the network or the server.
QString downloadFailed(const QString &kind, UpdateFailure why, const QString &applicationDir)
{
    switch (why) {
    case UpdateFailure::Network:
        return QStringLiteral("%1 could not be downloaded: please check the network.").arg(packageName(kind));
    case UpdateFailure::Server:
        return QStringLiteral("%1 could not be downloaded: the update server did not deliver it. Please try again later.")
            .arg(packageName(kind));
    case UpdateFailure::Damaged:
        return QStringLiteral("%1 arrived damaged and was thrown away. Retry downloads it again.").arg(packageName(kind));
    case UpdateFailure::Disk:
        return QStringLiteral("%1 could not be saved in %2: please check that the disk has free space.")
            .arg(packageName(kind), QDir::toNativeSeparators(UpdateFolders::root(applicationDir)));
    }
    return QString();
}

QString noWebAddress(const QString &kind)
{
    return QStringLiteral("The update offer is not valid: it gives no web address for %1. Please try again later.")
        .arg(packageName(kind).toLower());
}

QString offerWithoutPackage()
{
    return QStringLiteral("The update offer names no package to download. Please try again later.");
}

QString clientManagedBySystem()
{
    return QStringLiteral("This installation is managed by the system's package manager: please update "
                          "vexa with it. vexa keeps running as it is.");
}

QString clientNotInstallable(const QString &why)
{
    return QStringLiteral("The new version of vexa cannot be installed: %1. vexa keeps running as it is.").arg(why);
}

QString installerWriteProtected(const QString &installerPath)
{
    return QStringLiteral("The new version of vexa cannot be installed: %1 may not be changed. vexa keeps "
                          "running as it is.")
        .arg(QDir::toNativeSeparators(installerPath));
}

QString clientNotPrepared(const QString &applicationDir)
{
    return QStringLiteral("The new version of vexa could not be prepared for installation in %1. Retry "
                          "downloads it again.")
        .arg(QDir::toNativeSeparators(applicationDir));
}

QString clientReady()
{
    return QStringLiteral("The new version of vexa is ready to be installed.");
}

QString pageNotInstalled(const QString &failedFile)
{
    if (failedFile.isEmpty())
        return QStringLiteral("The new pages were not installed. Retry finishes the installation.");
    return QStringLiteral("The new pages were not installed: %1 is not accessible. Retry finishes the "
                          "installation.")
        .arg(QDir::toNativeSeparators(failedFile));
}

QString pageFileStuck(const QString &file)
{
    return QStringLiteral("Failed to update vexa :(\n%1 is not accessible.").arg(QDir::toNativeSeparators(file));
}

QString firmwareHeldBack()
{
    return QStringLiteral("The new firmware was not written to the pad, because the new pages it "
                          "needs are not installed.");
}

QString noPadLibrary()
{
    return QStringLiteral("The new firmware cannot be written: the pad's library is not loaded.");
}

QString loaderMissing(const QString &flashOutcome)
{
    return flashOutcome + QStringLiteral("\nThe pad did not start its update mode. Reconnect it and choose Retry.");
}

QString firmwareNotAccepted(const QString &flashOutcome)
{
    return flashOutcome + QStringLiteral("\nThe pad did not accept the new firmware. Keep it connected and "
                                         "choose Retry to write it again.");
}

} // namespace UpdateTexts
