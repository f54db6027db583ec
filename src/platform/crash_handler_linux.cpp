// The Linux crash handler. A fatal signal is caught on an alternate stack (a stack overflow
// leaves no room on the thread's own); the handler only copies the signal frame and wakes the
// writer thread, which was started at install time because creating a thread after a crash can
// deadlock. The crashing thread waits until the dump is written and the reporter started, then
// the signal is delivered again with its default action, so the exit status still says which
// signal ended the process.
#include "crash_backend.h"
#include "crash_handler.h"
#include "minidump_writer_linux.h"

#include <QByteArrayList>
#include <QFile>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace platform {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kWriterStackSize = 64 * 1024;
constexpr size_t kAlternateStackSize = 64 * 1024;
// A writer that hangs must not keep a dead program on screen for ever.
constexpr int kWriterTimeoutMs = 60 * 1000;

// Everything the crash path touches, fixed in size and filled before any crash can happen.
struct CrashState {
    std::atomic<bool> installed{false};
    std::atomic<pid_t> crashingTid{0};
    std::atomic<pid_t> writerTid{0};
    int wakePipe[2] = {-1, -1};
    int donePipe[2] = {-1, -1};
    char dumpFolder[PATH_MAX] = {};
    char reporterPath[1024] = {};
    char dumpPath[PATH_MAX + 64] = {};
    char *reporterArgv[3] = {};
    char **reporterEnvp = nullptr;
    minidump::SystemFacts facts;
    minidump::CrashInfo crash;
};

CrashState g_state;
// The reporter's environment, copied when the path is set: environ itself may be half-way
// through a setenv on another thread when the crash comes.
QByteArrayList g_environment;
QVector<char *> g_environmentPointers;

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

// Appends src to dst (capacity bytes in all), always terminated; answers false when cut short.
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
    unsigned v = value < 0 ? static_cast<unsigned>(-value) : static_cast<unsigned>(value);
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

// fork() runs the C library's fork handlers, which take the heap's locks that a crashed thread
// may hold; the bare system call copies the process and nothing else.
pid_t rawFork()
{
    return static_cast<pid_t>(syscall(SYS_clone, SIGCHLD, nullptr, nullptr, nullptr, nullptr));
}

// Starts the reporter in a new session, its parent the init process, so that it outlives us and
// no terminal signal of ours reaches it. Answers 0 or the error of the failed start.
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
        // Only a failed fork or exec gets here; a successful exec closes the pipe unseen.
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

void writeDump()
{
    char id[37];
    makeDumpId(id);
    char partial[sizeof g_state.dumpPath + 8] = {};
    append(partial, sizeof partial, g_state.dumpFolder);
    append(partial, sizeof partial, "/");
    append(partial, sizeof partial, id);
    append(partial, sizeof partial, ".dmp.part");
    bool written = false;
    const int fd = open(partial, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        written = minidump::writeMinidump(fd, g_state.crash, nullptr, 0, g_state.facts);
        written = fsync(fd) == 0 && written;
        close(fd);
        // Only a complete dump carries the name a reporter or a user looks for.
        char final[sizeof partial] = {};
        std::memcpy(final, partial, std::strlen(partial) - 5);
        if (!written || rename(partial, final) != 0) {
            unlink(partial);
            written = false;
        }
    }
    onDumpWritten(g_state.dumpFolder, id, written);
}

void *writerMain(void *)
{
    g_state.writerTid.store(currentTid());
    char byte;
    for (;;) {
        const ssize_t n = read(g_state.wakePipe[0], &byte, 1);
        if (n == 1)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        return nullptr;
    }
    writeDump();
    writeAll(g_state.donePipe[1], "d", 1);
    return nullptr;
}

void restoreDefaultActions()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int sig : kFatalSignals)
        sigaction(sig, &action, nullptr);
}

void onFatalSignal(int sig, siginfo_t *info, void *ucontext)
{
    const int savedErrno = errno;
    const pid_t tid = currentTid();
    pid_t nobody = 0;
    if (tid != g_state.writerTid.load() && g_state.crashingTid.compare_exchange_strong(nobody, tid)) {
        minidump::CrashInfo &crash = g_state.crash;
        crash.signal = sig;
        crash.code = info->si_code;
        // si_addr means something only for faults the CPU raised; for a sent signal that
        // storage holds the sender's pid and uid.
        crash.address = info->si_code > 0 ? reinterpret_cast<uint64_t>(info->si_addr) : 0;
        minidump::registersFromSignalContext(tid, ucontext, &crash.crashingThread);
        writeAll(g_state.wakePipe[1], "w", 1);
        pollfd done{g_state.donePipe[0], POLLIN, 0};
        while (poll(&done, 1, kWriterTimeoutMs) < 0 && errno == EINTR) {
        }
    } else if (tid != g_state.writerTid.load()) {
        // Another thread is being reported; this one waits for the end the first one brings.
        for (;;)
            pause();
    }
    restoreDefaultActions();
    // A fault raised by the CPU comes back when the instruction runs again; a sent or raised
    // signal has to be sent again.
    if (info->si_code <= 0 || sig == SIGABRT)
        syscall(SYS_tgkill, getpid(), tid, sig);
    errno = savedErrno;
}

} // namespace

bool installCrashHandler(const QString &dumpFolder)
{
    bool expected = false;
    if (!g_state.installed.compare_exchange_strong(expected, true))
        return false;

    const QByteArray folder = QFile::encodeName(dumpFolder);
    if (folder.size() >= static_cast<int>(sizeof g_state.dumpFolder) - 64) {
        qWarning("crash dump folder path too long, no crash handler: %s", folder.constData());
        return false;
    }
    std::memcpy(g_state.dumpFolder, folder.constData(), static_cast<size_t>(folder.size()) + 1);
    const int processors = QThread::idealThreadCount();
    g_state.facts.processorCount = static_cast<uint8_t>(processors > 255 ? 255 : processors < 1 ? 1 : processors);

    if (pipe2(g_state.wakePipe, O_CLOEXEC) != 0 || pipe2(g_state.donePipe, O_CLOEXEC) != 0) {
        qWarning("crash handler: no pipes (%s)", std::strerror(errno));
        return false;
    }

    // The writer blocks every signal: a signal sent to the process goes to a program thread,
    // where it is reported, never to the thread that reports.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kWriterStackSize);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t writer;
    const int created = pthread_create(&writer, &attributes, writerMain, nullptr);
    pthread_attr_destroy(&attributes);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (created != 0) {
        qWarning("crash handler: no writer thread (%s)", std::strerror(created));
        return false;
    }
    pthread_setname_np(writer, "crash-writer");
    // The writer's tid must be known before a crash, or its own fault would wait for itself.
    while (g_state.writerTid.load() == 0)
        sched_yield();

    // Kept for the life of the process: the handler may run on it at any moment.
    static char alternateStack[kAlternateStackSize];
    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    sigaltstack(&stack, nullptr);

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int sig : kFatalSignals)
        sigaddset(&action.sa_mask, sig);
    for (int sig : kFatalSignals)
        sigaction(sig, &action, nullptr);
    return true;
}

bool crashHandlerInstalled()
{
    return g_state.installed.load();
}

bool onDumpWritten(const char *dumpFolder, const char *dumpId, bool succeeded)
{
    // The reporter gets the path either way: it can say that the dump is missing.
    Q_UNUSED(succeeded);
    char *path = g_state.dumpPath;
    path[0] = '\0';
    append(path, sizeof g_state.dumpPath, dumpFolder);
    append(path, sizeof g_state.dumpPath, "/");
    append(path, sizeof g_state.dumpPath, dumpId);
    append(path, sizeof g_state.dumpPath, ".dmp");
    if (g_state.reporterPath[0] == '\0')
        return true;
    g_state.reporterArgv[0] = g_state.reporterPath;
    g_state.reporterArgv[1] = path;
    g_state.reporterArgv[2] = nullptr;
    const int error = startDetached(g_state.reporterArgv, g_state.reporterEnvp ? g_state.reporterEnvp : environ);
    if (error == 0) {
        writeText(STDOUT_FILENO, "Request to terminate process has been sent!\n");
    } else {
        char number[16];
        formatNumber(error, number);
        char line[64] = "CreateProcess failed (";
        append(line, sizeof line, number);
        append(line, sizeof line, ").\n");
        writeText(STDERR_FILENO, line);
    }
    return true;
}

namespace crash_backend {

QString executableSuffix()
{
    return QString();
}

bool storeReporterPath(const QByteArray &encodedPath)
{
    if (encodedPath.size() >= static_cast<int>(sizeof g_state.reporterPath)) {
        g_state.reporterPath[0] = '\0';
        return false;
    }
    g_environment.clear();
    g_environmentPointers.clear();
    for (char **entry = environ; entry && *entry; ++entry)
        g_environment.append(QByteArray(*entry));
    for (QByteArray &entry : g_environment)
        g_environmentPointers.append(entry.data());
    g_environmentPointers.append(nullptr);
    g_state.reporterEnvp = g_environmentPointers.data();
    std::memcpy(g_state.reporterPath, encodedPath.constData(), static_cast<size_t>(encodedPath.size()) + 1);
    return true;
}

QByteArray storedReporterPath()
{
    return QByteArray(g_state.reporterPath);
}

} // namespace crash_backend

} // namespace platform
