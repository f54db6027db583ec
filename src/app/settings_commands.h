// The page's commands on the program's settings.
#pragma once

#include "vexa.h"

// Every setting as one JSON object inside an array; shortcut settings carry whether their key
// sequence is registered.
void cmdGetConf(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
// Changes one setting, applies it where it takes effect at once, and rewrites the settings file.
void cmdSetConf(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
