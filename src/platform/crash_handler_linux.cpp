// The Linux crash handler (x86-64: the dump writer knows that CPU only). A fatal signal is caught
// on the crashing thread's alternate stack (a stack overflow leaves no room on the thread's own;
// each thread needs one, see prepareThreadForCrashes); the handler only copies the signal frame
// and wakes the writer thread, which was started at install time because creating a thread after
// a crash can deadlock. The crashing thread waits until the dump is written and the reporter
// started, then the signal is delivered again with its default action, so the exit status still
// says which signal ended the process.
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
#include <ctime>
#include <iterator>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <sys/user.h>
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
// Threads beyond this many go into the dump without their registers and stacks.
constexpr int kMaxOtherThreads = 1024;
// How long the thread reader may take to stop every thread; a thread that does not stop in time
// (one in uninterruptible sleep) is left out rather than holding up the dump.
constexpr int kStopThreadsMs = 2000;
// The longest the reader keeps threads stopped, should the writer never say it is done; less
// than the crashing thread waits, so that the threads run again before the process ends.
constexpr int kHoldThreadsMs = kWriterTimeoutMs - 10 * 1000;

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

pid_t currentTid()
{
    return static_cast<pid_t>(syscall(SYS_gettid));
}

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

// The other threads' registers. No thread can read another thread's registers in its own
// process; a helper process can, as their tracer. It shares this page with the writer, which
// it was copied from, and holds the threads stopped while the writer copies their stacks.
struct ThreadCapture {
    int count;
    pid_t tids[kMaxOtherThreads];
    // 0: not traced, 1: traced, 2: stopped with its registers read.
    uint8_t state[kMaxOtherThreads];
    // A signal that arrived while the thread was stopped, handed back when it is let go.
    uint8_t pendingSignal[kMaxOtherThreads];
    minidump::ThreadRegisters regs[kMaxOtherThreads];
    alignas(8) char directory[8192];
};

int64_t nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Waits for one byte on fd; false on timeout, end of file or error.
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

// Every thread of the process but the two whose state is known without stopping them.
void listOtherThreads(ThreadCapture *capture, pid_t writer, pid_t crashing)
{
    capture->count = 0;
    const int fd = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    for (;;) {
        const long n = syscall(SYS_getdents64, fd, capture->directory, sizeof capture->directory);
        if (n <= 0)
            break;
        for (long at = 0; at < n;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(capture->directory + at);
            at += entry->d_reclen;
            pid_t tid = 0;
            const char *c = entry->d_name;
            for (; *c >= '0' && *c <= '9'; ++c)
                tid = tid * 10 + (*c - '0');
            if (*c != '\0' || tid <= 0 || tid == writer || tid == crashing)
                continue;
            if (capture->count < kMaxOtherThreads)
                capture->tids[capture->count++] = tid;
        }
    }
    close(fd);
}

void copyRegisters(pid_t tid, const user_regs_struct &r, const user_fpregs_struct *fp, minidump::ThreadRegisters *out)
{
    out->tid = tid;
    out->rax = r.rax;
    out->rbx = r.rbx;
    out->rcx = r.rcx;
    out->rdx = r.rdx;
    out->rsi = r.rsi;
    out->rdi = r.rdi;
    out->rbp = r.rbp;
    out->rsp = r.rsp;
    out->r8 = r.r8;
    out->r9 = r.r9;
    out->r10 = r.r10;
    out->r11 = r.r11;
    out->r12 = r.r12;
    out->r13 = r.r13;
    out->r14 = r.r14;
    out->r15 = r.r15;
    out->rip = r.rip;
    out->eflags = r.eflags;
    out->cs = static_cast<uint16_t>(r.cs);
    out->ss = static_cast<uint16_t>(r.ss);
    out->ds = static_cast<uint16_t>(r.ds);
    out->es = static_cast<uint16_t>(r.es);
    out->fs = static_cast<uint16_t>(r.fs);
    out->gs = static_cast<uint16_t>(r.gs);
    out->hasFloatingPoint = fp != nullptr;
    if (fp) {
        static_assert(sizeof(user_fpregs_struct) == sizeof out->fxsave, "FXSAVE image");
        std::memcpy(out->fxsave, fp, sizeof out->fxsave);
    }
}

// The helper process: stops the listed threads, reads their registers, says so on readyFd, and
// lets the threads go when the writer closes goFd (or after kHoldThreadsMs). Its exit detaches
// any thread still traced, whatever way it ends.
[[noreturn]] void readThreadsAsHelper(ThreadCapture *capture, int goFd, int readyFd)
{
    char byte = 0;
    // The writer first allows this process to trace it (Yama), then says go.
    if (!awaitByte(goFd, kStopThreadsMs, &byte))
        syscall(SYS_exit_group, 1);
    int waiting = 0;
    for (int i = 0; i < capture->count; ++i) {
        if (ptrace(PTRACE_SEIZE, capture->tids[i], nullptr, nullptr) != 0)
            continue;
        capture->state[i] = 1;
        if (ptrace(PTRACE_INTERRUPT, capture->tids[i], nullptr, nullptr) == 0)
            ++waiting;
    }
    const int64_t deadline = nowMs() + kStopThreadsMs;
    while (waiting > 0 && nowMs() < deadline) {
        int status = 0;
        const pid_t tid = waitpid(-1, &status, __WALL | WNOHANG);
        if (tid <= 0) {
            if (tid < 0 && errno != EINTR)
                break;
            const timespec pause{0, 1000 * 1000};
            nanosleep(&pause, nullptr);
            continue;
        }
        int i = 0;
        while (i < capture->count && capture->tids[i] != tid)
            ++i;
        if (i == capture->count || capture->state[i] != 1)
            continue;
        if (!WIFSTOPPED(status)) {
            // The thread ended meanwhile.
            capture->state[i] = 0;
            --waiting;
            continue;
        }
        // A stop without an event is a signal on its way to the thread; it gets it on release.
        if ((status >> 16) == 0)
            capture->pendingSignal[i] = static_cast<uint8_t>(WSTOPSIG(status));
        user_regs_struct regs;
        user_fpregs_struct fp;
        if (ptrace(PTRACE_GETREGS, tid, nullptr, &regs) == 0) {
            const bool haveFp = ptrace(PTRACE_GETFPREGS, tid, nullptr, &fp) == 0;
            copyRegisters(tid, regs, haveFp ? &fp : nullptr, &capture->regs[i]);
            capture->state[i] = 2;
        }
        --waiting;
    }
    writeAll(readyFd, "r", 1);
    awaitByte(goFd, kHoldThreadsMs, &byte);
    for (int i = 0; i < capture->count; ++i) {
        if (capture->state[i] == 2)
            ptrace(PTRACE_DETACH, capture->tids[i], nullptr,
                   reinterpret_cast<void *>(static_cast<uintptr_t>(capture->pendingSignal[i])));
    }
    syscall(SYS_exit_group, 0);
    __builtin_unreachable();
}

// Ends the helper within a bounded time: it normally exits as soon as its go pipe closes.
void reapHelper(pid_t helper)
{
    const int64_t deadline = nowMs() + 2000;
    for (;;) {
        const pid_t done = waitpid(helper, nullptr, __WALL | WNOHANG);
        if (done == helper || (done < 0 && errno != EINTR))
            return;
        if (nowMs() >= deadline)
            break;
        const timespec pause{0, 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    kill(helper, SIGKILL);
    for (int i = 0; i < 1000; ++i) {
        const pid_t done = waitpid(helper, nullptr, __WALL | WNOHANG);
        if (done == helper || (done < 0 && errno != EINTR))
            return;
        const timespec pause{0, 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

// Writes the dump with every thread whose registers a helper could read; with the crashing
// thread alone when no helper could be started or it could not trace us.
bool writeMinidumpWithThreads(int fd)
{
    void *page = mmap(nullptr, sizeof(ThreadCapture), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED)
        return minidump::writeMinidump(fd, g_state.crash, nullptr, 0, g_state.facts);
    auto *capture = static_cast<ThreadCapture *>(page);
    listOtherThreads(capture, g_state.writerTid.load(), g_state.crash.crashingThread.tid);

    int readyCount = 0;
    int goPipe[2] = {-1, -1};
    int readyPipe[2] = {-1, -1};
    pid_t helper = -1;
    if (capture->count > 0 && pipe2(goPipe, O_CLOEXEC) == 0 && pipe2(readyPipe, O_CLOEXEC) == 0) {
        // No exit signal: a SIGCHLD would run the program's own handlers on the crashing thread.
        helper = static_cast<pid_t>(syscall(SYS_clone, 0, nullptr, nullptr, nullptr, nullptr));
        if (helper == 0) {
            close(goPipe[1]);
            close(readyPipe[0]);
            readThreadsAsHelper(capture, goPipe[0], readyPipe[1]);
        }
    }
    if (helper > 0) {
        close(goPipe[0]);
        close(readyPipe[1]);
        goPipe[0] = readyPipe[1] = -1;
        // Yama's restricted mode lets only ancestors trace; the helper is our child. Without Yama
        // the call fails harmlessly.
        prctl(PR_SET_PTRACER, static_cast<unsigned long>(helper), 0, 0, 0);
        writeAll(goPipe[1], "g", 1);
        char byte = 0;
        if (awaitByte(readyPipe[0], kStopThreadsMs + 1000, &byte)) {
            for (int i = 0; i < capture->count; ++i) {
                if (capture->state[i] == 2) {
                    if (readyCount != i)
                        capture->regs[readyCount] = capture->regs[i];
                    ++readyCount;
                }
            }
        }
    }
    const bool written = minidump::writeMinidump(fd, g_state.crash, capture->regs, readyCount, g_state.facts);
    for (int end : {goPipe[0], goPipe[1], readyPipe[0], readyPipe[1]}) {
        if (end >= 0)
            close(end);
    }
    if (helper > 0) {
        reapHelper(helper);
        prctl(PR_SET_PTRACER, 0, 0, 0, 0);
    }
    munmap(page, sizeof(ThreadCapture));
    return written;
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
        written = writeMinidumpWithThreads(fd);
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
