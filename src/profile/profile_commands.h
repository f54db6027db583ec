// The page's profile commands: argument checks and replies around the profile cache.
#pragma once

#include "command_registry.h"

#include <functional>

class ProfileStore;

// What the profile commands work with. beforeModifyProfile runs at the start of every
// "modifyProfile" (the application resets the double-click time there).
struct Profiles {
    ProfileStore &store;
    std::function<void()> beforeModifyProfile;
};

// profiles (and the store) must outlive the registry's use of these commands.
void registerProfileCommands(CommandRegistry &registry, Profiles &profiles);
