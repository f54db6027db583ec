// Profile package files (".pfd"): one XML document, Base64-encoded, behind a magic number.
//
//   0  quint32  0x0A0B0C0D
//   4  quint32  N (big-endian; 0xFFFFFFFF would be an empty array)
//   8  N bytes  Base64 (standard alphabet, padded, no line breaks) of the document's UTF-8 bytes
//
// This is the QDataStream form (stream version 14) of a quint32 followed by a QByteArray, which
// is how existing packages were written; keep it byte for byte.
#pragma once

#include <QByteArray>
#include <QString>

namespace ProfilePackage {

constexpr quint32 kMagic = 0x0A0B0C0D;
// A package of the largest profile the profile commands take (4 MiB of XML) in Base64, with
// its header; anything larger is refused unread.
constexpr qint64 kMaxFileBytes = 8 + (4 * 1024 * 1024 + 2) / 3 * 4;

// The file's bytes for a document.
QByteArray encode(const QByteArray &xmlUtf8);
// False when the bytes are no package: wrong magic, truncated, or a bad length.
bool decode(const QByteArray &bytes, QByteArray *xmlUtf8);

// Writes through a temporary file, so a failed write leaves any earlier package untouched; a
// path that names anything but a regular file (or nothing) is refused.
bool write(const QString &path, const QByteArray &xmlUtf8);
// False for anything but a regular file of at most kMaxFileBytes, without waiting on it, and
// for a document that does not parse. What it gives is profile data only (withoutForeignMarkup).
bool read(const QString &path, QByteArray *xmlUtf8);

// The document without elements in a namespace (a prefixed name, or a default namespace declared
// on them), each with everything below it, and without processing instructions: a profile file
// shown in a browser must never become a page (an XHTML <script>, or a style sheet that makes
// one). False when it does not parse.
bool withoutForeignMarkup(const QByteArray &xmlUtf8, QByteArray *cleaned);

} // namespace ProfilePackage
