// The update package: what the vendor's mkupdate writes (tools/mkupdate/package_writer.h) and
// what the downloader unpacks.
//
//   offset 0    128 bytes  reserved; a signed package carries its Ed25519 signature of bytes
//                          128..end in the first 64 bytes, the rest is zero
//   offset 128   20 bytes  SHA-1 of bytes 148..end
//   offset 148    5 bytes  LZMA1 properties (lc/lp/pb byte, dictionary size)
//   offset 153    4 bytes  decompressed size, signed 32-bit little-endian
//   offset 157             raw LZMA1 stream (at least one byte)
//
// The decompressed content is a QDataStream (version 14, big-endian): the package version
// (QString), the file count (quint32), then per file its name (QString, "/"-separated, whose
// first component is a prefix dropped on unpacking), its declared size (quint32) and its content
// (QByteArray).
#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QString>
#include <QVector>

#include <atomic>

namespace UpdatePackage {

// A failure as the downloader logs it: the message text and the line number of its log tag
// ("pspecific_wnd").
struct Failure {
    // What the user is told: the package is not what it claims, the folder cannot take it, or
    // whoever asked for the unpacking has stopped it.
    enum Cause { Damaged, Disk, Cancelled };
    int line = 0;
    QString message;
    Cause cause = Damaged;
};

// name carries its prefix component: "package/view/index.html" unpacks to view/index.html.
struct Entry {
    QString name;
    QByteArray content;
};

constexpr int kDigestOffset = 128;
constexpr int kDigestSize = 20;
constexpr int kPropertiesOffset = 148;
constexpr int kPropertiesSize = 5;
constexpr int kSizeOffset = 153;
constexpr int kHeaderSize = 157;
// Packages in the field were written by Qt 5.1; newer Qt defaults would read them differently.
constexpr int kStreamVersion = QDataStream::Qt_5_1;
constexpr int kSignatureSize = 64;
constexpr int kPublicKeySize = 32;
constexpr int kSecretKeySize = 64;
// Nothing the program ships comes near this; a header claiming more is not believed.
constexpr qint32 kMaxContentSize = 1 << 30;

// Checks the digest (and the signature when the program is built with a vendor key), decodes
// the content into exactly its declared size, checks every name, and only then creates tempDir
// (which must not exist yet) and writes the files into it. False with *failure set otherwise;
// whatever is in tempDir then is not to be trusted (the caller deletes it).
// cancel, when given, is looked at between steps of at most a few tens of milliseconds; once it
// is set the unpacking ends with a Cancelled failure.
bool unpack(const QByteArray &package, const QString &tempDir, QString *version, Failure *failure,
            const std::atomic<bool> *cancel = nullptr);

// The same with the public key given (kPublicKeySize raw bytes): empty reads unsigned packages
// without any signature check, as a program built without a vendor key does.
bool unpack(const QByteArray &package, const QString &tempDir, const QByteArray &publicKey, QString *version,
            Failure *failure, const std::atomic<bool> *cancel = nullptr);

// The key the program was built with (empty: none).
QByteArray vendorPublicKey();

// The path below the unpacking folder that a name is written to, or an empty text when the name
// must not be written: absolute, with a backslash or a control character, without a component
// after its prefix, or with a component after it that is empty, holds ":" (a drive or a stream on
// Windows), ends in "." or " " (this takes "." and ".." too; Windows drops trailing dots and
// spaces, so such a component would not name what it says), or is a Windows device ("nul.txt").
QString targetOf(const QString &name);

} // namespace UpdatePackage
