#include "launcher/SystemLibraries.h"

namespace {

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);
typedef BOOL(WINAPI* SetDllDirectoryFunction)(LPCSTR);

const DWORD kSearchSystemFolderOnly = LOAD_LIBRARY_SEARCH_SYSTEM32;

FARPROC KernelFunction(const char* name)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel ? GetProcAddress(kernel, name) : nullptr;
}

} // namespace

bool RestrictDllSearchToSystem()
{
    // Looked up rather than imported: older systems lack it, and the program must still start there.
    auto setDefaultDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(KernelFunction("SetDefaultDllDirectories")));
    if (setDefaultDirectories && setDefaultDirectories(kSearchSystemFolderOnly))
        return true;

    auto setDllDirectory = reinterpret_cast<SetDllDirectoryFunction>(
        reinterpret_cast<void*>(KernelFunction("SetDllDirectoryA")));
    if (setDllDirectory)
        setDllDirectory("");
    return false;
}

HMODULE LoadSystemLibrary(const char* fileName)
{
    char path[MAX_PATH];
    const UINT folderLength = GetSystemDirectoryA(path, MAX_PATH);
    if (folderLength == 0 || folderLength + 1 + lstrlenA(fileName) >= MAX_PATH)
        return nullptr;
    path[folderLength] = '\\';
    lstrcpyA(path + folderLength + 1, fileName);
    // A full path is never searched for. The altered search makes the DLL's own imports
    // come from its folder too where the search could not be restricted.
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
