// Small 32-bit images made in memory for the PE tests: a DOS header, PE headers and
// the sections given, with a resource section laid out by BuildResourceSection.
#ifndef PE_PE_TEST_SUPPORT_H
#define PE_PE_TEST_SUPPORT_H

#include "pe/PeImage.h"
#include "pe/ResourceTree.h"

#include <cstdint>
#include <functional>
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
    // When set, makes the resource section's contents for its RVA instead of resources.
    std::function<std::vector<uint8_t>(uint32_t)> resourceSection;
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

// A resource directory laid out by hand, for what no tree gives: tables that several
// entries share, strings that many entries name, keys listed twice. Offsets count from
// the start of the directory; key and target fields are written as given (add
// kRawHighBit for a name or a table).
const uint32_t kRawHighBit = 0x80000000u;

class RawResourceDirectory {
public:
    // Appends a table of that many named and numbered entries, all zero; returns its offset.
    uint32_t AddTable(uint16_t named, uint16_t numbered);
    void SetEntry(uint32_t table, uint32_t index, uint32_t key, uint32_t target);
    // Appends 16-bit units as they are (a name is its length and then its units).
    uint32_t AddUnits(const std::vector<uint16_t>& units);
    uint32_t AddName(const std::u16string& name);
    // Appends a data entry and its data; returns the entry's offset.
    uint32_t AddData(const std::vector<uint8_t>& bytes);
    // The directory placed at sectionAddress: each data entry's address made an RVA.
    std::vector<uint8_t> Build(uint32_t sectionAddress) const;

private:
    std::vector<uint8_t> m_bytes;
    std::vector<std::pair<uint32_t, uint32_t>> m_dataEntries;
};

// A launcher-like image whose resource section is the directory.
std::vector<uint8_t> ImageWithDirectory(const RawResourceDirectory& directory);

// A name bomb: types numbered 1 to typeCount share one table of nameCount names that
// share one block of 16-bit units, so that name i (nameLength + i characters) starts
// at unit i of it; each name has one language, and all share one empty block of data.
// The file holds about 2 * (nameLength + nameCount) bytes of names; unfolded, they are
// typeCount * nameCount * 2 * nameLength bytes and more.
std::vector<uint8_t> NameBombImage(uint16_t typeCount, uint16_t nameCount, uint16_t nameLength);

// The section of that name, or null.
const PeSection* FindSection(const PeImage& image, const std::string& name);
// The section's raw bytes.
std::vector<uint8_t> SectionBytes(const PeImage& image, const PeSection& section);

#endif
