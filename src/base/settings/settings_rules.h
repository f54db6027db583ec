// The few values "setConf" refuses because storing them would harm the program or the desktop:
// a window size no screen can show (it killed every later start), a text too long for a sane
// settings file, the installed version (only an installation records it), and a global shortcut
// without Ctrl, Alt or Meta, which would take a key from every other program. Every other value
// is the caller's to choose: the program reads what it does not know as "off" or "other".
#pragma once

#include "app_settings.h"

#include <QSize>
#include <QString>

#include <functional>

namespace settings_rules {

// The longest value any setting may hold.
constexpr int kMaxText = 1024;
// The smallest main window that still shows the page's controls.
constexpr int kMinWidth = 320;
constexpr int kMinHeight = 240;

// Why value may not be stored under key, in words for the user that name the key; empty when
// it may. screens: the size of all screens together (a window may not be larger).
QString refusal(const QString &key, const QString &value, const QSize &screens);

// Whether a key sequence text (native form) would reserve a key without Ctrl, Alt or Meta. A
// function key alone is a shortcut; an empty or unreadable text reserves nothing.
bool isBareKey(const QString &sequence);

// Whether a start checks the stored value of key (the window size and the two shortcuts).
bool ruled(const QString &key);

// The value a start uses when the file's value of a ruled key is refused: the default window
// size, and no shortcut at all.
QString fallback(const QString &key);

// Replaces each refused value of a ruled key by its fallback and calls log once per replacement.
// Other values are the user's text and stay as they are.
void repair(SettingsMap *settings, const QSize &screens, const std::function<void(const QString &)> &log);

} // namespace settings_rules
