// The page's profile commands: argument checks and replies around the window's ProfileStore.
#pragma once

#include "vexa.h"

namespace ProfileCommands {

void queryProfile(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void nodeCounterProfile(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void modifyProfile(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void modifyProfileEx(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void modifyRemoveProfile(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void modifyAddProfile(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void modifyReplaceProfile(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void modifyReplaceProfileEx(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void resetProfile(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void queryHexByte(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void savexml(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void saveXmlAs(vexa &window, const CommandArgs &args, const vexa::Callback &callback);

} // namespace ProfileCommands
