#include "launcher/AnsiPath.h"

#include <vector>

namespace {

// Wide buffers for paths of any length the system may hand out.
const DWORD kWidePathCapacity = 32768;

DWORD ShortForm(const wchar_t* path, std::vector<wchar_t>& shortPath)
{
    shortPath.assign(kWidePathCapacity, L'\0');
    const DWORD length = GetShortPathNameW(path, shortPath.data(), kWidePathCapacity);
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
    std::vector<char> converted(size ? size : 1);
    if (ToExactAnsi(path, converted.data(), size)) {
        lstrcpynA(buffer, converted.data(), static_cast<int>(size));
        return true;
    }
    std::vector<wchar_t> shortPath;
    if (ShortForm(path, shortPath) == 0 || !ToExactAnsi(shortPath.data(), converted.data(), size))
        return false;
    lstrcpynA(buffer, converted.data(), static_cast<int>(size));
    return true;
}

DWORD GetUsableTempPath(char* buffer, DWORD size)
{
    std::vector<wchar_t> widePath(kWidePathCapacity);
    const DWORD wideLength = GetTempPathW(kWidePathCapacity, widePath.data());
    if (wideLength > 0 && wideLength < kWidePathCapacity && ToUsableAnsiPath(widePath.data(), buffer, size))
        return static_cast<DWORD>(lstrlenA(buffer));
    return GetTempPathA(size, buffer);
}

DWORD GetUsableModulePath(HMODULE module, char* buffer, DWORD size)
{
    std::vector<wchar_t> widePath(kWidePathCapacity);
    const DWORD wideLength = GetModuleFileNameW(module, widePath.data(), kWidePathCapacity);
    if (wideLength > 0 && wideLength < kWidePathCapacity && ToUsableAnsiPath(widePath.data(), buffer, size))
        return static_cast<DWORD>(lstrlenA(buffer));
    return GetModuleFileNameA(module, buffer, size);
}
