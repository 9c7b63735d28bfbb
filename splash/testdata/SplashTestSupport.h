// Helpers shared by the Win32 splash tests.
#ifndef SPLASH_TESTDATA_SPLASH_TEST_SUPPORT_H
#define SPLASH_TESTDATA_SPLASH_TEST_SUPPORT_H

#include <windows.h>

#include <cstdint>

// The bytes of bitmap resource id of module, where they lie; null when missing.
inline const unsigned char* BitmapResourceBytes(HMODULE module, UINT id, DWORD& size)
{
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(2));
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    size = found ? SizeofResource(module, found) : 0;
    return loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
}

// Colour of pixel x, y (y counted from the top) of a bottom-up 24-bit bitmap.
inline COLORREF TrueColourDibPixel(const BITMAPINFOHEADER* dib, int x, int y)
{
    const unsigned char* pixels = reinterpret_cast<const unsigned char*>(dib) + dib->biSize;
    uint32_t stride = (uint32_t(dib->biWidth) * 24 + 31) / 32 * 4;
    const unsigned char* p = pixels + stride * uint32_t(dib->biHeight - 1 - y) + 3 * x;
    return RGB(p[2], p[1], p[0]);
}

// A top-down 32-bit drawing surface in a memory context, filled with one colour.
class Surface
{
public:
    Surface(int width, int height, COLORREF fill) : width_(width)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        bits_ = static_cast<uint32_t*>(bits);
        old_ = SelectObject(dc_, bitmap_);
        for (int i = 0; bits_ && i < width * height; ++i)
            bits_[i] = uint32_t(GetRValue(fill)) << 16 | uint32_t(GetGValue(fill)) << 8 | GetBValue(fill);
    }
    ~Surface()
    {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    bool Valid() const { return bits_ != nullptr; }
    HDC Dc() const { return dc_; }
    COLORREF Pixel(int x, int y) const
    {
        GdiFlush();
        uint32_t v = bits_[y * width_ + x];
        return RGB(v >> 16 & 0xFF, v >> 8 & 0xFF, v & 0xFF);
    }

private:
    int width_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    uint32_t* bits_ = nullptr;
};

#endif // SPLASH_TESTDATA_SPLASH_TEST_SUPPORT_H
