#include "page_access.h"

#include <QDir>
#include <QUrl>

namespace vexa_runtime {

bool isApplicationPage(const QString &url, const QString &applicationDir)
{
    const QUrl parsed(url);
    if (!parsed.isLocalFile() || !parsed.host().isEmpty())
        return false;
    const QString root = QDir::cleanPath(applicationDir);
    const QString path = QDir::cleanPath(parsed.toLocalFile());
    if (root.isEmpty() || !path.startsWith(root + QStringLiteral("/view/")) || !path.endsWith(QLatin1String(".html")))
        return false;
    // Profiles and their XML are data that imports and commands write: shown as a page, an
    // XHTML element among them would run with every right of the bridge.
    const QString inView = path.mid(root.size() + int(sizeof("/view/")) - 1);
    return !inView.startsWith(QLatin1String("profiles/")) && !inView.startsWith(QLatin1String("xml/"));
}

bool isSameDocumentAddress(const QString &a, const QString &b)
{
    const QUrl::FormattingOptions bare = QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::NormalizePathSegments;
    const QUrl first(a);
    const QUrl second(b);
    return first.isValid() && second.isValid() && !first.isEmpty() &&
           first.adjusted(bare).toString(QUrl::FullyEncoded) == second.adjusted(bare).toString(QUrl::FullyEncoded);
}

QString bridgeRefusal(const QString &documentUrl, const QString &currentUrl, const QString &applicationDir)
{
    if (documentUrl.isEmpty())
        return QStringLiteral("%1 refused: the document's own address is not known").arg(currentUrl);
    if (!isApplicationPage(documentUrl, applicationDir))
        return QStringLiteral("%1 refused: the page is outside the application folder").arg(documentUrl);
    if (!isApplicationPage(currentUrl, applicationDir))
        return QStringLiteral("%1 refused: the page now shows %2, outside the application folder")
            .arg(documentUrl, currentUrl);
    return QString();
}

} // namespace vexa_runtime
