// Builds an archive in memory: the entries' zlib streams back to back from offset 4,
// the directory last, in the order the entries were added.
#ifndef ARCHIVE_WRITER_H
#define ARCHIVE_WRITER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The three time stamps of an entry, in seconds since 1970-01-01 UTC.
struct ArchiveTimes {
    uint32_t creation;
    uint32_t lastWrite;
    uint32_t lastAccess;
};

enum class ArchiveWriteResult {
    Ok,
    NameNotAllowed,     // the reader would refuse the name (see IsSafeEntryName), or it is longer than 255 bytes
    TooLarge,           // the archive would pass the 4 GiB its 32-bit offsets can address
    CompressionFailed,  // zlib reported an error
};

const char* DescribeArchiveWriteResult(ArchiveWriteResult result);

class ArchiveWriter {
public:
    // level is a zlib compression level, 0 to 9, or -1 for zlib's default, whose
    // streams begin with the header bytes 0x78 0x9C.
    explicit ArchiveWriter(int level = -1);

    // Compresses size bytes at contents into one complete zlib stream (also when size
    // is 0) and adds an entry for it. On any result but Ok the archive is unchanged.
    ArchiveWriteResult Add(const std::string& name, const unsigned char* contents, size_t size,
                           const ArchiveTimes& times);

    // Appends the directory and hands over the finished archive; the writer is then
    // empty again. TooLarge when the directory would pass the 4 GiB limit.
    ArchiveWriteResult Finish(std::vector<unsigned char>& archive);

private:
    struct Entry {
        std::string name;
        uint32_t dataOffset;
        uint32_t compressedSize;
        uint32_t uncompressedSize;
        ArchiveTimes times;
    };

    int m_level;
    std::vector<unsigned char> m_archive;
    std::vector<Entry> m_entries;
};

#endif
