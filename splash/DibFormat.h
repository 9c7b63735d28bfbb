// Packed device-independent bitmaps as a bitmap resource stores them: a
// BITMAPINFOHEADER, then the colour table (or three colour masks), then the pixels,
// all in one block. These functions read and complete the header and expand RLE8
// pixels. Each takes the length of the block it works on and never reads or writes
// outside it, so they are safe on whatever a resource or a file holds.
#ifndef SPLASH_DIB_FORMAT_H
#define SPLASH_DIB_FORMAT_H

#include <cstdint>

// Size of a BITMAPINFOHEADER; smaller (older) headers are not accepted.
const uint32_t kDibInfoHeaderSize = 40;

// biCompression values.
const uint32_t kDibRgb = 0;
const uint32_t kDibRle8 = 1;
const uint32_t kDibRle4 = 2;
const uint32_t kDibBitfields = 3;

// The three 32-bit colour masks that follow the header of a BI_BITFIELDS bitmap.
const uint32_t kDibMaskBytes = 12;

// Largest pixel area that is computed or allocated for one bitmap (a 4096 by 4096
// picture at 32 bits). Headers that claim more are treated as malformed.
const uint32_t kDibMaxImageBytes = 64u << 20;

// The header fields this code uses.
struct DibHeader
{
    uint32_t size;        // biSize
    int32_t width;        // biWidth
    int32_t height;       // biHeight; negative for rows stored top-down
    uint16_t bitCount;    // biBitCount
    uint32_t compression; // biCompression
    uint32_t sizeImage;   // biSizeImage
    uint32_t clrUsed;     // biClrUsed
};

// Reads the header at the start of the length bytes at dib. Returns false when the
// block is shorter than 40 bytes or biSize is below 40 or larger than the block.
bool ReadDibHeader(const unsigned char* dib, uint32_t length, DibHeader& header);

// Bytes in one pixel row: ((width * bitCount + 31) with the low five bits cleared) / 8.
// 0 when the width is not positive or the row would exceed kDibMaxImageBytes.
uint32_t DibStride(int32_t width, uint16_t bitCount);

// The stride times the number of rows (the height without its sign); 0 when either is
// 0 or the product exceeds kDibMaxImageBytes.
uint32_t DibImageSize(const DibHeader& header);

// Offset of the pixels from the header's start: biSize + 12 for BI_BITFIELDS,
// otherwise biSize + 4 * biClrUsed. 64 bits wide, so a huge biClrUsed cannot wrap.
uint64_t DibPixelOffset(const DibHeader& header);

// True for an RLE8 bitmap that NormalizeDib can expand: 8 bits per pixel, rows stored
// bottom-up, and an image of at most kDibMaxImageBytes.
bool IsExpandableRle8(const DibHeader& header);

// True when CompleteDibHeader or NormalizeDib would write into the bitmap. A bitmap
// for which this is false can be used where it lies, even in read-only memory.
bool DibNeedsChange(const unsigned char* dib, uint32_t length);

// Length of a block that holds the bitmap with room for its expanded pixels, so that
// NormalizeDib can expand them in place: length itself unless the bitmap is an
// expandable RLE8 bitmap with a larger image. 0 when the header cannot be read.
uint32_t DibWritableSize(const unsigned char* dib, uint32_t length);

// Fills in what a bitmap may leave at 0: biSizeImage becomes the image size, and for
// at most 8 bits per pixel biClrUsed becomes 1 << biBitCount. Both describe the
// bitmap as it already is, so no data moves. Does nothing to an unreadable header.
void CompleteDibHeader(unsigned char* dib, uint32_t length);

// Expands the pixels of an expandable RLE8 bitmap in place and marks it BI_RGB with
// biSizeImage set to the expanded size. A bitmap whose block has no room for the
// expanded image, or whose expansion fails, keeps its RLE8 pixels and marking, which
// the system can still draw. Other compressions (BI_RGB, BI_RLE4, BI_BITFIELDS and
// the rest) are left as they are. Returns true when it expanded the pixels.
bool NormalizeDib(unsigned char* dib, uint32_t length);

// Expands the inputSize bytes of RLE8 data at pixels, for a bottom-up picture of
// width by height pixels, over the same place. The expanded image (rows padded to 4
// bytes) is built in a zeroed scratch block and then copied over the input, at most
// room bytes of it. Runs and literal strings are clipped at the end of their row,
// deltas and row ends that leave the picture end the expansion, and data that stops
// without an end-of-bitmap code counts as ended. Returns false, with nothing changed,
// when the dimensions are not positive, the image would exceed kDibMaxImageBytes, or
// the scratch block cannot be allocated.
bool ExpandRle8(unsigned char* pixels, uint32_t inputSize, uint32_t room, int32_t width, int32_t height);

// True when the colour table (biClrUsed taken as 16 bits, as a palette counts it) and
// the pixels lie inside the block: BI_RGB and BI_BITFIELDS pixels need the full image
// size, other compressions need a non-zero biSizeImage that fits. Only such a bitmap
// is handed to the system for drawing.
bool DibFitsIn(const unsigned char* dib, uint32_t length);

// What the splash does to its bitmap before drawing it, in a writable block of
// DibWritableSize bytes that starts with the bitmap: completes the header, expands
// RLE8 pixels, and returns DibFitsIn of the result. A bitmap for which this is false
// is not drawn.
bool PrepareDib(unsigned char* dib, uint32_t size);

// Colour table entry index (stored blue, green, red, reserved). Returns false and
// leaves the outputs when the entry does not lie inside the block.
bool ReadDibColor(const unsigned char* dib, uint32_t length, uint32_t index,
                  uint8_t& red, uint8_t& green, uint8_t& blue);

#endif // SPLASH_DIB_FORMAT_H
