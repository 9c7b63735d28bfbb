// Helpers of the archive tests: zlib streams and directories built by hand, so that the
// reader is checked against the layout itself and not against the writer.
#ifndef ARCHIVE_TEST_SUPPORT_H
#define ARCHIVE_TEST_SUPPORT_H

#include "archive/LittleEndian.h"

#include <zlib.h>

#include <string>
#include <vector>

inline std::vector<unsigned char> Deflate(const std::string& text)
{
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::vector<unsigned char> out(size);
    compress(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()));
    out.resize(size);
    return out;
}

struct RawArchive {
    std::vector<unsigned char> bytes;

    // Directory offset and entry count.
    RawArchive(uint32_t directory, uint32_t count)
    {
        AppendUint32LE(bytes, directory);
        AppendUint32LE(bytes, count);
    }
    void AddEntry(const std::string& name, uint32_t dataOffset, uint32_t compressedSize, uint32_t uncompressedSize = 0)
    {
        bytes.push_back(static_cast<unsigned char>(name.size()));
        bytes.insert(bytes.end(), name.begin(), name.end());
        for (uint32_t field : { dataOffset, compressedSize, uncompressedSize, 11u, 22u, 33u })
            AppendUint32LE(bytes, field);
    }
    uint32_t Size() const { return static_cast<uint32_t>(bytes.size()); }
};

#endif
