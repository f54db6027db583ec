// A profile package (".pfd") from anywhere: decoded, and imported into the fixture profile the
// way "modifyReplaceProfileEx" does; the profile must load again afterwards.
#include "profile_fixture.h"
#include "profile_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytes(data, size);
    QByteArray xml;
    if (ProfilePackage::decode(bytes, &xml)) {
        fuzz::require(ProfilePackage::decode(ProfilePackage::encode(xml), &xml), "an encoded document decodes");
        QByteArray once, twice;
        if (ProfilePackage::withoutForeignMarkup(xml, &once))
            fuzz::require(ProfilePackage::withoutForeignMarkup(once, &twice) && twice == once,
                          "profile data parses again and keeps what it holds");
    }

    const QString applicationDir = fuzz::applicationDir();
    const QString package = fuzz::privateDir() + QStringLiteral("/input.pfd");
    fuzz::writeFile(package, bytes);
    ProfileStore store(applicationDir);
    const ProfileReply reply =
        store.modifyReplaceProfileEx(package, QLatin1String(fuzz::kProfilePath), QStringLiteral("/profile/keys"));
    fuzz::require(reply.kind != ProfileReply::None, "an import answers");
    const QString full = applicationDir + QLatin1Char('/') + QLatin1String(fuzz::kProfilePath);
    if (store.isCached(full))
        fuzz::requireLoadable(store.cachedText(full).toUtf8(), "the profile loads again after an import");
    return 0;
}
