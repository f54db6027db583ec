// The page's command of the update subsystem.
#pragma once

#include "command_registry.h"

#include <functional>

// "checkUpdate": answers "checkUpdate success" at once and starts a manual check through
// manualCheck (the application's, which owns the check object).
void registerUpdateCommands(CommandRegistry &registry, std::function<void()> manualCheck);
