// The test build's switch: "--crash-for-test" crashes once start-up is complete, with one more
// thread of the program's own waiting meanwhile, so that a dump shows a thread besides the
// crashing one.
#include "test_switches.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_waiterWaiting{false};

} // namespace

// Functions of their own, so that a backtrace of the dump has names to show.
__attribute__((noinline)) void crashOnPurposeForTests()
{
    volatile std::uintptr_t address = 16;
    *reinterpret_cast<volatile int *>(address) = 1;
}

__attribute__((noinline)) void waitForeverForTests()
{
    g_waiterWaiting.store(true);
    for (;;)
        pause();
}

namespace {

void *waiterMain(void *)
{
    waitForeverForTests();
    return nullptr;
}

void startWaiter()
{
    pthread_t waiter;
    if (pthread_create(&waiter, nullptr, waiterMain, nullptr) != 0)
        return;
    pthread_setname_np(waiter, "test-waiter");
    while (!g_waiterWaiting.load())
        sched_yield();
}

} // namespace

void runTestSwitches(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--crash-for-test") == 0) {
            startWaiter();
            crashOnPurposeForTests();
        }
    }
}
