#include "x11_scan_codes.h"

#include <array>

namespace X11ScanCodes {

namespace {

// The X server's evdev driver numbers a key by its Linux input code + 8.
constexpr unsigned kEvdevOffset = 8;

struct Entry {
    unsigned short evdev;
    unsigned char scanCode;
    bool extended;
};

// Keys outside the main block, where Linux numbering and set-1 part ways. Windows sets the
// extended flag for every E0-prefixed key and, by a long-standing quirk, for Num Lock as well
// (whose own code has no prefix), while Pause comes as 0x45 without it.
constexpr Entry kTable[] = {
    {69, 0x45, true},    // Num Lock
    {86, 0x56, false},   // the extra key left of Z on ISO keyboards
    {87, 0x57, false},   // F11
    {88, 0x58, false},   // F12
    {89, 0x73, false},   // Ro
    {92, 0x79, false},   // Henkan
    {93, 0x70, false},   // Katakana/Hiragana
    {94, 0x7b, false},   // Muhenkan
    {96, 0x1c, true},    // keypad Enter
    {97, 0x1d, true},    // right Ctrl
    {98, 0x35, true},    // keypad /
    {99, 0x37, true},    // Print Screen
    {100, 0x38, true},   // right Alt (AltGr)
    {102, 0x47, true},   // Home
    {103, 0x48, true},   // Up
    {104, 0x49, true},   // Page Up
    {105, 0x4b, true},   // Left
    {106, 0x4d, true},   // Right
    {107, 0x4f, true},   // End
    {108, 0x50, true},   // Down
    {109, 0x51, true},   // Page Down
    {110, 0x52, true},   // Insert
    {111, 0x53, true},   // Delete
    {113, 0x20, true},   // Mute
    {114, 0x2e, true},   // Volume Down
    {115, 0x30, true},   // Volume Up
    {116, 0x5e, true},   // Power
    {117, 0x59, false},  // keypad =
    {119, 0x45, false},  // Pause
    {121, 0x7e, false},  // keypad , (Brazilian)
    {124, 0x7d, false},  // Yen
    {125, 0x5b, true},   // left Windows
    {126, 0x5c, true},   // right Windows
    {127, 0x5d, true},   // Menu
    {142, 0x5f, true},   // Sleep
    {143, 0x63, true},   // Wake
    {163, 0x19, true},   // Next Track
    {164, 0x22, true},   // Play/Pause
    {165, 0x10, true},   // Previous Track
    {166, 0x24, true},   // Stop
    {183, 0x64, false},  // F13
    {184, 0x65, false},  // F14
    {185, 0x66, false},  // F15
    {186, 0x67, false},  // F16
    {187, 0x68, false},  // F17
    {188, 0x69, false},  // F18
    {189, 0x6a, false},  // F19
    {190, 0x6b, false},  // F20
    {191, 0x6c, false},  // F21
    {192, 0x6d, false},  // F22
    {193, 0x6e, false},  // F23
    {194, 0x76, false},  // F24
};

struct Slot {
    unsigned char scanCode = 0; // 0: no equivalent
    bool extended = false;
};

// Indexed by X key code (0 to 255).
std::array<Slot, 256> buildTable()
{
    std::array<Slot, 256> table{};
    // Escape (1) to keypad . (83): Linux took these numbers from the set-1 codes themselves.
    for (unsigned evdev = 1; evdev <= 83; ++evdev)
        table[evdev + kEvdevOffset] = Slot{static_cast<unsigned char>(evdev), false};
    for (const Entry &entry : kTable)
        table[entry.evdev + kEvdevOffset] = Slot{entry.scanCode, entry.extended};
    return table;
}

} // namespace

bool fromKeyCode(unsigned keyCode, CapturedKey *key)
{
    static const std::array<Slot, 256> table = buildTable();
    if (keyCode >= table.size() || table[keyCode].scanCode == 0)
        return false;
    key->scanCode = table[keyCode].scanCode;
    key->extended = table[keyCode].extended;
    return true;
}

} // namespace X11ScanCodes
