#include "archive/ArchiveReader.h"

#include "archive/EntryName.h"
#include "archive/LittleEndian.h"

#include <cstring>

namespace {

const uint32_t kDirectoryOffsetField = 0;
const uint32_t kFirstDataOffset = 4;
const uint32_t kEntryCountSize = 4;
// Length byte and six 32-bit fields; the name comes on top.
const uint32_t kEntryFixedSize = 25;

} // namespace

const char* DescribeArchiveFault(ArchiveFault fault)
{
    switch (fault) {
    case ArchiveFault::None: return "sound";
    case ArchiveFault::HeaderOutside: return "too short to hold a directory offset";
    case ArchiveFault::DirectoryOutside: return "directory lies outside the archive";
    case ArchiveFault::EntryOutside: return "directory entry runs past the end of the archive";
    case ArchiveFault::DataOutside: return "compressed data runs past the end of the archive";
    case ArchiveFault::NameNotAllowed: return "entry name is not allowed";
    }
    return "unknown fault";
}

ArchiveReader::ArchiveReader(const unsigned char* base, uint32_t size, uint32_t folderLength)
    : m_base(base), m_size(size)
{
    m_fault = CheckDirectory(folderLength);
}

// The archive comes from a file that may have been damaged in download or on disk, so
// every offset, count and length is checked against the size before anything is read
// or delivered.
ArchiveFault ArchiveReader::CheckDirectory(uint32_t folderLength)
{
    uint32_t directory = 0;
    if (!ReadUint32LE(m_base, m_size, kDirectoryOffsetField, directory))
        return ArchiveFault::HeaderOutside;
    if (directory < kFirstDataOffset || !ReadUint32LE(m_base, m_size, directory, m_entryCount))
        return ArchiveFault::DirectoryOutside;

    m_position = directory + kEntryCountSize;
    uint32_t position = m_position;
    // Each entry takes at least kEntryFixedSize bytes, so a huge count ends the loop at
    // the end of the archive rather than running through it.
    for (uint32_t index = 0; index < m_entryCount; ++index) {
        uint32_t start = position;
        ArchiveFault fault = CheckEntry(position, folderLength);
        if (fault != ArchiveFault::None) {
            m_faultEntry = index;
            m_faultPosition = start;
            return fault;
        }
    }
    return ArchiveFault::None;
}

ArchiveFault ArchiveReader::CheckEntry(uint32_t& position, uint32_t folderLength) const
{
    if (position >= m_size)
        return ArchiveFault::EntryOutside;
    uint32_t nameLength = m_base[position];
    uint32_t entrySize = kEntryFixedSize + nameLength;
    if (m_size - position < entrySize)
        return ArchiveFault::EntryOutside;
    const char* name = reinterpret_cast<const char*>(m_base + position + 1);
    if (!IsSafeEntryName(name, nameLength, folderLength))
        return ArchiveFault::NameNotAllowed;
    uint32_t dataOffset = 0;
    uint32_t compressedSize = 0;
    if (!ReadUint32LE(m_base, m_size, position + 1 + nameLength, dataOffset)
        || !ReadUint32LE(m_base, m_size, position + 5 + nameLength, compressedSize))
        return ArchiveFault::EntryOutside;
    if (dataOffset > m_size || compressedSize > m_size - dataOffset)
        return ArchiveFault::DataOutside;
    position += entrySize;
    return ArchiveFault::None;
}

bool ArchiveReader::Next(ArchiveEntry& entry)
{
    if (m_fault != ArchiveFault::None || m_delivered == m_entryCount)
        return false;

    uint32_t nameLength = m_base[m_position];
    m_name.reset(new char[nameLength + 1]);
    std::memcpy(m_name.get(), m_base + m_position + 1, nameLength);
    m_name[nameLength] = '\0';
    m_position += 1 + nameLength;

    uint32_t dataOffset = 0;
    uint32_t* const fields[] = { &dataOffset, &entry.compressedSize, &entry.uncompressedSize,
                                 &entry.creationTime, &entry.lastWriteTime, &entry.lastAccessTime };
    for (uint32_t* field : fields) {
        if (!ReadUint32LE(m_base, m_size, m_position, *field))
            return false;
        m_position += 4;
    }
    entry.name = m_name.get();
    entry.data = m_base + dataOffset;
    ++m_delivered;
    return true;
}
