// What a profile document may be: how deep, how long its text, what its names are. Every text
// stored in the profile cache parses again within these limits, since that text is what a save
// writes and what the next command reads.
#pragma once

#include <QByteArray>
#include <QString>

#include <pugixml.hpp>

namespace xml_limits {

// Collects serialised XML up to ProfileStore::kMaxTextBytes; past it, the output is abandoned by
// throwing Overflow out of pugixml's writer (its output routines hold nothing that unwinding
// would leak).
class BoundedWriter : public pugi::xml_writer {
public:
    struct Overflow {};
    QByteArray result;

    void write(const void *data, size_t size) override;
};

// Whether the nesting of element and text levels below root stays within limit; stops as soon as
// the limit is passed.
bool withinDepth(const pugi::xml_node &root, int limit);
// A parse that also refuses documents nested deeper than the profiles may be.
bool parseUtf8(pugi::xml_document *document, const QByteArray &utf8);
// The document's text, false when it is longer than a profile may be. expectedBytes: about how
// long it will be (the text it replaces), to spare growing the text again and again.
bool serialise(const pugi::xml_document &document, QByteArray *text, int expectedBytes = 0);
// A change may not leave what no parser takes back: a profile without its top element, or text
// beside it (removing "/profile", or a subtree set on "/").
bool hasOneTopElement(const pugi::xml_document &document);
// XML 1.0 (fifth edition) names: what a new element or attribute may be called so that the
// saved file parses again.
bool isXmlName(const QString &name);

} // namespace xml_limits
