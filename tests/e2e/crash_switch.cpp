// The test build's switches, each acted on once start-up is complete:
//   --crash-for-test           a bad write on the main thread, with one more thread of the
//                              program's own waiting meanwhile, so that a dump shows a thread
//                              besides the crashing one;
//   --overflow-stack-for-test  endless recursion on a worker thread made as the program makes
//                              its threads, while the main thread waits;
//   --overflow-stack-on-qt-thread-for-test  the same on a thread that Qt's library starts itself
//                              (a pool thread), which runs none of the program's code before ours;
//   --abort-for-test           abort() on a plain worker thread, while the main thread waits.
#include "crash_handler.h"
#include "test_switches.h"

#include <QThreadPool>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_waiterWaiting{false};
// Read at every level, so that no compiler can prove the recursion endless and fold it away.
volatile int g_deepestLevel = -1;

} // namespace

// Functions of their own, so that a backtrace of the dump has names to show.
__attribute__((noinline)) void crashOnPurposeForTests()
{
    volatile std::uintptr_t address = 16;
    *reinterpret_cast<volatile int *>(address) = 1;
}

__attribute__((noinline)) int overflowStackForTests(int level)
{
    volatile char frame[512];
    frame[level % sizeof frame] = static_cast<char>(level);
    if (level == g_deepestLevel)
        return frame[0];
    return overflowStackForTests(level + 1) + frame[level % sizeof frame];
}

__attribute__((noinline)) void abortOnPurposeForTests()
{
    std::abort();
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

void *aborterMain(void *)
{
    abortOnPurposeForTests();
    return nullptr;
}

void startThread(void *(*body)(void *), const char *name)
{
    pthread_t thread;
    if (pthread_create(&thread, nullptr, body, nullptr) != 0)
        return;
    pthread_setname_np(thread, name);
}

void startWaiter()
{
    startThread(waiterMain, "test-waiter");
    while (!g_waiterWaiting.load())
        sched_yield();
}

void overflowOnAWorker()
{
    auto *thread = new platform::CrashReadyThread;
    thread->setObjectName(QStringLiteral("test-overflow"));
    // The worker's first code, as for the program's own threads that start on started().
    QObject::connect(thread, &QThread::started, thread, [] { overflowStackForTests(0); }, Qt::DirectConnection);
    thread->start();
}

} // namespace

void runTestSwitches(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--crash-for-test") == 0) {
            startWaiter();
            crashOnPurposeForTests();
        } else if (std::strcmp(argv[i], "--overflow-stack-for-test") == 0) {
            overflowOnAWorker();
            waitForeverForTests();
        } else if (std::strcmp(argv[i], "--overflow-stack-on-qt-thread-for-test") == 0) {
            QThreadPool::globalInstance()->start([] { overflowStackForTests(0); });
            waitForeverForTests();
        } else if (std::strcmp(argv[i], "--abort-for-test") == 0) {
            startThread(aborterMain, "test-aborter");
            waitForeverForTests();
        }
    }
}
