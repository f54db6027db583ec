// The profile files' texts, each with its parsed document, and the files changed since the last
// save.
//
// A file is read from disk once, the first time a command names it; from then on every command
// works on the cached text, and files are written only by a save. Its document is parsed from the
// text on first use and kept for the commands that only read; a command that changes the file
// takes the document (it edits it) and stores the new text, which is parsed again when next
// needed. So the document, when there is one, is always what its text parses to.
#pragma once

#include "xpath_guard.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

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
    // The changed document's text replaces the file's; TooLarge, leaving the cache as it was,
    // when the document grew too deep or too long, Unparsable when it lost its one top element.
    Load store(const QString &fullPath, const pugi::xml_document &document);
    void setText(const QString &fullPath, const QByteArray &text);

    QByteArray text(const QString &fullPath) const { return m_entries.value(fullPath).text; }
    bool isEmpty() const { return m_entries.isEmpty(); }
    bool contains(const QString &fullPath) const { return m_entries.contains(fullPath); }
    QStringList modifiedFiles() const { return m_modified; }
    // Writes every modified file, in the order they were changed, each through a temporary file.
    // Stops at the first that cannot be written; that one and the rest stay modified (so do the
    // ones already written: the list empties only after a complete save).
    bool save();

private:
    struct Entry {
        QByteArray text; // UTF-8
        Document document; // parsed from text (walkShape telling its shape), or none yet
    };
    void markModified(const QString &fullPath);

    // Full path → entry. Entries are never dropped or re-read.
    QMap<QString, Entry> m_entries;
    QStringList m_modified;
};
