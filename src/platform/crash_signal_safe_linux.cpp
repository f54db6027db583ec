// Async-signal-safe, all of it: may be called from a signal handler (see crash_signal_safe.h).
// Nothing here may allocate, take a lock or call into Qt or stdio.
#include "crash_signal_safe.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform::signal_safe {

namespace {

// fork() runs the C library's fork handlers, which take the heap's locks that a crashed thread
// may hold; the bare system call copies the process and nothing else.
pid_t rawFork()
{
    return static_cast<pid_t>(syscall(SYS_clone, SIGCHLD, nullptr, nullptr, nullptr, nullptr));
}

} // namespace

pid_t currentTid()
{
    return static_cast<pid_t>(syscall(SYS_gettid));
}

void writeAll(int fd, const char *text, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, text, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text += n;
        size -= static_cast<size_t>(n);
    }
}

void writeText(int fd, const char *text)
{
    writeAll(fd, text, std::strlen(text));
}

bool append(char *dst, size_t capacity, const char *src)
{
    const size_t used = std::strlen(dst);
    const size_t n = std::strlen(src);
    if (used + n + 1 > capacity)
        return false;
    std::memcpy(dst + used, src, n + 1);
    return true;
}

// A version 4 UUID in lower case, 36 characters: the kernel makes one per read; getrandom
// stands in where /proc is not mounted.
void makeDumpId(char id[37])
{
    const int fd = open("/proc/sys/kernel/random/uuid", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const ssize_t n = read(fd, id, 36);
        close(fd);
        if (n == 36) {
            id[36] = '\0';
            return;
        }
    }
    unsigned char bytes[16] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // Unique enough within this folder: the time and the process.
        const uint64_t mix[2] = {static_cast<uint64_t>(time(nullptr)), static_cast<uint64_t>(getpid())};
        std::memcpy(bytes, mix, sizeof bytes);
    }
    bytes[6] = (bytes[6] & 0x0f) | 0x40;
    bytes[8] = (bytes[8] & 0x3f) | 0x80;
    static const char hex[] = "0123456789abcdef";
    int at = 0;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            id[at++] = '-';
        id[at++] = hex[bytes[i] >> 4];
        id[at++] = hex[bytes[i] & 0xf];
    }
    id[at] = '\0';
}

void formatNumber(int value, char *out)
{
    char digits[16];
    int n = 0;
    // Negated in unsigned arithmetic, which is defined for INT_MIN too.
    unsigned v = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v > 0);
    int at = 0;
    if (value < 0)
        out[at++] = '-';
    while (n > 0)
        out[at++] = digits[--n];
    out[at] = '\0';
}

int64_t nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

bool awaitByte(int fd, int timeoutMs, char *byte)
{
    const int64_t deadline = nowMs() + timeoutMs;
    for (;;) {
        const int64_t left = deadline - nowMs();
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = read(fd, byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        return n == 1;
    }
}

// The program (the reporter) runs in a new session, its parent the init process, so that it
// outlives us and no terminal signal of ours reaches it.
int startDetached(char *const argv[], char *const envp[])
{
    int status[2];
    if (pipe2(status, O_CLOEXEC) != 0)
        return errno;
    const pid_t child = rawFork();
    if (child == 0) {
        close(status[0]);
        setsid();
        const pid_t grandchild = rawFork();
        if (grandchild == 0) {
            // The writer thread blocks every signal; the reporter must not inherit that.
            sigset_t none;
            sigemptyset(&none);
            syscall(SYS_rt_sigprocmask, SIG_SETMASK, &none, nullptr, sizeof(unsigned long));
            execve(argv[0], argv, envp);
        }
        // A failed fork or exec reports its error; a successful exec closes the pipe unseen, and
        // so does this middle process once its child is on its way (errno here is stale then).
        if (grandchild > 0)
            syscall(SYS_exit_group, 0);
        const int error = errno;
        writeAll(status[1], reinterpret_cast<const char *>(&error), sizeof error);
        syscall(SYS_exit_group, 127);
    }
    close(status[1]);
    int error = child < 0 ? errno : 0;
    if (child > 0) {
        int reported = 0;
        ssize_t n;
        do {
            n = read(status[0], &reported, sizeof reported);
        } while (n < 0 && errno == EINTR);
        if (n == static_cast<ssize_t>(sizeof reported))
            error = reported;
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    close(status[0]);
    return error;
}

} // namespace platform::signal_safe
