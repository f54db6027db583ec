// The page's mouse settings: pointer speed, wheel scroll lines and double-click time.
#pragma once

#include "command_registry.h"

#include <array>

// Double-click times in milliseconds for the page's slider positions 0 (slow) to 11 (fast).
extern const std::array<int, 12> doubleClickTable;

// False for a position outside 0 to 11 (nothing is changed), else whether the system took the
// table's time.
bool setDoubleClickTime(int position);
// What a profile edit does to the double-click time: this program's own interval goes back to
// the slowest time (position 0). The desktop's setting is the user's and stays untouched.
void resetOwnDoubleClickTime();

void registerMouseCommands(CommandRegistry &registry);
