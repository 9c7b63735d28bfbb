#include "splash/PngImage.h"

#include <gtest/gtest.h>

#include <string>
#include <zlib.h>

namespace {

typedef std::vector<unsigned char> Bytes;

uint32_t BigEndian32(const Bytes& b, size_t at)
{
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

struct Chunk
{
    std::string type;
    Bytes data;
};

// Splits a PNG into its chunks; fails the test on a bad signature or checksum.
std::vector<Chunk> Chunks(const Bytes& png)
{
    std::vector<Chunk> chunks;
    const Bytes signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_EQ(signature, Bytes(png.begin(), png.begin() + 8));
    size_t at = 8;
    while (at + 12 <= png.size()) {
        uint32_t length = BigEndian32(png, at);
        if (at + 12 + length > png.size())
            break;
        Chunk chunk;
        chunk.type.assign(png.begin() + at + 4, png.begin() + at + 8);
        chunk.data.assign(png.begin() + at + 8, png.begin() + at + 8 + length);
        uint32_t crc = uint32_t(crc32(crc32(0L, Z_NULL, 0), png.data() + at + 4, length + 4));
        EXPECT_EQ(crc, BigEndian32(png, at + 8 + length)) << chunk.type;
        chunks.push_back(chunk);
        at += 12 + length;
    }
    EXPECT_EQ(png.size(), at) << "trailing bytes";
    return chunks;
}

TEST(EncodePng, WritesHeaderAndUnfilteredRows)
{
    const Bytes rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, //
                       1, 2, 3, 4, 5, 6, 7, 8, 9};
    std::vector<Chunk> chunks = Chunks(EncodePng(3, 2, rgb));
    ASSERT_EQ(3u, chunks.size());
    EXPECT_EQ("IHDR", chunks[0].type);
    EXPECT_EQ(Bytes({0, 0, 0, 3, 0, 0, 0, 2, 8, 2, 0, 0, 0}), chunks[0].data);
    EXPECT_EQ("IDAT", chunks[1].type);
    EXPECT_EQ("IEND", chunks[2].type);
    EXPECT_TRUE(chunks[2].data.empty());

    Bytes rows(2 * (1 + 9));
    uLongf size = uLongf(rows.size());
    ASSERT_EQ(Z_OK, uncompress(rows.data(), &size, chunks[1].data.data(), uLong(chunks[1].data.size())));
    EXPECT_EQ(Bytes({0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), rows);
}

TEST(EncodePng, RefusesEmptyOrShortPictures)
{
    EXPECT_TRUE(EncodePng(0, 1, Bytes(3)).empty());
    EXPECT_TRUE(EncodePng(1, 0, Bytes(3)).empty());
    EXPECT_TRUE(EncodePng(2, 2, Bytes(11)).empty());
    EXPECT_TRUE(EncodePng(0x40000000, 0x40000000, Bytes(3)).empty());
}

} // namespace
