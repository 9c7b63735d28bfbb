// The millisecond count that seeds the name generator and times the wait after the
// launch.
#ifndef LAUNCHER_MULTIMEDIATIMER_H
#define LAUNCHER_MULTIMEDIATIMER_H

#include <windows.h>

// timeGetTime of the multimedia library, which is loaded from the system folder at the
// first call rather than imported (it is not one of the DLLs the system always takes
// from its own folder). When it cannot be loaded, the kernel's tick count, which counts
// the same milliseconds since the system started.
DWORD TimerMilliseconds();

#endif // LAUNCHER_MULTIMEDIATIMER_H
