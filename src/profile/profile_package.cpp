#include "profile_package.h"

#include "atomic_file.h"
#include "regular_file.h"
#include "xml_string_writer.h"

#include <QDataStream>

#include <pugixml.hpp>

#include <cstring>
#include <vector>

namespace ProfilePackage {

namespace {

bool isForeign(const pugi::xml_node &node)
{
    if (node.type() == pugi::node_pi || node.type() == pugi::node_declaration || node.type() == pugi::node_doctype)
        return true;
    if (node.type() != pugi::node_element)
        return false;
    if (std::strchr(node.name(), ':'))
        return true;
    // A default namespace puts the element itself into it; a prefix declared here ("xmlns:h")
    // only names one for elements below, which carry the prefix.
    return bool(node.attribute("xmlns"));
}

} // namespace

bool withoutForeignMarkup(const QByteArray &xmlUtf8, QByteArray *cleaned)
{
    pugi::xml_document doc;
    // As the profiles are parsed: the text ends at its first NUL.
    if (!doc.load_buffer(xmlUtf8.constData(), qstrlen(xmlUtf8.constData()), pugi::parse_default | pugi::parse_pi | pugi::parse_comments,
                         pugi::encoding_utf8))
        return false;
    // Without recursion: a profile may nest deeper than the stack would allow. A foreign element
    // goes with everything below it, which is in its namespace too.
    std::vector<pugi::xml_node> pending{doc};
    while (!pending.empty()) {
        pugi::xml_node node = pending.back();
        pending.pop_back();
        for (pugi::xml_node child = node.first_child(); child;) {
            const pugi::xml_node next = child.next_sibling();
            if (isForeign(child))
                node.remove_child(child);
            else
                pending.push_back(child);
            child = next;
        }
    }
    xml_string_writer writer;
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    *cleaned = QByteArray::fromStdString(writer.result);
    return true;
}

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
    return platform::writeFileAtomically(path, encode(xmlUtf8));
}

bool read(const QString &path, QByteArray *xmlUtf8)
{
    QByteArray bytes, document;
    return RegularFile::read(path, kMaxFileBytes, false, &bytes) && decode(bytes, &document) &&
           withoutForeignMarkup(document, xmlUtf8);
}

} // namespace ProfilePackage
