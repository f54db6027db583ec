#include "install_records.h"

#include "atomic_file.h"
#include "update_folders.h"
#include "update_kinds.h"
#include "user_files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace InstallRecords {

namespace {

// A record is a few lines; anything larger was not written by us.
constexpr qint64 kMaxRecordBytes = 1 << 20;

QByteArray sha1Of(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!hash.addData(&file))
        return QByteArray();
    return hash.result();
}

QJsonObject readRecord(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxRecordBytes)
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool writeRecord(const QString &path, const QJsonObject &record)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    return platform::writeFileAtomically(path, QJsonDocument(record).toJson());
}

// What the installer puts in place as the package has it: neither the user's files (kept or
// merged) nor its own (the lock, its log, tupdates/).
bool installedAsItIs(const QString &relative)
{
    return !userFiles::isUserFile(relative) && relative != QLatin1String("vexa.lock")
           && relative != QLatin1String("updater.log") && relative != QLatin1String("tupdates")
           && !relative.startsWith(QLatin1String("tupdates/"));
}


// One digest over the names and contents of files below folder, in the order given; empty when
// one of them cannot be read.
QByteArray contentDigest(const QString &folder, const QStringList &files)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const QString &relative : files) {
        if (!UpdateFolders::isCleanRelativePath(relative))
            return QByteArray();
        const QByteArray digest = sha1Of(folder + QLatin1Char('/') + relative);
        if (digest.isEmpty())
            return QByteArray();
        hash.addData(relative.toUtf8());
        hash.addData("\0", 1);
        hash.addData(digest);
    }
    return hash.result();
}

} // namespace

QString clientNotePath(const QString &applicationDir)
{
    return UpdateFolders::kindFolder(applicationDir, UpdateKinds::kClient) + QStringLiteral("/installing.json");
}

QString pageRecordPath(const QString &applicationDir)
{
    return applicationDir + QStringLiteral("/page-package.json");
}

bool noteClientPackage(const QString &applicationDir, const QString &version)
{
    const QString ready = UpdateFolders::ready(applicationDir, UpdateKinds::kClient);
    if (version.isEmpty() || !QFileInfo(ready).isDir())
        return false;
    QJsonObject files;
    QDirIterator walk(ready, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QFileInfo entry(walk.next());
        const QString relative = QDir(ready).relativeFilePath(entry.filePath());
        if (entry.isSymLink() || !installedAsItIs(relative))
            continue;
        const QByteArray digest = sha1Of(entry.filePath());
        if (digest.isEmpty())
            return false;
        files.insert(relative, QString::fromLatin1(digest.toHex()));
    }
    if (files.isEmpty())
        return false;
    return writeRecord(clientNotePath(applicationDir),
                       QJsonObject{{QStringLiteral("version"), version}, {QStringLiteral("files"), files}});
}

void forgetClientPackage(const QString &applicationDir)
{
    QFile::remove(clientNotePath(applicationDir));
}

ClientInstall confirmClientInstall(const QString &applicationDir, QString *version, QString *why)
{
    const QString notePath = clientNotePath(applicationDir);
    if (!QFileInfo::exists(notePath))
        return ClientInstall::None;
    const QJsonObject note = readRecord(notePath);
    const QString noted = note.value(QStringLiteral("version")).toString();
    const QJsonObject files = note.value(QStringLiteral("files")).toObject();
    if (noted.isEmpty() || files.isEmpty()) {
        QFile::remove(notePath);
        return ClientInstall::NotInstalled;
    }
    bool inPlace = true;
    for (auto it = files.constBegin(); it != files.constEnd() && inPlace; ++it)
        inPlace = UpdateFolders::isCleanRelativePath(it.key())
                  && sha1Of(applicationDir + QLatin1Char('/') + it.key()).toHex() == it.value().toString().toLatin1();
    if (!inPlace) {
        if (QFileInfo::exists(UpdateFolders::ready(applicationDir, UpdateKinds::kClient)))
            return ClientInstall::Waiting;
        QFile::remove(notePath);
        return ClientInstall::NotInstalled;
    }
    *version = noted;
    QString reason;
    switch (userFiles::setClientVersion(applicationDir, noted, &reason)) {
    case userFiles::VersionRecord::Recorded:
        QFile::remove(notePath);
        return ClientInstall::Recorded;
    case userFiles::VersionRecord::NotKept:
        QFile::remove(notePath);
        return ClientInstall::NotKept;
    case userFiles::VersionRecord::Failed:
        break;
    }
    if (why)
        *why = reason;
    return ClientInstall::Failed;
}

bool recordPagePackage(const QString &applicationDir, const QString &address, const QByteArray &digest,
                       const QStringList &files)
{
    // The user's files change with the user: what the package added of them says nothing about
    // which page is in place.
    QStringList pageFiles;
    for (const QString &file : files)
        if (!userFiles::isUserFile(QStringLiteral("view/") + file))
            pageFiles << file;
    const QByteArray content = contentDigest(applicationDir + QStringLiteral("/view"), pageFiles);
    if (address.isEmpty() || digest.isEmpty() || content.isEmpty()) {
        // An older record would name a page that is no longer there.
        QFile::remove(pageRecordPath(applicationDir));
        return false;
    }
    return writeRecord(pageRecordPath(applicationDir),
                       QJsonObject{{QStringLiteral("address"), address},
                                   {QStringLiteral("digest"), QString::fromLatin1(digest.toHex())},
                                   {QStringLiteral("files"), QJsonArray::fromStringList(pageFiles)},
                                   {QStringLiteral("content"), QString::fromLatin1(content.toHex())}});
}

QByteArray installedPageDigest(const QString &applicationDir, const QString &address)
{
    const QJsonObject record = readRecord(pageRecordPath(applicationDir));
    if (address.isEmpty() || record.value(QStringLiteral("address")).toString() != address)
        return QByteArray();
    QStringList files;
    for (const QJsonValue &file : record.value(QStringLiteral("files")).toArray())
        files << file.toString();
    const QByteArray content = contentDigest(applicationDir + QStringLiteral("/view"), files);
    if (content.isEmpty() || content.toHex() != record.value(QStringLiteral("content")).toString().toLatin1())
        return QByteArray();
    return QByteArray::fromHex(record.value(QStringLiteral("digest")).toString().toLatin1());
}

} // namespace InstallRecords
