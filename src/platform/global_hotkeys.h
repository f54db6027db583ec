// System-wide hot keys, named the way the Windows hot-key API names them: a virtual-key code and
// MOD_* flags (1 Alt, 2 Control, 4 Shift, 8 Win), with an identifier chosen by the caller. Key
// presses come back through the application's native event filter, decoded by hotKeyPress().
//
// Everything here runs on the UI thread.
#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace platform {

struct HotKey {
    int id = 0;
    quint32 virtualKey = 0;
    quint32 flags = 0;
};

// Reserves the combination for this process. False when the key has no native counterpart, when
// this process or another program already holds it, or when there is no desktop to ask.
bool registerHotKey(const HotKey &hotKey);
// Releases a combination registered by registerHotKey; false when it was not registered here.
bool unregisterHotKey(const HotKey &hotKey);

// Whether a native event (as a native event filter sees it) is the press of a registered hot
// key; if so *virtualKey and *flags name it.
bool hotKeyPress(const QByteArray &eventType, void *message, quint32 *virtualKey, quint32 *flags);

} // namespace platform
