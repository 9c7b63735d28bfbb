#include "launcher/LaunchSequence.h"
#include "launcher/SetupFolder.h"
#include "launcher/SystemLibraries.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    // Before anything can load a DLL: the launcher runs elevated from a folder where
    // anybody may have left a DLL named like one of the system's.
    RestrictDllSearchToSystem();
    return RunLaunchSequence(instance, commandLine, RunsElevated());
}
