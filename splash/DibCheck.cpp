#include "splash/DibCheck.h"

#include "splash/DibFormat.h"

#include <cstring>
#include <vector>

namespace {

const uint16_t kBitCounts[] = { 1, 4, 8, 16, 24, 32 };
const uint16_t kMaxIndexedBitCount = 8;
// A palette on a 256-colour display holds no more; the splash makes one from the table.
const uint32_t kMaxColours = 256;
const uint32_t kMaskCount = 3;
const char* const kMaskNames[kMaskCount] = { "red", "green", "blue" };

DibVerdict Fault(DibFault fault, const std::string& reason)
{
    return DibVerdict{ fault, reason };
}

std::string Number(uint64_t value)
{
    return std::to_string(value);
}

bool IsSupportedBitCount(uint16_t bitCount)
{
    for (uint16_t supported : kBitCounts) {
        if (bitCount == supported)
            return true;
    }
    return false;
}

std::string CompressionName(uint32_t compression)
{
    switch (compression) {
    case kDibRle4:
        return "RLE4";
    case 4:
        return "JPEG";
    case 5:
        return "PNG";
    default:
        return "compression " + Number(compression);
    }
}

uint32_t ReadU32(const unsigned char* bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

// Each mask must be one run of set bits inside the pixel, apart from the others.
DibVerdict CheckMasks(const unsigned char* dib, uint32_t length, const DibHeader& header)
{
    if (uint64_t(header.size) + kDibMaskBytes > length)
        return Fault(DibFault::Outside, "the colour masks do not lie inside the file");
    uint64_t pixelBits = header.bitCount == 32 ? 0xFFFFFFFFull : (1ull << header.bitCount) - 1;
    uint32_t seen = 0;
    for (uint32_t i = 0; i < kMaskCount; ++i) {
        uint32_t mask = ReadU32(dib + header.size + 4 * i);
        std::string name = kMaskNames[i];
        if (mask == 0)
            return Fault(DibFault::Masks, "the " + name + " mask is empty");
        if (mask & ~pixelBits)
            return Fault(DibFault::Masks, "the " + name + " mask has bits outside the " + Number(header.bitCount) +
                                              "-bit pixel");
        uint32_t lowest = mask & (~mask + 1);
        if (((mask + lowest) & mask) != 0)
            return Fault(DibFault::Masks, "the " + name + " mask is not one run of bits");
        if (mask & seen)
            return Fault(DibFault::Masks, "the " + name + " mask overlaps another");
        seen |= mask;
    }
    return DibVerdict();
}

uint32_t PixelIndex(const unsigned char* row, uint32_t x, uint16_t bitCount)
{
    uint32_t bit = x * bitCount;
    unsigned char byte = row[bit / 8];
    uint32_t shift = 8 - bitCount - bit % 8;
    return (byte >> shift) & ((1u << bitCount) - 1);
}

// Every pixel of an indexed picture, prepared as the splash prepares it, must name an
// entry of the colour table; the system draws others in whatever colour it likes.
DibVerdict CheckIndexes(const unsigned char* dib, uint32_t length, const DibHeader& header)
{
    uint32_t stride = DibStride(header.width, header.bitCount);
    uint32_t rows = header.height < 0 ? uint32_t(0) - uint32_t(header.height) : uint32_t(header.height);
    uint64_t pixels = DibPixelOffset(header);
    if (pixels + uint64_t(stride) * rows > length)
        return Fault(DibFault::Outside, "the pixels do not lie inside the file");
    for (uint32_t r = 0; r < rows; ++r) {
        const unsigned char* row = dib + pixels + uint64_t(r) * stride;
        for (uint32_t x = 0; x < uint32_t(header.width); ++x) {
            uint32_t index = PixelIndex(row, x, header.bitCount);
            if (index >= header.clrUsed) {
                uint32_t fromTop = header.height < 0 ? r : rows - 1 - r;
                return Fault(DibFault::PixelOutsidePalette,
                             "the pixel in column " + Number(x) + ", row " + Number(fromTop) +
                                 " from the top has colour " + Number(index) + ", but the colour table holds " +
                                 Number(header.clrUsed) + (header.clrUsed == 1 ? " colour" : " colours"));
            }
        }
    }
    return DibVerdict();
}

} // namespace

DibVerdict CheckDib(const unsigned char* dib, uint32_t length)
{
    DibHeader header;
    if (!ReadDibHeader(dib, length, header))
        return Fault(DibFault::Unreadable, "no bitmap header of 40 bytes or more (an OS/2 or damaged bitmap)");
    if (header.width <= 0 || header.height == 0)
        return Fault(DibFault::Dimensions, "the picture is " + std::to_string(header.width) + " by " +
                                               std::to_string(header.height) + " pixels");
    if (!IsSupportedBitCount(header.bitCount))
        return Fault(DibFault::BitCount, Number(header.bitCount) +
                                             " bits per pixel; the splash draws 1, 4, 8, 16, 24 or 32");
    bool supported = header.compression == kDibRgb || (header.compression == kDibRle8 && header.bitCount == 8) ||
                     (header.compression == kDibBitfields && (header.bitCount == 16 || header.bitCount == 32));
    if (!supported)
        return Fault(DibFault::Compression,
                     CompressionName(header.compression) + " at " + Number(header.bitCount) +
                         " bits per pixel; the splash draws uncompressed pictures, RLE8 at 8 bits and bit fields "
                         "at 16 or 32 bits");
    if (header.compression == kDibRle8 && header.height < 0)
        return Fault(DibFault::CompressedTopDown, "RLE8 rows stored top-down, which no bitmap may have");
    if (DibImageSize(header) == 0)
        return Fault(DibFault::TooLarge, "the picture is " + Number(uint32_t(header.width)) + " by " +
                                             Number(header.height < 0 ? -int64_t(header.height) : header.height) +
                                             " pixels, more than the " + Number(kDibMaxImageBytes >> 20) +
                                             " MiB of pixels the splash takes");
    uint32_t maxColours = header.bitCount <= kMaxIndexedBitCount ? 1u << header.bitCount : kMaxColours;
    if (header.clrUsed > maxColours)
        return Fault(DibFault::TooManyColours, "a colour table of " + Number(header.clrUsed) + " colours; at " +
                                                   Number(header.bitCount) + " bits per pixel it holds at most " +
                                                   Number(maxColours));
    if (header.compression == kDibBitfields) {
        DibVerdict masks = CheckMasks(dib, length, header);
        if (masks.fault != DibFault::None)
            return masks;
    }

    // The splash's own preparation, on a copy.
    uint32_t size = DibWritableSize(dib, length);
    std::vector<unsigned char> copy(size, 0);
    std::memcpy(copy.data(), dib, length);
    if (!PrepareDib(copy.data(), size))
        return Fault(DibFault::Outside, "the colour table or the pixels do not lie inside the file");
    DibHeader prepared;
    ReadDibHeader(copy.data(), size, prepared);
    if (prepared.bitCount <= kMaxIndexedBitCount && prepared.compression == kDibRgb)
        return CheckIndexes(copy.data(), size, prepared);
    return DibVerdict();
}
