#include "launcher/AnsiPath.h"

#include <memory>

namespace {

// Wide buffers for paths of any length the system may hand out, on the heap: 64 KiB
// would strain the stack.
const DWORD kWidePathCapacity = 32768;

typedef std::unique_ptr<wchar_t[]> WidePath;

WidePath NewWidePath()
{
    return WidePath(new wchar_t[kWidePathCapacity]());
}

DWORD ShortForm(const wchar_t* path, WidePath& shortPath)
{
    shortPath = NewWidePath();
    const DWORD length = GetShortPathNameW(path, shortPath.get(), kWidePathCapacity);
    return length < kWidePathCapacity ? length : 0;
}

} // namespace

bool ToExactAnsi(const wchar_t* path, char* buffer, DWORD size)
{
    if (size == 0)
        return false;
    const UINT codePage = GetACP();
    // UTF-8 as the ANSI code page holds every character, and refuses the flags below.
    const bool everyCharacterFits = codePage == CP_UTF8;
    BOOL replaced = FALSE;
    const int written = WideCharToMultiByte(codePage, everyCharacterFits ? 0 : WC_NO_BEST_FIT_CHARS, path, -1,
                                            buffer, static_cast<int>(size), nullptr,
                                            everyCharacterFits ? nullptr : &replaced);
    if (written == 0 || replaced) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

bool ToUsableAnsiPath(const wchar_t* path, char* buffer, DWORD size)
{
    std::unique_ptr<char[]> converted(new char[size ? size : 1]());
    if (ToExactAnsi(path, converted.get(), size)) {
        lstrcpynA(buffer, converted.get(), static_cast<int>(size));
        return true;
    }
    WidePath shortPath;
    if (ShortForm(path, shortPath) == 0 || !ToExactAnsi(shortPath.get(), converted.get(), size))
        return false;
    lstrcpynA(buffer, converted.get(), static_cast<int>(size));
    return true;
}

DWORD GetUsableTempPath(char* buffer, DWORD size)
{
    const WidePath widePath = NewWidePath();
    const DWORD wideLength = GetTempPathW(kWidePathCapacity, widePath.get());
    if (wideLength > 0 && wideLength < kWidePathCapacity && ToUsableAnsiPath(widePath.get(), buffer, size))
        return static_cast<DWORD>(lstrlenA(buffer));
    return GetTempPathA(size, buffer);
}

DWORD GetUsableModulePath(HMODULE module, char* buffer, DWORD size)
{
    const WidePath widePath = NewWidePath();
    const DWORD wideLength = GetModuleFileNameW(module, widePath.get(), kWidePathCapacity);
    if (wideLength > 0 && wideLength < kWidePathCapacity && ToUsableAnsiPath(widePath.get(), buffer, size))
        return static_cast<DWORD>(lstrlenA(buffer));
    return GetModuleFileNameA(module, buffer, size);
}
