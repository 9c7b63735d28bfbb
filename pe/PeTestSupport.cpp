#include "pe/PeTestSupport.h"

#include <algorithm>
#include <cstring>

namespace {

const size_t kPeOffset = 0x80;
const uint16_t kPeLanguageGerman = 1031;
const uint16_t kPeLanguageEnglish = 1033;

uint32_t RoundUp(uint32_t value, uint32_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

} // namespace

std::vector<uint8_t> Pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = uint8_t(state >> 24);
    }
    return bytes;
}

std::vector<uint8_t> BuildTestImage(const TestImage& image)
{
    std::vector<uint8_t> bytes(kTestHeaderSize, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    PutU32(bytes, kDosPeOffsetField, kPeOffset);
    std::memcpy(&bytes[kPeOffset], "PE\0\0", 4);
    size_t coff = kPeOffset + 4;
    PutU16(bytes, coff, 0x014C);
    PutU16(bytes, coff + kCoffNumberOfSections, static_cast<uint16_t>(image.sections.size()));
    PutU16(bytes, coff + 16, 0xE0);
    PutU16(bytes, coff + 18, 0x0102);
    size_t optional = coff + kCoffHeaderSize;
    PutU16(bytes, optional, 0x010B);
    PutU32(bytes, optional + 28, kTestImageBase);
    PutU32(bytes, optional + 32, kTestSectionAlignment);
    PutU32(bytes, optional + 36, kTestFileAlignment);
    PutU32(bytes, optional + 60, kTestHeaderSize);
    PutU16(bytes, optional + 68, 2);
    PutU32(bytes, optional + 92, kPeDirCount);
    size_t table = optional + 0xE0;

    uint32_t address = kTestSectionAlignment;
    uint32_t initialized = 0;
    for (size_t i = 0; i < image.sections.size(); ++i) {
        const TestSection& section = image.sections[i];
        std::vector<uint8_t> contents = section.contents;
        if (section.isResource)
            contents = image.resourceSection ? image.resourceSection(address)
                                             : BuildResourceSection(image.resources, address);
        uint32_t rawPointer = static_cast<uint32_t>(bytes.size());
        uint32_t rawSize = RoundUp(static_cast<uint32_t>(contents.size()), kTestFileAlignment);
        bytes.insert(bytes.end(), contents.begin(), contents.end());
        bytes.resize(rawPointer + rawSize, 0);
        size_t header = table + i * kSectionHeaderSize;
        std::memcpy(&bytes[header], section.name.data(), std::min<size_t>(8, section.name.size()));
        PutU32(bytes, header + 8, static_cast<uint32_t>(contents.size()));
        PutU32(bytes, header + 12, address);
        PutU32(bytes, header + 16, rawSize);
        PutU32(bytes, header + 20, rawPointer);
        PutU32(bytes, header + 36, section.flags);
        size_t directory = optional + kOptionalDataDirectories;
        if (section.isResource) {
            PutU32(bytes, directory + 8 * kPeDirResource, address);
            PutU32(bytes, directory + 8 * kPeDirResource + 4, static_cast<uint32_t>(contents.size()));
        }
        if (section.isRelocations) {
            PutU32(bytes, directory + 8 * kPeDirBaseReloc, address);
            PutU32(bytes, directory + 8 * kPeDirBaseReloc + 4, static_cast<uint32_t>(contents.size()));
        }
        if (section.flags & kSectionInitializedDataFlag)
            initialized += rawSize;
        address += RoundUp(std::max<uint32_t>(1, static_cast<uint32_t>(contents.size())), kTestSectionAlignment);
    }
    PutU32(bytes, optional + kOptionalSizeOfInitializedData, initialized);
    PutU32(bytes, optional + kOptionalSizeOfImage, address);
    if (image.symbolTable) {
        PutU32(bytes, coff + kCoffPointerToSymbolTable, static_cast<uint32_t>(bytes.size()));
        PutU32(bytes, coff + kCoffNumberOfSymbols, static_cast<uint32_t>(image.trailer.size() / kSymbolRecordSize));
    }
    bytes.insert(bytes.end(), image.trailer.begin(), image.trailer.end());
    PutU32(bytes, optional + kOptionalChecksum, ComputePeChecksum(bytes, optional + kOptionalChecksum));
    return bytes;
}

ResourceTree LauncherResources()
{
    ResourceTree tree;
    tree.Set(kResourceTypeDialog, 103, kPeLanguageGerman, { Pattern(60, 1), 0 });
    tree.Set(kResourceTypeBitmap, 134, kPeLanguageEnglish, { Pattern(5000, 2), 0 });
    tree.Set(kResourceTypeIcon, 1, 0, { Pattern(300, 3), 0 });
    // One 32-pixel image, icon 1.
    tree.Set(kResourceTypeIconGroup, 101, 0,
             { { 0, 0, 1, 0, 1, 0, 32, 32, 0, 0, 1, 0, 32, 0, 0x2C, 1, 0, 0, 1, 0 }, 0 });
    tree.Set(kResourceTypeManifest, 1, kPeLanguageEnglish, { Pattern(700, 5), 1252 });
    tree.Set(ResourceId::Named("KMARC"), ResourceId::Named("BASE"), kPeLanguageGerman, { Pattern(3000, 6), 0 });
    tree.Set(ResourceId::Named("KMARC"), ResourceId::Named("APPBASE"), kPeLanguageGerman, { Pattern(333, 7), 0 });
    return tree;
}

TestImage LauncherLikeImage(const ResourceTree& resources)
{
    TestImage image;
    image.resources = resources;
    image.sections.push_back({ ".text", Pattern(3000, 10), kTestCodeFlags });
    image.sections.push_back({ ".data", Pattern(100, 11), kTestDataFlags });
    image.sections.push_back({ ".rsrc", {}, kTestResourceFlags, true });
    image.sections.push_back({ ".reloc", Pattern(64, 12), kTestRelocationFlags, false, true });
    image.trailer = Pattern(90, 13);
    image.symbolTable = true;
    return image;
}

const PeSection* FindSection(const PeImage& image, const std::string& name)
{
    for (const PeSection& section : image.Sections()) {
        if (section.name == name)
            return &section;
    }
    return nullptr;
}

std::vector<uint8_t> SectionBytes(const PeImage& image, const PeSection& section)
{
    return image.View().Copy(section.rawPointer, section.rawSize, "section");
}

uint32_t RawResourceDirectory::AddTable(uint16_t named, uint16_t numbered)
{
    uint32_t offset = static_cast<uint32_t>(m_bytes.size());
    m_bytes.resize(m_bytes.size() + 16 + 8 * (size_t(named) + numbered), 0);
    PutU16(m_bytes, offset + 12, named);
    PutU16(m_bytes, offset + 14, numbered);
    return offset;
}

void RawResourceDirectory::SetEntry(uint32_t table, uint32_t index, uint32_t key, uint32_t target)
{
    PutU32(m_bytes, table + 16 + 8 * index, key);
    PutU32(m_bytes, table + 16 + 8 * index + 4, target);
}

uint32_t RawResourceDirectory::AddUnits(const std::vector<uint16_t>& units)
{
    uint32_t offset = static_cast<uint32_t>(m_bytes.size());
    for (uint16_t unit : units)
        AppendU16(m_bytes, unit);
    return offset;
}

uint32_t RawResourceDirectory::AddName(const std::u16string& name)
{
    std::vector<uint16_t> units{ static_cast<uint16_t>(name.size()) };
    units.insert(units.end(), name.begin(), name.end());
    return AddUnits(units);
}

uint32_t RawResourceDirectory::AddData(const std::vector<uint8_t>& bytes)
{
    PadTo(m_bytes, 4);
    uint32_t entry = static_cast<uint32_t>(m_bytes.size());
    m_bytes.resize(m_bytes.size() + 16, 0);
    PutU32(m_bytes, entry + 4, static_cast<uint32_t>(bytes.size()));
    m_dataEntries.push_back({ entry, static_cast<uint32_t>(m_bytes.size()) });
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return entry;
}

std::vector<uint8_t> RawResourceDirectory::Build(uint32_t sectionAddress) const
{
    std::vector<uint8_t> bytes = m_bytes;
    for (const auto& data : m_dataEntries)
        PutU32(bytes, data.first, sectionAddress + data.second);
    return bytes;
}

std::vector<uint8_t> ImageWithDirectory(const RawResourceDirectory& directory)
{
    TestImage image = LauncherLikeImage(ResourceTree());
    image.resourceSection = [&](uint32_t address) { return directory.Build(address); };
    return BuildTestImage(image);
}

std::vector<uint8_t> NameBombImage(uint16_t typeCount, uint16_t nameCount, uint16_t nameLength)
{
    RawResourceDirectory directory;
    uint32_t root = directory.AddTable(0, typeCount);
    uint32_t names = directory.AddTable(nameCount, 0);
    uint32_t languages = directory.AddTable(0, 1);
    directory.SetEntry(languages, 0, 1033, directory.AddData({}));
    // Unit k reads as the length nameLength + k, so every name differs from the others.
    std::vector<uint16_t> units;
    for (uint32_t k = 0; k < uint32_t(nameLength) + 2u * nameCount; ++k)
        units.push_back(static_cast<uint16_t>(std::min<uint32_t>(0xFFFF, uint32_t(nameLength) + k)));
    uint32_t block = directory.AddUnits(units);
    for (uint16_t i = 0; i < nameCount; ++i)
        directory.SetEntry(names, i, (block + 2u * i) | kRawHighBit, languages | kRawHighBit);
    for (uint16_t i = 0; i < typeCount; ++i)
        directory.SetEntry(root, i, i + 1u, names | kRawHighBit);
    return ImageWithDirectory(directory);
}
