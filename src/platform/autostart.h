// Starting the program with the user's session, hidden in the tray ("-autostart" on its command
// line). Changing it is best effort: a session or registry that refuses the change leaves
// things as they were and nobody is told, so the caller never waits on or reports it.
#pragma once

#include <QString>

namespace platform {

// Registers the running executable to start at log-in with "-autostart", or removes that
// registration.
void setAutostart(bool enable);

// Where the registration lives, for tests and diagnostics: a file path or a registry value name.
QString autostartLocation();

} // namespace platform
