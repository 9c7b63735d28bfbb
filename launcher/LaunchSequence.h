// The launcher's one straight run: refuse to run beside a running setup, show the
// splash, check the temporary drive, unpack the payload with its cleanup script, start
// the setup program and wait briefly for it to take over.
#ifndef LAUNCHER_LAUNCHSEQUENCE_H
#define LAUNCHER_LAUNCHSEQUENCE_H

#include <windows.h>

// Exit codes of the process.
const int kExitLaunched = 0;      // setup started, a running setup raised, or the user quit
const int kExitLowDiskSpace = 1;  // the temporary drive has less than 10 MiB free
const int kExitUnpackFailed = 2;  // the payload could not be unpacked, or the setup program not
                                  // started; nothing is left behind

// Main window of a setup that is already running, in every language.
extern const char kRunningSetupClass[];
extern const char kRunningSetupTitle[];

// Longest wait for the setup program to take over, in milliseconds.
const DWORD kLaunchWaitMilliseconds = 5000;

// Runs the whole sequence for module instance with the command line that follows the
// program's own name, which is passed on unchanged. elevated: the process runs with
// administrator rights in force (RunsElevated), so that what it makes for the setup
// program must be out of reach of the user's other processes. Returns the exit code.
int RunLaunchSequence(HINSTANCE instance, const char* commandLine, bool elevated);

// True once kLaunchWaitMilliseconds have passed between the millisecond counts start and
// now, also across the counter's wrap after 49.7 days.
bool LaunchWaitOver(DWORD start, DWORD now);

#endif // LAUNCHER_LAUNCHSEQUENCE_H
