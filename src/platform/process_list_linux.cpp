// Linux: each process's program file is the target of /proc/<pid>/exe; its command line and
// environment are /proc/<pid>/cmdline and environ. Processes of other users cannot be read without
// privileges and are skipped. Every read is bounded: a scan must stay short whatever runs.
#include "process_list.h"

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

namespace ProcessList {

namespace {

constexpr size_t kCommandLineLimit = 64 * 1024;
constexpr size_t kEnvironmentLimit = 256 * 1024;

// Reads at most limit bytes of /proc/<pid>/<name> into *bytes.
bool readProcFile(int pid, const char *name, size_t limit, std::string *bytes)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/%s", pid, name);
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    bytes->clear();
    char buffer[4096];
    while (bytes->size() < limit) {
        const size_t wanted = std::min(sizeof buffer, limit - bytes->size());
        const ssize_t got = read(fd, buffer, wanted);
        if (got <= 0)
            break;
        bytes->append(buffer, size_t(got));
        if (size_t(got) < wanted)
            break; // these files are read whole while there is more: a short read is the end
    }
    close(fd);
    return true;
}

} // namespace

bool forEachProcess(const std::function<bool(int pid, const char *path, size_t length)> &visit)
{
    DIR *proc = opendir("/proc");
    if (!proc)
        return false;
    // Relative to the open /proc: saves a path walk from the root for every process.
    const int procFd = dirfd(proc);
    char link[sizeof(dirent::d_name) + sizeof "/exe"];
    char target[PATH_MAX];
    while (const dirent *entry = readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue; // not a process
        const size_t nameLength = strlen(entry->d_name);
        memcpy(link, entry->d_name, nameLength);
        memcpy(link + nameLength, "/exe", sizeof "/exe");
        const ssize_t length = readlinkat(procFd, link, target, sizeof target - 1);
        if (length <= 0)
            continue;
        target[length] = '\0';
        if (!visit(atoi(entry->d_name), target, size_t(length)))
            break;
    }
    closedir(proc);
    return true;
}

bool forEachImagePath(const std::function<bool(const char *path, size_t length)> &visit)
{
    return forEachProcess([&](int, const char *path, size_t length) { return visit(path, length); });
}

bool commandLine(int pid, std::vector<std::string> *arguments)
{
    std::string bytes;
    if (!readProcFile(pid, "cmdline", kCommandLineLimit, &bytes) || bytes.empty())
        return false;
    arguments->clear();
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\0', start);
        if (end == std::string::npos)
            end = bytes.size();
        arguments->emplace_back(bytes, start, end - start);
        start = end + 1;
    }
    return true;
}

std::string workingFolder(int pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/cwd", pid);
    char target[PATH_MAX];
    const ssize_t length = readlink(path, target, sizeof target - 1);
    if (length <= 0 || target[0] != '/')
        return {};
    return std::string(target, size_t(length));
}

bool environmentValue(int pid, const char *name, std::string *value)
{
    std::string bytes;
    if (!readProcFile(pid, "environ", kEnvironmentLimit, &bytes))
        return false;
    const size_t nameLength = strlen(name);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\0', start);
        if (end == std::string::npos)
            end = bytes.size();
        if (end - start > nameLength && bytes.compare(start, nameLength, name) == 0
            && bytes[start + nameLength] == '=') {
            value->assign(bytes, start + nameLength + 1, end - start - nameLength - 1);
            return true;
        }
        start = end + 1;
    }
    return false;
}

} // namespace ProcessList
