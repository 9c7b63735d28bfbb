#include "splash/Dib.h"

#include "splash/DibFormat.h"
#include "splash/DibTestSupport.h"
#include "splash/SplashIds.h"
#include "splash/SplashTestSupport.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

const WORD kBitmapType = 2;
const WORD kTestBitmap = 900;
const COLORREF kBackground = RGB(1, 2, 3);

// A screen-compatible drawing surface filled with kBackground.
struct Surface
{
    Surface(int width, int height)
    {
        HDC screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, width, height);
        ReleaseDC(nullptr, screen);
        old = SelectObject(dc, bitmap);
        RECT all = {0, 0, width, height};
        FillRect(dc, &all, brush);
    }
    ~Surface()
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteObject(brush);
        DeleteDC(dc);
    }
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    HBRUSH brush = CreateSolidBrush(kBackground);
};

const void* ResourceBytes(HMODULE module, WORD id)
{
    return LockResource(LoadResource(module, FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(kBitmapType))));
}

TEST(LoadDibResource, UsesTheShippedPictureInPlaceWithItsStoredHeader)
{
    HMODULE self = GetModuleHandleA(nullptr);
    BITMAPINFOHEADER* dib = LoadDibResource(IDB_SPLASH, self);
    ASSERT_NE(nullptr, dib);
    EXPECT_EQ(ResourceBytes(self, IDB_SPLASH), dib);
    EXPECT_EQ(504042u, SizeofResource(self, FindResourceA(self, MAKEINTRESOURCEA(IDB_SPLASH), MAKEINTRESOURCEA(2))));
    EXPECT_EQ(480, dib->biWidth);
    EXPECT_EQ(350, dib->biHeight);
    EXPECT_EQ(24, dib->biBitCount);
    EXPECT_EQ(DWORD(BI_RGB), dib->biCompression);
    EXPECT_EQ(504002u, dib->biSizeImage);
    EXPECT_EQ(11808, dib->biXPelsPerMeter);
    EXPECT_EQ(0u, dib->biClrUsed);
    FreeDib(dib); // leaves the resource alone
    EXPECT_EQ(480, dib->biWidth);
}

TEST(LoadDibResource, ExpandsRle8FromAReadOnlyResourceIntoACopyThatFreeDibReleases)
{
    const Bytes colours = {0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0}; // black red green blue
    const Bytes rle = {
        0x06, 0x01, 0x00, 0x00,                                      // row 0: six of colour 1
        0x00, 0x05, 0x03, 0x02, 0x01, 0x02, 0x03, 0x00, 0x00, 0x00, // row 1: a literal string
        0x01, 0x02, 0x00, 0x02, 0x02, 0x01,                         // row 2: one of 2, then a delta
        0x02, 0x03, 0x00, 0x01,                                     // row 3 from x 3: two of 3
    };
    ResourceModule module({{kBitmapType, kTestBitmap, kEnglishUs,
                            MakeDib({6, 4, 8, kDibRle8, uint32_t(rle.size()), 4}, colours, rle)}});
    const BITMAPINFOHEADER* resource = static_cast<const BITMAPINFOHEADER*>(ResourceBytes(module.Module(), kTestBitmap));
    ASSERT_NE(nullptr, resource);
    BITMAPINFOHEADER* dib = LoadDibResource(kTestBitmap, module.Module());
    ASSERT_NE(nullptr, dib);
    EXPECT_NE(resource, dib);
    EXPECT_EQ(DWORD(BI_RLE8), resource->biCompression);
    EXPECT_EQ(DWORD(BI_RGB), dib->biCompression);
    EXPECT_EQ(32u, dib->biSizeImage);

    // Drawn upright: the last stored row on top.
    Surface surface(6, 4);
    EXPECT_EQ(4, DrawDib(dib, surface.dc, 0, 0));
    const std::tuple<int, int, COLORREF> pixels[] = {
        {3, 0, RGB(0, 0, 255)}, {2, 0, 0}, {0, 1, RGB(0, 255, 0)}, {2, 2, RGB(255, 0, 0)}, {5, 3, RGB(255, 0, 0)}};
    for (const auto& p : pixels)
        EXPECT_EQ(std::get<2>(p), GetPixel(surface.dc, std::get<0>(p), std::get<1>(p))) << std::get<0>(p);

    HGLOBAL block = GlobalHandle(dib);
    ASSERT_NE(nullptr, block);
    FreeDib(dib);
    EXPECT_EQ(UINT(GMEM_INVALID_HANDLE), GlobalFlags(block));
}

TEST(LoadDibResource, CompletesAnEightBitBitmapInACopyWhosePaletteIsItsTable)
{
    Bytes table;
    for (int i = 0; i < 256; ++i)
        table.insert(table.end(), {uint8_t(i / 2), uint8_t(255 - i), uint8_t(i), 0});
    ResourceModule module({{kBitmapType, kTestBitmap, kEnglishUs, MakeDib({4, 2, 8, kDibRgb, 0, 0}, table, Bytes(8))}});
    BITMAPINFOHEADER* dib = LoadDibResource(kTestBitmap, module.Module());
    ASSERT_NE(nullptr, dib);
    EXPECT_NE(ResourceBytes(module.Module(), kTestBitmap), dib);
    EXPECT_EQ(256u, dib->biClrUsed);
    EXPECT_EQ(8u, dib->biSizeImage);

    HPALETTE palette = CreateDibPalette(dib);
    PALETTEENTRY entries[256] = {};
    ASSERT_EQ(256u, GetPaletteEntries(palette, 0, 256, entries));
    for (int i : {0, 200, 255})
        EXPECT_EQ(RGB(i, 255 - i, i / 2), RGB(entries[i].peRed, entries[i].peGreen, entries[i].peBlue)) << i;
    DeleteObject(palette);
    FreeDib(dib);
}

TEST(LoadDibResource, MissingOrOverlongBitmapsAreNullAndNullIsHarmless)
{
    // Pixels that the header promises but the resource lacks.
    ResourceModule module({{kBitmapType, kTestBitmap, kEnglishUs, MakeDib({4, 4, 24, kDibRgb, 48, 0}, {}, Bytes(47))}});
    ASSERT_NE(nullptr, module.Module());
    EXPECT_EQ(nullptr, LoadDibResource(kTestBitmap, module.Module()));
    EXPECT_EQ(nullptr, LoadDibResource(kTestBitmap + 1, module.Module()));
    EXPECT_EQ(nullptr, CreateDibPalette(nullptr));
    Surface surface(1, 1);
    EXPECT_EQ(0, DrawDib(nullptr, surface.dc, 0, 0));
    EXPECT_EQ(kBackground, GetPixel(surface.dc, 0, 0));
    FreeDib(nullptr);
}

TEST(DrawDib, DrawsTopDownBitmapsUpright)
{
    // Rows stored top first: red green / blue white.
    const Bytes rows = {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0};
    ResourceModule module({{kBitmapType, kTestBitmap, kEnglishUs, MakeDib({2, -2, 24, kDibRgb, 16, 0}, {}, rows)}});
    BITMAPINFOHEADER* dib = LoadDibResource(kTestBitmap, module.Module());
    ASSERT_NE(nullptr, dib);
    Surface surface(4, 4);
    EXPECT_EQ(2, DrawDib(dib, surface.dc, 1, 1));
    EXPECT_EQ(RGB(255, 0, 0), GetPixel(surface.dc, 1, 1));
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(surface.dc, 2, 2));
    EXPECT_EQ(kBackground, GetPixel(surface.dc, 1, 0));
}

} // namespace
