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
    // The packing options; embed takes only the level.
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
// a copy of the launcher whose "KMArc" resources are exactly those archives, in German;
// every other resource stays as it was. The launcher must be a sound 32-bit executable
// carrying the launcher's dialog, splash picture and manifest, and unsigned unless
// stripSignature is set. versionInfo replaces the version resource, icon the icon
// group 101 and its images. Refusals throw ToolError before anything is written; the
// output appears under its name only when it is complete. What goes in is reported on
// out.
void EmbedPayload(const EmbedOptions& options, std::ostream& out);

#endif
