#include "splash/DibFormat.h"

#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Offsets of the BITMAPINFOHEADER fields used here.
const uint32_t kOffSize = 0;
const uint32_t kOffWidth = 4;
const uint32_t kOffHeight = 8;
const uint32_t kOffBitCount = 14;
const uint32_t kOffCompression = 16;
const uint32_t kOffSizeImage = 20;
const uint32_t kOffClrUsed = 32;

const uint32_t kColorEntryBytes = 4;
const uint16_t kMaxIndexedBitCount = 8;
const uint32_t kPaletteCountMask = 0xFFFF;

// RLE8 escape codes, the second byte of a pair whose first byte is 0.
const unsigned char kRleEndOfLine = 0;
const unsigned char kRleEndOfBitmap = 1;
const unsigned char kRleDelta = 2;

bool ReadU32(const unsigned char* base, uint32_t length, uint32_t offset, uint32_t& value)
{
    if (offset > length || length - offset < 4)
        return false;
    const unsigned char* p = base + offset;
    value = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return true;
}

bool ReadU16(const unsigned char* base, uint32_t length, uint32_t offset, uint16_t& value)
{
    if (offset > length || length - offset < 2)
        return false;
    value = uint16_t(base[offset] | base[offset + 1] << 8);
    return true;
}

bool WriteU32(unsigned char* base, uint32_t length, uint32_t offset, uint32_t value)
{
    if (offset > length || length - offset < 4)
        return false;
    unsigned char* p = base + offset;
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
    p[2] = static_cast<unsigned char>(value >> 16);
    p[3] = static_cast<unsigned char>(value >> 24);
    return true;
}

uint32_t RowCount(int32_t height)
{
    // Written so that the most negative height has a row count too.
    return height < 0 ? uint32_t(0) - uint32_t(height) : uint32_t(height);
}

bool NeedsSizeImage(const DibHeader& header)
{
    return header.sizeImage == 0;
}

bool NeedsClrUsed(const DibHeader& header)
{
    return header.clrUsed == 0 && header.bitCount <= kMaxIndexedBitCount;
}

// The zeroed block an expansion is built in. Under Windows a movable global block,
// locked for as long as the object lives.
class ScratchBlock
{
public:
    explicit ScratchBlock(uint32_t size)
    {
#ifdef _WIN32
        handle_ = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
        if (handle_)
            bytes_ = static_cast<unsigned char*>(GlobalLock(handle_));
#else
        bytes_ = static_cast<unsigned char*>(std::calloc(size, 1));
#endif
    }
    ~ScratchBlock()
    {
#ifdef _WIN32
        if (bytes_)
            GlobalUnlock(handle_);
        if (handle_)
            GlobalFree(handle_);
#else
        std::free(bytes_);
#endif
    }
    ScratchBlock(const ScratchBlock&) = delete;
    ScratchBlock& operator=(const ScratchBlock&) = delete;

    unsigned char* Bytes() const { return bytes_; }

private:
#ifdef _WIN32
    HGLOBAL handle_ = nullptr;
#endif
    unsigned char* bytes_ = nullptr;
};

// Output position of an RLE8 expansion. Pixels outside the picture are dropped, so a
// run can never spill into the next row or past the last one.
class Rle8Writer
{
public:
    Rle8Writer(unsigned char* image, uint32_t stride, uint32_t width, uint32_t rows)
        : image_(image), stride_(stride), width_(width), rows_(rows)
    {
    }

    bool Finished() const { return y_ >= rows_; }

    void Put(unsigned char value)
    {
        if (x_ < width_ && y_ < rows_)
            image_[y_ * stride_ + x_] = value;
        if (x_ < width_)
            ++x_;
    }

    void EndLine()
    {
        x_ = 0;
        ++y_;
    }

    void Move(uint32_t right, uint32_t up)
    {
        x_ = right > width_ - x_ ? width_ : x_ + right;
        y_ = up > rows_ - y_ ? rows_ : y_ + up;
    }

private:
    unsigned char* image_;
    uint32_t stride_;
    uint32_t width_;
    uint32_t rows_;
    uint32_t x_ = 0;
    uint32_t y_ = 0;
};

} // namespace

bool ReadDibHeader(const unsigned char* dib, uint32_t length, DibHeader& header)
{
    uint32_t width = 0;
    uint32_t height = 0;
    if (length < kDibInfoHeaderSize || !ReadU32(dib, length, kOffSize, header.size)
        || header.size < kDibInfoHeaderSize || header.size > length)
        return false;
    ReadU32(dib, length, kOffWidth, width);
    ReadU32(dib, length, kOffHeight, height);
    ReadU16(dib, length, kOffBitCount, header.bitCount);
    ReadU32(dib, length, kOffCompression, header.compression);
    ReadU32(dib, length, kOffSizeImage, header.sizeImage);
    ReadU32(dib, length, kOffClrUsed, header.clrUsed);
    header.width = static_cast<int32_t>(width);
    header.height = static_cast<int32_t>(height);
    return true;
}

uint32_t DibStride(int32_t width, uint16_t bitCount)
{
    if (width <= 0)
        return 0;
    uint64_t stride = ((uint64_t(width) * bitCount + 31) & ~uint64_t(31)) / 8;
    return stride > kDibMaxImageBytes ? 0 : uint32_t(stride);
}

uint32_t DibImageSize(const DibHeader& header)
{
    uint64_t size = uint64_t(DibStride(header.width, header.bitCount)) * RowCount(header.height);
    return size > kDibMaxImageBytes ? 0 : uint32_t(size);
}

uint64_t DibPixelOffset(const DibHeader& header)
{
    if (header.compression == kDibBitfields)
        return uint64_t(header.size) + kDibMaskBytes;
    return uint64_t(header.size) + uint64_t(kColorEntryBytes) * header.clrUsed;
}

bool IsExpandableRle8(const DibHeader& header)
{
    return header.compression == kDibRle8 && header.bitCount == 8 && header.height > 0
        && DibImageSize(header) != 0;
}

bool DibNeedsChange(const unsigned char* dib, uint32_t length)
{
    DibHeader header;
    if (!ReadDibHeader(dib, length, header))
        return false;
    return NeedsSizeImage(header) || NeedsClrUsed(header) || IsExpandableRle8(header);
}

uint32_t DibWritableSize(const unsigned char* dib, uint32_t length)
{
    DibHeader header;
    if (!ReadDibHeader(dib, length, header))
        return 0;
    // The pixels lie where they will after CompleteDibHeader: behind the full colour
    // table that a biClrUsed of 0 stands for.
    if (NeedsClrUsed(header))
        header.clrUsed = uint32_t(1) << header.bitCount;
    uint64_t pixelOffset = DibPixelOffset(header);
    // Without its compressed pixels inside the block there is nothing to expand.
    if (!IsExpandableRle8(header) || pixelOffset > length)
        return length;
    uint64_t needed = pixelOffset + DibImageSize(header);
    return needed <= length ? length : uint32_t(needed);
}

void CompleteDibHeader(unsigned char* dib, uint32_t length)
{
    DibHeader header;
    if (!ReadDibHeader(dib, length, header))
        return;
    if (NeedsSizeImage(header))
        WriteU32(dib, length, kOffSizeImage, DibImageSize(header));
    if (NeedsClrUsed(header))
        WriteU32(dib, length, kOffClrUsed, uint32_t(1) << header.bitCount);
}

bool NormalizeDib(unsigned char* dib, uint32_t length)
{
    DibHeader header;
    if (!ReadDibHeader(dib, length, header) || !IsExpandableRle8(header))
        return false;
    uint64_t pixelOffset = DibPixelOffset(header);
    uint32_t imageSize = DibImageSize(header);
    if (pixelOffset > length || length - pixelOffset < imageSize)
        return false;
    uint32_t room = length - uint32_t(pixelOffset);
    uint32_t inputSize = room;
    if (header.sizeImage != 0 && header.sizeImage < inputSize)
        inputSize = header.sizeImage;
    if (!ExpandRle8(dib + pixelOffset, inputSize, room, header.width, header.height))
        return false;
    WriteU32(dib, length, kOffCompression, kDibRgb);
    WriteU32(dib, length, kOffSizeImage, imageSize);
    return true;
}

bool ExpandRle8(unsigned char* pixels, uint32_t inputSize, uint32_t room, int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return false;
    uint32_t stride = DibStride(width, 8);
    uint64_t imageSize = uint64_t(stride) * uint32_t(height);
    if (stride == 0 || imageSize > kDibMaxImageBytes)
        return false;
    ScratchBlock block{uint32_t(imageSize)};
    if (!block.Bytes())
        return false;

    Rle8Writer out(block.Bytes(), stride, uint32_t(width), uint32_t(height));
    uint32_t in = 0;
    while (!out.Finished() && inputSize - in >= 2) {
        unsigned char first = pixels[in];
        unsigned char second = pixels[in + 1];
        in += 2;
        if (first != 0) {
            for (unsigned n = 0; n < first; ++n)
                out.Put(second);
        } else if (second == kRleEndOfLine) {
            out.EndLine();
        } else if (second == kRleEndOfBitmap) {
            break;
        } else if (second == kRleDelta) {
            if (inputSize - in < 2)
                break;
            out.Move(pixels[in], pixels[in + 1]);
            in += 2;
        } else {
            uint32_t count = second;
            uint32_t available = inputSize - in;
            for (uint32_t n = 0; n < count && n < available; ++n)
                out.Put(pixels[in + n]);
            // Literal strings are padded to an even length.
            uint32_t consumed = count + (count & 1);
            in = consumed > available ? inputSize : in + consumed;
        }
    }
    size_t copied = imageSize < room ? size_t(imageSize) : size_t(room);
    if (copied != 0)
        std::memcpy(pixels, block.Bytes(), copied);
    return true;
}

bool DibFitsIn(const unsigned char* dib, uint32_t length)
{
    DibHeader header;
    if (!ReadDibHeader(dib, length, header) || header.width <= 0 || header.height == 0)
        return false;
    uint64_t tableEnd = uint64_t(header.size) + uint64_t(kColorEntryBytes) * (header.clrUsed & kPaletteCountMask);
    uint64_t pixelOffset = DibPixelOffset(header);
    if (tableEnd > length || pixelOffset > length)
        return false;
    uint64_t available = length - pixelOffset;
    if (header.compression == kDibRgb || header.compression == kDibBitfields) {
        uint32_t imageSize = DibImageSize(header);
        return imageSize != 0 && imageSize <= available;
    }
    return header.sizeImage != 0 && header.sizeImage <= available;
}

bool PrepareDib(unsigned char* dib, uint32_t size)
{
    CompleteDibHeader(dib, size);
    NormalizeDib(dib, size);
    return DibFitsIn(dib, size);
}

bool ReadDibColor(const unsigned char* dib, uint32_t length, uint32_t index,
                  uint8_t& red, uint8_t& green, uint8_t& blue)
{
    DibHeader header;
    if (!ReadDibHeader(dib, length, header))
        return false;
    uint64_t offset = header.size + uint64_t(index) * kColorEntryBytes;
    if (offset > length || length - offset < kColorEntryBytes)
        return false;
    blue = dib[offset];
    green = dib[offset + 1];
    red = dib[offset + 2];
    return true;
}
