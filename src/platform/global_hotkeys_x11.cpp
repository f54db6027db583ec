// X11: a hot key is a passive grab of the key on the root window, made on Qt's own connection so
// that the presses arrive among Qt's native events. The grab is made checked: a combination that
// another client holds is refused with BadAccess, and we learn of it before answering.
#include "x11_backend.h"

#include <QX11Info>

#include <xcb/xcb.h>

#include "x11_private.h"

namespace platform {

namespace {

// The modifiers a hot key is made of. Lock and Num Lock are not: a press must count whatever
// state those two are in.
constexpr quint16 kComboMask = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;

using GrabKey = X11Backend::GrabKey;

KeySym keySymFor(quint32 virtualKey)
{
    if (virtualKey >= '0' && virtualKey <= '9')
        return XK_0 + (virtualKey - '0');
    if (virtualKey >= 'A' && virtualKey <= 'Z')
        return XK_a + (virtualKey - 'A');
    if (virtualKey >= 112 && virtualKey <= 135)
        return XK_F1 + (virtualKey - 112);
    switch (virtualKey) {
    case 8: return XK_BackSpace;
    case 9: return XK_Tab;
    case 12: return XK_Clear;
    case 13: return XK_Return;
    case 19: return XK_Pause;
    case 27: return XK_Escape;
    case 32: return XK_space;
    case 33: return XK_Prior;
    case 34: return XK_Next;
    case 35: return XK_End;
    case 36: return XK_Home;
    case 37: return XK_Left;
    case 38: return XK_Up;
    case 39: return XK_Right;
    case 40: return XK_Down;
    case 42: return XK_Print;
    case 45: return XK_Insert;
    case 46: return XK_Delete;
    case 106: return XK_KP_Multiply;
    case 107: return XK_KP_Add;
    case 108: return XK_KP_Separator;
    case 109: return XK_KP_Subtract;
    case 111: return XK_KP_Divide;
    case 173: return XF86XK_AudioMute;
    case 174: return XF86XK_AudioLowerVolume;
    case 175: return XF86XK_AudioRaiseVolume;
    case 176: return XF86XK_AudioNext;
    case 177: return XF86XK_AudioPrev;
    case 178: return XF86XK_AudioStop;
    case 179: return XF86XK_AudioPlay;
    default: return 0;
    }
}

quint16 maskFor(quint32 flags)
{
    quint16 mask = 0;
    if (flags & 1)
        mask |= Mod1Mask;
    if (flags & 2)
        mask |= ControlMask;
    if (flags & 4)
        mask |= ShiftMask;
    if (flags & 8)
        mask |= Mod4Mask;
    return mask;
}

// The modifier bit that Num Lock sets on this keyboard (usually Mod2), 0 when it has none.
quint16 numLockMask(Display *display)
{
    const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
    XModifierKeymap *map = XGetModifierMapping(display);
    quint16 mask = 0;
    if (map && numLock) {
        for (int modifier = 0; modifier < 8 && !mask; ++modifier)
            for (int i = 0; i < map->max_keypermod; ++i)
                if (map->modifiermap[modifier * map->max_keypermod + i] == numLock)
                    mask = quint16(1 << modifier);
    }
    if (map)
        XFreeModifiermap(map);
    return mask;
}

// The key with every combination of Caps Lock and Num Lock added.
QVector<quint16> variants(quint16 mask, quint16 numLock)
{
    QVector<quint16> all{mask, quint16(mask | LockMask)};
    if (numLock)
        all << quint16(mask | numLock) << quint16(mask | numLock | LockMask);
    return all;
}

bool resolve(const HotKey &hotKey, GrabKey *key)
{
    if (!QX11Info::isPlatformX11())
        return false;
    const KeySym symbol = keySymFor(hotKey.virtualKey);
    if (!symbol)
        return false;
    const KeyCode code = XKeysymToKeycode(QX11Info::display(), symbol);
    if (!code)
        return false;
    *key = GrabKey(code, maskFor(hotKey.flags));
    return true;
}

void ungrab(const GrabKey &key)
{
    xcb_connection_t *connection = QX11Info::connection();
    for (quint16 mask : variants(key.second, numLockMask(QX11Info::display())))
        xcb_ungrab_key(connection, key.first, QX11Info::appRootWindow(), mask);
    xcb_flush(connection);
}

} // namespace

bool X11Backend::registerHotKey(const HotKey &hotKey)
{
    GrabKey key;
    if (!resolve(hotKey, &key))
        return false;
    // X lets a client grab the same key twice; a second registration here must fail all the same.
    if (m_grabs.contains(key))
        return false;

    xcb_connection_t *connection = QX11Info::connection();
    QVector<xcb_void_cookie_t> cookies;
    for (quint16 mask : variants(key.second, numLockMask(QX11Info::display())))
        cookies << xcb_grab_key_checked(connection, 1, QX11Info::appRootWindow(), mask, key.first,
                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    bool refused = false;
    for (const xcb_void_cookie_t &cookie : qAsConst(cookies)) {
        if (xcb_generic_error_t *error = xcb_request_check(connection, cookie)) {
            refused = true;
            free(error);
        }
    }
    if (refused) {
        // Releases the variants that did succeed; those another client holds stay its own.
        ungrab(key);
        return false;
    }
    m_grabs.insert(key, hotKey);
    return true;
}

bool X11Backend::unregisterHotKey(const HotKey &hotKey)
{
    GrabKey key;
    if (!resolve(hotKey, &key) || !m_grabs.contains(key))
        return false;
    ungrab(key);
    m_grabs.remove(key);
    return true;
}

bool X11Backend::hotKeyPress(const QByteArray &eventType, void *message, quint32 *virtualKey, quint32 *flags)
{
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
        return false;
    const auto *press = static_cast<const xcb_key_press_event_t *>(message);
    if (press->event != QX11Info::appRootWindow())
        return false;
    const auto found = m_grabs.constFind(GrabKey(press->detail, press->state & kComboMask));
    if (found == m_grabs.constEnd())
        return false;
    *virtualKey = found->virtualKey;
    *flags = found->flags;
    return true;
}

} // namespace platform
