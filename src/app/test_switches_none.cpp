#include "test_switches.h"

void runTestSwitches(int, char *[]) {}
