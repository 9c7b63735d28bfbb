// Checks of what embed is given, made before anything is packed: the launcher's file
// holds nothing but the executable, and the output names none of the inputs.
#ifndef KMARC_EMBED_INPUTS_H
#define KMARC_EMBED_INPUTS_H

#include "pe/PeImage.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Where the executable's own bytes end: behind the last section's raw data, or behind
// the COFF symbol table and its string table when they follow the sections, or behind
// the certificate table. Padding of fewer than 8 zero bytes (the certificate table's
// alignment) counts as the executable's own.
uint64_t EndOfExecutable(const PeImage& image);

// Throws ToolError(kExitNotLauncher) naming label, the count and the offset when
// anything follows EndOfExecutable: the setup would carry it along unseen, and a
// launcher that was changed after it was built is not one to ship.
void CheckNothingAppended(const PeImage& image, const std::string& label);

// The identity of a file or folder as its file system keeps it: device and inode, on
// Windows the volume serial number and file index. Two paths with the same identity
// name one file, however they are spelt (case, links, "..", another mount).
struct FileIdentity {
    uint64_t device = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity& other) const { return device == other.device && index == other.index; }
};

// False when the path names nothing that can be asked (it does not exist, or may not
// be opened).
bool GetFileIdentity(const std::filesystem::path& path, FileIdentity& identity);

// An input file of embed, named in the refusal when the output is that file.
struct NamedInput {
    const char* role;  // "the launcher", "the icon file", ...
    std::filesystem::path path;
};

// Throws ToolError(kExitUsage) when output is one of the inputs (by identity, so any
// spelling or hard link of it), or lies in the payload folder or below it: writing the
// setup would replace that file, or put the setup into the payload of the next one.
// Inputs with an empty path are skipped.
void CheckOutputIsNoInput(const std::filesystem::path& output, const std::vector<NamedInput>& inputs,
                          const std::filesystem::path& payload);

#endif
