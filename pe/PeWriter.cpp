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

// The sizes in the optional header; the checksum follows once every byte is written.
void FinishHeaders(std::vector<uint8_t>& bytes, const PeImage& image, uint32_t sizeOfImage, int64_t initializedDelta)
{
    size_t optional = image.OptionalHeaderOffset();
    PutU32(bytes, optional + kOptionalSizeOfImage, sizeOfImage);
    ByteView view(bytes);
    int64_t initialized = int64_t(view.U32(optional + kOptionalSizeOfInitializedData, "initialized data size"));
    initialized = std::max<int64_t>(0, std::min<int64_t>(UINT32_MAX, initialized + initializedDelta));
    PutU32(bytes, optional + kOptionalSizeOfInitializedData, static_cast<uint32_t>(initialized));
    PutU32(bytes, optional + kOptionalChecksum, 0);
}

// Passes every byte on to the real output and sums it as ComputePeChecksum does: 16-bit
// little-endian words with the carry folded back, the checksum field counting as zero,
// plus the file's length.
class ChecksumSink final : public ByteSink {
public:
    using ByteSink::Write;
    ChecksumSink(ByteSink& out, size_t checksumOffset) : m_out(out), m_checksumOffset(checksumOffset) {}

    void Write(const uint8_t* bytes, size_t count) override
    {
        m_out.Write(bytes, count);
        for (size_t i = 0; i < count; ++i, ++m_position) {
            uint32_t byte = (m_position >= m_checksumOffset && m_position - m_checksumOffset < 4) ? 0 : bytes[i];
            if ((m_position & 1) == 0) {
                m_low = byte;
                continue;
            }
            AddWord(m_low | (byte << 8));
        }
    }
    void Rewrite(uint64_t offset, const uint8_t* bytes, size_t count) override { m_out.Rewrite(offset, bytes, count); }
    uint64_t Size() const override { return m_position; }

    uint32_t Checksum()
    {
        uint64_t sum = m_sum;
        if (m_position & 1) {  // a last odd byte is a word of its own
            sum += m_low;
            sum = (sum & 0xFFFF) + (sum >> 16);
        }
        sum = (sum & 0xFFFF) + (sum >> 16);
        return static_cast<uint32_t>(sum + m_position);
    }

private:
    void AddWord(uint32_t word)
    {
        m_sum += word;
        m_sum = (m_sum & 0xFFFF) + (m_sum >> 16);
    }

    ByteSink& m_out;
    size_t m_checksumOffset;
    uint64_t m_position = 0;
    uint64_t m_sum = 0;
    uint32_t m_low = 0;
};

void WriteChecksum(ChecksumSink& sink, const PeImage& image)
{
    std::vector<uint8_t> field(4, 0);
    PutU32(field, 0, sink.Checksum());
    sink.Rewrite(image.OptionalHeaderOffset() + kOptionalChecksum, field.data(), field.size());
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

void RelayOut(const PeImage& image, int resource, const ResourceTree& tree, ByteSink& out)
{
    const std::vector<uint8_t>& old = image.Bytes();
    std::vector<PeSection> sections = image.Sections();
    PeSection& rsrc = sections[resource];
    const PeSection oldRsrc = rsrc;

    rsrc.virtualSize = ResourceSectionSize(tree, rsrc.virtualAddress);
    rsrc.rawSize = Align(rsrc.virtualSize, image.FileAlignment());

    // Everything before the resource section stays; its headers are changed below.
    std::vector<uint8_t> head(old.begin(), old.begin() + rsrc.rawPointer);

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
            rawCursor = section.rawPointer + section.rawSize;
        }
        if (int(i) == relocationSection)
            newRelocations = relocations.address - before.virtualAddress + section.virtualAddress;
        virtualCursor = Align(section.virtualAddress + section.VirtualExtent(), image.SectionAlignment());
    }

    // Whatever followed the sections (the symbol table, appended data) follows them still.
    uint32_t oldEnd = image.EndOfSections();
    uint32_t symbols = image.SymbolTablePointer();
    if (symbols != 0 && symbols >= oldEnd)
        PutU32(head, image.CoffHeaderOffset() + kCoffPointerToSymbolTable, symbols - oldEnd + rawCursor);

    for (size_t i = resource; i < sections.size(); ++i)
        WriteSectionPlace(head, image, i, sections[i]);
    SetDirectory(head, image, kPeDirResource, rsrc.virtualAddress, rsrc.virtualSize);
    if (relocationSection > resource)
        SetDirectory(head, image, kPeDirBaseReloc, newRelocations, relocations.size);
    FinishHeaders(head, image, virtualCursor, InitializedShare(rsrc) - InitializedShare(oldRsrc));

    ChecksumSink sink(out, image.OptionalHeaderOffset() + kOptionalChecksum);
    sink.Write(head);
    WriteResourceSection(tree, rsrc.virtualAddress, sink);
    sink.PadTo(uint64_t(rsrc.rawPointer) + rsrc.rawSize);
    for (size_t i = resource + 1; i < sections.size(); ++i) {
        const PeSection& before = image.Sections()[i];
        if (sections[i].rawSize == 0)
            continue;
        sink.PadTo(sections[i].rawPointer);
        sink.Write(old.data() + before.rawPointer, before.rawSize);
    }
    size_t trailing = std::min<size_t>(oldEnd, old.size());
    sink.Write(old.data() + trailing, old.size() - trailing);
    WriteChecksum(sink, image);
}

void AppendSection(const PeImage& image, const ResourceTree& tree, ByteSink& out)
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
    added.virtualSize = ResourceSectionSize(tree, added.virtualAddress);
    added.rawSize = Align(added.virtualSize, image.FileAlignment());
    added.rawPointer = Align(static_cast<uint32_t>(old.size()), image.FileAlignment());
    added.characteristics = kNewResourceSectionFlags;

    std::vector<uint8_t> head = old;
    size_t header = SectionHeader(image, sections.size());
    std::memcpy(&head[header], added.name.data(), added.name.size());
    WriteSectionPlace(head, image, sections.size(), added);
    PutU32(head, header + kSectionFlagsField, added.characteristics);
    PutU16(head, image.CoffHeaderOffset() + kCoffNumberOfSections, static_cast<uint16_t>(sections.size() + 1));

    PeDataDirectory root = image.Directory(kPeDirResource);
    int retired = root.address != 0 ? image.SectionOf(root.address) : -1;
    if (retired >= 0 && sections[retired].name == kResourceSectionName) {
        size_t name = SectionHeader(image, retired);
        std::memset(&head[name], 0, kSectionNameSize);
        std::memcpy(&head[name], kRetiredResourceSectionName, std::strlen(kRetiredResourceSectionName));
    }
    SetDirectory(head, image, kPeDirResource, added.virtualAddress, added.virtualSize);
    FinishHeaders(head, image, Align(added.virtualAddress + added.virtualSize, image.SectionAlignment()),
                  InitializedShare(added));

    ChecksumSink sink(out, image.OptionalHeaderOffset() + kOptionalChecksum);
    sink.Write(head);
    sink.PadTo(added.rawPointer);
    WriteResourceSection(tree, added.virtualAddress, sink);
    sink.PadTo(uint64_t(added.rawPointer) + added.rawSize);
    WriteChecksum(sink, image);
}

} // namespace

void WriteWithResources(const PeImage& image, const ResourceTree& tree, ByteSink& out)
{
    if (image.HasCertificate())
        throw PeError(PeFault::Signed, "the file is signed, and changing it would break the signature");
    if (out.Size() != 0)
        throw PeError(PeFault::NoRoom, "the output already holds bytes");
    int resource = DedicatedResourceSection(image);
    if (resource >= 0 && TailCanMove(image, resource))
        RelayOut(image, resource, tree, out);
    else
        AppendSection(image, tree, out);
}

std::vector<uint8_t> WithResources(const PeImage& image, const ResourceTree& tree)
{
    MemorySink out;
    WriteWithResources(image, tree, out);
    return std::move(out.Bytes());
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
