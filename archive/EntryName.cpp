#include "archive/EntryName.h"

#include <cstring>

namespace {

const char kSeparator = '\\';
const unsigned char kDelete = 0x7F;
// The superscript digits one, two and three in code page 1252, which Windows takes as
// port numbers after COM and LPT.
const char kSuperscriptDigits[] = "\xB9\xB2\xB3";

char AsciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

bool EqualsNoCase(const char* text, uint32_t length, const char* upper)
{
    if (std::strlen(upper) != length)
        return false;
    for (uint32_t i = 0; i < length; ++i) {
        if (AsciiUpper(text[i]) != upper[i])
            return false;
    }
    return true;
}

// Windows opens a device whatever folder or extension the path gives it, so a file of
// such a name would never reach the disk. Its own rule: the part before the first dot,
// with trailing blanks removed, names the device ("NUL .dat" is the null device).
bool IsDeviceName(const char* component, uint32_t length)
{
    uint32_t stem = 0;
    while (stem < length && component[stem] != '.')
        ++stem;
    while (stem > 0 && component[stem - 1] == ' ')
        --stem;
    static const char* const kDevices[] = { "CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$" };
    for (const char* device : kDevices) {
        if (EqualsNoCase(component, stem, device))
            return true;
    }
    if (stem != 4 || !(EqualsNoCase(component, 3, "COM") || EqualsNoCase(component, 3, "LPT")))
        return false;
    char digit = component[3];
    return (digit >= '0' && digit <= '9') || std::strchr(kSuperscriptDigits, digit) != nullptr;
}

EntryNameFault CheckComponent(const char* component, uint32_t length)
{
    if (length == 0)
        return EntryNameFault::EmptyComponent;
    for (uint32_t i = 0; i < length; ++i) {
        if (IsForbiddenNameCharacter(static_cast<unsigned char>(component[i])))
            return EntryNameFault::ForbiddenCharacter;
    }
    // Covers "." and "..": Windows trims trailing dots and blanks, so any component
    // ending in one could name something other than what the archive says.
    char last = component[length - 1];
    if (last == '.' || last == ' ')
        return EntryNameFault::TrailingDotOrBlank;
    if (IsDeviceName(component, length))
        return EntryNameFault::DeviceName;
    return EntryNameFault::None;
}

} // namespace

bool IsForbiddenNameCharacter(unsigned char c)
{
    if (c < 0x20 || c == kDelete)
        return true;
    return std::strchr("<>:\"/|?*", c) != nullptr;
}

const char* DescribeEntryNameFault(EntryNameFault fault)
{
    switch (fault) {
    case EntryNameFault::None: return "name allowed";
    case EntryNameFault::Empty: return "empty name";
    case EntryNameFault::TooLong: return "output path too long";
    case EntryNameFault::EmptyComponent: return "empty folder or file name (a leading, trailing or doubled backslash)";
    case EntryNameFault::ForbiddenCharacter:
        return "a control character or one of < > : \" / | ? *, which Windows does not allow in file names";
    case EntryNameFault::TrailingDotOrBlank: return "a file or folder name ending in a dot or a blank, which Windows drops";
    case EntryNameFault::DeviceName: return "a device name such as CON, NUL, COM1 or LPT1, which Windows never writes to disk";
    }
    return "unknown fault";
}

EntryNameFault CheckEntryName(const char* name, uint32_t length, uint32_t folderLength, uint32_t maxPathLength,
                              uint32_t* where)
{
    if (length == 0)
        return EntryNameFault::Empty;
    if (folderLength > maxPathLength || length > maxPathLength - folderLength)
        return EntryNameFault::TooLong;
    uint32_t componentStart = 0;
    for (uint32_t i = 0; i <= length; ++i) {
        if (i < length && name[i] != kSeparator)
            continue;
        EntryNameFault fault = CheckComponent(name + componentStart, i - componentStart);
        if (fault != EntryNameFault::None) {
            if (where != nullptr)
                *where = componentStart;
            return fault;
        }
        componentStart = i + 1;
    }
    return EntryNameFault::None;
}
