// The page's profile commands: argument checks and replies around the profile cache.
#pragma once

#include "command_registry.h"

#include <functional>

class ProfileStore;

// profiles must outlive the registry's use of these commands. beforeModifyProfile runs at the
// start of every "modifyProfile" (the application resets the double-click time there).
void registerProfileCommands(CommandRegistry &registry, ProfileStore &profiles,
                             std::function<void()> beforeModifyProfile = {});
