#include "launcher/LaunchState.h"

HINSTANCE g_hInstance = nullptr;
HWND g_hSplash = nullptr;
int g_bSplashLoop = 1;
int g_bLaunchWait = 1;
BYTE g_bLaunched = 0;
