// The keyboard macro recorder: while recording, every key press and release of the session and
// the pause before it go to the page as "macroItem" events.
#pragma once

#include "vexa.h"

#include <QString>

#include <functional>

struct CapturedKey;

namespace HookHandler {

// (Re)starts the system-wide capture. When the capture cannot start nothing changes.
void startRecording();
// Ends the capture. Keys still held stay remembered, so their later release is not taken for
// a new press.
void stopRecording();
bool isRecording();

// One key event of the capture, on the UI thread.
void recordKey(const CapturedKey &key);

// Where the items go; by default the client handler's "macroItem" event. An empty sink restores
// the default.
using ItemSink = std::function<void(const QString &, const QString &, const QString &, const QString &)>;
void setItemSink(ItemSink sink);

void startRecord(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void stopRecord(vexa &window, const CommandArgs &args, const vexa::Callback &callback);

} // namespace HookHandler
