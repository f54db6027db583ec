// What each setting the program acts on may hold. A value outside these rules has made the
// program unusable (a window size no screen can show killed every later start), so "setConf"
// refuses it and a start replaces one found in the file by the setting's default.
#pragma once

#include "app_settings.h"

#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

namespace settings_rules {

// Settings the program does not act on are kept as the user's text, up to this length.
constexpr int kMaxFreeText = 1024;
// The smallest main window that still shows the page's controls.
constexpr int kMinWidth = 320;
constexpr int kMinHeight = 240;

// The interface languages the page and the tray menu know. A code of one of their languages with
// another region or none ("de", "de-CH") is taken too: the page shows that language for it.
const QStringList &languages();

// Why value may not be stored under key, in words for the user that name the key; empty when
// it may. screens: the size of all screens together (a window may not be larger).
QString refusal(const QString &key, const QString &value, const QSize &screens);

// Whether the program acts on key, so that its value must pass the rules (else free text).
bool ruled(const QString &key);

// The value a start uses when the file's value is refused; empty for free-text keys, and for a
// shortcut where it would take a combination from the desktop (no shortcut is set then).
QString fallback(const QString &key);

// Replaces each refused value of settings by its fallback and calls log once per replacement.
void repair(SettingsMap *settings, const QSize &screens, const std::function<void(const QString &)> &log);

} // namespace settings_rules
