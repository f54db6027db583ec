// The desktop's mouse settings, changed for the whole user session. Each call returns whether
// anything took the new value.
#pragma once

namespace MouseSettings {

// Pointer speed on the 1 (slowest) to 20 (fastest) scale, 10 being the unaccelerated speed.
// Outside that scale nothing is changed.
bool setPointerSpeed(int speed);
// Lines the wheel scrolls per notch.
bool setWheelScrollLines(int lines);
bool setDoubleClickTime(int milliseconds);
// This program's own double-click interval only; the desktop's setting stays as the user made it.
bool setOwnDoubleClickTime(int milliseconds);

} // namespace MouseSettings
