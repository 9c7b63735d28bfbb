#include "pe/PeWriter.h"

#include <algorithm>
#include <cstring>

namespace {

const char kResourceSectionName[] = ".rsrc";
// The name the old resource section takes when a new one goes at the end, so that
// tools which look resources up by section name find the live one.
const char kRetiredResourceSectionName[] = ".oldrsrc";
const uint32_t kNewResourceSectionFlags = kSectionInitializedDataFlag | kSectionReadFlag;
const size_t kSectionVirtualSizeField = 8;
const size_t kSectionVirtualAddressField = 12;
const size_t kSectionRawSizeField = 16;
const size_t kSectionRawPointerField = 20;
const size_t kSectionFlagsField = 36;
const size_t kSectionNameSize = 8;
const size_t kDebugDirectoryEntrySize = 28;
const uint32_t kCertificateAlignment = 8;
const size_t kDebugAddressOfRawData = 20;
const size_t kDebugPointerToRawData = 24;

uint32_t Align(uint32_t value, uint32_t alignment)
{
    uint32_t aligned = 0;
    if (!AlignUp(value, alignment, aligned))
        throw PeError(PeFault::NoRoom, "the image would pass the 4 GiB it can address");
    return aligned;
}

size_t DirectoryField(const PeImage& image, uint32_t index)
{
    if (index >= image.DirectoryCount())
        throw PeError(PeFault::NoRoom, "the optional header has no slot for data directory " + std::to_string(index));
    return image.OptionalHeaderOffset() + kOptionalDataDirectories + size_t(index) * 8;
}

void SetDirectory(std::vector<uint8_t>& bytes, const PeImage& image, uint32_t index, uint32_t address, uint32_t size)
{
    size_t field = DirectoryField(image, index);
    PutU32(bytes, field, address);
    PutU32(bytes, field + 4, size);
}

size_t SectionHeader(const PeImage& image, size_t index)
{
    return image.SectionTableOffset() + index * kSectionHeaderSize;
}

void WriteSectionPlace(std::vector<uint8_t>& bytes, const PeImage& image, size_t index, const PeSection& section)
{
    size_t header = SectionHeader(image, index);
    PutU32(bytes, header + kSectionVirtualSizeField, section.virtualSize);
    PutU32(bytes, header + kSectionVirtualAddressField, section.virtualAddress);
    PutU32(bytes, header + kSectionRawSizeField, section.rawSize);
    PutU32(bytes, header + kSectionRawPointerField, section.rawPointer);
}

void FinishHeaders(std::vector<uint8_t>& bytes, const PeImage& image, uint32_t sizeOfImage, int64_t initializedDelta)
{
    size_t optional = image.OptionalHeaderOffset();
    PutU32(bytes, optional + kOptionalSizeOfImage, sizeOfImage);
    ByteView view(bytes);
    int64_t initialized = int64_t(view.U32(optional + kOptionalSizeOfInitializedData, "initialized data size"));
    initialized = std::max<int64_t>(0, std::min<int64_t>(UINT32_MAX, initialized + initializedDelta));
    PutU32(bytes, optional + kOptionalSizeOfInitializedData, static_cast<uint32_t>(initialized));
    PutU32(bytes, optional + kOptionalChecksum, ComputePeChecksum(bytes, optional + kOptionalChecksum));
}

int64_t InitializedShare(const PeSection& section)
{
    return (section.characteristics & kSectionInitializedDataFlag) ? int64_t(section.rawSize) : 0;
}

// The index of the section that holds the resources and nothing else, or -1.
int DedicatedResourceSection(const PeImage& image)
{
    PeDataDirectory root = image.Directory(kPeDirResource);
    if (root.address == 0)
        return -1;
    int index = image.SectionOf(root.address);
    if (index < 0 || image.Sections()[index].virtualAddress != root.address || image.Sections()[index].rawSize == 0)
        return -1;
    for (uint32_t d = 0; d < image.DirectoryCount(); ++d) {
        PeDataDirectory other = image.Directory(d);
        if (d != kPeDirResource && d != kPeDirSecurity && other.size != 0 && image.SectionOf(other.address) == index)
            return -1;
    }
    return index;
}

// Whether the sections behind the resource section may move: nothing the image refers
// to by address may lie in them but the base relocations, which only say where other
// sections need fixing; and the file must hold them in table order behind it.
bool TailCanMove(const PeImage& image, int resource)
{
    const std::vector<PeSection>& sections = image.Sections();
    const PeSection& rsrc = sections[resource];
    uint32_t rsrcRawEnd = rsrc.rawPointer + rsrc.rawSize;
    for (int i = 0; i < resource; ++i) {
        if (sections[i].rawSize != 0 && sections[i].rawPointer + sections[i].rawSize > rsrc.rawPointer)
            return false;
    }
    uint32_t rawCursor = rsrcRawEnd;
    PeDataDirectory relocations = image.Directory(kPeDirBaseReloc);
    int relocationSection = relocations.size != 0 ? image.SectionOf(relocations.address) : -1;
    for (size_t i = resource + 1; i < sections.size(); ++i) {
        const PeSection& section = sections[i];
        bool movable = int(i) == relocationSection || (section.characteristics & kSectionDiscardableFlag) != 0;
        if (!movable)
            return false;
        if (section.rawSize != 0) {
            if (section.rawPointer < rawCursor)
                return false;
            rawCursor = section.rawPointer + section.rawSize;
        }
    }
    for (uint32_t d = 0; d < image.DirectoryCount(); ++d) {
        PeDataDirectory directory = image.Directory(d);
        if (d == kPeDirResource || d == kPeDirSecurity || d == kPeDirBaseReloc || directory.size == 0)
            continue;
        if (image.SectionOf(directory.address) > resource)
            return false;
    }
    if (relocationSection >= 0 && relocationSection != image.SectionOf(relocations.address + relocations.size - 1))
        return false;
    // Debug records hold file offsets of their data; none may point at bytes that move.
    PeDataDirectory debug = image.Directory(kPeDirDebug);
    if (debug.size != 0) {
        try {
            size_t at = image.FileOffsetOf(debug.address, debug.size, "debug directory");
            for (size_t e = 0; e + kDebugDirectoryEntrySize <= debug.size; e += kDebugDirectoryEntrySize) {
                uint32_t address = image.View().U32(at + e + kDebugAddressOfRawData, "debug directory");
                uint32_t pointer = image.View().U32(at + e + kDebugPointerToRawData, "debug directory");
                if ((address != 0 && image.SectionOf(address) >= resource) || pointer >= rsrc.rawPointer)
                    return false;
            }
        } catch (const PeError&) {
            return false;
        }
    }
    uint32_t symbols = image.SymbolTablePointer();
    return symbols == 0 || symbols < rsrc.rawPointer || symbols >= image.EndOfSections();
}

std::vector<uint8_t> RelayOut(const PeImage& image, int resource, const ResourceTree& tree)
{
    const std::vector<uint8_t>& old = image.Bytes();
    std::vector<PeSection> sections = image.Sections();
    PeSection& rsrc = sections[resource];
    const PeSection oldRsrc = rsrc;
    std::vector<uint8_t> contents = BuildResourceSection(tree, rsrc.virtualAddress);

    rsrc.virtualSize = static_cast<uint32_t>(contents.size());
    rsrc.rawSize = Align(rsrc.virtualSize, image.FileAlignment());

    std::vector<uint8_t> bytes(old.begin(), old.begin() + rsrc.rawPointer);
    bytes.insert(bytes.end(), contents.begin(), contents.end());
    bytes.resize(size_t(rsrc.rawPointer) + rsrc.rawSize, 0);

    uint32_t virtualCursor = Align(rsrc.virtualAddress + rsrc.VirtualExtent(), image.SectionAlignment());
    uint32_t rawCursor = rsrc.rawPointer + rsrc.rawSize;
    PeDataDirectory relocations = image.Directory(kPeDirBaseReloc);
    int relocationSection = relocations.size != 0 ? image.SectionOf(relocations.address) : -1;
    uint32_t newRelocations = relocations.address;
    for (size_t i = resource + 1; i < sections.size(); ++i) {
        PeSection& section = sections[i];
        const PeSection before = section;
        section.virtualAddress = virtualCursor;
        if (section.rawSize != 0) {
            section.rawPointer = Align(rawCursor, image.FileAlignment());
            bytes.resize(section.rawPointer, 0);
            bytes.insert(bytes.end(), old.begin() + before.rawPointer, old.begin() + before.rawPointer + before.rawSize);
            rawCursor = section.rawPointer + section.rawSize;
        }
        if (int(i) == relocationSection)
            newRelocations = relocations.address - before.virtualAddress + section.virtualAddress;
        virtualCursor = Align(section.virtualAddress + section.VirtualExtent(), image.SectionAlignment());
    }

    // Whatever followed the sections (the symbol table, appended data) follows them still.
    uint32_t oldEnd = image.EndOfSections();
    bytes.insert(bytes.end(), old.begin() + std::min<size_t>(oldEnd, old.size()), old.end());
    uint32_t symbols = image.SymbolTablePointer();
    if (symbols != 0 && symbols >= oldEnd)
        PutU32(bytes, image.CoffHeaderOffset() + kCoffPointerToSymbolTable, symbols - oldEnd + rawCursor);

    for (size_t i = resource; i < sections.size(); ++i)
        WriteSectionPlace(bytes, image, i, sections[i]);
    SetDirectory(bytes, image, kPeDirResource, rsrc.virtualAddress, rsrc.virtualSize);
    if (relocationSection > resource)
        SetDirectory(bytes, image, kPeDirBaseReloc, newRelocations, relocations.size);
    FinishHeaders(bytes, image, virtualCursor, InitializedShare(rsrc) - InitializedShare(oldRsrc));
    return bytes;
}

std::vector<uint8_t> AppendSection(const PeImage& image, const ResourceTree& tree)
{
    const std::vector<PeSection>& sections = image.Sections();
    size_t tableEnd = SectionHeader(image, sections.size());
    uint32_t firstRaw = image.SizeOfHeaders();
    for (const PeSection& section : sections) {
        if (section.rawSize != 0)
            firstRaw = std::min(firstRaw, section.rawPointer);
    }
    const std::vector<uint8_t>& old = image.Bytes();
    bool room = tableEnd + kSectionHeaderSize <= firstRaw;
    for (size_t i = tableEnd; room && i < tableEnd + kSectionHeaderSize; ++i)
        room = old[i] == 0;
    if (!room)
        throw PeError(PeFault::NoRoom, "the headers have no room for another section");

    uint32_t virtualEnd = 0;
    for (const PeSection& section : sections)
        virtualEnd = std::max(virtualEnd, section.virtualAddress + section.VirtualExtent());
    PeSection added;
    added.name = kResourceSectionName;
    added.virtualAddress = Align(virtualEnd, image.SectionAlignment());
    std::vector<uint8_t> contents = BuildResourceSection(tree, added.virtualAddress);
    added.virtualSize = static_cast<uint32_t>(contents.size());
    added.rawSize = Align(added.virtualSize, image.FileAlignment());
    added.rawPointer = Align(static_cast<uint32_t>(old.size()), image.FileAlignment());
    added.characteristics = kNewResourceSectionFlags;

    std::vector<uint8_t> bytes = old;
    bytes.resize(added.rawPointer, 0);
    bytes.insert(bytes.end(), contents.begin(), contents.end());
    bytes.resize(size_t(added.rawPointer) + added.rawSize, 0);

    size_t header = SectionHeader(image, sections.size());
    std::memcpy(&bytes[header], added.name.data(), added.name.size());
    WriteSectionPlace(bytes, image, sections.size(), added);
    PutU32(bytes, header + kSectionFlagsField, added.characteristics);
    PutU16(bytes, image.CoffHeaderOffset() + kCoffNumberOfSections, static_cast<uint16_t>(sections.size() + 1));

    PeDataDirectory root = image.Directory(kPeDirResource);
    int retired = root.address != 0 ? image.SectionOf(root.address) : -1;
    if (retired >= 0 && sections[retired].name == kResourceSectionName) {
        size_t name = SectionHeader(image, retired);
        std::memset(&bytes[name], 0, kSectionNameSize);
        std::memcpy(&bytes[name], kRetiredResourceSectionName, std::strlen(kRetiredResourceSectionName));
    }
    SetDirectory(bytes, image, kPeDirResource, added.virtualAddress, added.virtualSize);
    FinishHeaders(bytes, image, Align(added.virtualAddress + added.virtualSize, image.SectionAlignment()),
                  InitializedShare(added));
    return bytes;
}

} // namespace

std::vector<uint8_t> WithResources(const PeImage& image, const ResourceTree& tree)
{
    if (image.HasCertificate())
        throw PeError(PeFault::Signed, "the file is signed, and changing it would break the signature");
    int resource = DedicatedResourceSection(image);
    if (resource >= 0 && TailCanMove(image, resource))
        return RelayOut(image, resource, tree);
    return AppendSection(image, tree);
}

std::vector<uint8_t> WithoutCertificate(const PeImage& image)
{
    PeDataDirectory table = image.Directory(kPeDirSecurity);
    if (table.size == 0)
        return image.Bytes();
    const std::vector<uint8_t>& old = image.Bytes();
    if (uint64_t(table.address) + table.size != old.size() || table.address < image.EndOfSections())
        throw PeError(PeFault::Malformed, "the certificate table is not the last thing in the file");
    // The table starts on an 8-byte boundary; zeros a signer put between the sections
    // and the table to reach it go with it, when nothing else lies there.
    uint32_t end = table.address;
    bool onlyPadding = image.SymbolTablePointer() == 0 && table.address - image.EndOfSections() < kCertificateAlignment;
    for (uint32_t i = image.EndOfSections(); onlyPadding && i < table.address; ++i)
        onlyPadding = old[i] == 0;
    if (onlyPadding)
        end = image.EndOfSections();
    std::vector<uint8_t> bytes(old.begin(), old.begin() + end);
    SetDirectory(bytes, image, kPeDirSecurity, 0, 0);
    size_t checksum = image.OptionalHeaderOffset() + kOptionalChecksum;
    PutU32(bytes, checksum, ComputePeChecksum(bytes, checksum));
    return bytes;
}
