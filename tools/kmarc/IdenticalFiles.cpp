#include "tools/kmarc/IdenticalFiles.h"

#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/ToolError.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

namespace {

const size_t kPieceSize = 65536;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
typedef std::unique_ptr<FILE, FileCloser> File;

// Reads the next piece of file; false when it cannot be read. A short read ends the file.
bool ReadPiece(FILE* file, std::vector<unsigned char>& piece)
{
    piece.resize(kPieceSize);
    size_t count = std::fread(piece.data(), 1, piece.size(), file);
    piece.resize(count);
    return !std::ferror(file);
}

// The CRC-32 of the file's bytes and their count; false when it cannot be read.
bool Checksum(const std::filesystem::path& path, std::pair<uint64_t, unsigned long>& sum)
{
    File file(OpenFile(path, "rb"));
    if (!file)
        return false;
    std::vector<unsigned char> piece;
    uLong crc = crc32(0, nullptr, 0);
    uint64_t size = 0;
    do {
        if (!ReadPiece(file.get(), piece))
            return false;
        crc = crc32_z(crc, piece.data(), piece.size());
        size += piece.size();
    } while (!piece.empty());
    sum = { size, crc };
    return true;
}

bool SameBytes(const std::filesystem::path& first, const std::filesystem::path& second)
{
    File a(OpenFile(first, "rb"));
    File b(OpenFile(second, "rb"));
    if (!a || !b)
        return false;
    std::vector<unsigned char> pieceA;
    std::vector<unsigned char> pieceB;
    do {
        if (!ReadPiece(a.get(), pieceA) || !ReadPiece(b.get(), pieceB) || pieceA != pieceB)
            return false;
    } while (!pieceA.empty());
    return true;
}

} // namespace

std::vector<size_t> FindIdenticalFiles(const std::vector<PackItem>& items)
{
    std::vector<size_t> earlier(items.size(), kNoEarlierCopy);
    std::map<uint64_t, std::vector<size_t>> bySize;
    for (size_t i = 0; i < items.size(); ++i) {
        try {
            bySize[GetFileSize(items[i].path)].push_back(i);
        } catch (const ToolError&) {
        }
    }
    for (const auto& sized : bySize) {
        if (sized.second.size() < 2)
            continue;
        // Files already known by their checksum: each is compared with the first files
        // of that checksum that differ from one another.
        std::map<std::pair<uint64_t, unsigned long>, std::vector<size_t>> byChecksum;
        for (size_t index : sized.second) {
            std::pair<uint64_t, unsigned long> sum;
            if (!Checksum(items[index].path, sum))
                continue;
            std::vector<size_t>& kinds = byChecksum[sum];
            for (size_t kind : kinds) {
                if (SameBytes(items[kind].path, items[index].path)) {
                    earlier[index] = kind;
                    break;
                }
            }
            if (earlier[index] == kNoEarlierCopy)
                kinds.push_back(index);
        }
    }
    return earlier;
}
