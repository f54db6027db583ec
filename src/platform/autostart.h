// Starting the program with the user's session, hidden in the tray ("-autostart" on its command
// line).
#pragma once

#include <QString>

namespace platform {

// Registers the running executable to start at log-in with "-autostart", or removes that
// registration. False when the registration could not be made or removed (removing one that
// does not exist succeeds); error (if given) then names it and says why, in the form
// "cannot write <where>: <why>" or "cannot remove <where>: <why>".
bool setAutostart(bool enable, QString *error = nullptr);

// Where the registration lives, for tests and diagnostics: a file path or a registry value name.
QString autostartLocation();

} // namespace platform
