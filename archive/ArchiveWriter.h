// Builds an archive: the entries' zlib streams back to back from offset 4, the
// directory last, in the order the entries were added; an entry may share an earlier
// entry's stream. The archive is built in memory,
// or streamed to an output so that memory does not grow with the size of the entries.
#ifndef ARCHIVE_WRITER_H
#define ARCHIVE_WRITER_H

#include "archive/Deflate.h"

#include <cstddef>
#include <cstdint>
#include <memory>
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
    TooLarge,           // an entry or the archive would pass the 4 GiB its 32-bit fields can address
    CompressionFailed,  // zlib reported an error
    WriteFailed,        // the output refused a write
};

const char* DescribeArchiveWriteResult(ArchiveWriteResult result);

// Where a streamed archive goes. Each call returns false when the bytes could not be
// written.
class ArchiveOutput {
public:
    virtual bool Append(const unsigned char* bytes, size_t count) = 0;
    // Writes over bytes already appended: the directory offset, known only at the end.
    virtual bool Rewrite(uint64_t offset, const unsigned char* bytes, size_t count) = 0;

protected:
    ~ArchiveOutput() = default;
};

class ArchiveWriter {
public:
    // Builds the archive in memory; Finish(archive) hands it over. level is a zlib
    // compression level, 0 to 9, or -1 for zlib's default, whose streams begin with the
    // header bytes 0x78 0x9C.
    explicit ArchiveWriter(int level = -1);
    // Streams the archive to output, which must outlive the writer; Finish() ends it.
    ArchiveWriter(ArchiveOutput& output, int level);
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // Compresses size bytes at contents into one complete zlib stream (also when size
    // is 0) and adds an entry for it. On any result but Ok an archive built in memory is
    // unchanged; a streamed one is unusable and must be discarded.
    ArchiveWriteResult Add(const std::string& name, const unsigned char* contents, size_t size,
                           const ArchiveTimes& times);

    // Add for contents read from input in pieces; memory stays independent of their size.
    ArchiveWriteResult AddStream(const std::string& name, ArchiveInput& input, const ArchiveTimes& times);

    // An entry whose zlib stream was made elsewhere (DeflateEntry), handed over in
    // pieces: BeginEntry, AppendEntryData for each piece in order, EndEntry. Nothing
    // else may be added in between. On any result but Ok the archive is unusable.
    ArchiveWriteResult BeginEntry(const std::string& name);
    ArchiveWriteResult AppendEntryData(const unsigned char* bytes, size_t count);
    ArchiveWriteResult EndEntry(uint64_t uncompressedSize, const ArchiveTimes& times);

    // An entry that holds the same contents as the entry added as number earlier (0 for
    // the first): its record names that entry's stream, which is stored once. Nothing
    // may be added in between BeginEntry and EndEntry.
    ArchiveWriteResult AddSharedEntry(const std::string& name, size_t earlier, const ArchiveTimes& times);

    // Appends the directory and hands over the archive built in memory; the writer is
    // then empty again. TooLarge when the directory would pass the 4 GiB limit.
    ArchiveWriteResult Finish(std::vector<unsigned char>& archive);

    // Appends the directory to a streamed archive and writes its offset at the start.
    ArchiveWriteResult Finish();

private:
    class MemoryOutput;
    struct Entry {
        std::string name;
        uint32_t dataOffset;
        uint32_t compressedSize;
        uint32_t uncompressedSize;
        ArchiveTimes times;
    };

    void Start();
    void Rollback();

    int m_level;
    std::unique_ptr<MemoryOutput> m_memory;
    ArchiveOutput* m_output;
    uint64_t m_size = 0;
    std::vector<Entry> m_entries;
    // The entry being added: its name and where its data starts.
    std::string m_entryName;
    uint64_t m_entryOffset = 0;
};

#endif
