// The launcher as it runs for a user without elevation. Wine starts every process
// elevated, so this copy is told that it is not.
#include "launcher/LaunchSequence.h"
#include "launcher/SystemLibraries.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    RestrictDllSearchToSystem();
    return RunLaunchSequence(instance, commandLine, false);
}
