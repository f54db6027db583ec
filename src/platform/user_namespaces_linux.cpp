#include "user_namespaces.h"

#include <cerrno>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

bool userNamespacesAvailable()
{
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0)
        _exit(unshare(CLONE_NEWUSER) == 0 ? 0 : 1);
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace platform
