// Child process of the splash tests: shows the splash, closes it and answers the
// confirmation with the button named on the command line ("yes" or "no"). Exit code
// 3 means closing returned; the splash ends the process itself with 0 on Yes.
#include "launcher/LaunchState.h"
#include "splash/Splash.h"
#include "splash/SplashTestSupport.h"

#include <cstring>

int main(int argc, char** argv)
{
    const int kNoSplash = 2;
    const int kStillRunning = 3;
    g_hInstance = GetModuleHandleA(nullptr);
    HWND splash = CreateSplashWindow();
    if (!splash)
        return kNoSplash;
    AnswerNextMessageBox(argc > 1 && std::strcmp(argv[1], "yes") == 0 ? IDYES : IDNO);
    SendMessageA(splash, WM_CLOSE, 0, 0);
    return kStillRunning;
}
