// The page's commands on views, files, links and the application as a whole.
#pragma once

#include "command_registry.h"

#include <QSize>
#include <QUrl>

class vexa;

namespace ViewCommands {

// "file://" + the application folder + relative, which starts with "/" (Windows folders get
// the third slash of "file:///C:/..."); empty when the path, cleaned of "." and "..", leaves the
// folder.
QString applicationFileUrl(const QString &relative);

// The failure reply of "loadurl" and "openView" for a path applicationFileUrl refuses.
QString refusedPageText(const QString &relative);

// What "openUrl" hands to the desktop: absolute web and mail addresses (and the music player's
// links pages may open). Anything else could be a file or program to run, or an option to the
// desktop's opener.
bool isExternalAddress(const QUrl &url);

// The "size" argument of "openView": "width,height"; a part that is missing or no number
// counts as 0.
QSize parseViewSize(const QString &text);
// The size asked for, made one that the screens can show (screens empty: none known): a
// pop-up of 20000 × 20000 took gigabytes for its image, and a larger one ended the program.
QSize fitViewSize(const QSize &asked, const QRect &screens);

// openUrl, the file dialogs, openView/closeView, closeApp and confChanged, acting on window
// (which takes them out again as it goes). "checkUpdate" belongs to the update subsystem.
void registerCommands(CommandRegistry &registry, vexa &window);

} // namespace ViewCommands
