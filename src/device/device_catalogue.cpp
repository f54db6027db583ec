#include "device_catalogue.h"


namespace {

// "产品信息" (product information) in UTF-8.
const char kProductRecord[] = "\xE4\xBA\xA7\xE5\x93\x81\xE4\xBF\xA1\xE6\x81\xAF";

QString attributeText(const pugi::xml_node &node, const char *name)
{
    return QString::fromUtf8(node.attribute(name).value());
}

} // namespace

bool DeviceCatalogue::load(const QString &confText)
{
    const QByteArray bytes = confText.toUtf8();
    return bool(m_doc.load_buffer(bytes.constData(), size_t(bytes.size())));
}

ProductInfo DeviceCatalogue::product(const QByteArray &deviceId) const
{
    ProductInfo info;
    pugi::xml_node entry;
    for (const pugi::xml_node &child : m_doc.child("root").children()) {
        const pugi::xml_attribute id = child.attribute("deviceId");
        if (id && deviceId == QByteArray(id.value())) {
            entry = child;
            break;
        }
    }
    if (!entry)
        return info;
    const pugi::xml_node record = entry.find_child_by_attribute("name", kProductRecord);
    if (!record)
        return info;
    info.productType = attributeText(record, "productType");
    info.productName = attributeText(record, "productName");
    info.productCN = attributeText(record, "productCN");
    info.description = attributeText(record, "description");
    info.device = attributeText(record, "device");
    return info;
}
