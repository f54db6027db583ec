#include "user_files.h"

#include "atomic_file.h"

#include <QFile>
#include <QFileInfo>

#include <pugixml.hpp>

#include <sstream>
#include <string>

namespace userFiles {

const char kSettingsFile[] = "Resources/profiles/conf.xml";
const char kProfileTemplate[] = "view/profiles/default.xml";

namespace {

QByteArray saved(const pugi::xml_document &doc)
{
    // As the program writes the file itself, so that the next save of a setting changes no more
    // than that setting.
    std::ostringstream out;
    doc.save(out, "\t", pugi::format_default, pugi::encoding_utf8);
    const std::string text = out.str();
    return QByteArray(text.data(), int(text.size()));
}

} // namespace

bool isUserFile(const QString &relativePath)
{
    // The template is the page's: "Reset to default" and a new profile start from it, so it
    // must be the one the page in place expects.
    if (relativePath == QLatin1String(kProfileTemplate))
        return false;
    return relativePath == QLatin1String(kSettingsFile) || relativePath == QLatin1String("view/xml/configuration.xml") ||
           relativePath.startsWith(QLatin1String("view/profiles/"));
}

bool keepsUsersCopy(const QString &relativePath, const QString &applicationDir)
{
    if (!isUserFile(relativePath))
        return false;
    const QFileInfo target(applicationDir + QLatin1Char('/') + relativePath);
    return target.exists() || target.isSymLink();
}

bool mergeSettings(const QByteArray &userConf, const QByteArray &packageConf, QByteArray *merged)
{
    pugi::xml_document user;
    if (!user.load_buffer(userConf.constData(), size_t(userConf.size())) || !user.child("root"))
        return false;
    pugi::xml_document package;
    package.load_buffer(packageConf.constData(), size_t(packageConf.size()));

    pugi::xml_node root = user.child("root");
    pugi::xml_node client = root.child("client");
    const pugi::xml_node packageClient = package.child("root").child("client");
    if (!client && packageClient)
        client = root.prepend_child("client");
    for (const pugi::xml_attribute &setting : packageClient.attributes()) {
        if (!client.attribute(setting.name()))
            client.append_attribute(setting.name()) = setting.value();
        else if (std::string(setting.name()) == "version")
            client.attribute("version") = setting.value();
    }
    for (const pugi::xml_node &entry : package.child("root").children("conf")) {
        const char *id = entry.attribute("deviceId").value();
        if (!root.find_child_by_attribute("conf", "deviceId", id))
            root.append_copy(entry);
    }
    *merged = saved(user);
    return true;
}

VersionRecord setClientVersion(const QString &applicationDir, const QString &version, QString *why)
{
    const QString path = applicationDir + QLatin1Char('/') + QLatin1String(kSettingsFile);
    const auto fail = [&](const QString &reason) {
        if (why)
            *why = reason;
        return VersionRecord::Failed;
    };
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(path, in.errorString()));
    const QByteArray text = in.readAll();
    in.close();
    pugi::xml_document doc;
    if (!doc.load_buffer(text.constData(), size_t(text.size())))
        return fail(QStringLiteral("%1 does not parse").arg(path));
    // An empty or missing version is how a folder says it keeps no record; one is not started.
    pugi::xml_attribute recorded = doc.child("root").child("client").attribute("version");
    if (!recorded || !*recorded.value())
        return VersionRecord::NotKept;
    const QByteArray wanted = version.toUtf8();
    if (wanted == recorded.value())
        return VersionRecord::Recorded;
    recorded = wanted.constData();

    const QByteArray bytes = saved(doc);
    QString error;
    if (!platform::writeFileAtomically(path, bytes, &error))
        return fail(error);
    return VersionRecord::Recorded;
}

} // namespace userFiles
