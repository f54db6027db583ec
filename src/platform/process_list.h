// The program files of the running processes.
#pragma once

#include <cstddef>
#include <functional>

namespace ProcessList {

// Calls visit with the full path of every running process's program file, in the system's own
// form (UTF-8); processes that cannot be read are skipped. visit returns false to stop early.
// False when the process list itself cannot be read.
bool forEachImagePath(const std::function<bool(const char *path, size_t length)> &visit);

} // namespace ProcessList
