// The splash window: a borderless modeless dialog (template IDD_SPLASH) that shows the
// splash picture while the launcher works, and the one-step message pump of the
// launcher's two loops. Everything runs on the process's only thread.
//
// The dialog procedure ends the launcher's loops through the flags of
// launcher/LaunchState.h: every WM_PAINT clears g_bSplashLoop; losing the focus after
// the launch (g_bLaunched set), or the cancel command, clears g_bLaunchWait. Closing
// the splash asks the user whether to stop, and Yes ends the process with exit code 0.
#ifndef SPLASH_SPLASH_H
#define SPLASH_SPLASH_H

#include <windows.h>

// The splash picture (bitmap IDB_SPLASH of g_hInstance), loaded at WM_INITDIALOG;
// null when the bitmap is missing, and again after the cancel command released it.
extern BITMAPINFOHEADER* g_pSplashDib;

// Logical palette of the picture, created with it at WM_INITDIALOG; null when there is
// no picture, and again once the splash has deleted it (focus lost after the launch,
// or the cancel command).
extern HPALETTE g_hSplashPalette;

// Creates the splash from g_hInstance's template, sized to the picture (with the
// template's own size when there is none), centres it on the screen and shows it,
// activated but not topmost. Returns the window, or null when the dialog cannot be
// created; then g_bSplashLoop and g_bLaunchWait are cleared, so that neither of the
// launcher's loops runs.
HWND CreateSplashWindow();

// The splash's dialog procedure. Returns TRUE for WM_INITDIALOG, WM_PAINT,
// WM_KILLFOCUS, every WM_COMMAND and WM_CLOSE, and FALSE for all other messages.
INT_PTR CALLBACK SplashDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// One step of the message pump, for any window of the thread: takes at most one
// message from the queue, translates and dispatches it, and returns at once when the
// queue is empty. There is no dialog keyboard handling: Tab, Enter and Escape mean
// nothing to the splash.
void PumpOneMessage();

#endif // SPLASH_SPLASH_H
