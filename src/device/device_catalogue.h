// Product information per pad, kept in the settings file next to the program's own settings:
// root/<any element deviceId="…">/<info name="产品信息" productType=… …/>.
#pragma once

#include <QByteArray>
#include <QString>

#include <pugixml.hpp>

struct ProductInfo {
    QString productType;
    QString productName;
    QString productCN;
    QString description;
    QString device;
};

class DeviceCatalogue {
public:
    // False when the text is not XML; the catalogue is then empty.
    bool load(const QString &confText);
    // The first entry whose deviceId equals deviceId byte for byte, and in it the first product
    // record; empty texts for whatever is missing.
    ProductInfo product(const QByteArray &deviceId) const;

private:
    pugi::xml_document m_doc;
};
