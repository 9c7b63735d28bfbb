// Small 32-bit images made in memory for the PE tests: a DOS header, PE headers and
// the sections given, with a resource section laid out by BuildResourceSection.
#ifndef PE_PE_TEST_SUPPORT_H
#define PE_PE_TEST_SUPPORT_H

#include "pe/PeImage.h"
#include "pe/ResourceTree.h"

#include <cstdint>
#include <string>
#include <vector>

const uint32_t kTestSectionAlignment = 0x1000;
const uint32_t kTestFileAlignment = 0x200;
const uint32_t kTestHeaderSize = 0x400;
const uint32_t kTestImageBase = 0x400000;

struct TestSection {
    std::string name;
    std::vector<uint8_t> contents;
    uint32_t flags;
    // The section holds the resource directory (contents are then made from tree) or
    // the base relocations.
    bool isResource = false;
    bool isRelocations = false;
};

struct TestImage {
    std::vector<TestSection> sections;
    ResourceTree resources;
    // Bytes appended after the sections; symbolTable makes the COFF header point at them.
    std::vector<uint8_t> trailer;
    bool symbolTable = false;
};

// Flags of typical sections.
const uint32_t kTestCodeFlags = 0x60000020;
const uint32_t kTestDataFlags = 0xC0000040;
const uint32_t kTestResourceFlags = 0x40000040;
const uint32_t kTestRelocationFlags = 0x42000040;

// The image's bytes with a correct checksum.
std::vector<uint8_t> BuildTestImage(const TestImage& image);

// A typical launcher-like layout: .text, .data, .rsrc with the given resources, .reloc
// and a symbol table behind the sections.
TestImage LauncherLikeImage(const ResourceTree& resources);

// A tree with the resources a launcher carries: dialog 103, bitmap 134, icon group 101
// with one icon, the manifest, and two named KMARC resources in German.
ResourceTree LauncherResources();

std::vector<uint8_t> Pattern(size_t size, uint8_t seed);

// The section of that name, or null.
const PeSection* FindSection(const PeImage& image, const std::string& name);
// The section's raw bytes.
std::vector<uint8_t> SectionBytes(const PeImage& image, const PeSection& section);

#endif
