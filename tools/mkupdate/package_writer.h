// The vendor's side of the update package (its format is in update_package.h): the program only
// reads packages, so the writer lives with the vendor's tool and the tests that make packages.
#pragma once

#include "update_package.h"

namespace UpdatePackage {

// A package of these files, signed when secretKey (kSecretKeySize raw bytes, libsodium's form)
// is given. Refuses names that unpack would refuse, and an empty list. Empty with *error set on
// failure.
QByteArray build(const QString &version, const QVector<Entry> &entries, const QByteArray &secretKey, QString *error);

// Compresses an already serialised content and frames it (digest, signature): build() without
// the checks of the content, for packages that are wrong on purpose.
QByteArray seal(const QByteArray &content, const QByteArray &secretKey, QString *error);

} // namespace UpdatePackage
