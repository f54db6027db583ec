// A downloaded update package. The first byte picks how much of the frame the input is: 0, the
// whole file; 1, the file from its LZMA properties on, framed here with the digest so the
// decoder and the list behind it are reached; 2, the decompressed content, sealed here; 3, one
// file name as the list carries it. Unpacking writes only into a folder of the private one.
#include "fuzz_support.h"
#include "update_package.h"

#include <QCryptographicHash>
#include <QDirIterator>

namespace {

QByteArray framed(const QByteArray &fromProperties)
{
    const QByteArray digest = QCryptographicHash::hash(fromProperties, QCryptographicHash::Sha1);
    return QByteArray(128, '\0') + digest + fromProperties;
}

void unpackAndCheck(const QByteArray &package)
{
    const QString dir = fuzz::privateDir() + QStringLiteral("/unpacked");
    QString version;
    UpdatePackage::Failure failure;
    const bool unpacked = UpdatePackage::unpack(package, dir, QByteArray(), &version, &failure);
    fuzz::require(unpacked || !failure.message.isEmpty(), "a refused package says why");
    if (unpacked) {
        const QString root = QDir(dir).canonicalPath() + QLatin1Char('/');
        QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            fuzz::require(QFileInfo(it.next()).canonicalFilePath().startsWith(root), "files land in the folder");
    }
    QDir(dir).removeRecursively();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input = fuzz::bytes(data + 1, size - 1);
    switch (data[0] % 4) {
    case 0:
        unpackAndCheck(input);
        break;
    case 1:
        unpackAndCheck(framed(input));
        break;
    case 2: {
        QString error;
        const QByteArray package = UpdatePackage::seal(input, QByteArray(), &error);
        fuzz::require(!package.isEmpty() || !error.isEmpty(), "a refused seal says why");
        if (!package.isEmpty())
            unpackAndCheck(package);
        break;
    }
    default: {
        const QString name = QString::fromUtf8(input);
        const QString target = UpdatePackage::targetOf(name);
        if (!target.isEmpty()) {
            fuzz::require(!QDir::isAbsolutePath(target), "a target is relative");
            const QString clean = QDir::cleanPath(target);
            fuzz::require(clean == target && clean != QLatin1String("..") && !clean.startsWith(QLatin1String("../")),
                          "a target stays below the folder");
        }
        break;
    }
    }
    return 0;
}
