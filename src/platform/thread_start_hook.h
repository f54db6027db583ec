// Every thread of the program prepared for crashes, whoever starts it.
//
// A stack overflow is reported only on a thread with an alternate signal stack
// (prepareThreadForCrashes), and many threads of the program run no code of ours before they
// could overflow: Qt's event reader and D-Bus threads, the browser runtime's, the device
// library's before its first report. The hook lives in the executable alone (the library
// targets and their tests never carry it), as the object library vexa_thread_start_hook.
#pragma once

namespace platform {

// From now on every thread this process starts gets an alternate signal stack before its own
// code runs, started by our code or by any library's (loaded at start or later). Answers whether
// the executable carries the hook: not where no dumps are written, nor in sanitizer builds, whose
// runtimes own thread starts and fatal signals. Call it once, early, in the process that
// reports crashes; never in a browser sub-process, whose sandbox decides which calls a thread
// may make.
bool prepareEveryNewThreadForCrashes();

} // namespace platform
