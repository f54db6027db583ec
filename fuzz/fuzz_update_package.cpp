// A downloaded update package. The first byte picks how much of the frame the input is: 0, the
// whole file; 1, the file from its LZMA properties on, framed here with the digest so the
// decoder and the list behind it are reached; 2, the decompressed content, compressed and framed
// here; 3, one file name as the list carries it. Unpacking writes only into a folder of the
// private one.
#include "fuzz_support.h"
#include "update_package.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QtEndian>

#include <lzma.h>

namespace {

// The vendor's writer compresses with its default preset, whose encoder takes ~100 MB per call;
// the smallest preset makes the same format at a fraction of the cost.
QByteArray compressed(const QByteArray &content)
{
    lzma_options_lzma options;
    fuzz::require(!lzma_lzma_preset(&options, 0), "the LZMA preset exists");
    const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    QByteArray header(9, '\0');
    fuzz::require(lzma_properties_encode(&filters[0], reinterpret_cast<uint8_t *>(header.data())) == LZMA_OK,
                  "the LZMA properties encode");
    qToLittleEndian<qint32>(content.size(), header.data() + 5);
    QByteArray stream(int(content.size() + content.size() / 2 + 1024), '\0');
    size_t written = 0;
    fuzz::require(lzma_raw_buffer_encode(filters, nullptr, reinterpret_cast<const uint8_t *>(content.constData()),
                                         size_t(content.size()), reinterpret_cast<uint8_t *>(stream.data()),
                                         &written, size_t(stream.size())) == LZMA_OK,
                  "the content compresses");
    return header + stream.left(int(written));
}

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
    case 2:
        unpackAndCheck(framed(compressed(input)));
        break;
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
