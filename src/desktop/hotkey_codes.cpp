#include "hotkey_codes.h"

#include <Qt>

namespace hotkey_codes {

quint32 nativeFlags(quint32 qtModifiers)
{
    quint32 flags = 0;
    if (qtModifiers & Qt::ShiftModifier)
        flags |= 4;
    if (qtModifiers & Qt::ControlModifier)
        flags |= 2;
    if (qtModifiers & Qt::AltModifier)
        flags |= 1;
    if (qtModifiers & Qt::MetaModifier)
        flags |= 8;
    return flags;
}

quint32 nativeKey(quint32 qtKey)
{
    if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
        return qtKey; // the same codes, 48 to 57 and 65 to 90
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return 112 + (qtKey - Qt::Key_F1);
    switch (qtKey) {
    case Qt::Key_Space: return 32;
    // The numeric keypad's operators.
    case Qt::Key_Asterisk: return 106;
    case Qt::Key_Plus: return 107;
    case Qt::Key_Comma: return 108;
    case Qt::Key_Minus: return 109;
    case Qt::Key_Slash: return 111;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 9;
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Insert: return 45;
    case Qt::Key_Delete: return 46;
    case Qt::Key_Pause: return 19;
    case Qt::Key_Print: return 42;
    case Qt::Key_Clear: return 12;
    case Qt::Key_Home: return 36;
    case Qt::Key_End: return 35;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_VolumeDown: return 174;
    case Qt::Key_VolumeMute: return 173;
    case Qt::Key_VolumeUp: return 175;
    case Qt::Key_MediaPlay: return 179;
    case Qt::Key_MediaStop: return 178;
    case Qt::Key_MediaPrevious: return 177;
    case Qt::Key_MediaNext: return 176;
    default: return 0;
    }
}

} // namespace hotkey_codes
