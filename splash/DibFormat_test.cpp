#include "splash/DibFormat.h"

#include "splash/DibTestSupport.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

// Expands RLE8 input in a buffer that holds exactly the input or the image, whichever
// is larger, so that the sanitizers see any stray access.
Bytes Expand(const Bytes& input, int32_t width, int32_t height)
{
    uint32_t imageSize = DibStride(width, 8) * uint32_t(height);
    Bytes buffer(input);
    buffer.resize(std::max<size_t>(input.size(), imageSize), 0xEE);
    EXPECT_TRUE(ExpandRle8(buffer.data(), uint32_t(input.size()), uint32_t(buffer.size()), width, height));
    buffer.resize(imageSize);
    return buffer;
}

TEST(CompleteDibHeader, FillsImageSizeAndColourCount)
{
    const std::tuple<DibSpec, uint32_t, uint32_t> cases[] = {
        // header, biSizeImage and biClrUsed afterwards
        {{3, 5, 4, kDibRgb, 0, 0}, 4 * 5, 16}, // 12 bits a row round up to 4 bytes
        {{33, 2, 1, kDibRgb, 0, 0}, 8 * 2, 2},
        {{7, 1, 8, kDibRgb, 0, 0}, 8, 256},
        {{7, 1, 8, kDibRgb, 99, 17}, 99, 17},     // stored values stay
        {{5, -3, 24, kDibRgb, 0, 0}, 16 * 3, 0}, // rows stored top-down count too
        {{480, 350, 24, kDibRgb, 504002, 0}, 504002, 0},
    };
    for (const auto& c : cases) {
        Bytes dib = MakeDib(std::get<0>(c), {}, {});
        CompleteDibHeader(dib.data(), uint32_t(dib.size()));
        EXPECT_EQ(std::get<1>(c), Get32(dib, kOffSizeImage)) << std::get<0>(c).width << "x" << std::get<0>(c).bitCount;
        EXPECT_EQ(std::get<2>(c), Get32(dib, kOffClrUsed)) << std::get<0>(c).width << "x" << std::get<0>(c).bitCount;
    }
}

TEST(ExpandRle8, RunThenEndOfLineThenEndOfBitmap)
{
    // 41 41 41 at the block's start, the end of line moves to 4, the next row.
    EXPECT_EQ(Bytes({0x41, 0x41, 0x41, 0, 0, 0, 0, 0}), Expand({0x03, 0x41, 0x00, 0x00, 0x00, 0x01}, 3, 2));
    EXPECT_EQ(Bytes({0x41, 0x41, 0x41, 0, 0x42, 0x42, 0, 0}),
              Expand({0x03, 0x41, 0x00, 0x00, 0x02, 0x42, 0x00, 0x01}, 3, 2));
}

TEST(ExpandRle8, ClipsMalformedData)
{
    const std::tuple<const char*, Bytes, int32_t, int32_t, Bytes> cases[] = {
        // what, input, width, height, image
        {"run past its row", {0x05, 0x41, 0x01, 0x42, 0x00, 0x01}, 3, 2, {0x41, 0x41, 0x41, 0, 0, 0, 0, 0}},
        {"run past the image", {0xFF, 0x41, 0xFF, 0x42}, 4, 1, {0x41, 0x41, 0x41, 0x41}},
        {"literal past its row", {0x00, 0x05, 1, 2, 3, 4, 5, 0x00, 0x00, 0x01}, 3, 1, {1, 2, 3, 0}},
        {"odd literal is padded", {0x00, 0x03, 1, 2, 3, 0x99, 0x01, 0x04}, 4, 1, {1, 2, 3, 4}},
        {"delta", {0x01, 0x07, 0x00, 0x02, 0x01, 0x01, 0x01, 0x08}, 4, 2, {7, 0, 0, 0, 0, 0, 8, 0}},
        {"delta past the image", {0x00, 0x02, 0x00, 0x05, 0x01, 0x09}, 4, 2, {0, 0, 0, 0, 0, 0, 0, 0}},
        {"delta past its row", {0x00, 0x02, 0xFF, 0x00, 0x01, 0x09, 0x00, 0x00, 0x01, 0x05}, 4, 2,
         {0, 0, 0, 0, 5, 0, 0, 0}},
        {"no end code, a truncated literal", {0x02, 0x05, 0x00, 0x08, 1}, 4, 1, {5, 5, 1, 0}},
        {"row ends past the last row", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01}, 4, 2, Bytes(8)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::get<4>(c), Expand(std::get<1>(c), std::get<2>(c), std::get<3>(c))) << std::get<0>(c);
}

TEST(ExpandRle8, CopiesNoMoreThanTheRoom)
{
    Bytes buffer = {0x08, 0x41, 0x00, 0x01, 0xAA, 0xAA};
    ASSERT_TRUE(ExpandRle8(buffer.data(), 4, 3, 8, 1));
    EXPECT_EQ(Bytes({0x41, 0x41, 0x41, 0x01, 0xAA, 0xAA}), buffer);
    EXPECT_TRUE(ExpandRle8(nullptr, 0, 0, 4, 1));
    EXPECT_FALSE(ExpandRle8(buffer.data(), 4, 6, 65536, 65536)) << "beyond the size limit";
}

TEST(NormalizeDib, ExpandsRle8WhereTheBlockHasRoom)
{
    Bytes dib = MakeDib({5, 2, 8, kDibRle8, 8, 2}, Bytes(8), {0x03, 0x41, 0x00, 0x00, 0x02, 0x42, 0x00, 0x01});
    uint32_t writable = DibWritableSize(dib.data(), uint32_t(dib.size()));
    ASSERT_EQ(40u + 8 + 16, writable);
    dib.resize(writable);
    EXPECT_TRUE(NormalizeDib(dib.data(), writable));
    EXPECT_EQ(kDibRgb, Get32(dib, kOffCompression));
    EXPECT_EQ(16u, Get32(dib, kOffSizeImage));
    EXPECT_EQ(Bytes({0x41, 0x41, 0x41, 0, 0, 0, 0, 0, 0x42, 0x42, 0, 0, 0, 0, 0, 0}), Bytes(dib.begin() + 48, dib.end()));
    EXPECT_TRUE(DibFitsIn(dib.data(), writable));
}

// With biClrUsed 0 the colour table has 256 entries, and the pixels lie behind it.
TEST(NormalizeDib, ExpandsRle8BehindAFullColourTable)
{
    Bytes table(256 * 4, 0x11);
    Bytes dib = MakeDib({16, 4, 8, kDibRle8, 0, 0}, table, {16, 7, 0, 0, 16, 8, 0, 1});
    uint32_t writable = DibWritableSize(dib.data(), uint32_t(dib.size()));
    ASSERT_EQ(40u + 1024 + 64, writable);
    dib.resize(writable);
    CompleteDibHeader(dib.data(), writable);
    EXPECT_TRUE(NormalizeDib(dib.data(), writable));
    EXPECT_EQ(Bytes(16, 7), Bytes(dib.begin() + 1064, dib.begin() + 1080));
    EXPECT_EQ(Bytes(16, 8), Bytes(dib.begin() + 1080, dib.begin() + 1096));
    EXPECT_TRUE(DibFitsIn(dib.data(), writable));
}

TEST(NormalizeDib, LeavesOtherCompressionsAndRle8WithoutRoom)
{
    const std::tuple<const char*, DibSpec> cases[] = {
        {"RLE8 without room for the image", {16, 4, 8, kDibRle8, 4, 0}},
        {"RLE8 stored top-down", {3, -2, 8, kDibRle8, 4, 0}},
        {"RLE8 at 4 bits", {3, 2, 4, kDibRle8, 4, 0}},
        {"RLE4, drawn by the system", {3, 2, 4, kDibRle4, 4, 0}},
        {"bit fields keep their masks", {3, 2, 16, kDibBitfields, 16, 0}},
    };
    for (const auto& c : cases) {
        Bytes dib = MakeDib(std::get<1>(c), Bytes(12), Bytes(16, 0x01));
        Bytes before = dib;
        EXPECT_FALSE(NormalizeDib(dib.data(), uint32_t(dib.size()))) << std::get<0>(c);
        EXPECT_EQ(before, dib) << std::get<0>(c);
    }
}

} // namespace
