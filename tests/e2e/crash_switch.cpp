// The test build's switch: "--crash-for-test" crashes once start-up is complete.
#include "test_switches.h"

#include <cstdint>
#include <cstring>

// A function of its own, so that a backtrace of the dump has a name to show.
__attribute__((noinline)) void crashOnPurposeForTests()
{
    volatile std::uintptr_t address = 16;
    *reinterpret_cast<volatile int *>(address) = 1;
}

void runTestSwitches(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--crash-for-test") == 0)
            crashOnPurposeForTests();
    }
}
