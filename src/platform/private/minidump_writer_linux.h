// Writes a minidump of the running process from inside it, after a crash. Everything here runs
// while other threads may hold any lock (the heap's included): system calls, fixed buffers and
// pages mapped for the occasion only.
#pragma once

#include <cstdint>
#include <signal.h>
#include <sys/types.h>

namespace platform::minidump {

// The registers of one thread, from a signal frame or from ptrace; both describe the same CPU.
struct ThreadRegisters {
    pid_t tid = 0;
    uint64_t rax, rbx, rcx, rdx, rsi, rdi, rbp, rsp;
    uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
    uint64_t rip, eflags;
    uint16_t cs, ss, ds, es, fs, gs;
    bool hasFloatingPoint;
    // The FXSAVE image (x87, MXCSR, XMM registers).
    alignas(16) uint8_t fxsave[512];
};

// What the signal handler kept of the fault; the signal frame itself is gone by the time the
// dump is written.
struct CrashInfo {
    int signal = 0;
    int code = 0;
    // The faulting address for faults raised by the CPU, 0 for a signal sent by someone.
    uint64_t address = 0;
    ThreadRegisters crashingThread;
};

// Copies the registers out of a signal handler's context. Async-signal-safe.
void registersFromSignalContext(pid_t tid, const void *ucontext, ThreadRegisters *out);

// Facts that need the C library's allocating calls, gathered at install time.
struct SystemFacts {
    uint8_t processorCount = 1;
};

// Writes the dump to fd (positioned anywhere; pwrite is used). otherThreads: registers of the
// other threads, read by whoever could (may be empty); their stacks are read here, so they must
// still be stopped. Answers whether the whole dump was written.
bool writeMinidump(int fd, const CrashInfo &crash, const ThreadRegisters *otherThreads, int otherThreadCount,
                   const SystemFacts &facts);

} // namespace platform::minidump
