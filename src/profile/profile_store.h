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
    // The application folder + "/" + the page's relative path, as given. Empty when the path
    // would lead out of the application folder (".." or an absolute path in disguise).
    QString resolveProfilePath(const QString &relative) const;

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

private:
    enum class Load { Ok, Unreadable, Refused, Unparsable, BadXPath };

    static ProfileReply failureFor(Load load, const QString &failureText);
    Load cacheFile(const QString &relative, QString *fullPath);
    Load loadCachedProfile(const QString &relative, QString *fullPath, pugi::xml_document *document);
    // The cached document and what xpath selects in it (all nodes, or the first); BadXPath when the
    // expression does not compile or selects no nodes.
    template <class Selection>
    Load loadAndSelect(const QString &relative, const QString &xpath, QString *fullPath, pugi::xml_document *document,
                       Selection *selection);
    void storeDocument(const QString &fullPath, const pugi::xml_document &document);
    void markModified(const QString &fullPath);
    bool saveModifiedLocked();

    QString m_applicationDir;
    QString m_cleanApplicationDir;
    mutable QMutex m_mutex; // the window's thread runs the operations; a minimise save may not
    // Full path → the file's text as UTF-8. Entries are never dropped or re-read.
    QMap<QString, QByteArray> xmlCache;
    QStringList modifiedXmlFiles;
};
