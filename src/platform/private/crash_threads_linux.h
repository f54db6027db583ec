// The other threads of a crashed process in its dump. Runs on the crash writer thread, never in
// the signal handler itself, but under the same rules, since the process is frozen mid-crash: no
// heap, no locks, no Qt (pages mapped for the occasion, system calls, a helper process).
#pragma once

#include "minidump_writer_linux.h"

#include <sys/types.h>

namespace platform::crash_threads {

// The longest the thread reader keeps the other threads stopped, should the writer never say it
// is done. The crashing thread must wait longer for the writer, so that the threads run again
// before the process ends.
constexpr int kHoldThreadsMs = 50 * 1000;

// Writes the dump to fd with every thread whose registers a helper process could read; with the
// crashing thread alone when no helper could be started or it could not trace us. writerTid:
// the thread calling this, left out like the crashing thread, whose state crash holds.
bool writeMinidumpWithThreads(int fd, const minidump::CrashInfo &crash, const minidump::SystemFacts &facts,
                              pid_t writerTid);

} // namespace platform::crash_threads
