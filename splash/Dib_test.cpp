#include "splash/Dib.h"

#include "splash/DibPalette.h"
#include "splash/SplashIds.h"
#include "splash/testdata/SplashTestSupport.h"
#include "splash/testdata/TestIds.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

HMODULE Self()
{
    return GetModuleHandleA(nullptr);
}

const unsigned char* PixelsOf(const BITMAPINFOHEADER* dib)
{
    return reinterpret_cast<const unsigned char*>(dib) + dib->biSize + 4 * dib->biClrUsed;
}

TEST(LoadDibResource, UsesTheShippedPictureInPlaceWithItsStoredHeader)
{
    DWORD size = 0;
    const unsigned char* resource = BitmapResourceBytes(Self(), IDB_SPLASH, size);
    ASSERT_NE(nullptr, resource);
    EXPECT_EQ(504042u, size);

    BITMAPINFOHEADER* dib = LoadDibResource(IDB_SPLASH, Self());
    ASSERT_EQ(resource, reinterpret_cast<const unsigned char*>(dib));
    EXPECT_EQ(40u, dib->biSize);
    EXPECT_EQ(480, dib->biWidth);
    EXPECT_EQ(350, dib->biHeight);
    EXPECT_EQ(1, dib->biPlanes);
    EXPECT_EQ(24, dib->biBitCount);
    EXPECT_EQ(DWORD(BI_RGB), dib->biCompression);
    EXPECT_EQ(504002u, dib->biSizeImage);
    EXPECT_EQ(11808, dib->biXPelsPerMeter);
    EXPECT_EQ(11808, dib->biYPelsPerMeter);
    EXPECT_EQ(0u, dib->biClrUsed);

    // A bitmap in its resource belongs to no global block: freeing leaves it readable.
    FreeDib(dib);
    EXPECT_EQ(480, dib->biWidth);
}

TEST(LoadDibResource, ExpandsRle8InAWritableCopyThatFreeDibReleases)
{
    DWORD size = 0;
    const unsigned char* resource = BitmapResourceBytes(Self(), IDB_TEST_RLE8, size);
    ASSERT_NE(nullptr, resource);
    BITMAPINFOHEADER* dib = LoadDibResource(IDB_TEST_RLE8, Self());
    ASSERT_NE(nullptr, dib);
    EXPECT_NE(resource, reinterpret_cast<const unsigned char*>(dib));
    EXPECT_EQ(DWORD(BI_RLE8), reinterpret_cast<const BITMAPINFOHEADER*>(resource)->biCompression)
        << "the resource itself is not written";

    EXPECT_EQ(DWORD(BI_RGB), dib->biCompression);
    EXPECT_EQ(32u, dib->biSizeImage);
    EXPECT_EQ(4u, dib->biClrUsed);
    const std::vector<unsigned char> expected = {
        1, 1, 1, 1, 1, 1, 0, 0, //
        3, 2, 1, 2, 3, 0, 0, 0, //
        2, 0, 0, 0, 0, 0, 0, 0, //
        0, 0, 0, 3, 3, 0, 0, 0,
    };
    EXPECT_EQ(expected, std::vector<unsigned char>(PixelsOf(dib), PixelsOf(dib) + 32));

    HGLOBAL block = GlobalHandle(dib);
    ASSERT_NE(nullptr, block);
    FreeDib(dib);
    EXPECT_EQ(UINT(GMEM_INVALID_HANDLE), GlobalFlags(block));
}

TEST(LoadDibResource, CompletesAnEightBitHeaderInACopyAndItsPaletteUsesTheTable)
{
    DWORD size = 0;
    const BITMAPINFOHEADER* resource =
        reinterpret_cast<const BITMAPINFOHEADER*>(BitmapResourceBytes(Self(), IDB_TEST_PAL8, size));
    ASSERT_NE(nullptr, resource);
    BITMAPINFOHEADER* dib = LoadDibResource(IDB_TEST_PAL8, Self());
    ASSERT_NE(nullptr, dib);
    EXPECT_NE(resource, dib);
    EXPECT_EQ(0u, resource->biClrUsed);
    EXPECT_EQ(256u, dib->biClrUsed);
    EXPECT_EQ(8u, dib->biSizeImage);

    HPALETTE palette = CreateDibPalette(dib);
    ASSERT_NE(nullptr, palette);
    PALETTEENTRY entries[256] = {};
    ASSERT_EQ(256u, GetPaletteEntries(palette, 0, 256, entries));
    // Stored blue i/2, green 255-i, red i.
    for (int i : {0, 1, 200, 255}) {
        EXPECT_EQ(i, entries[i].peRed) << i;
        EXPECT_EQ(255 - i, entries[i].peGreen) << i;
        EXPECT_EQ(i / 2, entries[i].peBlue) << i;
        EXPECT_EQ(0, entries[i].peFlags) << i;
    }
    DeleteObject(palette);
    FreeDib(dib);
}

TEST(CreateDibPalette, TrueColourPictureGetsDefaultColoursThenTheHalftoneFill)
{
    BITMAPINFOHEADER* dib = LoadDibResource(IDB_SPLASH, Self());
    ASSERT_NE(nullptr, dib);
    HPALETTE palette = CreateDibPalette(dib);
    ASSERT_NE(nullptr, palette);
    PALETTEENTRY entries[256] = {};
    ASSERT_EQ(256u, GetPaletteEntries(palette, 0, 256, entries));

    PALETTEENTRY stock[256] = {};
    UINT stockCount = GetPaletteEntries(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), 0, 256, stock);
    ASSERT_GT(stockCount, 0u);
    for (UINT i = 0; i < 256; ++i) {
        PALETTEENTRY want = {};
        if (i < stockCount)
            want = stock[i];
        else
            HalftoneColor(i - stockCount, want.peRed, want.peGreen, want.peBlue);
        EXPECT_EQ(want.peRed, entries[i].peRed) << i;
        EXPECT_EQ(want.peGreen, entries[i].peGreen) << i;
        EXPECT_EQ(want.peBlue, entries[i].peBlue) << i;
    }
    DeleteObject(palette);
}

TEST(LoadDibResource, MissingBitmapIsNullAndNullIsHarmlessEverywhere)
{
    const UINT kNoSuchBitmap = 999;
    EXPECT_EQ(nullptr, LoadDibResource(kNoSuchBitmap, Self()));
    EXPECT_EQ(nullptr, CreateDibPalette(nullptr));
    Surface surface(4, 4, RGB(1, 2, 3));
    ASSERT_TRUE(surface.Valid());
    EXPECT_EQ(0, DrawDib(nullptr, surface.Dc(), 0, 0));
    EXPECT_EQ(RGB(1, 2, 3), surface.Pixel(0, 0));
    FreeDib(nullptr);
}

TEST(DrawDib, DrawsTheWholePictureUnscaledAtThePoint)
{
    BITMAPINFOHEADER* dib = LoadDibResource(IDB_SPLASH, Self());
    ASSERT_NE(nullptr, dib);
    const COLORREF kBackground = RGB(1, 2, 3);
    Surface surface(482, 352, kBackground);
    ASSERT_TRUE(surface.Valid());
    EXPECT_EQ(350, DrawDib(dib, surface.Dc(), 1, 1));
    const POINT points[] = {{0, 0}, {479, 0}, {0, 349}, {479, 349}, {240, 175}, {74, 65}, {150, 100}, {30, 320}};
    for (const POINT& p : points)
        EXPECT_EQ(TrueColourDibPixel(dib, p.x, p.y), surface.Pixel(p.x + 1, p.y + 1)) << p.x << "," << p.y;
    EXPECT_EQ(kBackground, surface.Pixel(0, 0));
    EXPECT_EQ(kBackground, surface.Pixel(481, 351));
}

TEST(DrawDib, ExpandedRle8AndTopDownPicturesDrawUpright)
{
    const COLORREF kBackground = RGB(9, 9, 9);
    Surface surface(8, 8, kBackground);
    ASSERT_TRUE(surface.Valid());

    BITMAPINFOHEADER* rle = LoadDibResource(IDB_TEST_RLE8, Self());
    ASSERT_NE(nullptr, rle);
    EXPECT_EQ(4, DrawDib(rle, surface.Dc(), 0, 0));
    // Colour table: 0 black, 1 red, 2 green, 3 blue; the last stored row is on top.
    EXPECT_EQ(RGB(0, 0, 0), surface.Pixel(0, 0));
    EXPECT_EQ(RGB(0, 0, 255), surface.Pixel(3, 0));
    EXPECT_EQ(RGB(0, 255, 0), surface.Pixel(0, 1));
    EXPECT_EQ(RGB(255, 0, 0), surface.Pixel(5, 3));
    FreeDib(rle);

    BITMAPINFOHEADER* topDown = LoadDibResource(IDB_TEST_TOPDOWN, Self());
    ASSERT_NE(nullptr, topDown);
    EXPECT_EQ(2, DrawDib(topDown, surface.Dc(), 5, 5));
    EXPECT_EQ(RGB(255, 0, 0), surface.Pixel(5, 5));
    EXPECT_EQ(RGB(0, 255, 0), surface.Pixel(6, 5));
    EXPECT_EQ(RGB(0, 0, 255), surface.Pixel(5, 6));
    EXPECT_EQ(RGB(255, 255, 255), surface.Pixel(6, 6));
    EXPECT_EQ(kBackground, surface.Pixel(5, 4));
}

} // namespace
