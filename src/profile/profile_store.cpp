#include "profile_store.h"

#include "profile_package.h"
#include "xml_string_writer.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QSaveFile>

#include <pugixml.hpp>

#include <algorithm>
#include <exception>
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

bool parseUtf8(pugi::xml_document *document, const QByteArray &utf8)
{
    // Like parsing from a C string: the text ends at its first NUL.
    return document->load_buffer(utf8.constData(), qstrlen(utf8.constData()), pugi::parse_default,
                                 pugi::encoding_utf8);
}

QByteArray serialise(const pugi::xml_document &document)
{
    xml_string_writer writer;
    document.save(writer);
    return QByteArray(writer.result.data(), int(writer.result.size()));
}

// The nodes an expression selects, in document order; attributes are no nodes here. False when
// the expression does not compile or selects something other than nodes.
bool selectNodes(const pugi::xml_node &root, const QString &xpath, std::vector<pugi::xml_node> *nodes)
{
    nodes->clear();
    try {
        const pugi::xpath_node_set set = root.select_nodes(xpath.toUtf8().constData());
        nodes->reserve(set.size());
        for (const pugi::xpath_node &match : set) {
            if (match.node())
                nodes->push_back(match.node());
        }
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

bool selectFirst(const pugi::xml_node &root, const QString &xpath, pugi::xml_node *node)
{
    std::vector<pugi::xml_node> nodes;
    if (!selectNodes(root, xpath, &nodes))
        return false;
    *node = nodes.empty() ? pugi::xml_node() : nodes.front();
    return true;
}

// What loadAndSelect fills: every match, or the first (an empty node when none matches).
bool select(const pugi::xml_node &root, const QString &xpath, std::vector<pugi::xml_node> *nodes)
{
    return selectNodes(root, xpath, nodes);
}

bool select(const pugi::xml_node &root, const QString &xpath, pugi::xml_node *node)
{
    return selectFirst(root, xpath, node);
}

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

} // namespace

ProfileStore::ProfileStore(const QString &applicationDir)
    : m_applicationDir(applicationDir), m_cleanApplicationDir(QDir::cleanPath(applicationDir))
{
}

ProfileStore::~ProfileStore() = default;

QString ProfileStore::resolveProfilePath(const QString &relative) const
{
    const QString full = m_applicationDir + QLatin1Char('/') + relative;
    const QString clean = QDir::cleanPath(full);
    const QString prefix = m_cleanApplicationDir.endsWith(QLatin1Char('/')) ? m_cleanApplicationDir
                                                                            : m_cleanApplicationDir + QLatin1Char('/');
    if (!clean.startsWith(prefix) || relative.contains(QLatin1Char('\0')))
        return QString();
    return full;
}

ProfileStore::Load ProfileStore::cacheFile(const QString &relative, QString *fullPath)
{
    *fullPath = resolveProfilePath(relative);
    if (fullPath->isEmpty())
        return Load::Refused;
    if (xmlCache.contains(*fullPath))
        return Load::Ok;
    QFile file(*fullPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return Load::Unreadable;
    // Through a string once, so that malformed UTF-8 is settled the same way on every path.
    xmlCache.insert(*fullPath, QString::fromUtf8(file.readAll()).toUtf8());
    return Load::Ok;
}

ProfileStore::Load ProfileStore::loadCachedProfile(const QString &relative, QString *fullPath,
                                                   pugi::xml_document *document)
{
    const Load load = cacheFile(relative, fullPath);
    if (load != Load::Ok)
        return load;
    return parseUtf8(document, xmlCache.value(*fullPath)) ? Load::Ok : Load::Unparsable;
}

template <class Selection>
ProfileStore::Load ProfileStore::loadAndSelect(const QString &relative, const QString &xpath, QString *fullPath,
                                               pugi::xml_document *document, Selection *selection)
{
    const Load load = loadCachedProfile(relative, fullPath, document);
    if (load != Load::Ok)
        return load;
    return select(*document, xpath, selection) ? Load::Ok : Load::BadXPath;
}

void ProfileStore::storeDocument(const QString &fullPath, const pugi::xml_document &document)
{
    xmlCache.insert(fullPath, serialise(document));
    markModified(fullPath);
}

void ProfileStore::markModified(const QString &fullPath)
{
    if (!modifiedXmlFiles.contains(fullPath))
        modifiedXmlFiles.append(fullPath);
}

ProfileReply ProfileStore::failureFor(Load load, const QString &failureText)
{
    // An unreadable file ends without a reply; a refused path, unparsable text or a bad
    // expression get the command's own failure text.
    return load == Load::Unreadable ? ProfileReply::none() : ProfileReply::failure(failureText);
}

ProfileReply ProfileStore::queryProfile(const QString &filePath, const QString &xpath)
{
    QMutexLocker lock(&m_mutex);
    QString full;
    pugi::xml_document document;
    std::vector<pugi::xml_node> nodes;
    const Load load = loadAndSelect(filePath, xpath, &full, &document, &nodes);
    if (load != Load::Ok)
        return failureFor(load, kQueryFailed);
    xml_string_writer writer;
    for (const pugi::xml_node &node : nodes)
        node.print(writer);
    return ProfileReply::success(QString::fromUtf8(writer.result.data(), int(writer.result.size())));
}

ProfileReply ProfileStore::nodeCounterProfile(const QString &filePath, const QString &xpath)
{
    QMutexLocker lock(&m_mutex);
    QString full;
    pugi::xml_document document;
    pugi::xml_node node;
    const Load load = loadAndSelect(filePath, xpath, &full, &document, &node);
    if (load != Load::Ok)
        return failureFor(load, kCountFailed);
    int count = 0;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        ++count;
    return ProfileReply::success(QString::number(count));
}

ProfileReply ProfileStore::modifyProfile(const QString &filePath, const QString &xpath, const QString &attribute,
                                         const QString &attributeValue)
{
    QMutexLocker lock(&m_mutex);
    QString full;
    pugi::xml_document document;
    std::vector<pugi::xml_node> nodes;
    const Load load = loadAndSelect(filePath, xpath, &full, &document, &nodes);
    if (load != Load::Ok)
        return failureFor(load, kModifyFailed);

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
    storeDocument(full, document);
    return ProfileReply::success(QStringLiteral("modifyProfile success!"));
}

ProfileReply ProfileStore::modifyProfileEx(const QString &filePath, const QString &xpath,
                                           const QString &subTreeString)
{
    QMutexLocker lock(&m_mutex);
    pugi::xml_document subTree;
    // An unparsable subtree counts as empty (the parser would leave what it read before the error).
    if (!parseUtf8(&subTree, subTreeString.toUtf8()))
        subTree.reset();

    QString full;
    pugi::xml_document document;
    std::vector<pugi::xml_node> nodes;
    const Load load = loadAndSelect(filePath, xpath, &full, &document, &nodes);
    if (load != Load::Ok)
        return failureFor(load, kModifyExFailed);

    // The subtree moves into the first match; later matches only lose their children.
    for (pugi::xml_node &node : outermost(nodes)) {
        node.remove_children();
        while (pugi::xml_node top = subTree.first_child()) {
            node.append_copy(top);
            subTree.remove_child(top);
        }
    }
    storeDocument(full, document);
    return ProfileReply::success(QStringLiteral("modifyProfileEx success"));
}

ProfileReply ProfileStore::modifyRemoveProfile(const QString &filePath, const QString &xpath)
{
    QMutexLocker lock(&m_mutex);
    QString full;
    pugi::xml_document document;
    std::vector<pugi::xml_node> nodes;
    const Load load = loadAndSelect(filePath, xpath, &full, &document, &nodes);
    if (load != Load::Ok)
        return failureFor(load, kModifyFailed);

    for (pugi::xml_node &node : outermost(nodes)) {
        if (pugi::xml_node parent = node.parent())
            parent.remove_child(node);
    }
    storeDocument(full, document);
    return ProfileReply::success(QStringLiteral("modifyRemoveProfile success"));
}

ProfileReply ProfileStore::modifyAddProfile(const QString &filePath, const QString &xpath, const QString &attribute,
                                            const QString &attributeValue, const QString &addNodeName)
{
    QMutexLocker lock(&m_mutex);
    QString full;
    pugi::xml_document document;
    std::vector<pugi::xml_node> nodes;
    const Load load = loadAndSelect(filePath, xpath, &full, &document, &nodes);
    if (load != Load::Ok)
        return failureFor(load, kModifyFailed);

    // Both lists drop empty parts here: the values pair up with the names by position.
    const QStringList names = split(attribute, Qt::SkipEmptyParts);
    const QStringList values = split(attributeValue, Qt::SkipEmptyParts);
    const QByteArray name = addNodeName.toUtf8();
    for (pugi::xml_node &node : nodes) {
        pugi::xml_node added = node.append_child(name.constData());
        for (int i = 0; i < names.size(); ++i) {
            pugi::xml_attribute created = added.append_attribute(names.at(i).toUtf8().constData());
            if (i < values.size())
                created.set_value(values.at(i).toUtf8().constData());
        }
    }
    storeDocument(full, document);
    return ProfileReply::success(QStringLiteral("modifyAddProfile success"));
}

ProfileReply ProfileStore::modifyReplaceProfile(const QString &srcFilePath, const QString &desFilePath,
                                                const QString &srcXpath, const QString &desXpath)
{
    QMutexLocker lock(&m_mutex);
    QString srcFull, desFull;
    Load load = cacheFile(srcFilePath, &srcFull);
    if (load == Load::Ok)
        load = cacheFile(desFilePath, &desFull);
    pugi::xml_document destination, source;
    if (load == Load::Ok && (!parseUtf8(&destination, xmlCache.value(desFull))
                             || !parseUtf8(&source, xmlCache.value(srcFull))))
        load = Load::Unparsable;
    pugi::xml_node from, target;
    if (load == Load::Ok && (!selectFirst(source, srcXpath, &from) || !selectFirst(destination, desXpath, &target)))
        load = Load::BadXPath;
    if (load != Load::Ok)
        return failureFor(load, kReplaceFailed);

    // The target's place is taken by a copy of the source node (or by nothing, when the source
    // expression matches nothing).
    if (pugi::xml_node parent = target.parent()) {
        if (parent.first_child() == target) {
            parent.remove_child(target);
            if (from)
                parent.prepend_copy(from);
        } else {
            const pugi::xml_node before = target.previous_sibling();
            parent.remove_child(target);
            if (from)
                parent.insert_copy_after(from, before);
        }
    }
    storeDocument(desFull, destination);
    return ProfileReply::success(QStringLiteral("modifyReplaceProfile success"));
}

ProfileReply ProfileStore::modifyReplaceProfileEx(const QString &srcFilePath, const QString &desFilePath,
                                                  const QString &desXpath)
{
    QMutexLocker lock(&m_mutex);
    QString desFull;
    pugi::xml_document destination;
    Load load = loadCachedProfile(desFilePath, &desFull, &destination);
    if (load != Load::Ok)
        return failureFor(load, kReplaceFailed);

    QByteArray packaged;
    pugi::xml_document imported;
    if (!ProfilePackage::read(srcFilePath, &packaged) || !parseUtf8(&imported, packaged))
        return ProfileReply::failure(kReplaceFailed);
    pugi::xml_node target;
    if (!selectFirst(destination, desXpath, &target))
        return ProfileReply::failure(kReplaceFailed);

    // The package's top element stands for the target: its children replace the target's.
    const pugi::xml_node from = imported.first_child();
    if (target) {
        target.remove_children();
        for (pugi::xml_node child = from.first_child(); child; child = child.next_sibling())
            target.append_copy(child);
    }
    storeDocument(desFull, destination);
    return ProfileReply::success(QStringLiteral("modifyReplaceProfile success"));
}

ProfileReply ProfileStore::resetProfile(const QString &srcFilePath, const QString &desFilePath)
{
    QMutexLocker lock(&m_mutex);
    QString srcFull, desFull;
    // No failure text exists for this command: a refused path ends like an unreadable one.
    if (cacheFile(srcFilePath, &srcFull) != Load::Ok || cacheFile(desFilePath, &desFull) != Load::Ok)
        return ProfileReply::none();
    xmlCache.insert(desFull, xmlCache.value(srcFull));
    markModified(desFull);
    return ProfileReply::success(QStringLiteral("resetProfile success"));
}

ProfileReply ProfileStore::queryHexByte(const QString &filePath, const QString &xpath, const QString &args)
{
    QMutexLocker lock(&m_mutex);
    QString full;
    pugi::xml_document document;
    pugi::xml_node node;
    const Load load = loadAndSelect(filePath, xpath, &full, &document, &node);
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
}

bool ProfileStore::saveModifiedLocked()
{
    for (const QString &path : qAsConst(modifiedXmlFiles)) {
        // A crash or a full disk half-way must not cost the user the previous file.
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
            return false;
        const QByteArray &text = xmlCache[path];
        if (file.write(text) != text.size()) {
            file.cancelWriting();
            return false;
        }
        if (!file.commit())
            return false;
    }
    modifiedXmlFiles.clear();
    return true;
}

bool ProfileStore::saveModified()
{
    QMutexLocker lock(&m_mutex);
    return saveModifiedLocked();
}

ProfileReply ProfileStore::savexml()
{
    QMutexLocker lock(&m_mutex);
    if (xmlCache.isEmpty() || !saveModifiedLocked())
        return ProfileReply::none();
    return ProfileReply::success(QStringLiteral("save xml success"));
}

ProfileReply ProfileStore::saveXmlAs(const QString &srcFilePath, const QString &xpath, const QString &desFilePath)
{
    QMutexLocker lock(&m_mutex);
    QString full;
    pugi::xml_document document;
    pugi::xml_node node;
    const Load load = loadAndSelect(srcFilePath, xpath, &full, &document, &node);
    if (load != Load::Ok)
        return failureFor(load, kSaveAsFailed);

    pugi::xml_document exported;
    if (node)
        exported.append_copy(node);
    if (!ProfilePackage::write(desFilePath, serialise(exported)))
        return ProfileReply::failure(kSaveAsDestinationFailed);
    return ProfileReply::success(QStringLiteral("saveXmlAs success"));
}

bool ProfileStore::isCached(const QString &fullPath) const
{
    QMutexLocker lock(&m_mutex);
    return xmlCache.contains(fullPath);
}

QString ProfileStore::cachedText(const QString &fullPath) const
{
    QMutexLocker lock(&m_mutex);
    return QString::fromUtf8(xmlCache.value(fullPath));
}

QStringList ProfileStore::modifiedFiles() const
{
    QMutexLocker lock(&m_mutex);
    return modifiedXmlFiles;
}
