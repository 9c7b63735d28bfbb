// The archives a setup executable carries (archive/SetupLayout.h), read with the PE
// reader so that kmarc reads them the same way on every host.
#ifndef KMARC_SETUP_ARCHIVES_H
#define KMARC_SETUP_ARCHIVES_H

#include "archive/SetupLayout.h"
#include "pe/ResourceTree.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

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
