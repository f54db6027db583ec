#include "detached_process.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace platform {

namespace {

// What the two children tell the parent through the status pipe; each record is written whole
// (far below PIPE_BUF), so the two writers never interleave.
struct Report {
    char kind; // 'p': the program's process id, 'e': the errno of the step that failed
    int value;
};

void report(int fd, char kind, int value)
{
    const Report record{kind, value};
    ssize_t written;
    do {
        written = ::write(fd, &record, sizeof record);
    } while (written < 0 && errno == EINTR);
}

// Closes every descriptor from first up, except keep. Between fork and exec: no allocation, no
// locks, only system calls.
void closeDescriptorsFrom(int first, int keep)
{
#ifdef SYS_close_range
    const auto closeRange = [](unsigned from, unsigned to) {
        return from > to || ::syscall(SYS_close_range, from, to, 0) == 0;
    };
    if (keep < first ? closeRange(unsigned(first), ~0U)
                     : closeRange(unsigned(first), unsigned(keep) - 1) && closeRange(unsigned(keep) + 1, ~0U))
        return;
#endif
    // Without close_range (older kernels, some sandboxes): the list of open descriptors.
    const int dir = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        const long limit = ::sysconf(_SC_OPEN_MAX);
        for (int fd = first; fd < (limit > 0 && limit < (1 << 20) ? limit : 65536); ++fd)
            if (fd != keep)
                ::close(fd);
        return;
    }
    alignas(8) char buffer[4096];
    for (;;) {
        const long got = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (long at = 0; at < got;) {
            const unsigned short length = *reinterpret_cast<unsigned short *>(buffer + at + 16);
            const char *name = buffer + at + 19;
            int fd = 0;
            bool number = *name != '\0';
            for (const char *c = name; *c; ++c) {
                number = number && *c >= '0' && *c <= '9';
                fd = fd * 10 + (*c - '0');
            }
            if (number && fd >= first && fd != keep && fd != dir)
                ::close(fd);
            at += length;
        }
    }
    ::close(dir);
}

// The program's side, in the grandchild: never returns.
[[noreturn]] void becomeProgram(char *const argv[], const char *folder, bool discardOutput, int status)
{
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        ::sigaction(signal, &byDefault, nullptr);
    if (discardOutput) {
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            if (null > STDERR_FILENO)
                ::close(null);
        }
    }
    closeDescriptorsFrom(STDERR_FILENO + 1, status);
    if (folder && ::chdir(folder) != 0) {
        report(status, 'e', errno);
        ::_exit(127);
    }
    ::execve(argv[0], argv, environ);
    report(status, 'e', errno);
    ::_exit(127);
}

} // namespace

bool startDetached(const DetachedProgram &what, qint64 *processId, QString *error)
{
    // Everything the children need is made now: after fork only system calls are safe.
    std::vector<QByteArray> strings;
    strings.push_back(QFile::encodeName(what.program));
    for (const QString &argument : what.arguments)
        strings.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &string : strings)
        argv.push_back(string.data());
    argv.push_back(nullptr);
    const QByteArray folder = QFile::encodeName(what.workingDirectory);
    const char *folderOrNull = folder.isEmpty() ? nullptr : folder.constData();

    const auto fail = [&](int code) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(code));
        return false;
    };
    int status[2];
    if (::pipe2(status, O_CLOEXEC) != 0)
        return fail(errno);
    const pid_t child = ::fork();
    if (child < 0) {
        const int code = errno;
        ::close(status[0]);
        ::close(status[1]);
        return fail(code);
    }
    if (child == 0) {
        ::close(status[0]);
        // A session of its own: no terminal's hang-up or interrupt of ours reaches the program.
        ::setsid();
        const pid_t program = ::fork();
        if (program == 0)
            becomeProgram(argv.data(), folderOrNull, what.discardOutput, status[1]);
        if (program < 0)
            report(status[1], 'e', errno);
        else
            report(status[1], 'p', int(program));
        // The program's parent becomes the init process, which reaps it.
        ::_exit(0);
    }
    ::close(status[1]);
    int started = 0;
    int failure = 0;
    Report record{};
    for (;;) {
        const ssize_t got = ::read(status[0], &record, sizeof record);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != ssize_t(sizeof record))
            break; // both ends closed: the program has been executed, or has ended
        if (record.kind == 'p')
            started = record.value;
        else
            failure = record.value;
    }
    ::close(status[0]);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (failure != 0 || started == 0)
        return fail(failure != 0 ? failure : ECHILD);
    if (processId)
        *processId = started;
    return true;
}

} // namespace platform
