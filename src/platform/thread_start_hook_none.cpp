// Where the executable carries no thread-start hook: no dumps are written here, or a sanitizer
// runtime owns thread starts and fatal signals. Threads prepare themselves
// (prepareThreadForCrashes) or go without.
#include "thread_start_hook.h"

namespace platform {

bool prepareEveryNewThreadForCrashes()
{
    return false;
}

} // namespace platform
