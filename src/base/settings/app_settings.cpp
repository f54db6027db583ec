#include "app_settings.h"

#include "atomic_file.h"
#include "xml_string_writer.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>

#include <pugixml.hpp>

namespace {

QString firstHardwareAddress()
{
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces())
        if (!(iface.flags() & QNetworkInterface::IsLoopBack))
            return iface.hardwareAddress();
    return QString();
}

QString firstIpv4Address()
{
    for (const QHostAddress &address : QNetworkInterface::allAddresses())
        if (address.protocol() == QAbstractSocket::IPv4Protocol && address != QHostAddress(QHostAddress::LocalHost))
            return address.toString();
    return QString();
}

} // namespace

AppSettings::AppSettings(const QString &applicationDir)
    : m_applicationDir(applicationDir.isEmpty() ? QCoreApplication::applicationDirPath() : applicationDir)
{
}

QString AppSettings::confFilePath() const
{
    return m_applicationDir + QStringLiteral("/Resources/profiles/conf.xml");
}

void AppSettings::load()
{
    const QString path = confFilePath();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    file.close();
    pugi::xml_document doc;
    if (!doc.load_buffer(bytes.constData(), size_t(bytes.size())))
        return;

    m_map.clear();
    const pugi::xml_node client = doc.child("root").child("client");
    for (const pugi::xml_attribute &attribute : client.attributes())
        m_map.insert(QString::fromUtf8(attribute.name()), QString::fromUtf8(attribute.value()));
    m_map.insert(QStringLiteral("MacAddress"), firstHardwareAddress());
    m_map.insert(QStringLiteral("IpAddress"), firstIpv4Address());

    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        m_confText = QString::fromUtf8(file.readAll());
}

bool AppSettings::setValue(const QString &key, const QString &value)
{
    auto it = m_map.find(key);
    if (it == m_map.end())
        return false;
    *it = value;
    return true;
}

bool AppSettings::writeConfFile(QString *error) const
{
    return platform::writeFileAtomically(confFilePath(), m_confText.toUtf8(), error, platform::WriteMode::Text);
}

AppSettings::StoreResult AppSettings::storeAttribute(const QString &key, const QString &value, QString *error)
{
    const QByteArray text = m_confText.toUtf8();
    pugi::xml_document doc;
    if (!doc.load_buffer(text.constData(), size_t(text.size())))
        return StoreResult::Unparsable;
    const QByteArray name = key.toUtf8();
    pugi::xml_attribute attribute = doc.child("root").child("client").attribute(name.constData());
    // Nothing to change: leave the file exactly as it is.
    if (!attribute)
        return StoreResult::NoSuchAttribute;
    attribute.set_value(value.toUtf8().constData());

    xml_string_writer writer;
    doc.save(writer);
    const QString before = m_confText;
    m_confText = QString::fromStdString(writer.result);
    if (writeConfFile(error))
        return StoreResult::Written;
    m_confText = before;
    return StoreResult::NotWritten;
}
