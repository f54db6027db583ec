// The profile files the page edits by XPath: a text cache per file, the list of files changed
// since the last save, and the twelve profile operations.
//
// A file is read from disk once, the first time any operation names it; from then on every
// operation works on the cached text, and files are written only by a save. The operations
// return the reply they end with, so the window's command glue only forwards it.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <memory>

namespace pugi {
class xml_document;
}

struct ProfileReply {
    enum Kind { None, Success, Failure };
    Kind kind = None;
    QString text;

    static ProfileReply none() { return {}; }
    static ProfileReply success(const QString &text) { return {Success, text}; }
    static ProfileReply failure(const QString &text) { return {Failure, text}; }
};

class ProfileStore {
public:
    // applicationDir: the folder profile paths are relative to, with forward slashes.
    explicit ProfileStore(const QString &applicationDir);
    ~ProfileStore();

    QString applicationDir() const { return m_applicationDir; }
    // The file the page's relative path names, as a canonical path (symbolic links resolved), so
    // that every spelling of one file shares one cache entry; the cleaned path when nothing is
    // there. Empty when the path leads out of the application folder, by ".." or by a link.
    QString resolveProfilePath(const QString &relative) const;

    // What one profile may grow to: deeper documents are refused, since their indented text
    // grows with the square of the depth, and so are larger files, and changes whose text would
    // be larger (the same limit, so that every file saved loads again).
    static constexpr int kMaxDepth = 64;
    static constexpr int kMaxTextBytes = 4 * 1024 * 1024;
    // How long the window's thread waits for an XPath expression before answering it as failed,
    // and the longest expression taken (the page's are a few dozen characters).
    static constexpr int kXPathBudgetMs = 1000;
    static constexpr int kMaxXPathBytes = 1024;
    // The most work an expression may need on the document it runs on, in node visits (see
    // WorkBound in the source): about 0.2 s at the slowest rate measured (12 ns a visit), so that
    // no expression keeps a core busy past the wait above even on a machine several times slower.
    static constexpr long kXPathMaxWork = 16000000;

    ProfileReply queryProfile(const QString &filePath, const QString &xpath);
    ProfileReply nodeCounterProfile(const QString &filePath, const QString &xpath);
    ProfileReply modifyProfile(const QString &filePath, const QString &xpath, const QString &attribute,
                               const QString &attributeValue);
    ProfileReply modifyProfileEx(const QString &filePath, const QString &xpath, const QString &subTreeString);
    ProfileReply modifyRemoveProfile(const QString &filePath, const QString &xpath);
    ProfileReply modifyAddProfile(const QString &filePath, const QString &xpath, const QString &attribute,
                                  const QString &attributeValue, const QString &addNodeName);
    ProfileReply modifyReplaceProfile(const QString &srcFilePath, const QString &desFilePath,
                                      const QString &srcXpath, const QString &desXpath);
    // srcFilePath: an absolute path of a profile package file.
    ProfileReply modifyReplaceProfileEx(const QString &srcFilePath, const QString &desFilePath,
                                        const QString &desXpath);
    ProfileReply resetProfile(const QString &srcFilePath, const QString &desFilePath);
    ProfileReply queryHexByte(const QString &filePath, const QString &xpath, const QString &args);
    ProfileReply savexml();
    // desFilePath: an absolute path; the package replaces it only once completely written.
    ProfileReply saveXmlAs(const QString &srcFilePath, const QString &xpath, const QString &desFilePath);

    // Writes every modified file, in the order they were changed, each through a temporary file.
    // Stops at the first that cannot be written; that one and the rest stay modified (so do the
    // ones already written: the list empties only after a complete save). Safe to call from
    // another thread than the one running the operations.
    bool saveModified();

    // Inspection, mainly for tests.
    bool isCached(const QString &fullPath) const;
    QString cachedText(const QString &fullPath) const;
    QStringList modifiedFiles() const;

    // Shared with the thread that evaluates an expression on it (see selectNodes in the source).
    using Document = std::shared_ptr<pugi::xml_document>;

private:
    enum class Load { Ok, Unreadable, Refused, Unparsable, BadXPath, TooLarge };
    // Change: the command writes the file on the next save, which only profiles may be.
    enum class Access { Read, Change };

    static ProfileReply failureFor(Load load, const QString &failureText);
    bool mayChange(const QString &fullPath) const;
    Load cacheFile(const QString &relative, Access access, QString *fullPath);
    Load loadCachedProfile(const QString &relative, Access access, QString *fullPath, Document *document);
    // The cached document and what xpath selects in it (all nodes, or the first); BadXPath when the
    // expression does not compile, selects no nodes or runs out of time.
    template <class Selection>
    Load loadAndSelect(const QString &relative, Access access, const QString &xpath, QString *fullPath,
                       Document *document, Selection *selection);
    // The shared course of the changing commands: the nodes xpath selects in the cached profile go
    // to edit, and the changed document back to the cache; failureText for any failure.
    template <class Edit>
    ProfileReply editSelected(const QString &filePath, const QString &xpath, const QString &failureText,
                              const QString &successText, Edit edit);
    // TooLarge, leaving the cache as it was, when the document grew too deep or too long.
    Load storeDocument(const QString &fullPath, const pugi::xml_document &document);
    void markModified(const QString &fullPath);
    bool saveModifiedLocked();
    bool mayExportTo(const QString &desFilePath) const;

    QString m_applicationDir;
    QString m_cleanApplicationDir;
    QString m_canonicalApplicationDir;
    QString m_settingsFile; // the application's own XML file, written only by the settings
    mutable QMutex m_mutex; // the window's thread runs the operations; a minimise save may not
    // Full path → the file's text as UTF-8. Entries are never dropped or re-read.
    QMap<QString, QByteArray> xmlCache;
    QStringList modifiedXmlFiles;
};
