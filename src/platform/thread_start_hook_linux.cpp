// The thread-start hook: the executable defines pthread_create, and since it exports its symbols
// (ENABLE_EXPORTS) the dynamic linker binds every library's call to this one before the C
// library's, libraries opened later with dlopen included (the executable comes first in every
// lookup). A reference to a versioned pthread_create (GLIBC_2.34, or 2.2.5 of older builds)
// binds to an unversioned definition in the executable too. Threads the C library starts inside
// itself (SIGEV_THREAD timers, asynchronous name lookups) call its internal entry and are not
// seen; the program starts none.
//
// The new thread first prepares itself (an alternate signal stack, released when it ends), then
// runs the routine it was started with; what the routine returns, pthread_exit and cancellation
// work as before.
#include "crash_handler.h"
#include "thread_start_hook.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <pthread.h>

namespace {

using Create = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);

std::atomic<bool> g_prepareNewThreads{false};

struct Start {
    void *(*routine)(void *);
    void *argument;
};

Create libraryCreate()
{
    static const Create create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    return create;
}

void *startPrepared(void *data)
{
    const Start start = *static_cast<Start *>(data);
    std::free(data);
    platform::prepareThreadForCrashes();
    return start.routine(start.argument);
}

} // namespace

extern "C" int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*routine)(void *),
                              void *argument) noexcept
{
    const Create create = libraryCreate();
    if (!create)
        return EAGAIN;
    if (!g_prepareNewThreads.load(std::memory_order_relaxed))
        return create(thread, attributes, routine, argument);
    auto *start = static_cast<Start *>(std::malloc(sizeof(Start)));
    if (!start)
        return EAGAIN;
    *start = {routine, argument};
    const int error = create(thread, attributes, startPrepared, start);
    if (error != 0)
        std::free(start);
    return error;
}

namespace platform {

bool prepareEveryNewThreadForCrashes()
{
    if (!libraryCreate())
        return false;
    g_prepareNewThreads.store(true);
    return true;
}

} // namespace platform
