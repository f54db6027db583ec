// Helpers for the crash path that are async-signal-safe: system calls and the caller's fixed
// buffers only, no heap, no locks, no Qt, no stdio. Every function here may be called from a
// signal handler, and from the crash writer while the crashed process's other threads may hold
// any lock (the heap's included).
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace platform::signal_safe {

pid_t currentTid();

// Writes all of text, going on after EINTR; gives up silently on any other error.
void writeAll(int fd, const char *text, size_t size);
void writeText(int fd, const char *text);
// Appends src to dst (capacity bytes in all), always terminated; answers false when cut short.
bool append(char *dst, size_t capacity, const char *src);
// value in decimal into out (16 bytes hold any int).
void formatNumber(int value, char *out);
// A version 4 UUID in lower case, 36 characters and a terminating zero.
void makeDumpId(char id[37]);

// CLOCK_MONOTONIC in milliseconds.
int64_t nowMs();
// Waits for one byte on fd; false on timeout, end of file or error.
bool awaitByte(int fd, int timeoutMs, char *byte);

// Starts argv[0] detached (a new session, its parent the init process), with every signal
// unblocked, without the C library's fork handlers. Answers 0 or the error of the failed start.
int startDetached(char *const argv[], char *const envp[]);

} // namespace platform::signal_safe
