// The profile files the page edits by XPath and the twelve profile operations on them: which
// files they may name (ProfilePaths), the cache of their texts and documents (ProfileCache), the
// guard their expressions run under (XPathGuard) and the limits every document keeps
// (xml_limits). Files are read once and written only by a save. The operations return the reply
// they end with, so the window's command glue only forwards it.
#pragma once

#include "profile_cache.h"
#include "profile_paths.h"
#include "xpath_guard.h"

#include <QByteArray>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>

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

    QString applicationDir() const { return m_paths.applicationDir(); }
    // See ProfilePaths::resolve.
    QString resolveProfilePath(const QString &relative) const { return m_paths.resolve(relative); }

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
    // WorkBound in xpath_work_bound.h): about 0.2 s at the slowest rate measured (12 ns a visit), so that
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

    // ProfileCache::save. Safe to call from another thread than the one running the operations.
    bool saveModified(QString *error = nullptr);

    // Inspection, mainly for tests.
    bool isCached(const QString &fullPath) const
    {
        QMutexLocker lock(&m_mutex);
        return m_cache.contains(fullPath);
    }
    QString cachedText(const QString &fullPath) const
    {
        QMutexLocker lock(&m_mutex);
        return QString::fromUtf8(m_cache.text(fullPath));
    }
    QStringList modifiedFiles() const
    {
        QMutexLocker lock(&m_mutex);
        return m_cache.modifiedFiles();
    }

private:
    using Load = ProfileCache::Load;
    using Access = ProfileCache::Access;
    using Document = ProfileCache::Document;
    using Added = ProfileCache::Added;

    static ProfileReply failureFor(Load load, const QString &failureText);
    // Resolves the path, refuses what the command may not touch and reads the file into the cache.
    Load cacheFile(const QString &relative, Access access, QString *fullPath);
    Load loadCachedProfile(const QString &relative, Access access, QString *fullPath, Document *document);
    // The cached document and what xpath selects in it (all nodes, or the first); BadXPath when the
    // expression does not compile, selects no nodes, would need too much work or runs out of time.
    template <class Selection>
    Load loadAndSelect(const QString &relative, Access access, const QString &xpath, QString *fullPath,
                       Document *document, Selection *selection);
    // What xpath selects in the file's document; an expression given up costs the cache the
    // document, which its evaluation may still be using.
    template <class Selection>
    Load select(const QString &fullPath, const Document &document, const QString &xpath, Selection *selection);
    // The shared course of the changing commands: the nodes xpath selects in the cached profile go
    // to edit, which returns the nodes it inserted, and the changed document back to the cache;
    // failureText for any failure.
    template <class Edit>
    ProfileReply editSelected(const QString &filePath, const QString &xpath, const QString &failureText,
                              const QString &successText, Edit edit);

    const ProfilePaths m_paths;
    mutable QMutex m_mutex; // the window's thread runs the operations; a minimise save may not
    ProfileCache m_cache;
    XPathGuard m_xpath;
};
