// A 32-bit Windows executable (PE32, x86) read from its bytes and checked: the DOS and
// PE headers, the optional header, the section table and the data directories. The
// checks are those a loader relies on, so every offset and size that later code uses
// is known to lie inside the file.
#ifndef PE_PE_IMAGE_H
#define PE_PE_IMAGE_H

#include "pe/ByteView.h"

#include <cstdint>
#include <string>
#include <vector>

// Indexes into the data directory.
enum PeDirectory : uint32_t {
    kPeDirExport = 0,
    kPeDirImport = 1,
    kPeDirResource = 2,
    kPeDirException = 3,
    kPeDirSecurity = 4,   // the certificate table: a file offset, not an address
    kPeDirBaseReloc = 5,
    kPeDirDebug = 6,
    kPeDirCount = 16,
};

// Section flags the layout code looks at.
const uint32_t kSectionCodeFlag = 0x00000020;
const uint32_t kSectionInitializedDataFlag = 0x00000040;
const uint32_t kSectionUninitializedDataFlag = 0x00000080;
const uint32_t kSectionDiscardableFlag = 0x02000000;
const uint32_t kSectionReadFlag = 0x40000000;

// Byte positions of the fields that the writer changes, and of the tables.
const size_t kDosPeOffsetField = 0x3C;
const size_t kCoffHeaderSize = 20;
const size_t kSectionHeaderSize = 40;
const size_t kOptionalSizeOfInitializedData = 8;
const size_t kOptionalSizeOfImage = 56;
const size_t kOptionalChecksum = 64;
const size_t kOptionalDataDirectories = 96;
const size_t kCoffNumberOfSections = 2;
const size_t kCoffPointerToSymbolTable = 8;
const size_t kCoffNumberOfSymbols = 12;
// A COFF symbol record; the string table follows the records.
const size_t kSymbolRecordSize = 18;

struct PeSection {
    std::string name;  // up to 8 bytes as stored ("/4" for a name in the string table)
    uint32_t virtualSize;
    uint32_t virtualAddress;
    uint32_t rawSize;
    uint32_t rawPointer;
    uint32_t characteristics;

    // The section's extent in memory: its virtual size, or its raw size when that is 0.
    uint32_t VirtualExtent() const { return virtualSize != 0 ? virtualSize : rawSize; }
};

struct PeDataDirectory {
    uint32_t address;  // an RVA, except for the certificate table (a file offset)
    uint32_t size;
};

class PeImage {
public:
    // Takes the file's bytes and checks them; throws PeError naming the first fault.
    explicit PeImage(std::vector<uint8_t> bytes);

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    ByteView View() const { return ByteView(m_bytes); }

    size_t CoffHeaderOffset() const { return m_coffOffset; }
    size_t OptionalHeaderOffset() const { return m_optionalOffset; }
    size_t SectionTableOffset() const { return m_sectionTableOffset; }
    uint32_t SizeOfHeaders() const { return m_sizeOfHeaders; }
    uint32_t SectionAlignment() const { return m_sectionAlignment; }
    uint32_t FileAlignment() const { return m_fileAlignment; }
    uint32_t SizeOfImage() const { return m_sizeOfImage; }
    uint32_t Checksum() const { return m_checksum; }
    uint32_t SymbolTablePointer() const { return m_symbolTablePointer; }
    // Number of data directory slots the optional header holds (at most 16 are used).
    uint32_t DirectoryCount() const { return m_directoryCount; }

    const std::vector<PeSection>& Sections() const { return m_sections; }
    // The directory, or a zero one when the header holds fewer slots.
    PeDataDirectory Directory(uint32_t index) const;

    // End of the last section's raw data: anything after it is appended data (the
    // symbol table, a certificate table, or whatever was added to the file).
    uint32_t EndOfSections() const { return m_endOfSections; }

    // Whether a certificate table (an Authenticode signature) is present.
    bool HasCertificate() const { return Directory(kPeDirSecurity).size != 0; }

    // The index of the section that holds rva, or -1.
    int SectionOf(uint32_t rva) const;
    // The file offset of the size bytes at rva; throws PeError(Malformed) naming what
    // when they do not lie inside one section's raw data.
    size_t FileOffsetOf(uint32_t rva, uint32_t size, const char* what) const;

private:
    void ReadHeaders();
    void ReadSections();

    std::vector<uint8_t> m_bytes;
    size_t m_coffOffset = 0;
    size_t m_optionalOffset = 0;
    size_t m_sectionTableOffset = 0;
    uint32_t m_sizeOfHeaders = 0;
    uint32_t m_sectionAlignment = 0;
    uint32_t m_fileAlignment = 0;
    uint32_t m_sizeOfImage = 0;
    uint32_t m_checksum = 0;
    uint32_t m_symbolTablePointer = 0;
    uint32_t m_directoryCount = 0;
    uint32_t m_endOfSections = 0;
    std::vector<PeSection> m_sections;
    std::vector<PeDataDirectory> m_directories;
};

// The checksum the optional header carries: the 16-bit one's-complement style sum of
// the file with the checksum field taken as 0, plus the file's length.
uint32_t ComputePeChecksum(const std::vector<uint8_t>& bytes, size_t checksumOffset);

#endif
