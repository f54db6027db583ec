#include "update_package.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtEndian>

#include <lzma.h>
#include <sodium.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace UpdatePackage {

namespace {

constexpr int kMinPackageSize = kHeaderSize + 1;
constexpr quint32 kNullArray = 0xffffffffu;

// Line numbers of the downloader's log tags. The texts and lines of the original reader are kept
// (the vendor's support matches on them); failures it did not have sit next to their relatives.
enum Line {
    LineTooShort = 290,
    LineDigest = 317,
    LineSignature = 319,
    LineContentSize = 333,
    LineLzma = 335,
    LineLzmaShort = 337,
    LineTempDir = 345,
    LineVersion = 351,
    LineCount = 362,
    LineEmpty = 366,
    LineReadFile = 376,
    LineFileSize = 380,
    LineUnsafeName = 405,
    LineOutside = 406,
    LineOpen = 407,
    LineWrite = 412,
};

bool fail(Failure *failure, int line, const QString &message, Failure::Cause cause = Failure::Damaged)
{
    if (failure)
        *failure = {line, message, cause};
    return false;
}

bool diskFailure(Failure *failure, int line, const QString &message)
{
    return fail(failure, line, message, Failure::Disk);
}

// Work between two looks at the cancel flag: a few tens of milliseconds of decoding, hashing or
// writing on a slow machine.
constexpr qint64 kStep = 2 << 20;

bool cancelled(const std::atomic<bool> *cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

bool stopped(Failure *failure)
{
    return fail(failure, 0, QString(), Failure::Cancelled);
}

const uint8_t *bytes(const char *data)
{
    return reinterpret_cast<const uint8_t *>(data);
}

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

bool signatureHolds(const QByteArray &package, const QByteArray &publicKey)
{
    // A key of the wrong length is a build mistake; it must not open the door.
    if (publicKey.size() != kPublicKeySize || !sodiumReady())
        return false;
    const char *data = package.constData();
    // The signature does not cover the reserved bytes, so nothing may hide in them either.
    if (std::any_of(data + kSignatureSize, data + kDigestOffset, [](char c) { return c != 0; }))
        return false;
    return crypto_sign_verify_detached(bytes(data), bytes(data + kDigestOffset), size_t(package.size() - kDigestOffset),
                                       bytes(publicKey.constData()))
        == 0;
}

// Decodes exactly outSize bytes; LZMA_OK, or the code the log reports.
lzma_ret decode(const char *properties, const char *in, size_t inSize, char *out, size_t outSize,
               const std::atomic<bool> *cancel, bool *wasCancelled)
{
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_ret ret = lzma_properties_decode(&filters[0], nullptr, bytes(properties), kPropertiesSize);
    if (ret != LZMA_OK)
        return ret;
    const std::unique_ptr<lzma_options_lzma, void (*)(void *)> options(
        static_cast<lzma_options_lzma *>(filters[0].options), std::free);
    // Matches never reach further back than the output goes, so a larger dictionary would only
    // be memory that the header asks for.
    options->dict_size = std::min<uint32_t>(options->dict_size, std::max<uint32_t>(uint32_t(outSize), LZMA_DICT_SIZE_MIN));

    lzma_stream stream = LZMA_STREAM_INIT;
    ret = lzma_raw_decoder(&stream, filters);
    if (ret != LZMA_OK)
        return ret;
    stream.next_in = bytes(in);
    stream.avail_in = inSize;
    stream.next_out = reinterpret_cast<uint8_t *>(out);
    // Output is offered a step at a time, so a cancel is seen between steps. A stream cut short
    // keeps answering LZMA_OK for a few calls without progress before LZMA_BUF_ERROR, so only a
    // full output counts as success; the end marker, if any, after it is never read.
    size_t left = outSize;
    while (ret == LZMA_OK && left > 0) {
        if (cancelled(cancel)) {
            *wasCancelled = true;
            break;
        }
        const size_t step = std::min<size_t>(left, size_t(kStep));
        stream.avail_out = step;
        ret = lzma_code(&stream, LZMA_FINISH);
        left -= step - stream.avail_out;
    }
    const size_t missing = left;
    lzma_end(&stream);
    if (missing == 0)
        return LZMA_OK;
    if (ret == LZMA_STREAM_END)
        return LZMA_DATA_ERROR; // an end marker before the declared size
    return ret == LZMA_OK ? LZMA_BUF_ERROR : ret;
}

// One file of the list; its content stays where it is in the decoded buffer.
struct ListedFile {
    QString name;
    quint32 declaredSize = 0;
    qint64 offset = 0;
    quint32 length = 0;
};

QDataStream::Status readFile(QDataStream &in, qint64 contentSize, ListedFile *file)
{
    quint32 length = 0;
    in >> file->name >> file->declaredSize >> length;
    if (in.status() != QDataStream::Ok)
        return in.status();
    if (length == kNullArray)
        length = 0;
    file->offset = in.device()->pos();
    if (length > contentSize - file->offset)
        return QDataStream::ReadPastEnd;
    file->length = length;
    in.skipRawData(int(length));
    return QDataStream::Ok;
}

// Creates tempDir and writes the listed files into it; the list has been read and checked whole.
bool writeFiles(const QByteArray &content, qint64 listStart, quint32 count, const QString &tempDir, Failure *failure,
                const std::atomic<bool> *cancel)
{
    const QFileInfo temp(tempDir);
    if (!QDir().mkpath(temp.absolutePath()) || !QDir().mkdir(tempDir))
        return diskFailure(failure, LineTempDir, QStringLiteral("Update Error: cant create temp dir '%1'").arg(tempDir));
    const QString root = QFileInfo(tempDir).canonicalFilePath() + QLatin1Char('/');
    const QDir dir(tempDir);

    QDataStream in(content);
    in.setVersion(kStreamVersion);
    in.device()->seek(listStart);
    QString checkedFolder;
    for (quint32 i = 0; i < count; ++i) {
        ListedFile file;
        readFile(in, content.size(), &file);
        const QString relative = targetOf(file.name);
        const QString shown = tempDir + QLatin1Char('/') + file.name;
        const int slash = relative.lastIndexOf(QLatin1Char('/'));
        if (slash > 0) {
            const QString folder = relative.left(slash);
            if (!dir.mkpath(folder))
                return diskFailure(failure, LineOpen,
                                   QStringLiteral("Update Error: cant open file '%1' for writing").arg(shown));
            // The names cannot climb out, but a link inside temp could still lead elsewhere.
            if (folder != checkedFolder) {
                if (!QFileInfo(dir.filePath(folder)).canonicalFilePath().append(QLatin1Char('/')).startsWith(root))
                    return fail(failure, LineOutside,
                                QStringLiteral("Update Error: cant open file '%1' for writing").arg(shown));
                checkedFolder = folder;
            }
        }
        QFile out(dir.filePath(relative));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return diskFailure(failure, LineOpen,
                               QStringLiteral("Update Error: cant open file '%1' for writing").arg(shown));
        for (qint64 written = 0; written < file.length;) {
            if (cancelled(cancel))
                return stopped(failure);
            const qint64 step = std::min<qint64>(kStep, file.length - written);
            if (out.write(content.constData() + file.offset + written, step) != step)
                return diskFailure(failure, LineWrite, QStringLiteral("Update Error: cant write file '%1'").arg(shown));
            written += step;
        }
        out.close();
        if (out.error() != QFileDevice::NoError)
            return diskFailure(failure, LineWrite, QStringLiteral("Update Error: cant write file '%1'").arg(shown));
    }
    return true;
}

// Windows opens a device, not a file, for these names whatever the folder or extension
// ("view/nul.txt" writes nowhere, "com1.js" to a serial port).
bool isWindowsDevice(const QStringRef &part)
{
    static const QRegularExpression device(QStringLiteral("^(con|prn|aux|nul|com[1-9]|lpt[1-9])(\\..*)?$"),
                                           QRegularExpression::CaseInsensitiveOption);
    return device.match(part.trimmed()).hasMatch();
}

} // namespace

QString targetOf(const QString &name)
{
    if (name.startsWith(QLatin1Char('/')))
        return {};
    if (std::any_of(name.cbegin(), name.cend(), [](QChar c) { return c == QLatin1Char('\\') || c.unicode() < 0x20; }))
        return {};
    const int slash = name.indexOf(QLatin1Char('/'));
    if (slash < 0)
        return {};
    const QString relative = name.mid(slash + 1);
    const QVector<QStringRef> parts = relative.splitRef(QLatin1Char('/'));
    for (const QStringRef &part : parts) {
        if (part.isEmpty() || part.contains(QLatin1Char(':')) || part.endsWith(QLatin1Char('.'))
            || part.endsWith(QLatin1Char(' ')) || isWindowsDevice(part))
            return {};
    }
    // Already implied by the parts; kept so that loosening them can never let a name climb out.
    const QString base = QStringLiteral("/temp/");
    if (!QDir::cleanPath(base + relative).startsWith(base))
        return {};
    return relative;
}

QByteArray vendorPublicKey()
{
    // Set at configure time (VEXA_UPDATE_PUBKEY, hex); empty when the build has no vendor key.
    return QByteArray::fromHex(VEXA_UPDATE_PUBKEY);
}

bool unpack(const QByteArray &package, const QString &tempDir, QString *version, Failure *failure,
            const std::atomic<bool> *cancel)
{
    return unpack(package, tempDir, vendorPublicKey(), version, failure, cancel);
}

bool unpack(const QByteArray &package, const QString &tempDir, const QByteArray &publicKey, QString *version,
            Failure *failure, const std::atomic<bool> *cancel)
{
    if (package.size() < kMinPackageSize)
        return fail(failure, LineTooShort,
                    QStringLiteral("Update Error: update file too short, size: %1").arg(package.size()));
    const char *data = package.constData();

    QCryptographicHash sha1(QCryptographicHash::Sha1);
    for (qint64 at = kPropertiesOffset; at < package.size(); at += kStep * 8) {
        if (cancelled(cancel))
            return stopped(failure);
        sha1.addData(data + at, int(std::min<qint64>(kStep * 8, package.size() - at)));
    }
    if (std::memcmp(sha1.result().constData(), data + kDigestOffset, kDigestSize) != 0)
        return fail(failure, LineDigest, QStringLiteral("Update Error: bad SHA1 hash of update file!"));
    // Anyone can compute a digest; with a vendor key only the vendor can make a package.
    if (!publicKey.isEmpty() && !signatureHolds(package, publicKey))
        return fail(failure, LineSignature, QStringLiteral("Update Error: bad SHA1 hash of update file!"));

    const qint32 contentSize = qFromLittleEndian<qint32>(data + kSizeOffset);
    const QString lzmaError = QStringLiteral("Update Error: could not uncompress lzma, code: %1");
    if (contentSize < 0)
        return fail(failure, LineContentSize, lzmaError.arg(int(LZMA_DATA_ERROR)));
    if (contentSize > kMaxContentSize)
        return fail(failure, LineContentSize, lzmaError.arg(int(LZMA_MEMLIMIT_ERROR)));
    // Checked now as well as when it is created, so that a leftover folder costs no decoding.
    if (QFileInfo::exists(tempDir))
        return diskFailure(failure, LineTempDir, QStringLiteral("Update Error: cant create temp dir '%1'").arg(tempDir));

    QByteArray content;
    try {
        content = QByteArray(contentSize, Qt::Uninitialized);
    } catch (const std::bad_alloc &) {
        return fail(failure, LineLzma, lzmaError.arg(int(LZMA_MEM_ERROR)));
    }
    bool decodeCancelled = false;
    const lzma_ret decoded = decode(data + kPropertiesOffset, data + kHeaderSize, size_t(package.size() - kHeaderSize),
                                    content.data(), size_t(contentSize), cancel, &decodeCancelled);
    if (decodeCancelled)
        return stopped(failure);
    if (decoded != LZMA_OK)
        return fail(failure, decoded == LZMA_BUF_ERROR ? LineLzmaShort : LineLzma, lzmaError.arg(int(decoded)));

    QDataStream in(content);
    in.setVersion(kStreamVersion);
    QString packageVersion;
    in >> packageVersion;
    if (in.status() != QDataStream::Ok)
        return fail(failure, LineVersion,
                    QStringLiteral("Update Error: cant read version from downloaded stream, status: %1").arg(int(in.status())));
    quint32 count = 0;
    in >> count;
    if (in.status() != QDataStream::Ok)
        return fail(
            failure, LineCount,
            QStringLiteral("Update Error: cant read files count from downloaded stream, status: %1").arg(int(in.status())));
    if (count == 0)
        return fail(failure, LineEmpty, QStringLiteral("Update Error: update is empty!"));

    // The whole list is read and every name checked before anything is written; nothing of it is
    // kept but its start, so a list of millions of tiny files costs no memory.
    const qint64 listStart = in.device()->pos();
    for (quint32 i = 0; i < count; ++i) {
        ListedFile file;
        const QDataStream::Status status = readFile(in, content.size(), &file);
        if (status != QDataStream::Ok)
            return fail(failure, LineReadFile,
                        QStringLiteral("Update Error: cant read file from downloaded stream, status: %1").arg(int(status)));
        if (file.declaredSize != file.length)
            return fail(failure, LineFileSize,
                        QStringLiteral("Update Error: bad file size %1 not matching data size %2")
                            .arg(file.declaredSize)
                            .arg(file.length));
        if (targetOf(file.name).isEmpty()) {
            // A name without "/" names the folder itself, which the original reader failed to open.
            const int line = file.name.contains(QLatin1Char('/')) ? LineUnsafeName : LineOpen;
            return fail(failure, line,
                        QStringLiteral("Update Error: cant open file '%1' for writing")
                            .arg(tempDir + QLatin1Char('/') + file.name));
        }
    }

    if (!writeFiles(content, listStart, count, tempDir, failure, cancel))
        return false;
    if (version)
        *version = packageVersion;
    return true;
}

} // namespace UpdatePackage
