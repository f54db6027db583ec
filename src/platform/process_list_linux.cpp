// Linux: each process's program file is the target of /proc/<pid>/exe. Processes of other users
// cannot be read without privileges and are skipped.
#include "process_list.h"

#include <dirent.h>
#include <limits.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

namespace ProcessList {

bool forEachImagePath(const std::function<bool(const char *path, size_t length)> &visit)
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
        if (!visit(target, size_t(length)))
            break;
    }
    closedir(proc);
    return true;
}

} // namespace ProcessList
