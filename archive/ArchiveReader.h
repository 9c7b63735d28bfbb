// Reads the directory of an archive held in memory (a locked resource or a loaded
// file) and delivers its entries in directory order.
#ifndef ARCHIVE_READER_H
#define ARCHIVE_READER_H

#include "archive/ArchiveEntry.h"

#include <cstdint>
#include <memory>

// What makes an archive damaged. An archive is judged as a whole before its first
// entry is delivered, so a damaged archive delivers nothing.
enum class ArchiveFault {
    None,
    HeaderOutside,     // fewer than 4 bytes: no directory offset
    DirectoryOutside,  // directory offset below 4, or the entry count beyond the end
    EntryOutside,      // an entry's record runs past the end
    DataOutside,       // an entry's compressed bytes run past the end
    NameNotAllowed,    // an entry's name fails IsSafeEntryName
};

// Short English description of a fault, for tools and tests.
const char* DescribeArchiveFault(ArchiveFault fault);

class ArchiveReader {
public:
    // Checks the directory of the size bytes at base against size. folderLength is the
    // length of the folder path the names will be appended to, with its trailing
    // backslash, so that every output path fits kMaxOutputPathLength; 0 checks only the
    // names themselves. The bytes are borrowed and must outlive the reader and the
    // entries it delivers.
    ArchiveReader(const unsigned char* base, uint32_t size, uint32_t folderLength);
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    ArchiveFault GetFault() const { return m_fault; }
    // Zero-based index of the entry the fault lies in (0 for a header or directory fault).
    uint32_t GetFaultEntry() const { return m_faultEntry; }
    // Offset of that entry's record in the archive, for a fault in an entry; with
    // NameNotAllowed its length byte and name lie there.
    uint32_t GetFaultPosition() const { return m_faultPosition; }
    // Number of entries; 0 when the archive is damaged.
    uint32_t GetEntryCount() const { return m_fault == ArchiveFault::None ? m_entryCount : 0; }

    // Fills entry with the next entry in directory order and returns true, or returns
    // false when all entries have been delivered or the archive is damaged. entry.name
    // is a heap copy that the reader owns: it stays valid until the next call to Next
    // or the reader's destruction, which free it. entry.data points into the archive.
    bool Next(ArchiveEntry& entry);

private:
    ArchiveFault CheckDirectory(uint32_t folderLength);
    // Checks the entry at position and moves position past it.
    ArchiveFault CheckEntry(uint32_t& position, uint32_t folderLength) const;

    const unsigned char* m_base;
    uint32_t m_size;
    uint32_t m_entryCount = 0;
    uint32_t m_delivered = 0;
    uint32_t m_position = 0;
    ArchiveFault m_fault = ArchiveFault::None;
    uint32_t m_faultEntry = 0;
    uint32_t m_faultPosition = 0;
    std::unique_ptr<char[]> m_name;
};

#endif
