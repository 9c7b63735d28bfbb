// The archives a setup executable carries: its "KMArc" resources, read with the PE
// reader so that kmarc reads them the same way on every host.
#ifndef KMARC_SETUP_ARCHIVES_H
#define KMARC_SETUP_ARCHIVES_H

#include "pe/ResourceTree.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The eight archives a launcher carries, in the order it unpacks them; the last two
// stay inside it for the setup program.
const int kSetupArchiveCount = 8;
extern const char* const kSetupArchiveNames[kSetupArchiveCount];

// The resource type of the archives as the resource directory stores it (the system
// looks resource names up in capitals).
extern const char kArchiveResourceTypeName[];
// German, the language every archive is stored under.
const uint16_t kArchiveLanguage = 1031;

struct SetupArchive {
    std::string name;
    uint16_t language;
    std::vector<unsigned char> bytes;
};

// Whether the bytes start like a Windows executable rather than an archive.
bool LooksLikeExecutable(const unsigned char* bytes, uint64_t size);

// The index of name among kSetupArchiveNames, or -1.
int SetupArchiveIndex(const std::string& name);

// The executable's archive resources: the eight in the launcher's order, then any
// other names. Throws ToolError(kExitDamaged) when the file is not a sound 32-bit
// executable. Takes the bytes over, so that a large setup is not held twice.
std::vector<SetupArchive> ReadSetupArchives(const std::filesystem::path& path, std::vector<unsigned char> bytes);

#endif
