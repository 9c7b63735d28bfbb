#include "pe/PeImage.h"

#include <cstdio>

namespace {

const uint16_t kDosSignature = 0x5A4D;      // "MZ"
const uint32_t kPeSignature = 0x00004550;   // "PE\0\0"
const uint16_t kMachineI386 = 0x014C;
const uint16_t kOptionalMagicPe32 = 0x010B;
const uint16_t kOptionalMagicPe32Plus = 0x020B;
const size_t kDosHeaderSize = 64;
const size_t kPeSignatureSize = 4;
// The fixed part of a PE32 optional header, before the data directories.
const size_t kOptionalFixedSize = 96;
const size_t kDirectoryEntrySize = 8;
const size_t kOptionalSectionAlignment = 32;
const size_t kOptionalFileAlignment = 36;
const size_t kOptionalSizeOfHeaders = 60;
const size_t kOptionalNumberOfRvaAndSizes = 92;
const size_t kCoffMachine = 0;
const size_t kCoffSizeOfOptionalHeader = 16;
// The loader takes no more; a header that claims more is made up.
const uint16_t kMaxSections = 96;
const uint32_t kMinFileAlignment = 512;
const uint32_t kMaxFileAlignment = 0x10000;
const uint32_t kPageSize = 0x1000;

bool IsPowerOfTwo(uint32_t value)
{
    return value != 0 && (value & (value - 1)) == 0;
}

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

[[noreturn]] void Malformed(const std::string& message)
{
    throw PeError(PeFault::Malformed, message);
}

std::string SectionLabel(const PeSection& section, size_t index)
{
    return "section " + std::to_string(index + 1) + " (" + (section.name.empty() ? "unnamed" : section.name) + ")";
}

} // namespace

PeImage::PeImage(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes))
{
    ReadHeaders();
    ReadSections();
}

void PeImage::ReadHeaders()
{
    ByteView view(m_bytes);
    if (!view.Holds(0, 2) || view.U16(0, "DOS signature") != kDosSignature)
        throw PeError(PeFault::NotPe, "not a Windows executable (no MZ signature)");
    if (!view.Holds(0, kDosHeaderSize))
        throw PeError(PeFault::Truncated, "file ends inside the DOS header");
    uint32_t peOffset = view.U32(kDosPeOffsetField, "PE header offset");
    if (!view.Holds(peOffset, kPeSignatureSize))
        throw PeError(PeFault::Truncated, "the PE header at " + Hex(peOffset) + " lies past the end of the file");
    if (view.U32(peOffset, "PE signature") != kPeSignature)
        throw PeError(PeFault::NotPe, "not a Windows executable (no PE signature; a DOS program?)");

    m_coffOffset = peOffset + kPeSignatureSize;
    uint16_t machine = view.U16(m_coffOffset + kCoffMachine, "machine type");
    uint16_t sizeOfOptional = view.U16(m_coffOffset + kCoffSizeOfOptionalHeader, "optional header size");
    m_optionalOffset = m_coffOffset + kCoffHeaderSize;
    uint16_t magic = view.U16(m_optionalOffset, "optional header");
    if (magic == kOptionalMagicPe32Plus)
        throw PeError(PeFault::NotPe32, "a 64-bit executable (PE32+), not a 32-bit one");
    if (magic != kOptionalMagicPe32)
        throw PeError(PeFault::NotPe32, "not a 32-bit executable (optional header magic " + Hex(magic) + ")");
    if (machine != kMachineI386)
        throw PeError(PeFault::NotPe32, "not an x86 executable (machine type " + Hex(machine) + ")");

    if (sizeOfOptional < kOptionalFixedSize)
        Malformed("optional header of " + std::to_string(sizeOfOptional) + " bytes is too small for a PE32 one");
    ByteView optional = view.Sub(m_optionalOffset, sizeOfOptional, "optional header");
    m_sectionAlignment = optional.U32(kOptionalSectionAlignment, "section alignment");
    m_fileAlignment = optional.U32(kOptionalFileAlignment, "file alignment");
    m_sizeOfImage = optional.U32(kOptionalSizeOfImage, "image size");
    m_sizeOfHeaders = optional.U32(kOptionalSizeOfHeaders, "header size");
    m_checksum = optional.U32(kOptionalChecksum, "checksum");
    m_directoryCount = optional.U32(kOptionalNumberOfRvaAndSizes, "directory count");
    if (m_directoryCount > (sizeOfOptional - kOptionalFixedSize) / kDirectoryEntrySize)
        Malformed("the optional header claims " + std::to_string(m_directoryCount) +
                  " data directories but has room for fewer");
    if (m_directoryCount > kPeDirCount)
        m_directoryCount = kPeDirCount;
    for (uint32_t i = 0; i < m_directoryCount; ++i) {
        size_t entry = kOptionalDataDirectories + i * kDirectoryEntrySize;
        m_directories.push_back({ optional.U32(entry, "data directory"), optional.U32(entry + 4, "data directory") });
    }

    if (!IsPowerOfTwo(m_fileAlignment) || m_fileAlignment > kMaxFileAlignment)
        Malformed("file alignment " + Hex(m_fileAlignment) + " is not a power of two up to 64 KiB");
    if (!IsPowerOfTwo(m_sectionAlignment) || m_sectionAlignment < m_fileAlignment)
        Malformed("section alignment " + Hex(m_sectionAlignment) + " is not a power of two of at least the file alignment");
    // Below a page, sections are mapped where they lie in the file.
    if (m_fileAlignment < kMinFileAlignment && m_sectionAlignment >= kPageSize)
        Malformed("file alignment " + Hex(m_fileAlignment) + " is below 512 bytes");

    m_symbolTablePointer = view.U32(m_coffOffset + kCoffPointerToSymbolTable, "symbol table pointer");
    m_sectionTableOffset = m_optionalOffset + sizeOfOptional;
}

void PeImage::ReadSections()
{
    ByteView view(m_bytes);
    uint16_t count = view.U16(m_coffOffset + kCoffNumberOfSections, "section count");
    if (count == 0 || count > kMaxSections)
        Malformed("section count " + std::to_string(count) + " is not between 1 and 96");
    ByteView table = view.Sub(m_sectionTableOffset, size_t(count) * kSectionHeaderSize, "section table");
    if (m_sizeOfHeaders < m_sectionTableOffset + table.Size())
        Malformed("the headers' size " + Hex(m_sizeOfHeaders) + " does not cover the section table");
    if (m_sizeOfHeaders > m_bytes.size())
        throw PeError(PeFault::Truncated, "the file ends inside its headers");

    uint32_t virtualEnd = 0;
    for (size_t i = 0; i < count; ++i) {
        size_t at = i * kSectionHeaderSize;
        PeSection section;
        const uint8_t* name = table.Data() + at;
        size_t length = 0;
        while (length < 8 && name[length] != 0)
            ++length;
        section.name.assign(reinterpret_cast<const char*>(name), length);
        section.virtualSize = table.U32(at + 8, "section header");
        section.virtualAddress = table.U32(at + 12, "section header");
        section.rawSize = table.U32(at + 16, "section header");
        section.rawPointer = table.U32(at + 20, "section header");
        section.characteristics = table.U32(at + 36, "section header");
        std::string label = SectionLabel(section, i);

        if (section.virtualAddress % m_sectionAlignment != 0)
            Malformed(label + " starts at " + Hex(section.virtualAddress) + ", off the section alignment");
        if (section.virtualAddress < virtualEnd || section.virtualAddress < m_sizeOfHeaders)
            Malformed(label + " overlaps what comes before it in memory");
        uint32_t extent = section.VirtualExtent();
        if (uint64_t(section.virtualAddress) + extent > m_sizeOfImage)
            Malformed(label + " reaches past the image size " + Hex(m_sizeOfImage));
        virtualEnd = section.virtualAddress + extent;

        if (section.rawSize != 0) {
            if (section.rawPointer % m_fileAlignment != 0)
                Malformed(label + " lies at file offset " + Hex(section.rawPointer) + ", off the file alignment");
            if (section.rawPointer < m_sizeOfHeaders)
                Malformed(label + " overlaps the headers in the file");
            if (!view.Holds(section.rawPointer, section.rawSize))
                throw PeError(PeFault::Truncated, "the file is cut short: " + label + " ends at byte " +
                                                      std::to_string(uint64_t(section.rawPointer) + section.rawSize) +
                                                      ", the file has " + std::to_string(m_bytes.size()));
            for (size_t j = 0; j < m_sections.size(); ++j) {
                const PeSection& other = m_sections[j];
                if (other.rawSize != 0 && section.rawPointer < other.rawPointer + other.rawSize &&
                    other.rawPointer < section.rawPointer + section.rawSize)
                    Malformed(label + " shares file bytes with " + SectionLabel(other, j));
            }
            if (section.rawPointer + section.rawSize > m_endOfSections)
                m_endOfSections = section.rawPointer + section.rawSize;
        }
        m_sections.push_back(section);
    }
    if (m_endOfSections < m_sizeOfHeaders)
        m_endOfSections = m_sizeOfHeaders;

    PeDataDirectory security = Directory(kPeDirSecurity);
    if (security.size != 0 && !view.Holds(security.address, security.size))
        throw PeError(PeFault::Truncated, "the file is cut short: its certificate table ends at byte " +
                                              std::to_string(uint64_t(security.address) + security.size) +
                                              ", the file has " + std::to_string(m_bytes.size()));
}

PeDataDirectory PeImage::Directory(uint32_t index) const
{
    return index < m_directories.size() ? m_directories[index] : PeDataDirectory{ 0, 0 };
}

int PeImage::SectionOf(uint32_t rva) const
{
    for (size_t i = 0; i < m_sections.size(); ++i) {
        const PeSection& section = m_sections[i];
        if (rva >= section.virtualAddress && rva - section.virtualAddress < section.VirtualExtent())
            return static_cast<int>(i);
    }
    return -1;
}

size_t PeImage::FileOffsetOf(uint32_t rva, uint32_t size, const char* what) const
{
    int index = SectionOf(rva);
    if (index < 0)
        Malformed(std::string(what) + " at " + Hex(rva) + " lies in no section");
    const PeSection& section = m_sections[index];
    uint32_t inside = rva - section.virtualAddress;
    if (inside > section.rawSize || size > section.rawSize - inside)
        Malformed(std::string(what) + " at " + Hex(rva) + " runs past the file data of its section");
    return size_t(section.rawPointer) + inside;
}

uint32_t ComputePeChecksum(const std::vector<uint8_t>& bytes, size_t checksumOffset)
{
    // The field itself counts as zero, wherever it lies.
    auto byteAt = [&](size_t i) -> uint32_t {
        return (i >= checksumOffset && i - checksumOffset < 4) ? 0 : bytes[i];
    };
    uint64_t sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t word = byteAt(i);
        if (i + 1 < bytes.size())
            word |= byteAt(i + 1) << 8;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + bytes.size());
}
