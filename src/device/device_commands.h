// The page's commands on pads: the list, properties, memory, notifications and macros.
#pragma once

#include "command_registry.h"

class CommandContext;
class devices_handler;

// library and context must outlive the registry's use of these commands.
void registerDeviceCommands(CommandRegistry &registry, devices_handler &library, CommandContext &context);
