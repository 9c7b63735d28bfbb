// Packed bitmaps built byte by byte for the bitmap tests.
#ifndef SPLASH_DIB_TEST_SUPPORT_H
#define SPLASH_DIB_TEST_SUPPORT_H

#include <algorithm>
#include <cstdint>
#include <vector>

typedef std::vector<unsigned char> Bytes;

const size_t kOffCompression = 16;
const size_t kOffSizeImage = 20;
const size_t kOffClrUsed = 32;

inline void Put32(Bytes& b, size_t offset, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[offset + i] = static_cast<unsigned char>(v >> (8 * i));
}

inline uint32_t Get32(const Bytes& b, size_t offset)
{
    return b[offset] | b[offset + 1] << 8 | b[offset + 2] << 16 | uint32_t(b[offset + 3]) << 24;
}

struct DibSpec
{
    int32_t width;
    int32_t height;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t sizeImage;
    uint32_t clrUsed;
};

// A 40-byte header, then table (colour table or masks), then pixels.
inline Bytes MakeDib(const DibSpec& spec, const Bytes& table, const Bytes& pixels)
{
    Bytes dib(40 + table.size() + pixels.size());
    Put32(dib, 0, 40);
    Put32(dib, 4, uint32_t(spec.width));
    Put32(dib, 8, uint32_t(spec.height));
    dib[12] = 1;
    dib[14] = static_cast<unsigned char>(spec.bitCount);
    Put32(dib, kOffCompression, spec.compression);
    Put32(dib, kOffSizeImage, spec.sizeImage);
    Put32(dib, kOffClrUsed, spec.clrUsed);
    std::copy(table.begin(), table.end(), dib.begin() + 40);
    std::copy(pixels.begin(), pixels.end(), dib.begin() + 40 + table.size());
    return dib;
}

#endif // SPLASH_DIB_TEST_SUPPORT_H
