// kmarc embed: a setup executable made from a prebuilt launcher and a payload tree,
// without a compiler and without the Windows API.
#ifndef KMARC_EMBED_H
#define KMARC_EMBED_H

#include "tools/kmarc/Pack.h"

#include <filesystem>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

struct EmbedOptions {
    std::filesystem::path launcher;
    std::filesystem::path payload;
    std::filesystem::path output;
    // The packing options. Each file of addMissing goes into SETUPBASE, where the setup
    // programs belong, unless a folder the launcher unpacks holds its name at the top
    // (without regard to case); depfile names the output as its target.
    PackOptions pack;
    // Removes a certificate table instead of refusing a signed launcher.
    bool stripSignature = false;
    // KEY=VALUE texts for a version resource (empty: the launcher's stays as it is).
    std::vector<std::string> versionInfo;
    // An .ico file for icon group 101 (empty: the launcher's icon stays).
    std::filesystem::path icon;
    // A .bmp file for the splash picture, bitmap 134 (empty: the launcher's stays).
    std::filesystem::path splash;
};

// The keys --version-info takes, as the version resource names them.
extern const char* const kVersionInfoKeys[];
extern const size_t kVersionInfoKeyCount;

// Packs each archive folder of the payload (the rules and messages of pack) and writes
// a copy of the launcher whose archive resources (archive/SetupLayout.h) are exactly
// those archives;
// every other resource stays as it was. The launcher must be a sound 32-bit executable
// carrying the launcher's dialog, splash picture and manifest, and unsigned unless
// stripSignature is set. versionInfo replaces the version resource, icon the icon
// group 101 and its images. Refusals throw ToolError before anything is written; the
// output appears under its name only when it is complete. What goes in is reported on
// out.
void EmbedPayload(const EmbedOptions& options, std::ostream& out);

// Writes output, a copy of launcher whose archive resources are exactly archives (name
// and bytes, taken as they are, unchecked), with the resource writer of EmbedPayload:
// for archives that are already packed, damaged ones included (the end-to-end tests).
// Throws ToolError.
void EmbedArchives(const std::filesystem::path& launcher,
                   const std::vector<std::pair<std::string, std::vector<unsigned char>>>& archives,
                   const std::filesystem::path& output);

#endif
