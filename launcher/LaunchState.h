// Process-wide state of one launcher run, shared between the launch sequence and the
// splash window's dialog procedure. Both run on the process's only thread, so plain
// variables suffice.
#ifndef LAUNCHSTATE_H
#define LAUNCHSTATE_H

#include <windows.h>

// Module handle of the executable; set first thing at start, never cleared.
extern HINSTANCE g_hInstance;

// The splash window, or null when it could not be created.
extern HWND g_hSplash;

// Starts at 1; the launch sequence sets it to 1 before its first message loop. The
// splash clears it when it has painted (and when its dialog cannot be created), which
// ends that loop.
extern int g_bSplashLoop;

// Starts at 1 and is never set again. The splash clears it when it loses the focus
// after the launch, on the cancel command, and when its dialog cannot be created;
// that ends the wait after the launch.
extern int g_bLaunchWait;

// Starts at 0; the launch sequence sets it to 1 just before it starts the setup program.
extern BYTE g_bLaunched;

#endif // LAUNCHSTATE_H
