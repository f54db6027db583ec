// mkupdate: packs a folder into an update package.
//
//   mkupdate [--sign KEYFILE] [--prefix NAME] --version VERSION FOLDER OUTPUT
//
// Every regular file below FOLDER goes in as NAME/<its path below FOLDER>; unpacking drops NAME.
// KEYFILE holds an Ed25519 secret key in libsodium's 64-byte form as 128 hex digits; a program
// built with the matching public key (VEXA_UPDATE_PUBKEY) unpacks only packages signed with it.
#include "atomic_file.h"
#include "package_writer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

constexpr int kBadInput = 1;
constexpr int kBadUsage = 2;

int failWith(int code, const QString &message)
{
    std::fprintf(stderr, "mkupdate: %s\n", qUtf8Printable(message));
    return code;
}

bool readSecretKey(const QString &path, QByteArray *key, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the key file %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray hex = file.readAll().trimmed();
    const bool allHex = std::all_of(hex.cbegin(), hex.cend(), [](char c) { return std::isxdigit(uchar(c)); });
    if (!allHex || hex.size() != 2 * UpdatePackage::kSecretKeySize) {
        *error = QStringLiteral("%1 does not hold a secret key (%2 hex digits)")
                     .arg(path)
                     .arg(2 * UpdatePackage::kSecretKeySize);
        return false;
    }
    *key = QByteArray::fromHex(hex);
    return true;
}

// Every regular file below folder, sorted by name so that the same folder gives the same package.
bool collect(const QString &givenFolder, const QString &prefix, QVector<UpdatePackage::Entry> *entries, QString *error)
{
    // QDir gives a relative path back unchanged when asked for it relative to a relative folder:
    // only absolute paths make names that start below the folder.
    const QString folder = QDir(givenFolder).absolutePath();
    const QDir root(folder);
    QStringList paths;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isDir() && !info.isSymLink())
            continue;
        // A link to a folder is not walked and a broken link or a device has no content to pack;
        // leaving them out silently would ship a package short of what the vendor sees.
        if (!info.isFile()) {
            *error = QStringLiteral("%1 is not a regular file (a link to a folder, a broken link or a device)").arg(path);
            return false;
        }
        paths.append(path);
    }
    paths.sort();
    for (const QString &path : qAsConst(paths)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
            return false;
        }
        UpdatePackage::Entry entry{prefix + QLatin1Char('/') + root.relativeFilePath(path), file.readAll()};
        if (file.error() != QFileDevice::NoError || entry.content.size() != file.size()) {
            *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
            return false;
        }
        entries->append(entry);
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mkupdate"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Packs every file below FOLDER into the update package OUTPUT."));
    parser.addHelpOption();
    const QCommandLineOption versionOption(QStringLiteral("version"),
                                           QStringLiteral("The package version the program reports once unpacked."),
                                           QStringLiteral("VERSION"));
    const QCommandLineOption prefixOption(QStringLiteral("prefix"),
                                          QStringLiteral("First name component of every file, dropped on unpacking."),
                                          QStringLiteral("NAME"), QStringLiteral("package"));
    const QCommandLineOption signOption(QStringLiteral("sign"),
                                        QStringLiteral("Sign with the Ed25519 secret key in KEYFILE (128 hex digits)."),
                                        QStringLiteral("KEYFILE"));
    parser.addOptions({versionOption, prefixOption, signOption});
    parser.addPositionalArgument(QStringLiteral("FOLDER"), QStringLiteral("The files to pack."));
    parser.addPositionalArgument(QStringLiteral("OUTPUT"), QStringLiteral("The package file to write."));
    parser.process(app);

    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 2)
        return failWith(kBadUsage, QStringLiteral("expected FOLDER and OUTPUT (see --help)"));
    const QString version = parser.value(versionOption);
    if (version.isEmpty())
        return failWith(kBadUsage, QStringLiteral("--version is required"));
    const QString prefix = parser.value(prefixOption);
    if (prefix.isEmpty() || prefix.contains(QLatin1Char('/')) || prefix.contains(QLatin1Char('\\')))
        return failWith(kBadUsage, QStringLiteral("--prefix must be one name without '/' or '\\'"));
    const QString folder = arguments.at(0);
    const QString output = arguments.at(1);

    QString error;
    QByteArray secretKey;
    if (parser.isSet(signOption) && !readSecretKey(parser.value(signOption), &secretKey, &error))
        return failWith(kBadInput, error);
    if (!QFileInfo(folder).isDir())
        return failWith(kBadInput, QStringLiteral("%1 is not a folder").arg(folder));
    QVector<UpdatePackage::Entry> entries;
    if (!collect(folder, prefix, &entries, &error))
        return failWith(kBadInput, error);
    if (entries.isEmpty())
        return failWith(kBadInput, QStringLiteral("%1 holds no files").arg(folder));

    const QByteArray package = UpdatePackage::build(version, entries, secretKey, &error);
    if (package.isEmpty())
        return failWith(kBadInput, error);
    // Never a half-written package at OUTPUT: the file appears whole or not at all.
    if (!platform::writeFileAtomically(output, package, &error))
        return failWith(kBadInput, error);

    std::printf("%s: %d files, %d bytes, version %s, %s\n", qUtf8Printable(output), entries.size(), package.size(),
                qUtf8Printable(version), secretKey.isEmpty() ? "unsigned" : "signed");
    return 0;
}
