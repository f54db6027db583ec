// Qt keys and modifiers in the terms of the Windows hot-key API (virtual-key codes, MOD_* flags),
// the one naming every platform backend of the global shortcuts receives.
#pragma once

#include <QtGlobal>

namespace hotkey_codes {

// The Qt modifier bits a hot key can carry: Shift, Control, Alt, Meta.
constexpr quint32 kModifierBits = 0x1E000000;

// MOD_ALT 1, MOD_CONTROL 2, MOD_SHIFT 4, MOD_WIN 8, from Qt modifier bits.
quint32 nativeFlags(quint32 qtModifiers);
// The virtual-key code of a Qt key (modifier bits cleared); 0 for a key without one.
quint32 nativeKey(quint32 qtKey);
// The registration identifier of a combination.
inline int hotKeyId(quint32 nativeKey, quint32 nativeFlags) { return int(nativeFlags ^ nativeKey); }

} // namespace hotkey_codes
