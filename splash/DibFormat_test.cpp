#include "splash/DibFormat.h"
#include "splash/DibPalette.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

void Put32(Bytes& b, size_t offset, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[offset + i] = static_cast<unsigned char>(v >> (8 * i));
}

uint32_t Get32(const Bytes& b, size_t offset)
{
    return b[offset] | b[offset + 1] << 8 | b[offset + 2] << 16 | uint32_t(b[offset + 3]) << 24;
}

const size_t kOffCompression = 16;
const size_t kOffSizeImage = 20;
const size_t kOffClrUsed = 32;

struct DibSpec
{
    int32_t width;
    int32_t height;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t sizeImage;
    uint32_t clrUsed;
};

// A packed bitmap: header, tableBytes of colour table (or masks), then the pixels.
Bytes MakeDib(const DibSpec& spec, size_t tableBytes, const Bytes& pixels)
{
    Bytes dib(40 + tableBytes + pixels.size());
    Put32(dib, 0, 40);
    Put32(dib, 4, uint32_t(spec.width));
    Put32(dib, 8, uint32_t(spec.height));
    dib[12] = 1;
    dib[14] = static_cast<unsigned char>(spec.bitCount);
    dib[15] = static_cast<unsigned char>(spec.bitCount >> 8);
    Put32(dib, kOffCompression, spec.compression);
    Put32(dib, kOffSizeImage, spec.sizeImage);
    Put32(dib, kOffClrUsed, spec.clrUsed);
    std::copy(pixels.begin(), pixels.end(), dib.begin() + 40 + tableBytes);
    return dib;
}

// Expands RLE8 input for a width by height picture in a buffer that holds exactly the
// input or the image, whichever is larger, so that the sanitizers see any stray access.
Bytes Expand(const Bytes& input, int32_t width, int32_t height)
{
    uint32_t imageSize = DibStride(width, 8) * uint32_t(height);
    Bytes buffer(input);
    if (buffer.size() < imageSize)
        buffer.resize(imageSize, 0xEE);
    EXPECT_TRUE(ExpandRle8(buffer.data(), uint32_t(input.size()), uint32_t(buffer.size()), width, height));
    buffer.resize(imageSize);
    return buffer;
}

TEST(DibHeaderCompletion, FillsImageSizeFromStrideAndRows)
{
    struct Case
    {
        int32_t width;
        int32_t height;
        uint16_t bitCount;
        uint32_t sizeImage;
    } cases[] = {
        {3, 5, 4, 4 * 5},       // 12 bits round up to one 32-bit word
        {3, 2, 1, 4 * 2},
        {33, 1, 1, 8},          // 33 bits need two words
        {480, 350, 24, 504000},
        {5, -3, 8, 8 * 3},      // top-down rows count without their sign
        {1, 1, 32, 4},
    };
    for (const Case& c : cases) {
        Bytes dib = MakeDib({c.width, c.height, c.bitCount, kDibRgb, 0, 7}, 28, Bytes(c.sizeImage));
        CompleteDibHeader(dib.data(), uint32_t(dib.size()));
        EXPECT_EQ(c.sizeImage, Get32(dib, kOffSizeImage)) << c.width << "x" << c.height << "x" << c.bitCount;
    }
    EXPECT_EQ(4u, DibStride(3, 4));
}

TEST(DibHeaderCompletion, FillsColourCountForIndexedDepthsOnly)
{
    const std::tuple<uint16_t, uint32_t, uint32_t> cases[] = {
        // bit count, biClrUsed before, after
        {1, 0, 2}, {4, 0, 16}, {8, 0, 256}, {8, 17, 17}, {16, 0, 0}, {24, 0, 0}, {32, 0, 0},
    };
    for (const auto& c : cases) {
        Bytes dib = MakeDib({2, 2, std::get<0>(c), kDibRgb, 64, std::get<1>(c)}, 0, Bytes(64));
        CompleteDibHeader(dib.data(), uint32_t(dib.size()));
        EXPECT_EQ(std::get<2>(c), Get32(dib, kOffClrUsed)) << "bits " << std::get<0>(c);
        EXPECT_EQ(64u, Get32(dib, kOffSizeImage)) << "a stored image size stays";
    }
}

TEST(DibHeaderCompletion, NeedsNoChangeOnlyWhenComplete)
{
    const std::tuple<DibSpec, bool> cases[] = {
        // The shipped picture: complete as it is, so it can stay in read-only memory.
        {{480, 350, 24, kDibRgb, 504002, 0}, false},
        {{480, 350, 24, kDibRgb, 0, 0}, true},
        {{4, 2, 8, kDibRgb, 8, 0}, true},
        {{4, 2, 8, kDibRgb, 8, 256}, false},
        {{4, 2, 8, kDibRle8, 8, 256}, true},
        {{4, 2, 4, kDibRle4, 8, 16}, false},
        {{4, 2, 32, kDibBitfields, 32, 0}, false},
    };
    for (const auto& c : cases) {
        Bytes dib = MakeDib(std::get<0>(c), 0, Bytes());
        EXPECT_EQ(std::get<1>(c), DibNeedsChange(dib.data(), uint32_t(dib.size())))
            << "bits " << std::get<0>(c).bitCount << " compression " << std::get<0>(c).compression;
    }
}

TEST(DibHeaderCompletion, RejectsHeadersThatDoNotFit)
{
    Bytes dib = MakeDib({2, 2, 24, kDibRgb, 0, 0}, 0, Bytes(16));
    DibHeader header;
    EXPECT_FALSE(ReadDibHeader(dib.data(), 39, header));
    Put32(dib, 0, 12); // an old core header
    EXPECT_FALSE(ReadDibHeader(dib.data(), uint32_t(dib.size()), header));
    Put32(dib, 0, uint32_t(dib.size()) + 1);
    EXPECT_FALSE(ReadDibHeader(dib.data(), uint32_t(dib.size()), header));
    Bytes before = dib;
    CompleteDibHeader(dib.data(), uint32_t(dib.size()));
    EXPECT_EQ(before, dib);
}

TEST(Rle8, ExpandsRunsAndMovesToNextRowAtEndOfLine)
{
    // Three of 0x41, end of line (to offset 4, the next row of a 3-pixel picture), end.
    EXPECT_EQ(Bytes({0x41, 0x41, 0x41, 0, 0, 0, 0, 0}), Expand({0x03, 0x41, 0x00, 0x00, 0x00, 0x01}, 3, 2));
    EXPECT_EQ(Bytes({0x41, 0x41, 0x41, 0, 0x42, 0x42, 0, 0}),
              Expand({0x03, 0x41, 0x00, 0x00, 0x02, 0x42, 0x00, 0x01}, 3, 2));
}

TEST(Rle8, ClipsMalformedData)
{
    struct Case
    {
        const char* what;
        Bytes input;
        int32_t width;
        int32_t height;
        Bytes image;
    } cases[] = {
        {"run past its row", {0x05, 0x41, 0x01, 0x42, 0x00, 0x01}, 3, 2, {0x41, 0x41, 0x41, 0, 0, 0, 0, 0}},
        {"run past the image", {0xFF, 0x41, 0xFF, 0x42}, 4, 1, {0x41, 0x41, 0x41, 0x41}},
        {"literal past its row", {0x00, 0x05, 1, 2, 3, 4, 5, 0x00, 0x00, 0x01}, 3, 1, {1, 2, 3, 0}},
        {"literal longer than the data", {0x00, 0x08, 1, 2}, 4, 1, {1, 2, 0, 0}},
        {"odd literal is padded", {0x00, 0x03, 1, 2, 3, 0x99, 0x01, 0x04}, 4, 1, {1, 2, 3, 4}},
        {"delta moves right and up", {0x01, 0x07, 0x00, 0x02, 0x01, 0x01, 0x01, 0x08, 0x00, 0x01}, 4, 2,
         {7, 0, 0, 0, 0, 0, 8, 0}},
        {"delta past the image", {0x00, 0x02, 0x00, 0x05, 0x01, 0x09}, 4, 2, {0, 0, 0, 0, 0, 0, 0, 0}},
        {"delta past its row", {0x00, 0x02, 0xFF, 0x00, 0x01, 0x09, 0x00, 0x00, 0x01, 0x05}, 4, 2,
         {0, 0, 0, 0, 5, 0, 0, 0}},
        {"truncated delta", {0x01, 0x06, 0x00, 0x02, 0x01}, 4, 1, {6, 0, 0, 0}},
        {"no end code", {0x02, 0x05}, 4, 1, {5, 5, 0, 0}},
        {"odd trailing byte", {0x02, 0x05, 0x03}, 4, 1, {5, 5, 0, 0}},
        {"row ends past the last row", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01}, 4, 2,
         {0, 0, 0, 0, 0, 0, 0, 0}},
        {"empty input", {}, 4, 1, {0, 0, 0, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.image, Expand(c.input, c.width, c.height)) << c.what;
}

TEST(Rle8, CopiesNoMoreThanTheRoom)
{
    Bytes buffer = {0x08, 0x41, 0x00, 0x01, 0xAA, 0xAA, 0xAA, 0xAA};
    ASSERT_TRUE(ExpandRle8(buffer.data(), 4, 3, 8, 1));
    EXPECT_EQ(Bytes({0x41, 0x41, 0x41, 0x01, 0xAA, 0xAA, 0xAA, 0xAA}), buffer);
    // No data and no room: nothing is read or written.
    EXPECT_TRUE(ExpandRle8(nullptr, 0, 0, 4, 1));
}

TEST(Rle8, RefusesPicturesWithoutRows)
{
    const std::tuple<int32_t, int32_t> cases[] = {{0, 4}, {4, 0}, {-4, 4}, {4, -4}, {0x7FFFFFFF, 2}, {65536, 65536}};
    for (const auto& c : cases) {
        Bytes buffer = {0x02, 0x41, 0x00, 0x01};
        EXPECT_FALSE(ExpandRle8(buffer.data(), 4, 4, std::get<0>(c), std::get<1>(c)));
        EXPECT_EQ(Bytes({0x02, 0x41, 0x00, 0x01}), buffer);
    }
}

TEST(NormalizeDib, ExpandsRle8WhereTheBlockHasRoom)
{
    Bytes rle = {0x03, 0x41, 0x00, 0x00, 0x02, 0x42, 0x00, 0x01};
    Bytes dib = MakeDib({5, 2, 8, kDibRle8, uint32_t(rle.size()), 2}, 8, rle);
    uint32_t writable = DibWritableSize(dib.data(), uint32_t(dib.size()));
    ASSERT_EQ(40u + 8 + 16, writable);
    dib.resize(writable);
    EXPECT_TRUE(NormalizeDib(dib.data(), writable));
    EXPECT_EQ(kDibRgb, Get32(dib, kOffCompression));
    EXPECT_EQ(16u, Get32(dib, kOffSizeImage));
    EXPECT_EQ(Bytes({0x41, 0x41, 0x41, 0, 0, 0, 0, 0, 0x42, 0x42, 0, 0, 0, 0, 0, 0}), Bytes(dib.begin() + 48, dib.end()));
    EXPECT_TRUE(DibFitsIn(dib.data(), writable));
}

TEST(NormalizeDib, LeavesWhatItCannotOrNeedNotExpand)
{
    const std::tuple<const char*, DibSpec, size_t> cases[] = {
        {"RLE8 without room for the image", {16, 4, 8, kDibRle8, 4, 0}, 4},
        {"RLE8 stored top-down", {3, -2, 8, kDibRle8, 4, 0}, 4},
        {"RLE8 at 4 bits", {3, 2, 4, kDibRle8, 4, 0}, 8},
        {"RLE4, drawn by the system", {3, 2, 4, kDibRle4, 4, 0}, 4},
        {"bit fields keep their masks", {3, 2, 16, kDibBitfields, 16, 0}, 16},
        {"uncompressed", {3, 2, 24, kDibRgb, 24, 0}, 24},
        {"unknown compression", {3, 2, 24, 7, 4, 0}, 4},
    };
    for (const auto& c : cases) {
        Bytes dib = MakeDib(std::get<1>(c), 12, Bytes(std::get<2>(c), 0x01));
        Bytes before = dib;
        EXPECT_FALSE(NormalizeDib(dib.data(), uint32_t(dib.size()))) << std::get<0>(c);
        EXPECT_EQ(before, dib) << std::get<0>(c);
    }
}

TEST(DibFitsIn, RequiresTableAndPixelsInsideTheBlock)
{
    const std::tuple<const char*, DibSpec, size_t, size_t, bool> cases[] = {
        // what, header, table bytes, pixel bytes, fits
        {"shipped picture", {480, 350, 24, kDibRgb, 504002, 0}, 0, 504002, true},
        {"one pixel byte short", {3, 2, 24, kDibRgb, 24, 0}, 0, 23, false},
        {"stated image size is not trusted", {3, 2, 24, kDibRgb, 4, 0}, 0, 4, false},
        {"table past the end", {3, 2, 8, kDibRgb, 8, 256}, 1020, 8, false},
        {"full table", {3, 2, 8, kDibRgb, 8, 256}, 1024, 8, true},
        {"masks", {2, 2, 32, kDibBitfields, 16, 0}, 12, 16, true},
        {"masks missing", {2, 2, 32, kDibBitfields, 16, 0}, 0, 16, false},
        {"compressed, size fits", {3, 2, 4, kDibRle4, 6, 16}, 64, 6, true},
        {"compressed, size past the end", {3, 2, 4, kDibRle4, 7, 16}, 64, 6, false},
        {"compressed without size", {3, 2, 4, kDibRle4, 0, 16}, 64, 6, false},
        {"no width", {0, 2, 24, kDibRgb, 0, 0}, 0, 8, false},
        {"no height", {2, 0, 24, kDibRgb, 0, 0}, 0, 8, false},
        {"top-down", {2, -2, 24, kDibRgb, 16, 0}, 0, 16, true},
    };
    for (const auto& c : cases) {
        Bytes dib = MakeDib(std::get<1>(c), std::get<2>(c), Bytes(std::get<3>(c)));
        EXPECT_EQ(std::get<4>(c), DibFitsIn(dib.data(), uint32_t(dib.size()))) << std::get<0>(c);
    }
}

TEST(DibPalette, ReadsAnEightBitTableOfCompletedCount)
{
    Bytes table;
    for (int i = 0; i < 256; ++i)
        table.insert(table.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0});
    Bytes dib = MakeDib({4, 2, 8, kDibRgb, 0, 0}, 0, table);
    dib.resize(dib.size() + 8);
    CompleteDibHeader(dib.data(), uint32_t(dib.size()));
    ASSERT_EQ(256u, DibPaletteColorCount(dib.data(), uint32_t(dib.size())));
    uint8_t red = 0, green = 0, blue = 0;
    ASSERT_TRUE(ReadDibColor(dib.data(), uint32_t(dib.size()), 200, red, green, blue));
    EXPECT_EQ(std::make_tuple(100, 55, 200), std::make_tuple(int(red), int(green), int(blue)));
    EXPECT_FALSE(ReadDibColor(dib.data(), 40 + 4 * 200, 200, red, green, blue));
}

TEST(DibPalette, CountIsSixteenBitsAndBoundedByTheBlock)
{
    const std::tuple<uint32_t, size_t, uint32_t> cases[] = {
        // biClrUsed, table bytes present, entries
        {16, 64, 16}, {16, 40, 10}, {0x10003, 12, 3}, {0x10000, 1024, 0},
    };
    for (const auto& c : cases) {
        Bytes dib = MakeDib({1, 1, 24, kDibRgb, 4, std::get<0>(c)}, std::get<1>(c), Bytes());
        EXPECT_EQ(std::get<2>(c), DibPaletteColorCount(dib.data(), uint32_t(dib.size()))) << std::get<0>(c);
    }
}

TEST(DibPalette, HalftoneFillHasNoRepeatedColour)
{
    std::set<std::tuple<int, int, int>> colours;
    for (uint32_t i = 0; i < kHalftoneCubeSize + kHalftoneGreySteps; ++i) {
        uint8_t red = 0, green = 0, blue = 0;
        HalftoneColor(i, red, green, blue);
        colours.insert(std::make_tuple(red, green, blue));
    }
    EXPECT_EQ(size_t(kHalftoneCubeSize + kHalftoneGreySteps), colours.size());
    EXPECT_EQ(1u, colours.count(std::make_tuple(0, 0, 0)));
    EXPECT_EQ(1u, colours.count(std::make_tuple(255, 255, 255)));
    EXPECT_EQ(1u, colours.count(std::make_tuple(51, 102, 153)));
}

} // namespace
