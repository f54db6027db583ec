#include "xml_limits.h"

#include "profile_store.h"

#include <QVector>

#include <algorithm>

namespace xml_limits {

void BoundedWriter::write(const void *data, size_t size)
{
    if (size > size_t(ProfileStore::kMaxTextBytes) - size_t(result.size()))
        throw Overflow();
    result.append(static_cast<const char *>(data), int(size));
}

bool withinDepth(const pugi::xml_node &root, int limit)
{
    // pugixml's own walk: it follows its nodes directly, several times faster than a walk by
    // xml_node calls. depth() is 0 for root's children.
    struct Walker : pugi::xml_tree_walker {
        int limit;
        explicit Walker(int limit) : limit(limit) { }
        bool for_each(pugi::xml_node &) override { return depth() < limit; }
    } walker(limit);
    return pugi::xml_node(root).traverse(walker);
}

bool parseUtf8(pugi::xml_document *document, const QByteArray &utf8)
{
    // Like parsing from a C string: the text ends at its first NUL.
    return document->load_buffer(utf8.constData(), qstrlen(utf8.constData()), pugi::parse_default,
                                 pugi::encoding_utf8)
        && withinDepth(*document, ProfileStore::kMaxDepth);
}

bool serialise(const pugi::xml_document &document, QByteArray *text, int expectedBytes)
{
    BoundedWriter writer;
    writer.result.reserve(std::min(expectedBytes + expectedBytes / 8 + 1024, int(ProfileStore::kMaxTextBytes)));
    try {
        document.save(writer);
    } catch (const BoundedWriter::Overflow &) {
        return false;
    }
    *text = std::move(writer.result);
    return true;
}

bool hasOneTopElement(const pugi::xml_document &document)
{
    int elements = 0;
    for (pugi::xml_node child : document.children()) {
        if (child.type() == pugi::node_element)
            ++elements;
        else if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
            return false;
    }
    return elements == 1;
}

namespace {

bool isNameStart(uint c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ':' || c == '_' || (c >= 0xC0 && c <= 0xD6)
        || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D)
        || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F)
        || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF)
        || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool isNameChar(uint c)
{
    return isNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7
        || (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

} // namespace

bool isXmlName(const QString &name)
{
    const QVector<uint> code = name.toUcs4();
    if (code.isEmpty() || !isNameStart(code.front()))
        return false;
    return std::all_of(code.begin() + 1, code.end(), isNameChar);
}

} // namespace xml_limits
