// Chromium's renderer sandbox on Linux needs a user namespace of its own (no setuid helper comes
// with QtWebEngine). Windows sandboxes its renderers with its own job objects and tokens and
// needs no such probe: a backend there would answer true.
#pragma once

namespace platform {

// Whether this process may create a user namespace. Asks the kernel, in a child process so that
// this one stays as it is: the switches for it differ between kernels and distributions.
bool userNamespacesAvailable();

} // namespace platform
