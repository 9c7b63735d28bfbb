// A DLL planted beside a program under the name of a system DLL. When anything loads it,
// it leaves "<its own path>.loaded" beside itself, naming the program that loaded it.
#include <windows.h>

// Enough of the multimedia timer for a program that imports it to start and run.
extern "C" DWORD WINAPI timeGetTime()
{
    return GetTickCount();
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    const char suffix[] = ".loaded";
    char marker[MAX_PATH];
    const DWORD length = GetModuleFileNameA(self, marker, MAX_PATH - sizeof suffix);
    if (length == 0 || length >= MAX_PATH - sizeof suffix)
        return TRUE;
    lstrcpyA(marker + length, suffix);
    HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return TRUE;
    char program[MAX_PATH + 2];
    DWORD programLength = GetModuleFileNameA(nullptr, program, MAX_PATH);
    program[programLength++] = '\r';
    program[programLength++] = '\n';
    DWORD written = 0;
    WriteFile(file, program, programLength, &written, nullptr);
    CloseHandle(file);
    return TRUE;
}
