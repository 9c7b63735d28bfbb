// Feeds arbitrary bytes to the bitmap code the way the loader and the expansion see
// them. The first byte chooses the path:
//   even: the rest is a packed bitmap; it is judged as kmarc judges a splash picture,
//         completed and normalized in a block of its writable size, then checked and
//         its colour table read.
//   odd:  bytes 1-2 are the width, 3-4 the height (little-endian), 5-6 the room; the
//         rest is RLE8 data expanded in a block that holds the data or the room.
#include "splash/DibCheck.h"
#include "splash/DibFormat.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Keeps each run fast; larger pictures take the same paths.
const uint32_t kMaxBlock = 1u << 20;

void FuzzBitmap(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> dib(data, data + size);
    uint32_t length = uint32_t(dib.size());
    bool needsChange = DibNeedsChange(dib.data(), length);
    uint32_t writable = DibWritableSize(dib.data(), length);
    if (writable > kMaxBlock)
        return;
    DibVerdict verdict = CheckDib(data, uint32_t(size));
    if (writable > length)
        dib.resize(writable);
    CompleteDibHeader(dib.data(), uint32_t(dib.size()));
    NormalizeDib(dib.data(), uint32_t(dib.size()));
    // The loader uses a bitmap that needs no change where it lies, in read-only
    // memory: completion and normalization must then write nothing.
    if (!needsChange && (dib.size() != size || !std::equal(dib.begin(), dib.end(), data)))
        __builtin_trap();
    // A picture the check takes is one the splash draws.
    if (verdict.fault == DibFault::None && !DibFitsIn(dib.data(), uint32_t(dib.size())))
        __builtin_trap();
    // A bitmap that fits has its whole colour table inside, as a palette reads it.
    DibHeader header;
    if (!DibFitsIn(dib.data(), uint32_t(dib.size())) || !ReadDibHeader(dib.data(), uint32_t(dib.size()), header))
        return;
    for (uint32_t i = 0; i < (header.clrUsed & 0xFFFF); ++i) {
        uint8_t red, green, blue;
        if (!ReadDibColor(dib.data(), uint32_t(dib.size()), i, red, green, blue))
            __builtin_trap();
    }
}

void FuzzRle8(const uint8_t* data, size_t size)
{
    if (size < 6)
        return;
    int32_t width = int16_t(data[0] | data[1] << 8);
    int32_t height = int16_t(data[2] | data[3] << 8);
    uint32_t room = data[4] | data[5] << 8;
    std::vector<unsigned char> block(data + 6, data + size);
    uint32_t inputSize = uint32_t(block.size());
    if (block.size() < room)
        block.resize(room);
    if (uint64_t(DibStride(width, 8)) * uint32_t(height < 0 ? 0 : height) > kMaxBlock)
        return;
    ExpandRle8(block.data(), inputSize, room, width, height);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > kMaxBlock)
        return 0;
    if (data[0] % 2 == 0)
        FuzzBitmap(data + 1, size - 1);
    else
        FuzzRle8(data + 1, size - 1);
    return 0;
}
