#include "archive/EntryName.h"

#include <cstring>

namespace {

const char kSeparator = '\\';
const unsigned char kDelete = 0x7F;

bool IsForbiddenCharacter(unsigned char c)
{
    if (c < 0x20 || c == kDelete)
        return true;
    return std::strchr("<>:\"/|?*", c) != nullptr;
}

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

// Windows opens these devices whatever folder or extension the path gives them, so a
// file of such a name would never reach the disk.
bool IsDeviceName(const char* component, uint32_t length)
{
    uint32_t stem = 0;
    while (stem < length && component[stem] != '.')
        ++stem;
    static const char* const kDevices[] = { "CON", "PRN", "AUX", "NUL" };
    for (const char* device : kDevices) {
        if (EqualsNoCase(component, stem, device))
            return true;
    }
    if (stem == 4 && component[3] >= '1' && component[3] <= '9')
        return EqualsNoCase(component, 3, "COM") || EqualsNoCase(component, 3, "LPT");
    return false;
}

bool IsSafeComponent(const char* component, uint32_t length)
{
    if (length == 0)
        return false;
    // Covers "." and "..": Windows trims trailing dots and blanks, so any component
    // ending in one could name something other than what the archive says.
    char last = component[length - 1];
    if (last == '.' || last == ' ')
        return false;
    return !IsDeviceName(component, length);
}

} // namespace

bool IsSafeEntryName(const char* name, uint32_t length, uint32_t folderLength)
{
    if (length == 0 || folderLength > kMaxOutputPathLength || length > kMaxOutputPathLength - folderLength)
        return false;
    uint32_t componentStart = 0;
    for (uint32_t i = 0; i <= length; ++i) {
        if (i == length || name[i] == kSeparator) {
            if (!IsSafeComponent(name + componentStart, i - componentStart))
                return false;
            componentStart = i + 1;
        } else if (IsForbiddenCharacter(static_cast<unsigned char>(name[i]))) {
            return false;
        }
    }
    return true;
}
