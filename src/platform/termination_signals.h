// Asking the program to end from outside (Ctrl+C in a terminal, a session logging out, a service
// manager stopping it) goes through the same quit request as the tray and the page, so the
// shut-down order and the profile saving hold for it too.
#pragma once

#include <functional>

namespace platform {

// Calls handler on the GUI thread's event loop when the process is asked to terminate. Needs the
// application object; call once.
void onTerminationRequest(std::function<void()> handler);

} // namespace platform
