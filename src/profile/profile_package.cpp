#include "profile_package.h"

#include "regular_file.h"

#include <QDataStream>
#include <QSaveFile>

namespace ProfilePackage {

QByteArray encode(const QByteArray &xmlUtf8)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_5_1);
    out << kMagic << xmlUtf8.toBase64();
    return bytes;
}

bool decode(const QByteArray &bytes, QByteArray *xmlUtf8)
{
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_5_1);
    quint32 magic = 0;
    in >> magic;
    if (in.status() != QDataStream::Ok || magic != kMagic)
        return false;
    QByteArray base64;
    in >> base64;
    if (in.status() != QDataStream::Ok)
        return false;
    *xmlUtf8 = QByteArray::fromBase64(base64);
    return true;
}

bool write(const QString &path, const QByteArray &xmlUtf8)
{
    // The rename at the end would replace a FIFO or a device node by a plain file.
    if (RegularFile::kindAt(path) == RegularFile::Kind::Other)
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = encode(xmlUtf8);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool read(const QString &path, QByteArray *xmlUtf8)
{
    QByteArray bytes;
    return RegularFile::read(path, kMaxFileBytes, false, &bytes) && decode(bytes, xmlUtf8);
}

} // namespace ProfilePackage
