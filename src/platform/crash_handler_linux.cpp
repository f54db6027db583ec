// The Linux crash handler (x86-64: the dump writer knows that CPU only). A fatal signal is caught
// on the crashing thread's alternate stack (a stack overflow leaves no room on the thread's own;
// each thread needs one, see prepareThreadForCrashes); the handler only copies the signal frame
// and wakes the writer thread, which was started at install time because creating a thread after
// a crash can deadlock. The crashing thread waits until the dump is written and the reporter
// started, then the signal is delivered again with its default action, so the exit status still
// says which signal ended the process.
//
// What may run in the signal path: onFatalSignal (the handler), and writerMain, writeDump and
// onDumpWritten on the writer thread while the process is frozen. They touch only g_state, filled
// before any crash, and the helpers of crash_signal_safe.h and crash_threads_linux.h: no heap, no
// locks, no Qt. Installing, storing the reporter path and preparing a thread run before any crash
// and may allocate; nothing in the signal path calls them.
#include "crash_backend.h"
#include "crash_handler.h"
#include "crash_signal_safe.h"
#include "crash_threads_linux.h"
#include "minidump_writer_linux.h"

#include <QByteArrayList>
#include <QFile>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <iterator>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char **environ;

namespace platform {

namespace {

using signal_safe::append;
using signal_safe::currentTid;
using signal_safe::writeAll;

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kWriterStackSize = 64 * 1024;
constexpr size_t kAlternateStackSize = 64 * 1024;
// A writer that hangs must not keep a dead program on screen for ever.
constexpr int kWriterTimeoutMs = 60 * 1000;
static_assert(kWriterTimeoutMs - crash_threads::kHoldThreadsMs >= 10 * 1000,
              "the other threads must run again well before the crashing thread stops waiting");

// Everything the crash path touches, fixed in size and filled before any crash can happen.
struct CrashState {
    std::atomic<bool> attempted{false};
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

// One thread's alternate signal stack, with a page below it that nothing may touch: a handler
// that ran out of it faults there instead of writing over whatever memory lies below.
class AlternateStack {
public:
    AlternateStack() = default;
    AlternateStack(const AlternateStack &) = delete;
    AlternateStack &operator=(const AlternateStack &) = delete;
    ~AlternateStack()
    {
        if (!m_pages || m_keep)
            return;
        // Switched off before it is unmapped: a signal in between would otherwise be delivered
        // onto memory that is gone. Kept mapped if it cannot be switched off.
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        if (sigaltstack(&off, nullptr) == 0)
            munmap(m_pages, m_mappedSize);
    }

    // Answers whether the calling thread now has an alternate stack, this one or another's.
    bool ensure(bool keepForLife)
    {
        if (m_pages)
            return true;
        stack_t current{};
        if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE))
            return true;
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t mapped = kAlternateStackSize + page;
        void *pages = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (pages == MAP_FAILED)
            return false;
        stack_t stack{};
        stack.ss_sp = static_cast<char *>(pages) + page;
        stack.ss_size = kAlternateStackSize;
        if (mprotect(pages, page, PROT_NONE) != 0 || sigaltstack(&stack, nullptr) != 0) {
            munmap(pages, mapped);
            return false;
        }
        m_pages = pages;
        m_mappedSize = mapped;
        m_keep = keepForLife;
        return true;
    }

private:
    void *m_pages = nullptr;
    size_t m_mappedSize = 0;
    bool m_keep = false;
};

// Released by the thread itself as it ends (thread-local destructors run on the ending thread,
// after all of its own code).
thread_local AlternateStack t_alternateStack;

void writeDump()
{
    char id[37];
    signal_safe::makeDumpId(id);
    char partial[sizeof g_state.dumpPath + 8] = {};
    append(partial, sizeof partial, g_state.dumpFolder);
    append(partial, sizeof partial, "/");
    append(partial, sizeof partial, id);
    append(partial, sizeof partial, ".dmp.part");
    bool written = false;
    const int fd = open(partial, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        written = crash_threads::writeMinidumpWithThreads(fd, g_state.crash, g_state.facts,
                                                           g_state.writerTid.load());
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
        // The installation was given up: nothing will ever be written.
        close(g_state.wakePipe[0]);
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

void closeIfOpen(int *fd)
{
    if (*fd >= 0)
        close(*fd);
    *fd = -1;
}

// Sets up everything but the installed flag; on failure undoes what it did and says why.
bool install(const QString &dumpFolder)
{
    const QByteArray folder = QFile::encodeName(chooseDumpFolder(dumpFolder));
    if (folder.size() >= static_cast<int>(sizeof g_state.dumpFolder) - 64) {
        qWarning("crash dump folder path too long, no crash handler: %s", folder.constData());
        return false;
    }
    std::memcpy(g_state.dumpFolder, folder.constData(), static_cast<size_t>(folder.size()) + 1);
    const int processors = QThread::idealThreadCount();
    g_state.facts.processorCount = static_cast<uint8_t>(processors > 255 ? 255 : processors < 1 ? 1 : processors);

    if (pipe2(g_state.wakePipe, O_CLOEXEC) != 0 || pipe2(g_state.donePipe, O_CLOEXEC) != 0) {
        qWarning("crash handler: no pipes (%s)", std::strerror(errno));
        for (int *fd : {&g_state.wakePipe[0], &g_state.wakePipe[1], &g_state.donePipe[0], &g_state.donePipe[1]})
            closeIfOpen(fd);
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
        for (int *fd : {&g_state.wakePipe[0], &g_state.wakePipe[1], &g_state.donePipe[0], &g_state.donePipe[1]})
            closeIfOpen(fd);
        return false;
    }
    pthread_setname_np(writer, "crash-writer");
    // The writer's tid must be known before a crash, or its own fault would wait for itself.
    while (g_state.writerTid.load() == 0)
        sched_yield();

    // The installing thread is expected to live as long as the process; its stack stays.
    if (!t_alternateStack.ensure(true))
        qWarning("crash handler: no alternate signal stack (%s); a stack overflow here leaves no dump",
                 std::strerror(errno));

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int sig : kFatalSignals)
        sigaddset(&action.sa_mask, sig);
    struct sigaction before[std::size(kFatalSignals)];
    for (size_t i = 0; i < std::size(kFatalSignals); ++i) {
        if (sigaction(kFatalSignals[i], &action, &before[i]) == 0)
            continue;
        qWarning("crash handler: signal %d cannot be handled (%s)", kFatalSignals[i], std::strerror(errno));
        while (i-- > 0)
            sigaction(kFatalSignals[i], &before[i], nullptr);
        // The writer sees the end of its pipe and ends.
        closeIfOpen(&g_state.wakePipe[1]);
        closeIfOpen(&g_state.donePipe[0]);
        closeIfOpen(&g_state.donePipe[1]);
        return false;
    }
    return true;
}

} // namespace

bool installCrashHandler(const QString &dumpFolder)
{
    bool expected = false;
    if (!g_state.attempted.compare_exchange_strong(expected, true))
        return false;
    const bool done = install(dumpFolder);
    g_state.installed.store(done);
    return done;
}

bool crashHandlerInstalled()
{
    return g_state.installed.load();
}

void prepareThreadForCrashes()
{
    t_alternateStack.ensure(false);
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
    // A missing reporter was named at start-up; a start that can only fail would add nothing.
    if (g_state.reporterPath[0] == '\0' || access(g_state.reporterPath, X_OK) != 0)
        return true;
    g_state.reporterArgv[0] = g_state.reporterPath;
    g_state.reporterArgv[1] = path;
    g_state.reporterArgv[2] = nullptr;
    const int error = signal_safe::startDetached(g_state.reporterArgv, g_state.reporterEnvp ? g_state.reporterEnvp : environ);
    if (error == 0) {
        signal_safe::writeText(STDOUT_FILENO, "Request to terminate process has been sent!\n");
    } else {
        char number[16];
        signal_safe::formatNumber(error, number);
        char line[64] = "CreateProcess failed (";
        append(line, sizeof line, number);
        append(line, sizeof line, ").\n");
        signal_safe::writeText(STDERR_FILENO, line);
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
