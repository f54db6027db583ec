// Switches that only a test build of the program understands (crashing on purpose, for the crash
// reporting tests). The shipped program links an implementation that ignores every argument;
// a test build links its own, so no switch of it exists in what users run.
#pragma once

// Called once start-up is complete (crash handler installed, main window asked for).
void runTestSwitches(int argc, char *argv[]);
