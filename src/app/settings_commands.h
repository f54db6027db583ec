// The page's commands on the program's settings: "getConf" and "setConf".
#pragma once

#include "command_registry.h"

class AppSettings;
class vexa;

// The shortcut settings read and set the main window's global shortcuts; the commands go with
// the window. settings must outlive the window.
void registerSettingsCommands(CommandRegistry &registry, AppSettings &settings, vexa &window);
