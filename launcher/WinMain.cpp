#include "launcher/LaunchSequence.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    return RunLaunchSequence(instance, commandLine);
}
