// Whether the splash shows a packed bitmap as it was meant to look: the check a
// picture must pass before it becomes the splash (kmarc embed --splash). It runs the
// splash's own preparation (PrepareDib), so a picture passes only when the splash
// would draw it, and adds what the drawing needs beyond that: a format the system
// draws, colour masks it can use and a colour table that holds every pixel's colour.
#ifndef SPLASH_DIB_CHECK_H
#define SPLASH_DIB_CHECK_H

#include <cstdint>
#include <string>

enum class DibFault {
    None,
    Unreadable,          // no header of 40 bytes or more
    Dimensions,          // width not positive, or height 0
    BitCount,            // not 1, 4, 8, 16, 24 or 32 bits per pixel
    Compression,         // not uncompressed, RLE8 at 8 bits or bit fields at 16 or 32 bits
    CompressedTopDown,   // RLE8 rows stored top-down
    TooLarge,            // more than kDibMaxImageBytes of pixels
    TooManyColours,      // a colour table longer than the pixels can index (256 at most)
    Masks,               // bit-field masks empty, overlapping, not contiguous or too wide
    Outside,             // the colour table or the pixels do not lie inside the block
    PixelOutsidePalette, // a pixel's colour index lies past the colour table
};

struct DibVerdict {
    DibFault fault = DibFault::None;
    // For a fault: what is wrong, with the numbers, in a sentence for the packager.
    std::string reason;
};

// Checks the length bytes at dib, a bitmap as a resource stores it (header, colour
// table or masks, pixels). Reads nothing outside them and changes nothing.
DibVerdict CheckDib(const unsigned char* dib, uint32_t length);

#endif
