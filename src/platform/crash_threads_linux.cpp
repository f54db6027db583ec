// Collecting the other threads for the dump: a helper process traces and stops them, reads their
// registers and holds them still while the writer copies their stacks. Called on the crash
// writer thread only, never from a signal handler; like the signal path it must not allocate or
// take a lock (crash_threads_linux.h).
#include "crash_threads_linux.h"

#include "crash_signal_safe.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform::crash_threads {

namespace {

using signal_safe::awaitByte;
using signal_safe::nowMs;
using signal_safe::writeAll;

// Threads beyond this many go into the dump without their registers and stacks.
constexpr int kMaxOtherThreads = 1024;
// How long the thread reader may take to stop every thread; a thread that does not stop in time
// (one in uninterruptible sleep) is left out rather than holding up the dump.
constexpr int kStopThreadsMs = 2000;

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

} // namespace

bool writeMinidumpWithThreads(int fd, const minidump::CrashInfo &crash, const minidump::SystemFacts &facts,
                              pid_t writerTid)
{
    void *page = mmap(nullptr, sizeof(ThreadCapture), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED)
        return minidump::writeMinidump(fd, crash, nullptr, 0, facts);
    auto *capture = static_cast<ThreadCapture *>(page);
    listOtherThreads(capture, writerTid, crash.crashingThread.tid);

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
    const bool written = minidump::writeMinidump(fd, crash, capture->regs, readyCount, facts);
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

} // namespace platform::crash_threads
