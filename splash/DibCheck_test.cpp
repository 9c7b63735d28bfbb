#include "splash/DibCheck.h"

#include "splash/DibFormat.h"
#include "splash/DibTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

Bytes Masks(uint32_t red, uint32_t green, uint32_t blue)
{
    Bytes table(12);
    Put32(table, 0, red);
    Put32(table, 4, green);
    Put32(table, 8, blue);
    return table;
}

Bytes Greys(uint32_t count)
{
    Bytes table;
    for (uint32_t i = 0; i < count; ++i) {
        for (int channel = 0; channel < 3; ++channel)
            table.push_back(static_cast<unsigned char>(i));
        table.push_back(0);
    }
    return table;
}

struct Case {
    const char* what;
    Bytes dib;
    DibFault fault;
    const char* reason;  // a part of the reason
};

TEST(CheckDib, TakesWhatTheSplashDrawsAndNamesTheReasonForTheRest)
{
    const Case cases[] = {
        { "24 bits", MakeDib({ 2, 2, 24, kDibRgb, 0, 0 }, {}, Bytes(16, 0x80)), DibFault::None, "" },
        { "24 bits top-down", MakeDib({ 2, -2, 24, kDibRgb, 0, 0 }, {}, Bytes(16, 0x80)), DibFault::None, "" },
        { "8 bits, full table", MakeDib({ 4, 1, 8, kDibRgb, 0, 0 }, Greys(256), { 0, 255, 7, 9 }), DibFault::None, "" },
        { "8 bits, 3 colours", MakeDib({ 4, 1, 8, kDibRgb, 0, 3 }, Greys(3), { 0, 1, 2, 1 }), DibFault::None, "" },
        { "4 bits", MakeDib({ 3, 1, 4, kDibRgb, 0, 0 }, Greys(16), { 0x01, 0xF0, 0, 0 }), DibFault::None, "" },
        { "1 bit", MakeDib({ 9, 1, 1, kDibRgb, 0, 2 }, Greys(2), { 0xFF, 0x80, 0, 0 }), DibFault::None, "" },
        { "RLE8", MakeDib({ 4, 2, 8, kDibRle8, 8, 4 }, Greys(4), { 4, 3, 0, 0, 4, 1, 0, 1 }), DibFault::None, "" },
        { "16 bits 5-6-5", MakeDib({ 2, 1, 16, kDibBitfields, 0, 0 }, Masks(0xF800, 0x07E0, 0x001F), Bytes(4, 1)),
          DibFault::None, "" },
        { "32 bits with masks",
          MakeDib({ 1, 1, 32, kDibBitfields, 0, 0 }, Masks(0xFF0000, 0xFF00, 0xFF), Bytes(4, 1)), DibFault::None, "" },

        { "an OS/2 header", Bytes{ 12, 0, 0, 0, 1, 0, 1, 0, 1, 0, 24, 0 }, DibFault::Unreadable, "40 bytes" },
        { "no width", MakeDib({ 0, 2, 24, kDibRgb, 0, 0 }, {}, {}), DibFault::Dimensions, "0 by 2 pixels" },
        { "no height", MakeDib({ 2, 0, 24, kDibRgb, 0, 0 }, {}, {}), DibFault::Dimensions, "2 by 0 pixels" },
        { "2 bits", MakeDib({ 2, 1, 2, kDibRgb, 0, 0 }, Greys(4), Bytes(4)), DibFault::BitCount, "2 bits per pixel" },
        { "RLE4", MakeDib({ 2, 1, 4, kDibRle4, 4, 0 }, Greys(16), { 2, 0x11, 0, 1 }), DibFault::Compression,
          "RLE4 at 4 bits" },
        { "JPEG", MakeDib({ 2, 1, 24, 4, 10, 0 }, {}, Bytes(10)), DibFault::Compression, "JPEG" },
        { "RLE8 at 4 bits", MakeDib({ 2, 1, 4, kDibRle8, 4, 0 }, Greys(16), Bytes(4)), DibFault::Compression,
          "compression 1 at 4 bits" },
        { "masks at 24 bits", MakeDib({ 1, 1, 24, kDibBitfields, 0, 0 }, Masks(0xFF0000, 0xFF00, 0xFF), Bytes(4)),
          DibFault::Compression, "at 24 bits" },
        { "RLE8 top-down", MakeDib({ 4, -2, 8, kDibRle8, 4, 4 }, Greys(4), { 4, 1, 0, 1 }),
          DibFault::CompressedTopDown, "top-down" },
        { "too large", MakeDib({ 5000, 5000, 32, kDibRgb, 0, 0 }, {}, {}), DibFault::TooLarge, "5000 by 5000" },
        { "17 colours at 4 bits", MakeDib({ 2, 1, 4, kDibRgb, 0, 17 }, Greys(17), Bytes(4)), DibFault::TooManyColours,
          "17 colours; at 4 bits per pixel it holds at most 16" },
        { "300 colours at 24 bits", MakeDib({ 1, 1, 24, kDibRgb, 0, 300 }, Greys(300), Bytes(4)),
          DibFault::TooManyColours, "at most 256" },
        { "an empty mask", MakeDib({ 2, 1, 16, kDibBitfields, 0, 0 }, Masks(0xF800, 0, 0x1F), Bytes(4)),
          DibFault::Masks, "green mask is empty" },
        { "masks overlapping", MakeDib({ 2, 1, 16, kDibBitfields, 0, 0 }, Masks(0xF800, 0x0FE0, 0x1F), Bytes(4)),
          DibFault::Masks, "green mask overlaps" },
        { "a mask in pieces", MakeDib({ 2, 1, 16, kDibBitfields, 0, 0 }, Masks(0xF800, 0x07E0, 0x0015), Bytes(4)),
          DibFault::Masks, "blue mask is not one run" },
        { "a mask past 16 bits", MakeDib({ 2, 1, 16, kDibBitfields, 0, 0 }, Masks(0x1F800, 0x07E0, 0x1F), Bytes(4)),
          DibFault::Masks, "red mask has bits outside the 16-bit pixel" },
        { "pixels cut short", MakeDib({ 2, 2, 24, kDibRgb, 0, 0 }, {}, Bytes(12)), DibFault::Outside,
          "do not lie inside" },
        { "a colour table cut short", MakeDib({ 2, 1, 8, kDibRgb, 0, 0 }, Greys(100), {}), DibFault::Outside,
          "do not lie inside" },
        { "an index past the table", MakeDib({ 4, 2, 8, kDibRgb, 0, 2 }, Greys(2), { 0, 1, 0, 1, 1, 5, 0, 0 }),
          DibFault::PixelOutsidePalette, "column 1, row 0 from the top has colour 5, but the colour table holds 2" },
        { "an RLE8 run past the table", MakeDib({ 4, 2, 8, kDibRle8, 8, 4 }, Greys(4), { 4, 3, 0, 0, 2, 9, 0, 1 }),
          DibFault::PixelOutsidePalette, "column 0, row 0 from the top has colour 9" },
        { "a 4-bit index past the table", MakeDib({ 3, 1, 4, kDibRgb, 0, 3 }, Greys(3), { 0x12, 0x30, 0, 0 }),
          DibFault::PixelOutsidePalette, "column 2, row 0 from the top has colour 3" },
    };
    for (const Case& c : cases) {
        DibVerdict verdict = CheckDib(c.dib.data(), uint32_t(c.dib.size()));
        EXPECT_EQ(int(c.fault), int(verdict.fault)) << c.what << ": " << verdict.reason;
        EXPECT_NE(std::string::npos, verdict.reason.find(c.reason)) << c.what << ": " << verdict.reason;
        if (c.fault == DibFault::None) {
            EXPECT_EQ("", verdict.reason) << c.what;
        }
    }
}

TEST(CheckDib, ChangesNothingAndReadsOnlyItsBlock)
{
    // RLE8 needs a larger block to expand into; the check must not write the caller's.
    Bytes dib = MakeDib({ 16, 4, 8, kDibRle8, 0, 0 }, Greys(256), { 16, 7, 0, 0, 16, 8, 0, 1 });
    Bytes before = dib;
    EXPECT_EQ(int(DibFault::None), int(CheckDib(dib.data(), uint32_t(dib.size())).fault));
    EXPECT_EQ(before, dib);
    // Shorter blocks of the same bytes, read without a stray access (the sanitizers
    // watch): without the whole colour table there is nothing to draw.
    const uint32_t tableEnd = 40 + 256 * 4;
    for (uint32_t length = 0; length < dib.size(); ++length) {
        Bytes cut(dib.begin(), dib.begin() + length);
        DibFault fault = CheckDib(cut.data(), length).fault;
        if (length < 40) {
            EXPECT_EQ(int(DibFault::Unreadable), int(fault)) << length;
        } else if (length < tableEnd) {
            EXPECT_EQ(int(DibFault::Outside), int(fault)) << length;
        }
    }
}

} // namespace
