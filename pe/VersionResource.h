// The version resource a file's properties show: the fixed part with the file and
// product version numbers, and one string table of named texts.
#ifndef PE_VERSION_RESOURCE_H
#define PE_VERSION_RESOURCE_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct VersionNumber {
    uint16_t parts[4] = { 0, 0, 0, 0 };
};

// "1", "1.2", "1.2.3" or "1.2.3.4", each part 0 to 65535; false for anything else.
bool ParseVersionNumber(const std::string& text, VersionNumber& number);

struct VersionInfo {
    VersionNumber fileVersion;
    VersionNumber productVersion;
    // Name and text of each string, in order (ProductName, FileVersion, ...).
    std::vector<std::pair<std::u16string, std::u16string>> strings;
    // The language and code page the string table is stored under.
    uint16_t language = 0x0409;
    uint16_t codePage = 1200;
};

// The VS_VERSIONINFO block: fixed file info for an application, the string table and
// the translation that names it. Throws PeError(NoRoom) when the texts pass the 64 KiB
// a block can measure.
std::vector<uint8_t> BuildVersionResource(const VersionInfo& info);

#endif
