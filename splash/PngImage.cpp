#include "splash/PngImage.h"

#include <zlib.h>

namespace {

const unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
const unsigned char kBitDepth = 8;
const unsigned char kColourTypeRgb = 2;
const unsigned char kFilterNone = 0;
const uint32_t kBytesPerPixel = 3;
// Keeps the filtered rows and the compressed stream well inside zlib's 32-bit sizes.
const uint64_t kMaxRawBytes = 256u << 20;

void AppendBigEndian32(std::vector<unsigned char>& out, uint32_t value)
{
    out.push_back(static_cast<unsigned char>(value >> 24));
    out.push_back(static_cast<unsigned char>(value >> 16));
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

void AppendChunk(std::vector<unsigned char>& out, const char (&type)[5], const std::vector<unsigned char>& data)
{
    AppendBigEndian32(out, uint32_t(data.size()));
    size_t typeStart = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    // The checksum covers the type and the data, not the length.
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, out.data() + typeStart, uInt(out.size() - typeStart));
    AppendBigEndian32(out, uint32_t(crc));
}

} // namespace

std::vector<unsigned char> EncodePng(uint32_t width, uint32_t height, const std::vector<unsigned char>& rgb)
{
    uint64_t rowBytes = uint64_t(width) * kBytesPerPixel;
    if (width == 0 || height == 0 || (rowBytes + 1) * height > kMaxRawBytes || rgb.size() < rowBytes * height)
        return {};

    std::vector<unsigned char> raw;
    raw.reserve(size_t((rowBytes + 1) * height));
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(kFilterNone);
        const unsigned char* row = rgb.data() + rowBytes * y;
        raw.insert(raw.end(), row, row + rowBytes);
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::vector<unsigned char> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), Z_BEST_COMPRESSION) != Z_OK)
        return {};
    packed.resize(packedSize);

    std::vector<unsigned char> header;
    AppendBigEndian32(header, width);
    AppendBigEndian32(header, height);
    header.insert(header.end(), {kBitDepth, kColourTypeRgb, 0, 0, 0}); // deflate, adaptive, no interlace

    std::vector<unsigned char> png(kSignature, kSignature + sizeof kSignature);
    AppendChunk(png, "IHDR", header);
    AppendChunk(png, "IDAT", packed);
    AppendChunk(png, "IEND", {});
    return png;
}
