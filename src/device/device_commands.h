// The page's commands on pads: the list, properties, memory, notifications and macros.
#pragma once

#include "command_registry.h"

class CommandContext;
class devices_handler;

// What the pad commands work with: the device library, and the context for the settings text
// (the product catalogue) and the page events.
struct Pads {
    devices_handler &library;
    CommandContext &context;
};

// pads (and what it names) must outlive the registry's use of these commands.
void registerDeviceCommands(CommandRegistry &registry, Pads &pads);
