// Turns one archive entry into a file.
#ifndef ARCHIVE_EXTRACT_ENTRY_H
#define ARCHIVE_EXTRACT_ENTRY_H

#include "archive/DirectoryPath.h"

#include <cstdint>

// What one extraction produced. The file holds exactly bytesWritten bytes either way;
// complete is false when the zlib stream was damaged, cut short or failed its checksum,
// so a caller can refuse a damaged payload.
struct ExtractionResult
{
    bool complete;              // the stream reached its clean end; compressed size 0 counts
    std::uint32_t bytesWritten; // inflated bytes written to the file
};

// The longest output path, in characters; with its terminating zero it fills the
// extractor's 512-byte path buffers.
constexpr int kExtractPathMaxLength = 511;

// Makes the folder of outputPath (recording created folders in list, which may be null),
// creates or truncates the file, and inflates the compressedSize bytes at data into it,
// 100 bytes per write. A path without a backslash is created in the current directory.
// data is borrowed and only read.
//
// Throws, after releasing everything it allocated:
//  - new WtStreamException(7, outputPath) when the file cannot be opened, or when
//    outputPath is longer than kExtractPathMaxLength (then before any folder is made);
//  - new WtStreamException(2 or 3) when a write fails; the file keeps what was written;
//  - new WtStreamException(8) when closing the file fails;
//  - WtStreamException objects from the inflater's set-up and tear-down (text
//    "Zlib-Fehler");
//  - std::bad_alloc.
// A damaged stream throws nothing: the file keeps the bytes inflated up to the fault.
ExtractionResult ExtractEntry(const unsigned char* data, std::uint32_t compressedSize,
                              const char* outputPath, CreatedDirectoryList* list);

#endif
