// One directory entry of an archive while it is processed.
#ifndef ARCHIVE_ENTRY_H
#define ARCHIVE_ENTRY_H

#include <cstdint>

struct ArchiveEntry {
    char* name;                   // L name bytes and a zero byte; owned by the reader
    const unsigned char* data;    // the entry's compressed bytes inside the archive
    uint32_t compressedSize;
    uint32_t uncompressedSize;
    uint32_t creationTime;        // the three times: seconds since 1970-01-01 UTC
    uint32_t lastWriteTime;
    uint32_t lastAccessTime;
};

#endif
