#include "tools/kmarc/IdenticalFiles.h"

#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/ToolError.h"

#include <zlib.h>

#include <map>
#include <utility>

namespace {

const size_t kPieceSize = 65536;

// Replaces piece with the next piece of file; empty at its end.
void ReadPiece(FileInput& file, std::vector<unsigned char>& piece)
{
    piece.resize(kPieceSize);
    piece.resize(file.Read(piece.data(), piece.size()));
}

// The CRC-32 of the file's bytes and their count; false when it cannot be read.
bool Checksum(const std::filesystem::path& path, std::pair<uint64_t, unsigned long>& sum)
{
    try {
        FileInput file(path);
        std::vector<unsigned char> piece;
        uLong crc = crc32(0, nullptr, 0);
        uint64_t size = 0;
        do {
            ReadPiece(file, piece);
            crc = crc32_z(crc, piece.data(), piece.size());
            size += piece.size();
        } while (!piece.empty());
        sum = { size, crc };
        return true;
    } catch (const ToolError&) {
        return false;
    }
}

bool SameBytes(const std::filesystem::path& first, const std::filesystem::path& second)
{
    try {
        FileInput a(first);
        FileInput b(second);
        std::vector<unsigned char> pieceA;
        std::vector<unsigned char> pieceB;
        do {
            ReadPiece(a, pieceA);
            ReadPiece(b, pieceB);
            if (pieceA != pieceB)
                return false;
        } while (!pieceA.empty());
        return true;
    } catch (const ToolError&) {
        return false;
    }
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
