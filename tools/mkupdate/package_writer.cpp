#include "package_writer.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QtEndian>

#include <lzma.h>
#include <sodium.h>

#include <algorithm>

namespace UpdatePackage {

namespace {

const uint8_t *bytes(const char *data)
{
    return reinterpret_cast<const uint8_t *>(data);
}

} // namespace

QByteArray seal(const QByteArray &content, const QByteArray &secretKey, QString *error)
{
    const auto refuse = [error](const QString &message) {
        if (error)
            *error = message;
        return QByteArray();
    };
    if (!secretKey.isEmpty() && secretKey.size() != kSecretKeySize)
        return refuse(QStringLiteral("the secret key has %1 bytes instead of %2").arg(secretKey.size()).arg(kSecretKeySize));
    if (content.size() > kMaxContentSize)
        return refuse(QStringLiteral("the content has %1 bytes, more than a reader accepts (%2)")
                          .arg(content.size())
                          .arg(kMaxContentSize));

    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, LZMA_PRESET_DEFAULT))
        return refuse(QStringLiteral("the LZMA preset is not supported"));
    options.dict_size = std::min<uint32_t>(options.dict_size, std::max<uint32_t>(uint32_t(content.size()), LZMA_DICT_SIZE_MIN));
    const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};

    // Raw LZMA1 has no bound on its output; start a little above the input and grow.
    QByteArray package(kHeaderSize + content.size() + content.size() / 16 + 4096, '\0');
    lzma_stream stream = LZMA_STREAM_INIT;
    lzma_ret ret = lzma_raw_encoder(&stream, filters);
    if (ret != LZMA_OK)
        return refuse(QStringLiteral("cannot start the LZMA encoder, code: %1").arg(int(ret)));
    stream.next_in = bytes(content.constData());
    stream.avail_in = size_t(content.size());
    size_t written = 0;
    while (ret == LZMA_OK) {
        if (written == size_t(package.size() - kHeaderSize))
            package.resize(package.size() + package.size() / 4);
        stream.next_out = reinterpret_cast<uint8_t *>(package.data()) + kHeaderSize + written;
        stream.avail_out = size_t(package.size() - kHeaderSize) - written;
        ret = lzma_code(&stream, LZMA_FINISH);
        written = size_t(stream.total_out);
    }
    lzma_end(&stream);
    if (ret != LZMA_STREAM_END)
        return refuse(QStringLiteral("cannot compress the content, code: %1").arg(int(ret)));
    package.resize(kHeaderSize + int(written));

    // The header is put together apart and copied in whole: the reserved bytes stay zero unless
    // signed, and the digest covers the properties and size as well as the stream.
    char header[kHeaderSize] = {};
    if (lzma_properties_encode(&filters[0], reinterpret_cast<uint8_t *>(header + kPropertiesOffset)) != LZMA_OK)
        return refuse(QStringLiteral("cannot encode the LZMA properties"));
    qToLittleEndian<qint32>(content.size(), header + kSizeOffset);
    package.replace(0, kHeaderSize, header, kHeaderSize);
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray::fromRawData(package.constData() + kPropertiesOffset, package.size() - kPropertiesOffset),
        QCryptographicHash::Sha1);
    package.replace(kDigestOffset, kDigestSize, digest);

    if (!secretKey.isEmpty()) {
        uint8_t signature[kSignatureSize];
        if (sodium_init() < 0
            || crypto_sign_detached(signature, nullptr, bytes(package.constData() + kDigestOffset),
                                    size_t(package.size() - kDigestOffset), bytes(secretKey.constData()))
                != 0)
            return refuse(QStringLiteral("cannot sign the package"));
        package.replace(0, kSignatureSize, reinterpret_cast<const char *>(signature), kSignatureSize);
    }
    return package;
}

QByteArray build(const QString &version, const QVector<Entry> &entries, const QByteArray &secretKey, QString *error)
{
    const auto refuse = [error](const QString &message) {
        if (error)
            *error = message;
        return QByteArray();
    };
    if (entries.isEmpty())
        return refuse(QStringLiteral("no files to pack"));
    // QString: 4-byte length + UTF-16; quint32: 4; QByteArray: 4-byte length + bytes.
    qint64 size = 4 + 2 * qint64(version.size()) + 4;
    for (const Entry &entry : entries) {
        if (targetOf(entry.name).isEmpty())
            return refuse(QStringLiteral("the name '%1' would not be unpacked: it needs a prefix and a relative "
                                         "path without empty, '.', '..', ':' or device parts and without '\\'")
                              .arg(entry.name));
        size += 4 + 2 * qint64(entry.name.size()) + 4 + 4 + entry.content.size();
    }
    if (size > kMaxContentSize)
        return refuse(QStringLiteral("the files take %1 bytes, more than a reader accepts (%2)").arg(size).arg(kMaxContentSize));

    QByteArray content;
    content.reserve(int(size));
    QDataStream out(&content, QIODevice::WriteOnly);
    out.setVersion(kStreamVersion);
    out << version << quint32(entries.size());
    for (const Entry &entry : entries)
        out << entry.name << quint32(entry.content.size()) << entry.content;
    if (out.status() != QDataStream::Ok)
        return refuse(QStringLiteral("cannot serialise the file list"));
    return seal(content, secretKey, error);
}

} // namespace UpdatePackage
