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
    return !root.isEmpty() && path.startsWith(root + QLatin1Char('/'));
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
