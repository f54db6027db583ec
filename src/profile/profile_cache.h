// The profile files' texts, each with its parsed document, and the files changed since the last
// save.
//
// A file is read from disk once, the first time a command names it; from then on every command
// works on the cached text, and files are written only by a save. Its document is parsed from the
// text on first use and kept. A command that changes the file takes the document, edits it and
// stores it with its new text; the document stays only when that text parses to the same
// document again. It does unless two text nodes came to lie side by side (removing what stood
// between them, or putting text beside text), which a parse joins into one: pugixml's writer
// escapes every character its parser would change, and the indentation it adds never touches
// text. So the document, when there is one, is always what its text parses to. After
// kMaxChangesKept changes in a row it is parsed again anyway, which gives back the memory that
// pugixml keeps for removed nodes.
#pragma once

#include "xpath_guard.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <vector>

class ProfileCache {
public:
    enum class Load { Ok, Unreadable, Refused, Unparsable, BadXPath, TooLarge };
    // Change: the command changes the document it gets.
    enum class Access { Read, Change };
    // A file's document, with what its parse told of its shape.
    struct Document {
        XPathGuard::Document parsed;
        XPathGuard::Shape shape;

        pugi::xml_document &operator*() const { return *parsed; }
        pugi::xml_document *operator->() const { return parsed.get(); }
    };

    // Reads the file into the cache unless it is there: Unreadable when it is not there or cannot
    // be opened, Refused when it is a FIFO, a device or too large for a profile.
    Load read(const QString &fullPath);
    // The file's document (the file must have been read) and what its parse told of its shape;
    // Unparsable when its text does not parse within the limits.
    Load document(const QString &fullPath, Access access, Document *document);
    // Drops the file's document; the next command parses the text again. For a document that an
    // expression given up may still be using.
    void forgetDocument(const QString &fullPath);
    // The roots of the subtrees a change inserted.
    using Added = std::vector<pugi::xml_node>;
    static constexpr int kMaxChangesKept = 100;
    // The changed document and its text replace the file's; TooLarge, leaving the cache as it was,
    // when the document grew too deep or too long, Unparsable when it lost its one top element.
    // document: one this cache gave for a change, changed since only by removals, attribute values
    // and the subtrees in added, so that only those can be nested too deep.
    Load store(const QString &fullPath, const Document &document, const Added &added);
    void setText(const QString &fullPath, const QByteArray &text);

    QByteArray text(const QString &fullPath) const { return m_entries.value(fullPath).text; }
    bool isEmpty() const { return m_entries.isEmpty(); }
    bool contains(const QString &fullPath) const { return m_entries.contains(fullPath); }
    QStringList modifiedFiles() const { return m_modified; }
    // Writes every modified file, in the order they were changed, each through a temporary file.
    // Stops at the first that cannot be written; that one and the rest stay modified (so do the
    // ones already written: the list empties only after a complete save). error, if given, then
    // names the file and why, in words for a person.
    bool save(QString *error = nullptr);

private:
    struct Entry {
        QByteArray text; // UTF-8
        Document document; // what text parses to (walkShape telling its shape), or none yet
        int changesKept = 0; // changes the document went through since it was parsed
    };
    void markModified(const QString &fullPath);

    // Full path → entry. Entries are never dropped or re-read.
    QMap<QString, Entry> m_entries;
    QStringList m_modified;
};
