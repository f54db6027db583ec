// Which documents may use the native bridge (commands and events): the page's own documents
// only, never other files of the application folder (profiles are written by imports). A document's right is fixed by the address it was created with; an address
// taken later through the history API gives no right, and one that leaves the folder takes it.
#pragma once

#include <QString>

namespace vexa_runtime {

// A file URL, without a host, of one of the page's own documents: an ".html" file below
// applicationDir/view, but not below view/profiles or view/xml (after cleaning "." and "..").
bool isApplicationPage(const QString &url, const QString &applicationDir);
// True when the address shown now is the document's own, up to its query and fragment (the
// only parts the history API lets a file page change).
bool isSameDocumentAddress(const QString &a, const QString &b);
// The reason the document created at documentUrl and now showing currentUrl may not use the
// bridge, or empty when it may.
QString bridgeRefusal(const QString &documentUrl, const QString &currentUrl, const QString &applicationDir);

} // namespace vexa_runtime
