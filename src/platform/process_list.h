// The running processes: their program files, and, for the few a caller asks about, their command
// lines, working folders and environment values.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace ProcessList {

// Calls visit with the full path of every running process's program file, in the system's own
// form (UTF-8); processes that cannot be read are skipped. visit returns false to stop early.
// False when the process list itself cannot be read.
bool forEachImagePath(const std::function<bool(const char *path, size_t length)> &visit);
// The same, with each process's id for the questions below.
bool forEachProcess(const std::function<bool(int pid, const char *path, size_t length)> &visit);

// The process's arguments, its program name first; at most the first 64 KiB. False when they
// cannot be read (another user's process, or it has ended).
bool commandLine(int pid, std::vector<std::string> *arguments);
// The process's working folder; empty when it cannot be read.
std::string workingFolder(int pid);
// The value of one environment variable as the process started with it; false when it has none
// or it cannot be read. Reads at most the first 256 KiB of the environment.
bool environmentValue(int pid, const char *name, std::string *value);

} // namespace ProcessList
