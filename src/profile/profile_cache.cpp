#include "profile_cache.h"

#include "atomic_file.h"
#include "profile_store.h"
#include "regular_file.h"
#include "xml_limits.h"

#include <QFileInfo>

ProfileCache::Load ProfileCache::read(const QString &fullPath)
{
    if (m_entries.contains(fullPath))
        return Load::Ok;
    // A FIFO, a device or a file too large for a profile is refused with the command's failure.
    const QFileInfo info(fullPath);
    if (!info.exists())
        return Load::Unreadable;
    if (!info.isFile() || info.size() > ProfileStore::kMaxTextBytes)
        return Load::Refused;
    QByteArray bytes;
    if (!RegularFile::read(fullPath, ProfileStore::kMaxTextBytes, true, &bytes))
        return Load::Unreadable;
    // Through a string once, so that malformed UTF-8 is settled the same way on every path.
    m_entries.insert(fullPath, {QString::fromUtf8(bytes).toUtf8(), {}, 0});
    return Load::Ok;
}

ProfileCache::Load ProfileCache::document(const QString &fullPath, Access access, Document *document)
{
    Entry &entry = m_entries[fullPath];
    if (entry.document.parsed) {
        *document = entry.document;
    } else {
        // As xml_limits::parseUtf8, with the shape found by the same walk that checks the depth.
        const QByteArray &text = entry.text;
        Document parsed{std::make_shared<pugi::xml_document>(), {}};
        if (!parsed->load_buffer(text.constData(), qstrlen(text.constData()), pugi::parse_default,
                                 pugi::encoding_utf8)
            || !xpath_cost::walkShape(*parsed, text.size(), ProfileStore::kMaxDepth, &parsed.shape))
            return Load::Unparsable;
        *document = parsed;
        entry.changesKept = 0;
    }
    // A document about to change is no longer what the text parses to.
    entry.document = access == Access::Read ? *document : Document();
    return Load::Ok;
}

void ProfileCache::forgetDocument(const QString &fullPath)
{
    const auto found = m_entries.find(fullPath);
    if (found != m_entries.end())
        found->document = Document();
}

ProfileCache::Load ProfileCache::store(const QString &fullPath, const Document &document, const Added &added)
{
    if (!xml_limits::hasOneTopElement(*document))
        return Load::Unparsable;
    for (const pugi::xml_node &node : added) {
        int level = 0; // 1 for the document's children
        for (pugi::xml_node up = node; up.parent(); up = up.parent())
            ++level;
        if (level > ProfileStore::kMaxDepth || !xml_limits::withinDepth(node, ProfileStore::kMaxDepth - level))
            return Load::TooLarge;
    }
    const Entry before = m_entries.value(fullPath);
    Entry after;
    if (!xml_limits::serialise(*document, &after.text, before.text.size()))
        return Load::TooLarge;
    bool textBesideText = true;
    if (before.changesKept < kMaxChangesKept
        && xpath_cost::walkShape(*document, after.text.size(), ProfileStore::kMaxDepth, &after.document.shape,
                                 &textBesideText)
        && !textBesideText) {
        after.document.parsed = document.parsed;
        after.changesKept = before.changesKept + 1;
    }
    m_entries.insert(fullPath, after);
    markModified(fullPath);
    return Load::Ok;
}

void ProfileCache::setText(const QString &fullPath, const QByteArray &text)
{
    m_entries.insert(fullPath, {text, {}, 0});
    markModified(fullPath);
}

void ProfileCache::markModified(const QString &fullPath)
{
    if (!m_modified.contains(fullPath))
        m_modified.append(fullPath);
}

bool ProfileCache::save(QString *error)
{
    for (const QString &path : qAsConst(m_modified)) {
        // Whatever took the file's place since it was read (a FIFO, a device, a link) is not
        // replaced: the rename would make a plain file of it or write where the link points.
        if (RegularFile::kindAt(path) == RegularFile::Kind::Other) {
            if (error)
                *error = QStringLiteral("%1 is no longer a plain file").arg(path);
            return false;
        }
        if (!platform::writeFileAtomically(path, m_entries.value(path).text, error, platform::WriteMode::Text))
            return false;
    }
    m_modified.clear();
    return true;
}
