// The page's commands on views, files, links and the application as a whole.
#pragma once

#include "vexa.h"

#include <QSize>

namespace ViewCommands {

// The "size" argument of "openView": "width,height"; a part that is missing or no number
// counts as 0.
QSize parseViewSize(const QString &text);

void openUrl(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void saveFileDialog(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void openFileDialog(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void openFileDialogExe(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void openView(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void closeView(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void closeApp(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void confChanged(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void checkUpdate(vexa &window, const CommandArgs &args, const vexa::Callback &callback);

} // namespace ViewCommands
