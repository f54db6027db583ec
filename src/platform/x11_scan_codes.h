// X key codes of the evdev keyboard driver → the set-1 scan codes of the same physical keys.
#pragma once

#include "key_capture.h"

namespace X11ScanCodes {

// The key's scan code and extended flag (down stays false); false for a key code with no
// set-1 equivalent.
bool fromKeyCode(unsigned keyCode, CapturedKey *key);

} // namespace X11ScanCodes
