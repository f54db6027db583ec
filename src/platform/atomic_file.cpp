#include "atomic_file.h"

#include <QFile>
#include <QSaveFile>

#include <filesystem>
#include <system_error>

namespace platform {

namespace {

bool fail(QString *error, const QString &what, const QString &path, const QString &why)
{
    if (error)
        *error = QStringLiteral("cannot %1 %2: %3").arg(what, path, why);
    return false;
}

} // namespace

// A QSaveFile that is not committed removes its temporary file when it goes.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error, WriteMode mode)
{
    QSaveFile out(path);
    const QIODevice::OpenMode openMode =
        mode == WriteMode::Text ? QIODevice::WriteOnly | QIODevice::Text : QIODevice::WriteOnly;
    if (out.open(openMode) && out.write(bytes) == bytes.size() && out.commit())
        return true;
    return fail(error, QStringLiteral("write"), path, out.errorString());
}

bool copyFileAtomically(const QString &source, const QString &path, QString *error)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("read"), source, in.errorString());
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return fail(error, QStringLiteral("write"), path, out.errorString());
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 got = in.read(chunk.data(), chunk.size());
        if (got == 0)
            break;
        if (got < 0)
            return fail(error, QStringLiteral("read"), source, in.errorString());
        if (out.write(chunk.constData(), got) != got)
            return fail(error, QStringLiteral("write"), path, out.errorString());
    }
    if (!out.commit())
        return fail(error, QStringLiteral("write"), path, out.errorString());
    return true;
}

bool keepOldFile(const QString &path, const QString &backup, QString *error)
{
    namespace fs = std::filesystem;
    const fs::path from(path.toStdU16String());
    const fs::path to(backup.toStdU16String());
    std::error_code failure;
    fs::remove(to, failure);
    failure.clear();
    if (fs::is_symlink(from, failure)) {
        fs::copy_symlink(from, to, failure);
    } else {
        fs::create_hard_link(from, to, failure);
        if (failure)
            fs::copy_file(from, to, fs::copy_options::overwrite_existing, failure);
    }
    if (!failure)
        return true;
    return fail(error, QStringLiteral("keep"), path, QString::fromStdString(failure.message()));
}

} // namespace platform
