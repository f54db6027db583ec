#include "profile_store.h"

#include "profile_package.h"
#include "xml_limits.h"

#include <pugixml.hpp>

#include <algorithm>
#include <new>
#include <unordered_set>
#include <vector>

namespace {

const QString kQueryFailed = QStringLiteral("queryProfile load xml file failed!");
const QString kCountFailed = QStringLiteral("nodeCounterProfile load xml file failed!");
const QString kModifyFailed = QStringLiteral("modifyProfile load xml file failed!");
const QString kModifyExFailed = QStringLiteral("modifyProfileEx load xml file failed!");
const QString kReplaceFailed = QStringLiteral("modifyReplaceProfile load xml file failed!");
const QString kSaveAsFailed = QStringLiteral("saveXmlAs load xml file failed!");
const QString kSaveAsDestinationFailed = QStringLiteral("saveXmlAs desFilePath is failed!");

// Matches that lie inside another match are left out: removing or emptying the outer one
// frees them, and touching them afterwards would touch freed memory.
std::vector<pugi::xml_node> outermost(const std::vector<pugi::xml_node> &nodes)
{
    if (nodes.size() < 2)
        return nodes;
    std::unordered_set<size_t> matched;
    for (const pugi::xml_node &node : nodes)
        matched.insert(node.hash_value());
    std::vector<pugi::xml_node> result;
    for (const pugi::xml_node &node : nodes) {
        bool nested = false;
        for (pugi::xml_node up = node.parent(); up && !nested; up = up.parent())
            nested = matched.count(up.hash_value()) != 0;
        if (!nested)
            result.push_back(node);
    }
    return result;
}

QStringList split(const QString &text, Qt::SplitBehavior behavior)
{
    return text.split(QLatin1Char(';'), behavior);
}

// Allocation failure (a request that would need more memory than there is) ends the command
// with its failure reply instead of ending the program.
template <class Body>
ProfileReply guarded(const ProfileReply &onFailure, Body body)
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return onFailure;
    }
}

} // namespace

ProfileStore::ProfileStore(const QString &applicationDir) : m_paths(applicationDir) { }

ProfileStore::~ProfileStore() = default;

ProfileStore::Load ProfileStore::cacheFile(const QString &relative, Access access, QString *fullPath)
{
    *fullPath = m_paths.resolve(relative);
    if (fullPath->isEmpty() || (access == Access::Change && !m_paths.mayChange(*fullPath)))
        return Load::Refused;
    return m_cache.read(*fullPath);
}

ProfileStore::Load ProfileStore::loadCachedProfile(const QString &relative, Access access, QString *fullPath,
                                                   Document *document)
{
    const Load load = cacheFile(relative, access, fullPath);
    if (load != Load::Ok)
        return load;
    return m_cache.document(*fullPath, access, document);
}

template <class Selection>
ProfileStore::Load ProfileStore::select(const QString &fullPath, const Document &document, const QString &xpath,
                                        Selection *selection)
{
    const XPathGuard::Outcome outcome = m_xpath.select(document.parsed, document.shape, xpath, selection);
    if (outcome == XPathGuard::Outcome::GivenUp)
        m_cache.forgetDocument(fullPath);
    return outcome == XPathGuard::Outcome::Selected ? Load::Ok : Load::BadXPath;
}

template <class Selection>
ProfileStore::Load ProfileStore::loadAndSelect(const QString &relative, Access access, const QString &xpath,
                                               QString *fullPath, Document *document, Selection *selection)
{
    const Load load = loadCachedProfile(relative, access, fullPath, document);
    if (load != Load::Ok)
        return load;
    return select(*fullPath, *document, xpath, selection);
}

ProfileReply ProfileStore::failureFor(Load load, const QString &failureText)
{
    // An unreadable file ends without a reply; a refused path, unparsable text, a bad
    // expression or a result too large get the command's own failure text.
    return load == Load::Unreadable ? ProfileReply::none() : ProfileReply::failure(failureText);
}

ProfileReply ProfileStore::queryProfile(const QString &filePath, const QString &xpath)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kQueryFailed), [&] {
        QString full;
        Document document;
        std::vector<pugi::xml_node> nodes;
        const Load load = loadAndSelect(filePath, Access::Read, xpath, &full, &document, &nodes);
        if (load != Load::Ok)
            return failureFor(load, kQueryFailed);
        xml_limits::BoundedWriter writer;
        try {
            for (const pugi::xml_node &node : nodes)
                node.print(writer);
        } catch (const xml_limits::BoundedWriter::Overflow &) {
            return ProfileReply::failure(kQueryFailed);
        }
        return ProfileReply::success(QString::fromUtf8(writer.result));
    });
}

ProfileReply ProfileStore::nodeCounterProfile(const QString &filePath, const QString &xpath)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kCountFailed), [&] {
        QString full;
        Document document;
        pugi::xml_node node;
        const Load load = loadAndSelect(filePath, Access::Read, xpath, &full, &document, &node);
        if (load != Load::Ok)
            return failureFor(load, kCountFailed);
        int count = 0;
        for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
            ++count;
        return ProfileReply::success(QString::number(count));
    });
}

template <class Edit>
ProfileReply ProfileStore::editSelected(const QString &filePath, const QString &xpath, const QString &failureText,
                                        const QString &successText, Edit edit)
{
    QString full;
    Document document;
    std::vector<pugi::xml_node> nodes;
    Load load = loadAndSelect(filePath, Access::Change, xpath, &full, &document, &nodes);
    if (load != Load::Ok)
        return failureFor(load, failureText);
    load = m_cache.store(full, document, edit(nodes));
    if (load != Load::Ok)
        return failureFor(load, failureText);
    return ProfileReply::success(successText);
}

ProfileReply ProfileStore::modifyProfile(const QString &filePath, const QString &xpath, const QString &attribute,
                                         const QString &attributeValue)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kModifyFailed), [&] {
        return editSelected(filePath, xpath, kModifyFailed, QStringLiteral("modifyProfile success!"),
                            [&](std::vector<pugi::xml_node> &nodes) -> Added {
            // Values keep their empty parts so that a value can be cleared.
            const QStringList names = split(attribute, Qt::SkipEmptyParts);
            const QStringList values = split(attributeValue, Qt::KeepEmptyParts);
            const int pairs = std::min(names.size(), values.size());
            std::vector<QByteArray> utf8Names, utf8Values;
            for (int i = 0; i < pairs; ++i) {
                utf8Names.push_back(names.at(i).toUtf8());
                utf8Values.push_back(values.at(i).toUtf8());
            }
            for (pugi::xml_node &node : nodes) {
                for (int i = 0; i < pairs; ++i) {
                    // Only attributes the node already has; none is created.
                    if (pugi::xml_attribute existing = node.attribute(utf8Names[i].constData()))
                        existing.set_value(utf8Values[i].constData());
                }
            }
            return {};
        });
    });
}

ProfileReply ProfileStore::modifyProfileEx(const QString &filePath, const QString &xpath,
                                           const QString &subTreeString)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kModifyExFailed), [&] {
        pugi::xml_document subTree;
        const QByteArray subTreeUtf8 = subTreeString.toUtf8();
        // An empty text clears the match. Any other must parse: read as nothing, it would take
        // every child of the match away and still be answered as a success.
        if (!subTreeString.trimmed().isEmpty()
            && (!subTree.load_buffer(subTreeUtf8.constData(), qstrlen(subTreeUtf8.constData()), pugi::parse_default,
                                     pugi::encoding_utf8)
                || !xml_limits::withinDepth(subTree, kMaxDepth)))
            return ProfileReply::failure(kModifyExFailed);

        return editSelected(filePath, xpath, kModifyExFailed, QStringLiteral("modifyProfileEx success"),
                            [&](std::vector<pugi::xml_node> &nodes) {
            // The subtree moves into the first match; later matches only lose their children.
            Added added;
            for (pugi::xml_node &node : outermost(nodes)) {
                node.remove_children();
                while (pugi::xml_node top = subTree.first_child()) {
                    added.push_back(node.append_copy(top));
                    subTree.remove_child(top);
                }
            }
            return added;
        });
    });
}

ProfileReply ProfileStore::modifyRemoveProfile(const QString &filePath, const QString &xpath)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kModifyFailed), [&] {
        return editSelected(filePath, xpath, kModifyFailed, QStringLiteral("modifyRemoveProfile success"),
                            [&](std::vector<pugi::xml_node> &nodes) -> Added {
            for (pugi::xml_node &node : outermost(nodes)) {
                if (pugi::xml_node parent = node.parent())
                    parent.remove_child(node);
            }
            return {};
        });
    });
}

ProfileReply ProfileStore::modifyAddProfile(const QString &filePath, const QString &xpath, const QString &attribute,
                                            const QString &attributeValue, const QString &addNodeName)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kModifyFailed), [&] {
        // Both lists drop empty parts here: the values pair up with the names by position.
        QStringList names = split(attribute, Qt::SkipEmptyParts);
        const QStringList values = split(attributeValue, Qt::SkipEmptyParts);
        // pugixml takes any text as a name and writes it as it is; a name that is no XML name (or
        // one attribute twice) would make a file that never loads again.
        if (!xml_limits::isXmlName(addNodeName) || names.removeDuplicates() != 0
            || !std::all_of(names.begin(), names.end(), xml_limits::isXmlName))
            return ProfileReply::failure(kModifyFailed);

        return editSelected(filePath, xpath, kModifyFailed, QStringLiteral("modifyAddProfile success"),
                            [&](std::vector<pugi::xml_node> &nodes) {
            const QByteArray name = addNodeName.toUtf8();
            Added added;
            for (pugi::xml_node &node : nodes) {
                pugi::xml_node child = node.append_child(name.constData());
                added.push_back(child);
                for (int i = 0; i < names.size(); ++i) {
                    pugi::xml_attribute created = child.append_attribute(names.at(i).toUtf8().constData());
                    if (i < values.size())
                        created.set_value(values.at(i).toUtf8().constData());
                }
            }
            return added;
        });
    });
}

ProfileReply ProfileStore::modifyReplaceProfile(const QString &srcFilePath, const QString &desFilePath,
                                                const QString &srcXpath, const QString &desXpath)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kReplaceFailed), [&] {
        QString srcFull, desFull;
        Load load = cacheFile(srcFilePath, Access::Read, &srcFull);
        if (load == Load::Ok)
            load = cacheFile(desFilePath, Access::Change, &desFull);
        // The destination is taken first: when both are one file, the source is a document of
        // its own, untouched by the change.
        Document destination, source;
        if (load == Load::Ok)
            load = m_cache.document(desFull, Access::Change, &destination);
        if (load == Load::Ok)
            load = m_cache.document(srcFull, Access::Read, &source);
        pugi::xml_node from, target;
        if (load == Load::Ok)
            load = select(srcFull, source, srcXpath, &from);
        if (load == Load::Ok)
            load = select(desFull, destination, desXpath, &target);
        if (load != Load::Ok)
            return failureFor(load, kReplaceFailed);

        // The target's place is taken by a copy of the source node (or by nothing, when the
        // source expression matches nothing).
        Added added;
        if (pugi::xml_node parent = target.parent()) {
            if (parent.first_child() == target) {
                parent.remove_child(target);
                if (from)
                    added.push_back(parent.prepend_copy(from));
            } else {
                const pugi::xml_node before = target.previous_sibling();
                parent.remove_child(target);
                if (from)
                    added.push_back(parent.insert_copy_after(from, before));
            }
        }
        load = m_cache.store(desFull, destination, added);
        if (load != Load::Ok)
            return failureFor(load, kReplaceFailed);
        return ProfileReply::success(QStringLiteral("modifyReplaceProfile success"));
    });
}

ProfileReply ProfileStore::modifyReplaceProfileEx(const QString &srcFilePath, const QString &desFilePath,
                                                  const QString &desXpath)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kReplaceFailed), [&] {
        QString desFull;
        Document destination;
        Load load = loadCachedProfile(desFilePath, Access::Change, &desFull, &destination);
        if (load != Load::Ok)
            return failureFor(load, kReplaceFailed);

        QByteArray packaged;
        pugi::xml_document imported;
        if (!ProfilePackage::read(srcFilePath, &packaged) || packaged.size() > kMaxTextBytes
            || !xml_limits::parseUtf8(&imported, packaged))
            return ProfileReply::failure(kReplaceFailed);
        pugi::xml_node target;
        if (select(desFull, destination, desXpath, &target) != Load::Ok)
            return ProfileReply::failure(kReplaceFailed);

        // The package's top element stands for the target: its children replace the target's.
        const pugi::xml_node from = imported.first_child();
        Added added;
        if (target) {
            target.remove_children();
            for (pugi::xml_node child = from.first_child(); child; child = child.next_sibling())
                added.push_back(target.append_copy(child));
        }
        load = m_cache.store(desFull, destination, added);
        if (load != Load::Ok)
            return failureFor(load, kReplaceFailed);
        return ProfileReply::success(QStringLiteral("modifyReplaceProfile success"));
    });
}

ProfileReply ProfileStore::resetProfile(const QString &srcFilePath, const QString &desFilePath)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::none(), [&] {
        QString srcFull, desFull;
        // No failure text exists for this command: a refused path ends like an unreadable one.
        if (cacheFile(srcFilePath, Access::Read, &srcFull) != Load::Ok
            || cacheFile(desFilePath, Access::Change, &desFull) != Load::Ok)
            return ProfileReply::none();
        m_cache.setText(desFull, m_cache.text(srcFull));
        return ProfileReply::success(QStringLiteral("resetProfile success"));
    });
}

ProfileReply ProfileStore::queryHexByte(const QString &filePath, const QString &xpath, const QString &args)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kModifyFailed), [&] {
        QString full;
        Document document;
        pugi::xml_node node;
        const Load load = loadAndSelect(filePath, Access::Read, xpath, &full, &document, &node);
        if (load != Load::Ok)
            return failureFor(load, kModifyFailed);

        QString text = QString::fromUtf8(node.attribute("code").value());
        if (text.contains(QLatin1Char('%'))) {
            const QStringList arguments = args.split(QLatin1Char(','), Qt::SkipEmptyParts);
            QStringList fields = text.split(QLatin1Char(','), Qt::KeepEmptyParts);
            int next = 0;
            // Only the first four fields take arguments; a "%" without an argument left stays.
            for (int i = 0; i < 4 && i < fields.size() && next < arguments.size(); ++i) {
                if (fields.at(i) == QLatin1String("%"))
                    fields[i] = arguments.at(next++);
            }
            text = fields.join(QLatin1Char(','));
        }
        return ProfileReply::success(text);
    });
}

bool ProfileStore::saveModified(QString *error)
{
    QMutexLocker lock(&m_mutex);
    try {
        return m_cache.save(error);
    } catch (const std::bad_alloc &) {
        if (error)
            *error = QStringLiteral("out of memory while saving the profiles");
        return false;
    }
}

ProfileReply ProfileStore::savexml()
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::none(), [&] {
        if (m_cache.isEmpty() || !m_cache.save())
            return ProfileReply::none();
        return ProfileReply::success(QStringLiteral("save xml success"));
    });
}

ProfileReply ProfileStore::saveXmlAs(const QString &srcFilePath, const QString &xpath, const QString &desFilePath)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kSaveAsFailed), [&] {
        QString full;
        Document document;
        pugi::xml_node node;
        const Load load = loadAndSelect(srcFilePath, Access::Read, xpath, &full, &document, &node);
        if (load != Load::Ok)
            return failureFor(load, kSaveAsFailed);

        pugi::xml_document exported;
        if (node)
            exported.append_copy(node);
        QByteArray text;
        if (!xml_limits::serialise(exported, &text))
            return ProfileReply::failure(kSaveAsFailed);
        if (!m_paths.mayExportTo(desFilePath) || !ProfilePackage::write(desFilePath, text))
            return ProfileReply::failure(kSaveAsDestinationFailed);
        return ProfileReply::success(QStringLiteral("saveXmlAs success"));
    });
}
