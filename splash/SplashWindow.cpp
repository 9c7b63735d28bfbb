#include "splash/Splash.h"

#include "launcher/LaunchState.h"
#include "launcher/Messages.h"
#include "splash/Dib.h"
#include "splash/SplashIds.h"

#include <cstdlib>

BITMAPINFOHEADER* g_pSplashDib = nullptr;
HPALETTE g_hSplashPalette = nullptr;

namespace {

const int kEndDialogResult = 1;
const int kExitConfirmedClose = 0;

int OuterWidth(const RECT& rect)
{
    return rect.right - rect.left;
}

int OuterHeight(const RECT& rect)
{
    return rect.bottom - rect.top;
}

void OnInitDialog(HWND window)
{
    g_pSplashDib = LoadDibResource(IDB_SPLASH, g_hInstance);
    if (g_pSplashDib)
        g_hSplashPalette = CreateDibPalette(g_pSplashDib);

    RECT client;
    RECT outer;
    GetClientRect(window, &client);
    GetWindowRect(window, &outer);

    // Without a picture the splash keeps the template's size.
    int width = OuterWidth(outer);
    int height = OuterHeight(outer);
    if (g_pSplashDib) {
        // A picture stored top-down has a negative height.
        LONG rows = g_pSplashDib->biHeight < 0 ? -g_pSplashDib->biHeight : g_pSplashDib->biHeight;
        width = g_pSplashDib->biWidth + (OuterWidth(outer) - client.right);
        height = rows + (OuterHeight(outer) - client.bottom);
    }
    // A provisional place from the template's size; CreateSplashWindow centres the
    // window exactly once it has its final size.
    int x = (GetSystemMetrics(SM_CXSCREEN) - OuterWidth(outer)) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - OuterHeight(outer)) * 3 / 5;
    SetWindowPos(window, HWND_NOTOPMOST, x, y, width, height, SWP_SHOWWINDOW);

    HICON icon = LoadIconA(g_hInstance, MAKEINTRESOURCEA(IDI_KALMORA));
    SetClassLongA(window, GCL_HICON, static_cast<LONG>(reinterpret_cast<LONG_PTR>(icon)));
}

void OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (g_hSplashPalette) {
        SelectPalette(dc, g_hSplashPalette, FALSE);
        RealizePalette(dc);
    }
    DrawDib(g_pSplashDib, dc, 0, 0);
    EndPaint(window, &paint);
    g_bSplashLoop = 0;
}

// Nulls the handle, so that a later focus loss or cancel cannot delete it twice.
void DeleteSplashPalette()
{
    if (g_hSplashPalette) {
        DeleteObject(g_hSplashPalette);
        g_hSplashPalette = nullptr;
    }
}

void OnClose()
{
    int answer = MessageBoxA(nullptr, GetMessageText(kMsgConfirmCancel), GetMessageText(kMsgSetupTitle),
                             MB_YESNO | MB_TOPMOST);
    if (answer == IDYES)
        std::exit(kExitConfirmedClose);
}

} // namespace

HWND CreateSplashWindow()
{
    HWND window = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_SPLASH), nullptr, SplashDialogProc, 0);
    if (!window) {
        g_bSplashLoop = 0;
        g_bLaunchWait = 0;
        return nullptr;
    }
    RECT outer;
    GetWindowRect(window, &outer);
    int x = (GetSystemMetrics(SM_CXSCREEN) - OuterWidth(outer)) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - OuterHeight(outer)) / 2;
    SetWindowPos(window, HWND_NOTOPMOST, x, y, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    return window;
}

INT_PTR CALLBACK SplashDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(window);
        return TRUE;
    case WM_PAINT:
        OnPaint(window);
        return TRUE;
    case WM_KILLFOCUS:
        if (g_bLaunched) {
            EndDialog(window, kEndDialogResult);
            DeleteSplashPalette();
            g_bLaunchWait = 0;
        }
        return TRUE;
    case WM_COMMAND:
        // Only the bare command: a notification code in the high word is not a cancel.
        if (wParam == IDCANCEL) {
            EndDialog(window, kEndDialogResult);
            DeleteSplashPalette();
            FreeDib(g_pSplashDib);
            // Guards a later WM_PAINT against drawing from the released block.
            g_pSplashDib = nullptr;
            g_bLaunchWait = 0;
        }
        return TRUE;
    case WM_CLOSE:
        OnClose();
        return TRUE;
    default:
        return FALSE;
    }
}
