// The page's commands on pads: the list, properties, memory, notifications and macros.
#pragma once

#include "vexa.h"

void cmdGetDevicesList(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void cmdReadDevicesProp(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void cmdWriteDevicesProp(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void cmdIsPropEmpty(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void cmdReadByAddr(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void cmdWriteByAddr(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void cmdNotifyDevice(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void cmdCleanMacroByAddr(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
void cmdWriteMacroByAddr(vexa &window, const CommandArgs &args, const vexa::Callback &callback);
