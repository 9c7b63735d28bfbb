// Shows the splash as the launcher does, from the product's own resources, and saves
// a PNG picture of the whole screen with the splash on it.
//   splash_screenshot OUTPUT.png
// Exit codes: 0 saved, 1 no splash or nothing saved, 2 saved, but the screen did not
// show the picture where the splash should have put it.
#include "launcher/LaunchState.h"
#include "splash/PngImage.h"
#include "splash/Splash.h"

#include <cstdio>
#include <vector>

namespace {

const int kExitSaved = 0;
const int kExitFailed = 1;
const int kExitNotShown = 2;

// Bounds for the first loop and for the wait until the display shows the paint.
const int kMaxPumpSteps = 100000;
const int kMaxScreenReads = 1000;

// Client area offsets at which the screen is compared with the picture.
const POINT kProbes[] = {{0, 0}, {479, 0}, {0, 349}, {479, 349}, {240, 175}, {74, 65}, {150, 100}, {30, 320}};

COLORREF PicturePixel(const BITMAPINFOHEADER* dib, LONG x, LONG y)
{
    const unsigned char* pixels = reinterpret_cast<const unsigned char*>(dib) + dib->biSize;
    LONG stride = (dib->biWidth * 3 + 3) & ~3;
    const unsigned char* p = pixels + stride * (dib->biHeight - 1 - y) + 3 * x;
    return RGB(p[2], p[1], p[0]);
}

bool ScreenShowsPicture(HDC screen, POINT origin)
{
    // Only a 24-bit bottom-up picture, as shipped, can be compared pixel by pixel.
    const BITMAPINFOHEADER* dib = g_pSplashDib;
    if (!dib || dib->biBitCount != 24 || dib->biCompression != BI_RGB || dib->biHeight <= 0)
        return false;
    for (const POINT& p : kProbes) {
        if (p.x >= dib->biWidth || p.y >= dib->biHeight)
            continue;
        if (GetPixel(screen, origin.x + p.x, origin.y + p.y) != PicturePixel(dib, p.x, p.y))
            return false;
    }
    return true;
}

// The whole screen as red, green, blue rows, top first.
std::vector<unsigned char> CaptureScreen(HDC screen, int width, int height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<unsigned char> rgb;
    if (memory && bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY)) {
            GdiFlush();
            const unsigned char* rows = static_cast<const unsigned char*>(bits);
            size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
            rgb.reserve(size_t(width) * height * 3);
            for (int y = 0; y < height; ++y) {
                const unsigned char* p = rows + stride * y;
                for (int x = 0; x < width; ++x, p += 3)
                    rgb.insert(rgb.end(), {p[2], p[1], p[0]});
            }
        }
        SelectObject(memory, old);
    }
    if (bitmap)
        DeleteObject(bitmap);
    if (memory)
        DeleteDC(memory);
    return rgb;
}

bool WriteFile(const char* path, const std::vector<unsigned char>& bytes)
{
    std::FILE* file = std::fopen(path, "wb");
    if (!file)
        return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: splash_screenshot OUTPUT.png\n");
        return kExitFailed;
    }
    g_hInstance = GetModuleHandleA(nullptr);
    g_bSplashLoop = 1;
    HWND splash = CreateSplashWindow();
    if (!splash) {
        std::fprintf(stderr, "splash_screenshot: the splash could not be created (error %lu)\n", GetLastError());
        return kExitFailed;
    }
    for (int i = 0; i < kMaxPumpSteps && g_bSplashLoop; ++i)
        PumpOneMessage();

    RECT outer;
    GetWindowRect(splash, &outer);
    POINT origin = {0, 0};
    ClientToScreen(splash, &origin);
    HDC screen = GetDC(nullptr);
    // The paint reaches the display once the pump finds the queue empty.
    bool shown = ScreenShowsPicture(screen, origin);
    for (int i = 0; i < kMaxScreenReads && !shown; ++i) {
        PumpOneMessage();
        shown = ScreenShowsPicture(screen, origin);
    }
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    std::vector<unsigned char> png = EncodePng(width, height, CaptureScreen(screen, width, height));
    ReleaseDC(nullptr, screen);
    DestroyWindow(splash);

    if (png.empty() || !WriteFile(argv[1], png)) {
        std::fprintf(stderr, "splash_screenshot: could not save %s\n", argv[1]);
        return kExitFailed;
    }
    std::printf("splash %ld by %ld at %ld, %ld on a %d by %d screen%s\n", outer.right - outer.left,
                outer.bottom - outer.top, outer.left, outer.top, width, height,
                shown ? "" : "; the screen did not show its picture");
    return shown ? kExitSaved : kExitNotShown;
}
